// The sound analysis functions of the script interface, for productions
// that react to sound: the spectrum and the level of the music at the music
// time; the spectrum, level and onsets of the sound the frames follow (the
// music, or a live input), its smoothing, and the choice of the input.
// Registered after every other script function.
#pragma once

#include <lua.hpp>

// getMp3Spectrum([n]) -> table of n numbers 0..1 (n: 16 when missing or not
// a number, truncated toward zero, clamped into 1..256).
int ScriptGetMp3Spectrum(lua_State *L);
// getMp3Level() -> number 0..1, the RMS of the analysed window.
int ScriptGetMp3Level(lua_State *L);

// getSpectrum([n]), getLevel(): as the two above, of the sound the frames
// follow (the live input once one is chosen, else the music).
int ScriptGetSpectrum(lua_State *L);
int ScriptGetLevel(lua_State *L);
// getOnset() -> true in the frame an onset (a sharp rise of the spectral
// flux) was heard in the sound the frames follow.
int ScriptGetOnset(lua_State *L);
// setSpectrumSmoothing(f): exponential smoothing of the spectrum per frame,
// f from 0 (none) to 0.99 (clamped; not a number: 0), music and input alike.
int ScriptSetSpectrumSmoothing(lua_State *L);
// listSoundInputs() -> table of the capture devices' names.
int ScriptListSoundInputs(lua_State *L);
// setSoundInput(name) follows the first input whose name contains `name`
// (any case): true, or false and why it is silent for now (it is looked
// for again each second). setSoundInput(nil) or () follows the music again
// and returns true. A name that is not a string (or number) is an error.
int ScriptSetSoundInput(lua_State *L);

// Band count from the argument at `index` by the rules above.
int SpectrumBandCount(lua_State *L, int index);

// The functions above by their global names; ends with {nullptr, nullptr}.
extern const luaL_Reg kMusicAnalysisFunctions[];
