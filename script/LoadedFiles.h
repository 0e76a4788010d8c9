// The Lua files a run loads: dofile, loadfile and require (its search of
// package.path) note each file name they are given or find, whether or not
// the file then loads, so that the live reload can follow the files the
// production's top level reads. The names live in the Lua state.
#pragma once

#include <lua.hpp>
#include <string>
#include <vector>

// Replaces dofile and loadfile with noting versions (same results and
// errors) and puts a noting searcher in front of require's Lua file
// searcher. Called once by OpenScriptHost.
void InstallLoadRecording(lua_State *L);

// Empties the list of noted files.
void ForgetLoadedFiles(lua_State *L);

// The noted file names as given or found (relative to the working
// directory unless absolute), each once, in the order first noted.
std::vector<std::string> LoadedFiles(lua_State *L);

// Forgets (package.loaded[name] = nil) every module that require found in
// a folder given relative to the working directory, such as the
// production's own, so that running the production again reads it anew.
void UnloadLocalModules(lua_State *L);
