// The scene functions of the script interface: transforms, the lens, line
// width, lighting, text and textures. They act on the run's Scene (through
// Production::Of) and do nothing without one.
#pragma once

struct luaL_Reg;
struct lua_State;

// True while the run's render() draws with its light on: drawCube and the
// voxel block then give their faces normals.
bool SceneLit(lua_State *L);

// pushMatrixGL, popMatrixGL, translateGL, rotateGL, scaleGL, loadIdentityGL,
// setFov, setClipPlanes, setLineWidth, setLighting, setLightDir, normalGL,
// drawText, loadTexture, bindTexture, texCoordGL, freeTexture, getTextSize;
// null-terminated.
extern const luaL_Reg kSceneFunctions[];
