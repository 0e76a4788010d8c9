// Production: the start-up steps, the frame and the shutdown of a run.
#include "Production.h"

#include "FSound.h"
#include "LoadedFiles.h"
#include "Music.h"
#include "ScriptHost.h"
#include "ScriptPrimitive.h"
#include "SoundErrorText.h"

#include <QDebug>
#include <QFileInfo>
#include <QFontDatabase>
#include <QOpenGLContext>

#include <GL/gl.h>

Production::Production()
{
    demoWorld.setProduction(this);
    demoWorld.setScene(&sceneState);
    sceneState.setErrorBoard(&demoWorld.errors());
    demoWorld.setShaders(&shaderSet);
    if (timing.isOn())
        demoWorld.setFrameProbe(&timing);
}

Production::~Production()
{
    if (scriptHostOpen)
        CloseScriptHost();
    FSOUND_Stream_Close(gMusicStream);
    gMusicStream = nullptr;
    FSOUND_Close();
}

// --- Start-up ---------------------------------------------------------------

void Production::openScriptHost(void (*registerFunctions)())
{
    OpenScriptHost();
    scriptHostOpen = true;
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
    RunScriptCaptured(chunk.toStdString(), output, error);
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
    demoWorld.errors().report(ErrorBoard::Sync, syncFile.error());
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

void Production::tick()
{
    if (syncLive && syncFile.readIfChanged())
        syncChanged();
    clock.beginFrame();
    ++tickCount;
    demoWorld.stepFrame();
    timing.partDone(FramePart::Update);
}

void Production::paint()
{
    // A bracket left open outside a paint (by update() or a console command)
    // is closed before the frame starts.
    CloseScriptPrimitive();
    // Shaders: saved files relinked, fixed function at the start.
    const Vector3 cursor = demoWorld.cursorPos();
    shaderSet.beginFrame(cursor.x, cursor.y);
    demoWorld.errors().report(ErrorBoard::Shader, shaderSet.reloadError());
    glClearColor(clearColour[0] / 255.0f, clearColour[1] / 255.0f, clearColour[2] / 255.0f, 1.0f);
    // A post shader that writes every pixel covers the view's colour: only
    // the depth, which orders the overlays drawn after the pass, is cleared.
    const bool covered = shaderSet.postCoversView() && QOpenGLContext::currentContext();
    glClear((covered ? 0 : GL_COLOR_BUFFER_BIT) | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    timing.partDone(FramePart::Clear);
    demoWorld.renderFrame();
}

void Production::drawVoxelBlock(const VoxelBlock &block)
{
    voxelCache.draw(block);
}
