// DemoWorld: the world's per-frame and mouse hooks as calls of the script's
// global callbacks, through the script host.
#include "DemoWorld.h"

#include "ScriptHost.h"
#include "ScriptPrimitive.h"

#include <QDebug>

#include <cstdio>

DemoWorld *gDemoWorld = nullptr;

namespace {

// Runs `chunk` and writes its printed output, then its error, each after
// its label; nothing when the run printed nothing and succeeded.
void RunFrameCall(const char *chunk, const char *outputLabel, const char *errorLabel)
{
    std::string output;
    std::string error;
    RunScriptCaptured(chunk, output, error);
    if (!output.empty())
        qDebug() << outputLabel << output.c_str();
    if (!error.empty())
        qDebug() << errorLabel << error.c_str();
}

} // namespace

DemoWorld::DemoWorld()
{
    gDemoWorld = this;
}

DemoWorld::~DemoWorld()
{
    gDemoWorld = nullptr;
}

void DemoWorld::update(float)
{
    RunFrameCall("update()", "Lua update() output: ", "Lua update() error: ");
}

void DemoWorld::render()
{
    RunFrameCall("render()", "Lua render() output: ", "Lua render() error: ");
    // A render() stopped between a begin function and endGL (an error, the
    // runaway guard) must not leave the primitive open for the floor, the
    // pick and the marker that follow.
    CloseScriptPrimitive();
}

void DemoWorld::onMouseMove(int, int)
{
    const Vector3 p = cursorPos();
    const Vector3 d = cursorDelta();
    char chunk[1024];
    std::snprintf(chunk, sizeof(chunk), "OnMouseMove(%2.3f, %2.3f, %2.3f, %2.3f)",
                  static_cast<double>(p.x), static_cast<double>(p.y),
                  static_cast<double>(d.x), static_cast<double>(d.y));
    RunScript(chunk);
}

void DemoWorld::onLeftButtonDown(int, int)
{
    const Vector3 p = cursorPos();
    char chunk[1024];
    std::snprintf(chunk, sizeof(chunk), "LMBDown(%2.3f, %2.3f)",
                  static_cast<double>(p.x), static_cast<double>(p.y));
    RunScript(chunk);
}

void DemoWorld::onLeftButtonUp(int, int)
{
    const Vector3 p = cursorPos();
    char chunk[1024];
    std::snprintf(chunk, sizeof(chunk), "LMBUp(%2.3f, %2.3f)",
                  static_cast<double>(p.x), static_cast<double>(p.y));
    RunScript(chunk);
}
