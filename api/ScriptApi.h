// Registration of the script interface: the default callbacks and the
// native functions a production calls, in their fixed order.
#pragma once

#include <lua.hpp>

#include <vector>

#include "CameraApi.h" // gMainWindow

// Every script function in the order it is registered, taken from the
// binding files' tables.
std::vector<luaL_Reg> ScriptFunctions();

// Defines the empty default callbacks (init, update, render, LMBDown,
// LMBUp, OnMouseMove, getProdMp3Name) and registers the script functions.
// A production run afterwards may replace any of them.
void RegisterScriptApi();
