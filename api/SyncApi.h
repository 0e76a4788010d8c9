// The timing functions of the script interface: the production's time in
// seconds, beats and rows, and the value of a sync track at the current row.
#pragma once

struct lua_State;
struct luaL_Reg;

int ScriptGetTime(lua_State *L); // getTime() -> seconds
int ScriptGetBeat(lua_State *L); // getBeat() -> beats (fractional)
int ScriptGetRow(lua_State *L);  // getRow() -> rows (fractional)
int ScriptSync(lua_State *L);    // sync(name) -> the track's value

// getTime, getBeat, getRow, sync; null-terminated.
extern const luaL_Reg kSyncFunctions[];
