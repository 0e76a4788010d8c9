// Production: one run of a production, written once for the authoring
// window, the player and the offline export: the one start-up (start), the
// frame (the tick and the paint) and the shutdown. It owns the DemoWorld
// that the view drives, and it is the owner of the state that later
// features of a run add, so that nothing of a run lives in a new
// process-wide variable.
#pragma once

#include "Controllers.h"
#include "DemoWorld.h"
#include "FrameInputs.h"
#include "Canvases.h"
#include "FrameTiming.h"
#include "Meshes.h"
#include "SyncFile.h"
#include "Timeline.h"
#include "Scene.h"
#include "Shaders.h"
#include "SyncControl.h"
#include "VoxelDrawCache.h"
#include "WatchedFile.h"

#include <QString>

#include <lua.hpp>

#include <functional>
#include <string>
#include <vector>

// Who runs the production: the authoring window (sync file and production
// watched, reloaded on save), the player (read once, no watch), or the
// offline export (read once; the clocks virtual; a failing start is fatal).
enum class RunMode { Authoring, Player, Export };

// The controllers a front end opens from its command line: the MIDI inputs
// whose name contains `midi` when `midiWanted` ("" for all), and OSC on
// `osc` ("PORT" or "ADDRESS:PORT") when it is not empty.
struct ControlOptions
{
    bool midiWanted = false;
    std::string midi;
    std::string osc;
};

struct RunOptions
{
    RunMode mode = RunMode::Authoring;
    // Defines the default callbacks and registers the script functions.
    void (*registerFunctions)() = nullptr;
    // The front end's own surface (the window's form, the player's view,
    // the export's offscreen target), built right after the font; false
    // ends the start there (the front end has said why).
    std::function<bool()> buildSurface;
    // Called once the music is open (the export settles its time range on
    // the music's length); false ends the start there, with `stopReason`.
    std::function<bool(std::string &stopReason)> musicOpened;
    // The export: where the music and the production's own clock start.
    double from = 0.0;
    // The window and the player: the live sound input to follow from the
    // start (a part of its name; --input), "" for the music.
    std::string soundInput;
    QString fileName = QStringLiteral("prod.lua");
};

class Production
{
public:
    // Creates the world (gDemoWorld points at it from now on).
    Production();
    // The shutdown, in this order: the Lua state (when this run opened it),
    // the live input, the music stream, the sound layer. Then the world goes.
    ~Production();

    Production(const Production &) = delete;
    Production &operator=(const Production &) = delete;

    // The run whose script host `L` is (null for a Lua state that no run
    // opened): the one way the script functions reach their run's state.
    static Production *Of(lua_State *L);

    DemoWorld &world() { return demoWorld; }
    // The time and its transport; the sync tracks and their file.
    Timeline &timeline() { return clock; }
    SyncFile &sync() { return syncFile; }
    // Transforms, light, text and textures of render(); textures stay for
    // the whole run, across reloads of the production.
    Scene &scene() { return sceneState; }
    // The run's GLSL programs and post pass.
    Shaders &shaders() { return shaderSet; }
    // The MIDI inputs and the OSC port, and the tracks they drive.
    Controllers &controllers() { return controls; }
    SyncControl &syncControl() { return trackControl; }
    // The value of the named track for this frame: its control's, while it
    // follows one live; else its keys' at the frame's row (see sync()).
    double syncValue(std::string_view track);
    // Opens the controllers the command line asks for; their problems go
    // to the debug output and the error band. The export opens none.
    void openControllers(const ControlOptions &options);
    // A line about the controllers for the performer: the debug output,
    // and, with `shown`, the error band.
    void controlNote(const std::string &note, bool shown);
    // The canvases render() draws into; kept, with their pictures, across
    // reloads of the production.
    Canvases &canvases() { return canvasSet; }
    // The run's meshes and models; they stay for the whole run.
    Meshes &meshes() { return meshSet; }
    // The split of the window's frame cost (on with VELKARO_FRAME_TIMING).
    FrameTiming &frameTiming() { return timing; }

    // The one start-up, in this order for every mode: the script host and
    // its functions, the console font, the front end's surface, the sound
    // layer and the music (on the virtual clock for the export), the live
    // input of `soundInput` (not in the export), the sync
    // file, the production (dofile), and the watch of the files where the
    // mode has one. The outcome of loading the production goes to the
    // error board. Returns "" or, for the export, the reason it cannot go
    // on: the sync file does not parse ("sync.txt: line 3: ..."), the
    // production's top level failed (a missing prod.lua included), or
    // musicOpened said so; "surface" when buildSurface failed.
    std::string start(const RunOptions &options);
    RunMode mode() const { return runMode; }
    // What a frame sees of the outside world: time, beat, row, the music's
    // level and spectrum at the frame's time, the mouse.
    const FrameInputs &inputs() const { return frameInputs; }
    FrameInputs &inputs() { return frameInputs; }
    // Makes the frames follow the live input whose name contains `name`
    // instead of the music. Returns "" when it captures, else why it is
    // silent for now (shown in the band and written to stderr once; the
    // device is looked for again each second). The export follows the
    // music only.
    std::string listenTo(const std::string &name);
    // The frames follow the music again.
    void listenToMusic();
    // The output screen, where the front end has one (the authoring
    // window): `open` it on `screen` (a number from 1 or a name; "": the
    // first screen besides the window's), or close it. Returns "" or why
    // not, which also goes to stderr.
    using OutputSwitch = std::function<std::string(bool open, const std::string &screen)>;
    void setOutputSwitch(OutputSwitch handler) { outputSwitch = std::move(handler); }
    std::string switchOutput(bool open, const std::string &screen);
    // After the script or a transport key moved the music itself (seek,
    // stop, play): the frame's time and inputs follow it at once.
    void followMusic();

    // --- Start-up steps, used by start.

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
    // cannot reach. The canvases it asks for are those of the run before
    // (CanvasTable's reload rule).
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

    // The frame's tick: saved files taken in (when watched: the production
    // run again, the sync file read again, shader files relinked, textures
    // read again), the frame's inputs taken (the controllers' messages with
    // them: OnMidi and OnOsc called once per message in arrival order, the
    // bound tracks learnt, followed or recorded), then the world's step,
    // which calls update().
    void tick();
    // What the last tick and paint reported from update() and render():
    // the first error ("" when both ran clean), and the error of the one
    // the runaway guard stopped ("" when none was).
    const std::string &frameError() const { return demoWorld.frameError(); }
    const std::string &frameRunaway() const { return demoWorld.frameRunaway(); }
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
    // Hands the controllers' messages that arrived since the last tick to
    // the frame: values, callbacks, bound tracks.
    void takeControls();
    // Polls the watched files once (authoring only); runs the production
    // again when it or a file it read was saved.
    void takeSavedFiles();
    // Runs the production file, reports the outcome to the error board and
    // (authoring) watches the files the run read; returns its error text.
    std::string load();
    // Watches the production and the other files its last run read from
    // its folder (after a failed run, those read before as well).
    void watchProductionFiles(bool succeeded);
    // Shows the live input's problem in the band and on stderr when it
    // changed.
    void reportSoundInput();

    RunMode runMode = RunMode::Authoring;
    QString productionFile = QStringLiteral("prod.lua");
    std::vector<WatchedFile> productionFiles;   // prod.lua first, then what it read
    Scene sceneState;   // made before the world that points at it
    Meshes meshSet{sceneState};
    DemoWorld demoWorld;
    bool scriptHostOpen = false;
    Timeline clock;
    SyncFile syncFile;
    bool syncLive = false;
    std::vector<std::string> otherFiles;
    Canvases canvasSet;
    Shaders shaderSet;
    unsigned char clearColour[3] = {0, 0, 0};
    long tickCount = 0;
    FrameTiming timing;
    VoxelDrawCache voxelCache;
    FrameInputs frameInputs{clock};
    std::string soundInputProblem; // as last shown
    std::string soundInputDevice;
    Controllers controls;
    SyncControl trackControl;
    std::vector<ControlBinding> moved;       // the controls this frame's messages moved
    std::vector<std::string> notes;          // the controllers' lines of this tick
    OutputSwitch outputSwitch;               // null: this front end has no output screen
};
