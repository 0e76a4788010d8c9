// Production: one run of a production, written once for the authoring
// window and the offline export: the start-up steps, the frame (the tick
// and the paint) and the shutdown. It owns the DemoWorld that the view
// drives, and it is the owner of the state that later features of a run
// add, so that nothing of a run lives in a new process-wide variable.
#pragma once

#include "DemoWorld.h"
#include "FrameTiming.h"
#include "SyncFile.h"
#include "Timeline.h"
#include "Scene.h"
#include "Shaders.h"
#include "VoxelDrawCache.h"

#include <QString>

#include <string>
#include <vector>

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
    // The time and its transport; the sync tracks and their file.
    Timeline &timeline() { return clock; }
    SyncFile &sync() { return syncFile; }
    // Transforms, light, text and textures of render(); textures stay for
    // the whole run, across reloads of the production.
    Scene &scene() { return sceneState; }
    // The run's GLSL programs and post pass.
    Shaders &shaders() { return shaderSet; }
    // The split of the window's frame cost (on with VELKARO_FRAME_TIMING).
    FrameTiming &frameTiming() { return timing; }

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
    // Reads "sync.txt" (before the production runs, so its top level can
    // use the tracks). With `live`, every tick reads it again when it
    // changed on disk; the export reads it once, as it is.
    void openSync(bool live);
    // The tempo and the error band follow the sync file's last read or
    // write (after an edit of the tracks).
    void syncChanged();
    // The other files the last run read with dofile, loadfile or require
    // (names relative to the working directory unless absolute), in the
    // order first read; the production file itself is not among them.
    const std::vector<std::string> &filesRead() const { return otherFiles; }

    // --- The frame.

    // The fixed GL state of every context that shows a production: opaque
    // black clear colour, depth test GL_LESS, alpha blending.
    static void SetFixedGLState();
    // The background every paint clears to, 0-255 per channel; black
    // until the script sets another. Kept across reloads of the production.
    void setClearColour(unsigned char red, unsigned char green, unsigned char blue);

    // The frame's tick: a changed sync file read again (when live), the
    // frame's time taken, then the world's step, which calls update().
    void tick();
    // Ticks so far in this run.
    long ticks() const { return tickCount; }
    // One paint into the current framebuffer: an open bracket closed,
    // colour (to the clear colour) and depth cleared, filled polygons
    // pushed back by offset 1/1, the world's frame (camera, grid, render(),
    // floor, pick, marker; with a post shader the scene goes through it
    // before grid and floor).
    void paint();
    // Draws the voxel block from the run's cache of its visible faces.
    void drawVoxelBlock(const VoxelBlock &block);

private:
    Scene sceneState;   // made before the world that points at it
    DemoWorld demoWorld;
    bool scriptHostOpen = false;
    Timeline clock;
    SyncFile syncFile;
    bool syncLive = false;
    std::vector<std::string> otherFiles;
    Shaders shaderSet;
    unsigned char clearColour[3] = {0, 0, 0};
    long tickCount = 0;
    FrameTiming timing;
    VoxelDrawCache voxelCache;
};
