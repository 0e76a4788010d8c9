// The controller functions of the script interface: MIDI inputs (control
// changes and notes) and OSC (values in, messages out).
#pragma once

struct lua_State;
struct luaL_Reg;

int ScriptListMidiInputs(lua_State *L); // listMidiInputs() -> { names }
int ScriptOpenMidi(lua_State *L);       // openMidi([part]) -> true | false, why
int ScriptMidiCC(lua_State *L);         // midiCC(cc [, channel]) -> 0..1
int ScriptMidiNote(lua_State *L);       // midiNote(note [, channel]) -> 0..1
int ScriptOpenOsc(lua_State *L);        // openOsc(port | "address:port") -> true | false, why
int ScriptOscValue(lua_State *L);       // oscValue(path [, i]) -> number | string | nil
int ScriptSendOsc(lua_State *L);        // sendOsc(host, port, path, ...) -> true | false, why

// listMidiInputs .. sendOsc; null-terminated.
extern const luaL_Reg kControlFunctions[];
