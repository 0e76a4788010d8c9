// DemoWorld: the world's per-frame and mouse hooks as calls of the script's
// global callbacks, through the script host.
#include "DemoWorld.h"

#include "Canvases.h"
#include "Scene.h"
#include "ScriptHost.h"
#include "Shaders.h"

#include <QDebug>

#include <cstdio>

DemoWorld *gDemoWorld = nullptr;

namespace {

// Runs `chunk` and writes its printed output, then its error, each after
// its label; nothing when the run printed nothing and succeeded. Returns
// the error text ("" on success).
std::string RunFrameCall(const char *chunk, const char *outputLabel, const char *errorLabel)
{
    std::string output;
    std::string error;
    RunScriptCaptured(chunk, output, error);
    if (!output.empty())
        qDebug() << outputLabel << output.c_str();
    if (!error.empty())
        qDebug() << errorLabel << error.c_str();
    return error;
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

void DemoWorld::beginFrameCalls()
{
    firstFrameError.clear();
    runawayError.clear();
}

void DemoWorld::frameCallDone(ErrorBoard::Source source, const std::string &error)
{
    errorBoard.report(source, error);
    if (firstFrameError.empty())
        firstFrameError = error;
    if (runawayError.empty() && LastRunInterrupted())
        runawayError = error;
}

void DemoWorld::update()
{
    frameCallDone(ErrorBoard::Update, RunFrameCall("update()", "Lua update() output: ", "Lua update() error: "));
}

void DemoWorld::render()
{
    if (scene)
        scene->beginRender();
    if (canvases)
        canvases->beginRender();
    frameCallDone(ErrorBoard::Render, RunFrameCall("render()", "Lua render() output: ", "Lua render() error: "));
    // A render() stopped between a begin function and endGL (an error, the
    // runaway guard) must not leave the primitive open for the floor, the
    // pick and the marker that follow; nor its matrices, light, texture or
    // canvas.
    primitive().close();
    if (canvases)
        canvases->endRender();
    if (scene)
        scene->endRender();
    if (shaders)
        shaders->endRender();
}

bool DemoWorld::beginScene()
{
    return shaders && shaders->beginScene();
}

void DemoWorld::endScene()
{
    shaders->endScene();
}

void DemoWorld::finishScene()
{
    shaders->finishScene();
}

void DemoWorld::beginFloorDepth()
{
    if (shaders)
        shaders->beginSceneDepth();
}

void DemoWorld::endFloorDepth()
{
    if (shaders)
        shaders->endSceneDepth();
}

float DemoWorld::depthAt(int x, int y)
{
    float depth = 1.0f;
    return shaders && shaders->sceneDepthAt(x, y, depth) ? depth : World::depthAt(x, y);
}

void DemoWorld::onMouseMove(int, int)
{
    const Vector3 p = cursorPos();
    const Vector3 d = cursorDelta();
    char chunk[1024];
    std::snprintf(chunk, sizeof(chunk), "OnMouseMove(%2.3f, %2.3f, %2.3f, %2.3f)",
                  static_cast<double>(p.x), static_cast<double>(p.y),
                  static_cast<double>(d.x), static_cast<double>(d.y));
    runMouseCall(chunk, ErrorBoard::MouseMove);
}

void DemoWorld::onLeftButtonDown(int, int)
{
    runButtonCall("LMBDown", ErrorBoard::LeftButtonDown);
}

void DemoWorld::onLeftButtonUp(int, int)
{
    runButtonCall("LMBUp", ErrorBoard::LeftButtonUp);
}

void DemoWorld::runButtonCall(const char *callback, ErrorBoard::Source source)
{
    // "LMBDown(%2.3f, %2.3f)" or "LMBUp(%2.3f, %2.3f)" with the cursor of the
    // last move, not the event's own position.
    const Vector3 p = cursorPos();
    char chunk[1024];
    std::snprintf(chunk, sizeof(chunk), "%s(%2.3f, %2.3f)", callback,
                  static_cast<double>(p.x), static_cast<double>(p.y));
    runMouseCall(chunk, source);
}

void DemoWorld::runMouseCall(const char *chunk, ErrorBoard::Source source)
{
    std::string output;   // dropped, as RunScript does
    std::string error;
    RunScriptCaptured(chunk, output, error);
    errorBoard.report(source, error);
}
