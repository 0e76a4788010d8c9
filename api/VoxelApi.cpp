// The voxel functions of the script interface. Before the first
// makeVoxelBlock they do nothing (getVoxel and the picks return nil); none
// raises a Lua error.
#include "VoxelApi.h"

#include "ApiArgs.h"
#include "SceneApi.h"

#include "DemoWorld.h"
#include "Production.h"

#include "VoxelBlock.h"
#include "VoxelDrawCache.h"

#include <QDebug>

#include <lua.hpp>

#include <cmath>
#include <cstdint>

namespace {

// Argument `index` as a cell index, truncated toward zero (missing or
// non-numeric reads 0). NaN becomes -1 and values beyond the 32-bit range
// are clamped to its ends: no cell either way.
int32_t ToCellIndex(lua_State *L, int index)
{
    return TruncateInto(lua_tonumber(L, index), INT_MIN, INT_MAX, -1);
}

} // namespace

int ScriptMakeVoxelBlock(lua_State *)
{
    // Made once; a second call keeps the block and its holes. When the cells
    // cannot be allocated nothing is kept and a later call tries again.
    if (!gVoxelBlock && !(gVoxelBlock = VoxelBlock::make().release()))
        qDebug("makeVoxelBlock: not enough memory for the voxel block's %d cells", VoxelBlock::kCellCount);
    return 0;
}

int ScriptRenderVoxelBlock(lua_State *L)
{
    if (!gVoxelBlock)
        return 0;
    Production *run = Production::Of(L);
    ScriptPrimitive *bracket = run ? &run->world().primitive() : nullptr;
    if (bracket && bracket->open() && bracket->mode() == GL_QUADS) {
        // The faces as quads from the run's cache: the script's bracket
        // closes around the draw and opens again for what follows.
        bracket->end();
        run->drawVoxelBlock(*gVoxelBlock);
        bracket->begin(GL_QUADS);
    } else {
        // In another kind of bracket the same vertices make lines or
        // triangles, as they always have; outside one they draw nothing.
        RenderVoxelBlock(*gVoxelBlock, SceneLit(L));
    }
    return 0;
}

int ScriptCarveVoxelAt(lua_State *L)
{
    const int32_t i = ToCellIndex(L, 1), j = ToCellIndex(L, 2), k = ToCellIndex(L, 3);
    if (gVoxelBlock)
        gVoxelBlock->carve(i, j, k);
    return 0;
}

int ScriptAddVoxelAt(lua_State *L)
{
    const int32_t i = ToCellIndex(L, 1), j = ToCellIndex(L, 2), k = ToCellIndex(L, 3);
    if (gVoxelBlock)
        gVoxelBlock->add(i, j, k);
    return 0;
}

int ScriptSetVoxelColor(lua_State *L)
{
    const int32_t i = ToCellIndex(L, 1), j = ToCellIndex(L, 2), k = ToCellIndex(L, 3);
    // Components read as the indices are, truncated; the low 8 bits count.
    const int32_t red = ArgInt32(L, 4), green = ArgInt32(L, 5), blue = ArgInt32(L, 6);
    const int32_t alpha = lua_isnoneornil(L, 7) ? 255 : ArgInt32(L, 7);
    if (gVoxelBlock)
        gVoxelBlock->setColour(i, j, k, red, green, blue, alpha);
    return 0;
}

int ScriptGetVoxel(lua_State *L)
{
    const int32_t i = ToCellIndex(L, 1), j = ToCellIndex(L, 2), k = ToCellIndex(L, 3);
    const VoxelCell *cell = gVoxelBlock ? gVoxelBlock->cellAt(i, j, k) : nullptr;
    if (!cell) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushboolean(L, cell->solid);
    for (const int32_t component : {cell->red, cell->green, cell->blue, cell->alpha})
        lua_pushinteger(L, component & 0xff);
    return 5;
}

namespace {

// A box edit: two corner cells, read as the single-cell functions read theirs.
int EditBox(lua_State *L, void (VoxelBlock::*edit)(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t))
{
    int32_t c[6];
    for (int n = 0; n < 6; ++n)
        c[n] = ToCellIndex(L, n + 1);
    if (gVoxelBlock)
        (gVoxelBlock->*edit)(c[0], c[1], c[2], c[3], c[4], c[5]);
    return 0;
}

// A sphere edit: the centre cell, read as the single-cell functions read
// theirs, and a radius in cells (missing or non-numeric reads 0: the
// centre cell alone).
int EditSphere(lua_State *L, void (VoxelBlock::*edit)(int32_t, int32_t, int32_t, double))
{
    const int32_t i = ToCellIndex(L, 1), j = ToCellIndex(L, 2), k = ToCellIndex(L, 3);
    const double radius = lua_tonumber(L, 4);
    if (gVoxelBlock)
        (gVoxelBlock->*edit)(i, j, k, radius);
    return 0;
}

// i, j, k and the face ("+x", "-y", ...) of the first solid cell along the
// ray, or nil.
int PushPick(lua_State *L, const double origin[3], const double direction[3])
{
    static const char *const kFaceNames[kCubeFaceCount] = {"+x", "+y", "+z", "-x", "-y", "-z"};
    VoxelBlock::Hit hit;
    if (!gVoxelBlock || !gVoxelBlock->pick(origin, direction, hit)) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushinteger(L, hit.i);
    lua_pushinteger(L, hit.j);
    lua_pushinteger(L, hit.k);
    lua_pushstring(L, kFaceNames[hit.face]);
    return 4;
}

} // namespace

int ScriptCarveVoxelBox(lua_State *L) { return EditBox(L, &VoxelBlock::carveBox); }
int ScriptAddVoxelBox(lua_State *L) { return EditBox(L, &VoxelBlock::addBox); }
int ScriptCarveVoxelSphere(lua_State *L) { return EditSphere(L, &VoxelBlock::carveSphere); }
int ScriptAddVoxelSphere(lua_State *L) { return EditSphere(L, &VoxelBlock::addSphere); }

int ScriptPickVoxelRay(lua_State *L)
{
    double origin[3], direction[3];
    for (int n = 0; n < 3; ++n) {
        origin[n] = lua_tonumber(L, n + 1);
        direction[n] = lua_tonumber(L, n + 4);
    }
    return PushPick(L, origin, direction);
}

int ScriptPickVoxel(lua_State *L)
{
    // The ray from the eye through the cursor: the view's lens (vertical
    // field of view, the viewport's aspect) turned by the camera.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (!gDemoWorld || viewport[2] <= 0 || viewport[3] <= 0) {
        lua_pushnil(L);
        return 1;
    }
    const Vector3 cursor = gDemoWorld->cursorPos();
    const double slope = std::tan(gDemoWorld->fieldOfViewDegrees() * M_PI / 360.0);
    const double x = (2.0 * (cursor.x - viewport[0]) / viewport[2] - 1.0) * slope * viewport[2] / viewport[3];
    const double y = (2.0 * (cursor.y - viewport[1]) / viewport[3] - 1.0) * slope;
    const Vector3 along = gDemoWorld->camera().transformDirection(Vector3(float(x), float(y), -1.0f));
    const Vector3 eye = gDemoWorld->camera().position();
    const double origin[3] = {eye.x, eye.y, eye.z}, direction[3] = {along.x, along.y, along.z};
    return PushPick(L, origin, direction);
}

int ScriptResetVoxelBlock(lua_State *)
{
    if (gVoxelBlock)
        gVoxelBlock->reset();
    return 0;
}

// ---------------------------------------------------------------- registration

const luaL_Reg kVoxelFunctions[] = {
    {"makeVoxelBlock", ScriptMakeVoxelBlock},
    {"renderVoxelBlock", ScriptRenderVoxelBlock},
    {"carveVoxelAt", ScriptCarveVoxelAt},
    {"addVoxelAt", ScriptAddVoxelAt},
    {"setVoxelColor", ScriptSetVoxelColor},
    {"getVoxel", ScriptGetVoxel},
    {"carveVoxelBox", ScriptCarveVoxelBox},
    {"addVoxelBox", ScriptAddVoxelBox},
    {"carveVoxelSphere", ScriptCarveVoxelSphere},
    {"addVoxelSphere", ScriptAddVoxelSphere},
    {"pickVoxel", ScriptPickVoxel},
    {"pickVoxelRay", ScriptPickVoxelRay},
    {"resetVoxelBlock", ScriptResetVoxelBlock},
    {nullptr, nullptr},
};
