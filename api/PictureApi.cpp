// The picture functions: the overlays flag lives in the world (it draws
// them), the clear colour in the run (its paint clears with it). Without a
// world or a run they do nothing.
#include "PictureApi.h"

#include "ApiArgs.h"
#include "DemoWorld.h"
#include "Production.h"

int ScriptSetOverlays(lua_State *L)
{
    if (gDemoWorld)
        gDemoWorld->setOverlays(lua_isnone(L, 1) || lua_toboolean(L, 1));
    return 0;
}

int ScriptSetClearColor(lua_State *L)
{
    Production *production = Production::Of(L);
    if (production)
        production->setClearColour(static_cast<unsigned char>(ArgInt32(L, 1) & 0xff),
                                   static_cast<unsigned char>(ArgInt32(L, 2) & 0xff),
                                   static_cast<unsigned char>(ArgInt32(L, 3) & 0xff));
    return 0;
}

int ScriptGetViewSize(lua_State *L)
{
    lua_pushnumber(L, gDemoWorld ? gDemoWorld->viewportWidth() : 0);
    lua_pushnumber(L, gDemoWorld ? gDemoWorld->viewportHeight() : 0);
    return 2;
}

const luaL_Reg kPictureFunctions[] = {
    {"setOverlays", ScriptSetOverlays},
    {"setClearColor", ScriptSetClearColor},
    {"getViewSize", ScriptGetViewSize},
    {nullptr, nullptr},
};
