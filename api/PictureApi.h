// The picture functions of the script interface: whether the program's own
// authoring aids are drawn, the background colour of the view, the export
// and the player, and the picture's size. Registered after the fixed table.
#pragma once

#include <lua.hpp>

// setOverlays([on]): draws the grid, the floor's outline and the pick marker
// or not, by Lua truthiness; no argument counts as true.
int ScriptSetOverlays(lua_State *L);
// setClearColor(r, g, b): the background, each value read as colorGL reads
// it (a 32-bit integer, its low 8 bits).
int ScriptSetClearColor(lua_State *L);

// getViewSize() -> width, height: the picture's size in pixels, the view's
// (its last frame's) or the export's; 0, 0 before the view's first frame.
int ScriptGetViewSize(lua_State *L);

// The three functions above by their global names; ends with {nullptr, nullptr}.
extern const luaL_Reg kPictureFunctions[];
