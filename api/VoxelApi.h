// The voxel functions of the script interface: make, draw, carve and fill
// the one voxel block (gVoxelBlock). Indices are cell indices, not world
// coordinates: argument 1 selects world x, 2 world z and 3 world y, each in
// steps of 10 units.
#pragma once

struct lua_State;
struct luaL_Reg;

int ScriptMakeVoxelBlock(lua_State *L);   // makeVoxelBlock()
int ScriptRenderVoxelBlock(lua_State *L); // renderVoxelBlock(), inside beginQuadGL ... endGL
int ScriptCarveVoxelAt(lua_State *L);     // carveVoxelAt(i, j, k)
int ScriptAddVoxelAt(lua_State *L);       // addVoxelAt(i, j, k)
int ScriptSetVoxelColor(lua_State *L);    // setVoxelColor(i, j, k, r, g, b [, a])
int ScriptGetVoxel(lua_State *L);         // getVoxel(i, j, k) -> solid, r, g, b, a (or nil)
int ScriptCarveVoxelBox(lua_State *L);    // carveVoxelBox(i0, j0, k0, i1, j1, k1)
int ScriptAddVoxelBox(lua_State *L);      // addVoxelBox(i0, j0, k0, i1, j1, k1)
int ScriptCarveVoxelSphere(lua_State *L); // carveVoxelSphere(ci, cj, ck, r)
int ScriptAddVoxelSphere(lua_State *L);   // addVoxelSphere(ci, cj, ck, r)
int ScriptPickVoxel(lua_State *L);        // pickVoxel() -> i, j, k, face (or nil)
int ScriptPickVoxelRay(lua_State *L);     // pickVoxelRay(x, y, z, dx, dy, dz) -> i, j, k, face (or nil)
int ScriptResetVoxelBlock(lua_State *L);  // resetVoxelBlock()

// The functions in their registration order, null-terminated.
extern const luaL_Reg kVoxelFunctions[];
