// Registration of the script interface: default callbacks first, then the
// native functions, each a closure without upvalues, in their fixed order.
#include "ScriptApi.h"

#include "MusicApi.h"
#include "ScriptHost.h"
#include "VoxelApi.h"

QMainWindow *gMainWindow = nullptr;

void RegisterScriptApi()
{
    RunScript("function init() end");
    RunScript("function update() end");
    RunScript("function render() end");
    RunScript("function LMBDown(x,y) end");
    RunScript("function LMBUp(x,y) end");
    RunScript("function OnMouseMove(x,y,px,py) end");
    RunScript("function getProdMp3Name() return \"\" end");

    RegisterFunction("getMp3Time", ScriptGetMp3Time);
    RegisterFunction("setMp3Time", ScriptSetMp3Time);
    RegisterFunction("getMp3Length", ScriptGetMp3Length);
    RegisterFunction("playMp3", ScriptPlayMp3);
    RegisterFunction("stopMp3", ScriptStopMp3);
    RegisterFunction("isMp3Playing", ScriptIsMp3Playing);

    // The voxel functions come last.
    for (const luaL_Reg *f = kVoxelFunctions; f->name; ++f)
        RegisterFunction(f->name, f->func);
}
