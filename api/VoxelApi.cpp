// The voxel functions of the script interface. Before the first
// makeVoxelBlock they do nothing; none raises a Lua error or returns a value.
#include "VoxelApi.h"

#include "ApiArgs.h"
#include "SceneApi.h"

#include "DemoWorld.h"
#include "Production.h"
#include "ScriptPrimitive.h"

#include "VoxelBlock.h"
#include "VoxelDrawCache.h"

#include <QDebug>

#include <lua.hpp>

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

int ScriptRenderVoxelBlock(lua_State *)
{
    if (!gVoxelBlock)
        return 0;
    Production *run = gDemoWorld ? gDemoWorld->production() : nullptr;
    if (run && ScriptPrimitiveOpen() && ScriptPrimitiveMode() == GL_QUADS) {
        // The faces as quads from the run's cache: the script's bracket
        // closes around the draw and opens again for what follows.
        EndScriptPrimitive();
        run->drawVoxelBlock(*gVoxelBlock);
        BeginScriptPrimitive(GL_QUADS);
    } else {
        // In another kind of bracket the same vertices make lines or
        // triangles, as they always have; outside one they draw nothing.
        RenderVoxelBlock(*gVoxelBlock, SceneLit());
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

// ---------------------------------------------------------------- registration

const luaL_Reg kVoxelFunctions[] = {
    {"makeVoxelBlock", ScriptMakeVoxelBlock},
    {"renderVoxelBlock", ScriptRenderVoxelBlock},
    {"carveVoxelAt", ScriptCarveVoxelAt},
    {"addVoxelAt", ScriptAddVoxelAt},
    {nullptr, nullptr},
};
