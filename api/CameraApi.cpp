// The camera, window and input functions. Each reads its arguments loosely,
// makes one call on the world (gDemoWorld) or the main window (gMainWindow)
// and pushes its results. Without a world (no view exists) the getters
// return the origin and the commands do nothing; without a main window (an
// export renders with none) the window functions do nothing.
#include "CameraApi.h"

#include "ApiArgs.h"
#include "DemoWorld.h"
#include "ScriptApi.h"

#include <QMainWindow>

namespace {

// Pushes x, y and z widened to Lua numbers; three results.
int PushVector(lua_State *L, const Vector3 &v)
{
    lua_pushnumber(L, v.x);
    lua_pushnumber(L, v.y);
    lua_pushnumber(L, v.z);
    return 3;
}

Vector3 ArgVector(lua_State *L, int first)
{
    return Vector3(ArgFloat(L, first), ArgFloat(L, first + 1), ArgFloat(L, first + 2));
}

} // namespace

int ScriptGetCamPos(lua_State *L)
{
    return PushVector(L, gDemoWorld ? gDemoWorld->camera().position() : Vector3());
}

int ScriptSetCamPos(lua_State *L)
{
    if (gDemoWorld)
        gDemoWorld->camera().setPosition(ArgVector(L, 1));
    return 0;
}

int ScriptRotateCam(lua_State *L)
{
    if (gDemoWorld)
        gDemoWorld->rotateCamera(ArgFloat(L, 1), ArgFloat(L, 2));
    return 0;
}

int ScriptLookAt(lua_State *L)
{
    if (gDemoWorld)
        gDemoWorld->lookAt(ArgVector(L, 1));
    return 0;
}

int ScriptFullscreenMode(lua_State *)
{
    if (gMainWindow)
        gMainWindow->showFullScreen();
    return 0;
}

int ScriptWindowedMode(lua_State *)
{
    if (gMainWindow)
        gMainWindow->showNormal();
    return 0;
}

int ScriptEnableStdMouseCam(lua_State *)
{
    if (gDemoWorld)
        gDemoWorld->enableStdMouseCam();
    return 0;
}

int ScriptDisableStdMouseCam(lua_State *)
{
    if (gDemoWorld)
        gDemoWorld->disableStdMouseCam();
    return 0;
}

int ScriptGetMouseCursorPos(lua_State *L)
{
    return PushVector(L, gDemoWorld ? gDemoWorld->pickPoint() : Vector3());
}

const luaL_Reg kCameraFunctions[] = {
    {"getCamPos", ScriptGetCamPos},
    {"setCamPos", ScriptSetCamPos},
    {"rotateCam", ScriptRotateCam},
    {"lookAt", ScriptLookAt},
    {"fullscreenMode", ScriptFullscreenMode},
    {"windowedMode", ScriptWindowedMode},
    {"enableStdMouseCam", ScriptEnableStdMouseCam},
    {"disableStdMouseCam", ScriptDisableStdMouseCam},
    {"getMouseCursorPos", ScriptGetMouseCursorPos},
    {nullptr, nullptr},
};
