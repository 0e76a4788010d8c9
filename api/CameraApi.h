// The camera, window and input functions of the script interface: read,
// move, turn and aim the camera; full screen or a window; the standard
// mouse camera on or off; the world point under the cursor.
#pragma once

class QMainWindow;
struct lua_State;
struct luaL_Reg;

// The program's main window, set by its constructor before anything else
// runs; the window functions act on it. Never cleared; null when no window
// exists (an export).
extern QMainWindow *gMainWindow;

int ScriptGetCamPos(lua_State *L);           // getCamPos() -> x, y, z
int ScriptSetCamPos(lua_State *L);           // setCamPos(x, y, z)
int ScriptRotateCam(lua_State *L);           // rotateCam(yaw, pitch), radians
int ScriptLookAt(lua_State *L);              // lookAt(x, y, z)
int ScriptFullscreenMode(lua_State *L);      // fullscreenMode()
int ScriptWindowedMode(lua_State *L);        // windowedMode()
int ScriptEnableStdMouseCam(lua_State *L);   // enableStdMouseCam()
int ScriptDisableStdMouseCam(lua_State *L);  // disableStdMouseCam()
int ScriptGetMouseCursorPos(lua_State *L);   // getMouseCursorPos() -> x, y, z

// getCamPos, setCamPos, rotateCam, lookAt, fullscreenMode, windowedMode,
// enableStdMouseCam, disableStdMouseCam, getMouseCursorPos; null-terminated.
extern const luaL_Reg kCameraFunctions[];
