// The music functions of the script interface: play, stop, seek and time
// the one music stream, in seconds on the Lua side.
#pragma once

#include "Music.h" // gMusicStream, gMusicChannel

struct lua_State;
struct luaL_Reg;

int ScriptGetMp3Time(lua_State *L);   // getMp3Time() -> seconds
int ScriptSetMp3Time(lua_State *L);   // setMp3Time(seconds)
int ScriptGetMp3Length(lua_State *L); // getMp3Length() -> seconds
int ScriptPlayMp3(lua_State *L);      // playMp3()
int ScriptStopMp3(lua_State *L);      // stopMp3()
int ScriptIsMp3Playing(lua_State *L); // isMp3Playing() -> boolean

// getMp3Time, setMp3Time, getMp3Length, playMp3, stopMp3, isMp3Playing;
// null-terminated.
extern const luaL_Reg kMusicFunctions[];
