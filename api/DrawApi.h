// The drawing functions of the script interface: a white line, the faces of
// a cube, and thin wrappers around OpenGL immediate mode.
#pragma once

struct lua_State;
struct luaL_Reg;

int ScriptDrawLine(lua_State *L);    // drawLine(x1, y1, z1, x2, y2, z2)
int ScriptBeginTriGL(lua_State *L);  // beginTriGL()
int ScriptBeginQuadGL(lua_State *L); // beginQuadGL()
int ScriptBeginLinGL(lua_State *L);  // beginLinGL()
int ScriptEndGL(lua_State *L);       // endGL()
int ScriptVectorGL(lua_State *L);    // vectorGL(x, y, z)
int ScriptColorGL(lua_State *L);     // colorGL(r, g, b, a), 0..255
int ScriptDrawCube(lua_State *L);    // drawCube(x, y, z, edge, -x, +x, -y, +y, -z, +z)

// drawLine, beginTriGL, beginQuadGL, beginLinGL, endGL, vectorGL, colorGL,
// drawCube; null-terminated.
extern const luaL_Reg kDrawFunctions[];
