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

// The four functions in their registration order, null-terminated.
extern const luaL_Reg kVoxelFunctions[];
