// Production: the start-up steps, the frame and the shutdown of a run.
#include "Production.h"

#include "FSound.h"
#include "LoadedFiles.h"
#include "Music.h"
#include "ScriptHost.h"
#include "SoundErrorText.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QOpenGLContext>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>

Production::Production()
{
    demoWorld.setScene(&sceneState);
    sceneState.setBracket(&demoWorld.primitive());
    sceneState.setErrorBoard(&demoWorld.errors());
    demoWorld.setShaders(&shaderSet);
    demoWorld.setCanvases(&canvasSet);
    canvasSet.setBracket(&demoWorld.primitive());
    canvasSet.setErrorBoard(&demoWorld.errors());
    shaderSet.setCanvases(&canvasSet);
    shaderSet.setInputs(&frameInputs);
    if (timing.isOn())
        demoWorld.setFrameProbe(&timing);
}

Production::~Production()
{
    if (scriptHostOpen)
        CloseScriptHost();
    frameInputs.useMusic(); // the device closes before the sound layer does
    FSOUND_Stream_Close(gMusicStream);
    gMusicStream = nullptr;
    FSOUND_Close();
}

// --- Start-up ---------------------------------------------------------------

std::string Production::start(const RunOptions &options)
{
    runMode = options.mode;
    productionFile = options.fileName;
    const bool exporting = runMode == RunMode::Export;
    openScriptHost(options.registerFunctions);
    RegisterConsoleFont();
    if (options.buildSurface && !options.buildSurface())
        return "surface";
    // The export's music makes no sound: its clock moves by whole frames.
    FSOUND_SetVirtualClock(exporting);
    openMusic();
    if (!options.soundInput.empty() && !exporting)
        listenTo(options.soundInput);
    std::string stop;
    if (options.musicOpened && !options.musicOpened(stop))
        return stop;
    if (exporting) {
        if (gMusicStream)
            FSOUND_Stream_SetTime(gMusicStream, static_cast<int>(options.from * 1000.0 + 0.5));
        // Without music the production's own clock runs on frames too.
        clock.useVirtualClock(options.from);
    }
    openSync(runMode == RunMode::Authoring);
    // A sync file that does not parse would leave the export's frames
    // untimed; the window shows the error and goes on.
    if (exporting && !syncFile.error().empty())
        return syncFile.fileName().toStdString() + ": " + syncFile.error();
    const std::string error = load();
    return exporting ? error : std::string();
}

std::string Production::load()
{
    const std::string error = run(productionFile);
    demoWorld.errors().report(ErrorBoard::Production, error);
    if (runMode == RunMode::Authoring)
        watchProductionFiles(error.empty());
    return error;
}

void Production::watchProductionFiles(bool succeeded)
{
    const QString folder = QFileInfo(QDir::current().absoluteFilePath(productionFile)).absolutePath();
    QStringList wanted{QDir::cleanPath(QDir::current().absoluteFilePath(productionFile))};
    for (const std::string &name : otherFiles) {
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(name)));
        // Only the production's own files: not a library elsewhere.
        if (path.startsWith(folder + QLatin1Char('/')) && !wanted.contains(path))
            wanted.append(path);
    }
    // A failed run may have stopped before reading some: it lets none go.
    if (!succeeded)
        for (const WatchedFile &file : productionFiles)
            if (!wanted.contains(file.path()))
                wanted.append(file.path());
    std::vector<WatchedFile> files;
    for (const QString &path : wanted) {
        const auto known = std::find_if(productionFiles.begin(), productionFiles.end(),
                                        [&](const WatchedFile &file) { return file.path() == path; });
        files.push_back(known != productionFiles.end() ? *known : WatchedFile(path));
    }
    productionFiles = std::move(files);
}

void Production::takeSavedFiles()
{
    const WatchedFile::Clock::time_point now = WatchedFile::Clock::now();
    bool saved = false;
    for (WatchedFile &file : productionFiles)
        saved = file.poll(now) || saved;
    // Deleted and not (yet) written again: nothing to load; its creation
    // is the next change.
    if (saved && !productionFiles.empty() && productionFiles.front().exists() && load().empty())
        qDebug("%s reloaded", qUtf8Printable(productionFile));
    if (syncLive && syncFile.readIfChanged(now))
        syncChanged();
    shaderSet.takeSavedFiles(now);
    sceneState.takeSavedTextures(now);
    meshSet.takeSavedModels(now);
}

void Production::followMusic()
{
    clock.followMusic();
    // A move of the music is a cut: the picture of the frame before is not
    // the one before the new time.
    shaderSet.forgetPrevious();
}

std::string Production::listenTo(const std::string &name)
{
    if (runMode == RunMode::Export)
        return "the export follows the music only";
    frameInputs.useInput(name);
    reportSoundInput();
    return frameInputs.inputProblem();
}

void Production::listenToMusic()
{
    frameInputs.useMusic();
    reportSoundInput();
}

void Production::reportSoundInput()
{
    const std::string problem = frameInputs.inputProblem();
    const std::string device = frameInputs.inputDevice();
    if (problem == soundInputProblem && device == soundInputDevice)
        return;
    soundInputProblem = problem;
    soundInputDevice = device;
    demoWorld.errors().report(ErrorBoard::SoundInput, problem);
    if (!problem.empty())
        qWarning("sound input: %s", problem.c_str());
    else if (!device.empty())
        qInfo("sound input: listening to \"%s\"", device.c_str());
}

namespace {

// The registry key under which a run keeps itself in its Lua state.
const char kRunKey = 0;

} // namespace

Production *Production::Of(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kRunKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    Production *run = static_cast<Production *>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return run;
}

void Production::openScriptHost(void (*registerFunctions)())
{
    OpenScriptHost();
    scriptHostOpen = true;
    lua_pushlightuserdata(gLuaState, const_cast<char *>(&kRunKey));
    lua_pushlightuserdata(gLuaState, this);
    lua_rawset(gLuaState, LUA_REGISTRYINDEX);
    if (registerFunctions)
        registerFunctions();
}

void Production::RegisterConsoleFont()
{
    const int id = QFontDatabase::addApplicationFont("VeraMono.ttf");
    if (id == -1)
        return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    for (const QString &family : families)
        qDebug().noquote() << family;
}

void Production::openMusic()
{
    if (!FSOUND_Init(44100, 32, 1)) {
        qDebug("FMOD: FSOUND_Init error!\n");
        qDebug("%s\n", SoundErrorText(FSOUND_GetError()));
        return;
    }
    gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
    if (!gMusicStream) {
        qDebug("FMOD: FSOUND_Stream_Open error!\n");
        qDebug("%s\n", SoundErrorText(FSOUND_GetError()));
    }
}

std::string Production::run(const QString &fileName)
{
    const QString chunk = QStringLiteral("dofile(\"%1\")").arg(fileName);
    std::string output;
    std::string error;
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        error = QStringLiteral("cannot read %1: not a regular file\n").arg(info.fileName()).toStdString();
        qDebug("%s: %s\n", chunk.toUtf8().constData(), error.c_str());
        return error;
    }
    ForgetLoadedFiles(gLuaState);
    UnloadLocalModules(gLuaState);
    canvasSet.table().beginLoad();
    RunScriptCaptured(chunk.toStdString(), output, error);
    canvasSet.table().endLoad();
    otherFiles.clear();
    const QString self = info.absoluteFilePath();
    for (const std::string &name : LoadedFiles(gLuaState))
        if (QFileInfo(QString::fromStdString(name)).absoluteFilePath() != self)
            otherFiles.push_back(name);
    return error;
}

void Production::openSync(bool live)
{
    syncLive = live;
    syncFile.read();
    syncChanged();
}

void Production::syncChanged()
{
    clock.setTempo(syncFile.tracks().bpm, syncFile.tracks().rowsPerBeat);
    // The export refuses a bad file with its own line.
    if (demoWorld.errors().report(ErrorBoard::Sync, syncFile.error()) && runMode != RunMode::Export)
        qDebug("%s: %s", qUtf8Printable(syncFile.fileName()), syncFile.error().c_str());
}

// --- The frame --------------------------------------------------------------

void Production::SetFixedGLState()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void Production::setClearColour(unsigned char red, unsigned char green, unsigned char blue)
{
    clearColour[0] = red;
    clearColour[1] = green;
    clearColour[2] = blue;
}

void Production::openControllers(const ControlOptions &options)
{
    std::string error;
    if (options.midiWanted) {
        error = controls.midi().want(options.midi);
        if (!error.empty())
            controlNote(error, true);
    }
    if (!options.osc.empty() && !controls.osc().open(options.osc, error))
        controlNote(error, true);
    else if (!options.osc.empty())
        controlNote("listening for OSC on " + controls.osc().address(), false);
}

void Production::controlNote(const std::string &note, bool shown)
{
    qDebug("controllers: %s", note.c_str());
    if (shown)
        demoWorld.errors().report(ErrorBoard::Controls, note);
}

double Production::syncValue(std::string_view track)
{
    double value = 0.0;
    if (trackControl.liveValue(track, frameInputs.controls(), syncFile.tracks(), value))
        return value;
    return syncFile.tracks().value(track, frameInputs.row());
}

namespace {

// One callback run: OnMidi(status, data1, data2) or OnOsc(path, ...) for the
// message given as the light userdata argument.
int CallControlCallback(lua_State *L)
{
    const ControlMessage &message = *static_cast<const ControlMessage *>(lua_touserdata(L, 1));
    if (message.kind == ControlMessage::Midi) {
        lua_getglobal(L, "OnMidi");
        lua_pushinteger(L, message.status);
        lua_pushinteger(L, message.data1);
        lua_pushinteger(L, message.data2);
        lua_call(L, 3, 0);
        return 0;
    }
    lua_getglobal(L, "OnOsc");
    lua_pushstring(L, message.path());
    for (int i = 0; i < message.argCount; ++i) {
        if (message.type[i] == 's')
            lua_pushstring(L, message.string(i));
        else if (message.type[i] == 'n')
            lua_pushnumber(L, message.number[i]);
        else
            lua_pushnil(L);
    }
    lua_call(L, 1 + message.argCount, 0);
    return 0;
}

bool IsGlobalFunction(const char *name)
{
    lua_getglobal(gLuaState, name);
    const bool function = lua_isfunction(gLuaState, -1);
    lua_pop(gLuaState, 1);
    return function;
}

} // namespace

void Production::takeControls()
{
    notes.clear();
    controls.poll(Controllers::Clock::now(), notes);
    for (const std::string &note : notes) {
        const bool opened = note.find(" opened") != std::string::npos;
        controlNote(note, !opened);
        if (opened) // a port back: the band's line about the controllers goes
            demoWorld.errors().report(ErrorBoard::Controls, std::string());
    }
    frameInputs.takeControls(controls, moved);
    const std::vector<ControlMessage> &messages = frameInputs.controlMessages();
    if (!messages.empty() && scriptHostOpen) {
        const bool onMidi = IsGlobalFunction("OnMidi");
        const bool onOsc = IsGlobalFunction("OnOsc");
        std::string output, error, firstError;
        for (const ControlMessage &message : messages) {
            if (!(message.kind == ControlMessage::Midi ? onMidi : onOsc))
                continue;
            RunCallCaptured(message.kind == ControlMessage::Midi ? "OnMidi" : "OnOsc", CallControlCallback,
                            const_cast<ControlMessage *>(&message), output, error);
            if (firstError.empty())
                firstError = error;
        }
        demoWorld.errors().report(ErrorBoard::ControlCall, firstError);
    }
    notes.clear();
    trackControl.frame(moved, frameInputs.controls(), clock, syncFile, notes);
    for (const std::string &note : notes)
        controlNote(note, note.rfind("cannot", 0) == 0);
}

void Production::tick()
{
    // A fix saved while a frame call ran away is taken in before the
    // production is called again.
    if (runMode == RunMode::Authoring)
        takeSavedFiles();
    clock.beginFrame();
    const Vector3 cursor = demoWorld.cursorPos();
    frameInputs.take(cursor.x, cursor.y);
    reportSoundInput();
    takeControls();
    ++tickCount;
    demoWorld.beginFrameCalls();
    demoWorld.stepFrame();
    timing.partDone(FramePart::Update);
}

std::string Production::switchOutput(bool open, const std::string &screen)
{
    const std::string why = outputSwitch ? outputSwitch(open, screen)
                                         : std::string("the output screen goes with the authoring window");
    if (!why.empty())
        std::fprintf(stderr, "velkaro: output: %s\n", why.c_str());
    return why;
}

void Production::paint()
{
    // A bracket left open outside a paint (by update() or a console command)
    // is closed before the frame starts.
    demoWorld.primitive().close();
    // Shaders: saved files relinked, fixed function at the start.
    shaderSet.beginFrame();
    const std::string shaderError = shaderSet.reloadError();
    if (demoWorld.errors().report(ErrorBoard::Shader, shaderError))
        qDebug("shader: %s", shaderError.c_str());
    glClearColor(clearColour[0] / 255.0f, clearColour[1] / 255.0f, clearColour[2] / 255.0f, 1.0f);
    // A post shader that writes every pixel covers the view's colour: only
    // the depth, which orders the overlays drawn after the pass, is cleared.
    const bool covered = shaderSet.postCoversView() && QOpenGLContext::currentContext();
    glClear((covered ? 0 : GL_COLOR_BUFFER_BIT) | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    timing.partDone(FramePart::Clear);
    meshSet.beginFrame();
    demoWorld.renderFrame();
    // A mesh drawn where it cannot be (inside a bracket, an unknown id)
    // is told in the band; a frame without one clears it.
    if (demoWorld.errors().report(ErrorBoard::Mesh, meshSet.frameRefusal()))
        qDebug("mesh: %s", meshSet.frameRefusal().c_str());
}

void Production::drawVoxelBlock(const VoxelBlock &block)
{
    voxelCache.draw(block);
}
