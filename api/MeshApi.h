// The mesh and model functions: newMesh, setMeshVertices, drawMesh,
// freeMesh, drawMeshInstances, loadModel, drawModel.
#pragma once

#include <lua.hpp>

extern const luaL_Reg kMeshFunctions[];
