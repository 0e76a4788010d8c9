// Registration of the script interface: default callbacks first, then the
// native functions, each a closure without upvalues, in their fixed order.
#include "ScriptApi.h"

#include "MusicApi.h"
#include "ScriptHost.h"

QMainWindow *gMainWindow = nullptr;

namespace {

void Register(const char *name, lua_CFunction function)
{
    lua_pushcclosure(gLuaState, function, 0);
    lua_setfield(gLuaState, LUA_GLOBALSINDEX, name);
}

} // namespace

void RegisterScriptApi()
{
    RunScript("function init() end");
    RunScript("function update() end");
    RunScript("function render() end");
    RunScript("function LMBDown(x,y) end");
    RunScript("function LMBUp(x,y) end");
    RunScript("function OnMouseMove(x,y,px,py) end");
    RunScript("function getProdMp3Name() return \"\" end");

    Register("getMp3Time", ScriptGetMp3Time);
    Register("setMp3Time", ScriptSetMp3Time);
    Register("getMp3Length", ScriptGetMp3Length);
    Register("playMp3", ScriptPlayMp3);
    Register("stopMp3", ScriptStopMp3);
    Register("isMp3Playing", ScriptIsMp3Playing);
}
