// The camera, window and input functions. Each reads its arguments loosely,
// makes one call on the world (gDemoWorld) or the main window (gMainWindow)
// and pushes its results. Without a world (no view exists) the getters
// return the origin and the commands do nothing; without a main window (an
// export renders with none) the window functions do nothing. A camera
// command whose result is not finite leaves the camera as it was.
#include "CameraApi.h"

#include "ApiArgs.h"
#include "DemoWorld.h"
#include "Production.h"

#include <QMainWindow>

#include <cmath>

QMainWindow *gMainWindow = nullptr;

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

bool Finite(const Vector3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool Finite(const Transform &t)
{
    const Quaternion &q = t.rotation();
    return Finite(t.position()) && std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) &&
           std::isfinite(q.z);
}

// Runs `change` on the world's camera and undoes it when it leaves the
// camera with a value that is not finite (a NaN or infinite argument, or
// one too large for single precision): a typo must never blank the view.
template <typename Change>
void ChangeCamera(Change change)
{
    if (!gDemoWorld)
        return;
    const Transform before = gDemoWorld->camera();
    change(*gDemoWorld);
    if (!Finite(gDemoWorld->camera()))
        gDemoWorld->camera() = before;
}

} // namespace

int ScriptGetCamPos(lua_State *L)
{
    return PushVector(L, gDemoWorld ? gDemoWorld->camera().position() : Vector3());
}

int ScriptSetCamPos(lua_State *L)
{
    const Vector3 position = ArgVector(L, 1);
    ChangeCamera([&](DemoWorld &world) { world.camera().setPosition(position); });
    return 0;
}

int ScriptRotateCam(lua_State *L)
{
    const float yaw = ArgFloat(L, 1);
    const float pitch = ArgFloat(L, 2);
    ChangeCamera([&](DemoWorld &world) { world.rotateCamera(yaw, pitch); });
    return 0;
}

// A target straight above or below the camera gives no direction to turn
// to: the camera stays as it was.
int ScriptLookAt(lua_State *L)
{
    const Vector3 target = ArgVector(L, 1);
    ChangeCamera([&](DemoWorld &world) { world.lookAt(target); });
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

// setOutput(screen) opens the output screen on a screen (its number from 1
// or its name; none: the first besides the window's), setOutput(false)
// closes it. True, or false and why not.
int ScriptSetOutput(lua_State *L)
{
    Production *run = Production::Of(L);
    if (!run)
        return 0;
    const bool open = !(lua_isboolean(L, 1) && !lua_toboolean(L, 1));
    std::string screen;
    if (open && lua_isnumber(L, 1))
        screen = std::to_string(static_cast<long long>(lua_tonumber(L, 1)));
    else if (open && lua_isstring(L, 1))
        screen = lua_tostring(L, 1);
    const std::string why = run->switchOutput(open, screen);
    lua_pushboolean(L, why.empty());
    if (why.empty())
        return 1;
    lua_pushstring(L, why.c_str());
    return 2;
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
    {"setOutput", ScriptSetOutput},
    {"enableStdMouseCam", ScriptEnableStdMouseCam},
    {"disableStdMouseCam", ScriptDisableStdMouseCam},
    {"getMouseCursorPos", ScriptGetMouseCursorPos},
    {nullptr, nullptr},
};
