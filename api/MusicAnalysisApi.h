// The music analysis functions of the script interface: the spectrum and
// the level of the music at the music time, for productions that react to
// the music. Registered after every other script function.
#pragma once

#include <lua.hpp>

// getMp3Spectrum([n]) -> table of n numbers 0..1 (n: 16 when missing or not
// a number, truncated toward zero, clamped into 1..256).
int ScriptGetMp3Spectrum(lua_State *L);
// getMp3Level() -> number 0..1, the RMS of the analysed window.
int ScriptGetMp3Level(lua_State *L);

// Band count from the argument at `index` by the rules above.
int SpectrumBandCount(lua_State *L, int index);

// The two functions above by their global names; ends with {nullptr, nullptr}.
extern const luaL_Reg kMusicAnalysisFunctions[];
