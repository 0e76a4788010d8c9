// Registration of the script interface: default callbacks first, then the
// native functions, each a closure without upvalues, in their fixed order.
#include "ScriptApi.h"

#include "CameraApi.h"
#include "ControlApi.h"
#include "CanvasApi.h"
#include "DrawApi.h"
#include "MusicAnalysisApi.h"
#include "MusicApi.h"
#include "SceneApi.h"
#include "PictureApi.h"
#include "ScriptHost.h"
#include "SyncApi.h"
#include "ShaderApi.h"
#include "VoxelApi.h"


namespace {

// A stretch of one binding file's table: `count` entries from `first`,
// or the rest of the table when count is -1.
struct TableRun
{
    const luaL_Reg *table;
    int first;
    int count;
};

// The fixed order interleaves the drawing and the camera tables: drawLine,
// the camera, the rest of the drawing, the music, then window and input.
const TableRun kRegistrationOrder[] = {
    {kDrawFunctions, 0, 1},     // drawLine
    {kCameraFunctions, 0, 4},   // getCamPos, setCamPos, rotateCam, lookAt
    {kDrawFunctions, 1, -1},    // beginTriGL .. drawCube
    {kMusicFunctions, 0, -1},
    {kCameraFunctions, 4, -1},  // fullscreenMode .. getMouseCursorPos
    {kVoxelFunctions, 0, 4},    // makeVoxelBlock .. addVoxelAt
    // Functions beyond the fixed table come after all of it.
    {kVoxelFunctions, 4, -1},   // setVoxelColor .. resetVoxelBlock
    {kMusicAnalysisFunctions, 0, -1},
    {kSyncFunctions, 0, -1},
    {kSceneFunctions, 0, -1},
    {kShaderFunctions, 0, -1},
    {kPictureFunctions, 0, -1},
    {kControlFunctions, 0, -1},
    {kCanvasFunctions, 0, -1},
};

} // namespace

std::vector<luaL_Reg> ScriptFunctions()
{
    std::vector<luaL_Reg> functions;
    for (const TableRun &run : kRegistrationOrder) {
        const luaL_Reg *entry = run.table + run.first;
        for (int n = 0; entry->name && n != run.count; ++entry, ++n)
            functions.push_back(*entry);
    }
    return functions;
}

void RegisterScriptApi()
{
    RunScript("function init() end");
    RunScript("function update() end");
    RunScript("function render() end");
    RunScript("function LMBDown(x,y) end");
    RunScript("function LMBUp(x,y) end");
    RunScript("function OnMouseMove(x,y,px,py) end");
    RunScript("function getProdMp3Name() return \"\" end");

    for (const luaL_Reg &function : ScriptFunctions())
        RegisterFunction(function.name, function.func);
}
