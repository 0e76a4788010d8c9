// The Lua script host: the one interpreter state of the program and the
// operations that run Lua text in it with the printed output captured.
//
// Every piece of script code (start-up, console commands, frame calls,
// mouse callbacks) runs through RunScriptCaptured or RunScript. Runs never
// nest; all of this is used on the GUI thread only.
#pragma once

#include <lua.hpp>
#include <string>

// The one Lua state; set by OpenScriptHost, not reset by CloseScriptHost.
extern lua_State *gLuaState;

// What print produced during the current run: zero-terminated, so at most
// 1023 characters; longer output keeps its first 1023 characters.
extern char gPrintBuffer[1024];

// True when the last run printed more than gPrintBuffer holds, so its
// output text was cut at 1023 characters.
bool LastRunOutputCut();

// Creates the state, opens every standard library, registers foo and the
// capturing print, and installs the runaway guard.
void OpenScriptHost();

// Runs one chunk of Lua text. `output` receives what print collected (each
// value followed by "\r\n"), `error` the error message followed by "\n"
// (at most 1022 characters of message), or "" when the run succeeded.
// The Lua stack is left as it was found. A run that keeps the interpreter
// busy longer than the run time limit is interrupted with an error.
void RunScriptCaptured(std::string chunk, std::string &output, std::string &error);

// RunScriptCaptured that also hands back what the chunk returns: `values`
// receives each returned value as the global tostring gives it, separated
// by tabs; the result is the number of values. A failed run (compiling,
// running, or converting a value) returns 0 with `values` empty and the
// error text and debug line of RunScriptCaptured.
int RunScriptCapturedValues(const std::string &chunk, std::string &output, std::string &error,
                            std::string &values);

// RunScriptCaptured of a C function instead of Lua text: `function` runs,
// guarded the same way, with `data` as its one argument (a light userdata);
// `label` names the run in the error's debug line. For callbacks whose
// arguments are values rather than text (strings that would need quoting).
void RunCallCaptured(const char *label, lua_CFunction function, void *data, std::string &output,
                     std::string &error);
// RunScriptCaptured with both results dropped.
void RunScript(std::string chunk);

// Closes the state.
void CloseScriptHost();

// Makes `function` the global `name`, as a closure without upvalues.
void RegisterFunction(const char *name, lua_CFunction function);

// The global print: appends each argument's text (or "Not a string") and
// "\r\n" to gPrintBuffer, then echoes the whole buffer to the debug output.
int ScriptPrint(lua_State *L);

// The global foo: returns the average and the sum of its numeric arguments;
// raises "incorrect argument" for an argument that is not a number.
int ScriptAverageSum(lua_State *L);

// Wall-time limit of one run, in milliseconds (5000 by default, for each
// Lua state the host opens; these four ask the open state). A run still
// busy after it is interrupted with a Lua error that pcall cannot swallow,
// "source:line: script interrupted: it ran for more than N seconds" naming
// where the innermost Lua function was. The script's own debug.sethook
// hooks are called by the guard, so they never switch it off.
void SetRunTimeLimit(int milliseconds);
// True when the runaway guard interrupted the last run.
bool LastRunInterrupted();
int RunTimeLimit();
