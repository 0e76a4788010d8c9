// Production: one run of a production, written once for the authoring
// window and the offline export: the start-up steps, the frame (the tick
// and the paint) and the shutdown. It owns the DemoWorld that the view
// drives, and it is the owner of the state that later features of a run
// add, so that nothing of a run lives in a new process-wide variable.
#pragma once

#include "DemoWorld.h"
#include "Shaders.h"

#include <QString>

#include <string>

class Production
{
public:
    // Creates the world (gDemoWorld points at it from now on).
    Production();
    // The shutdown, in this order: the Lua state (when this run opened it),
    // the music stream, the sound layer. Then the world goes.
    ~Production();

    Production(const Production &) = delete;
    Production &operator=(const Production &) = delete;

    DemoWorld &world() { return demoWorld; }
    // The run's GLSL programs and post pass.
    Shaders &shaders() { return shaderSet; }

    // --- Start-up steps, in the order the window takes them.

    // Opens the script host (the Lua state, print and foo), then lets
    // `registerFunctions` define the default callbacks and register the
    // script functions.
    void openScriptHost(void (*registerFunctions)());
    // Registers the console font "VeraMono.ttf" from the working directory
    // and lists the families it supplies on the debug output (nothing when
    // the file is missing).
    static void RegisterConsoleFont();
    // Initialises the sound layer and opens "music.mp3"; failures are
    // reported on the debug output and leave gMusicStream null.
    void openMusic();
    // Runs the production, dofile("<fileName>"), and returns its error text
    // ("" when it ran). Printed output goes to the debug output only. A file
    // that is a pipe, socket or device is refused with "cannot read <name>:
    // not a regular file": dofile would block on it where the runaway guard
    // cannot reach.
    std::string run(const QString &fileName = QStringLiteral("prod.lua"));

    // --- The frame.

    // The fixed GL state of every context that shows a production: opaque
    // black clear colour, depth test GL_LESS, alpha blending.
    static void SetFixedGLState();
    // The frame's tick: the world's step, which calls update().
    void tick();
    // One paint into the current framebuffer: an open bracket closed,
    // colour and depth cleared, filled polygons pushed back by offset 1/1,
    // the world's frame (camera, grid, render(), floor, pick, marker; with
    // a post shader the scene goes through it before grid and floor).
    void paint();

private:
    DemoWorld demoWorld;
    bool scriptHostOpen = false;
    Shaders shaderSet;
};
