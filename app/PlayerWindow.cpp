// The player's start-up, its end at the end of the music and on Escape.
#include "PlayerWindow.h"

#include "FSound.h"
#include "Music.h"
#include "ScriptApi.h"
#include "WorldWidget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

namespace {

// How often the player looks whether the music has ended.
const int kMusicCheckMs = 20;

} // namespace

PlayerWindow::PlayerWindow(const std::string &soundInput, QWidget *parent)
    : QMainWindow(parent)
{
    // The run's start-up, with the view alone for a surface.
    gMainWindow = this; // fullscreenMode and windowedMode act on the player
    RunOptions options;
    options.mode = RunMode::Player;
    options.registerFunctions = RegisterScriptApi;
    options.soundInput = soundInput;
    options.buildSurface = [this] {
        worldView = new WorldWidget(&production, this);
        worldView->setObjectName("world");
        worldView->setCursor(Qt::BlankCursor);
        setCentralWidget(worldView);
        setWindowTitle("Velkaro");
        worldView->setFocus(Qt::OtherFocusReason);
        production.world().setOverlays(false); // the production may still turn them on
        return true;
    };
    production.start(options);

    QTimer *musicTimer = new QTimer(this);
    connect(musicTimer, &QTimer::timeout, this, &PlayerWindow::checkMusic);
    musicTimer->start(kMusicCheckMs);
}

void PlayerWindow::checkMusic()
{
    musicStarted = musicStarted || gMusicChannel >= 0;
    // Stopped by the script (which rewinds it) is not the end.
    const bool atEnd = musicStarted && gMusicStream && !MusicIsPlaying() &&
                       FSOUND_Stream_GetTime(gMusicStream) >= FSOUND_Stream_GetLengthMs(gMusicStream);
    if (!atEnd) {
        endSeenAtTick = -1;
        return;
    }
    if (endSeenAtTick < 0)
        endSeenAtTick = production.ticks();
    else if (production.ticks() > endSeenAtTick) // an update() has run since
        QCoreApplication::exit(0);
}

void PlayerWindow::keyPressEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat() && event->key() == Qt::Key_Escape) {
        QCoreApplication::exit(0);
        return;
    }
    QMainWindow::keyPressEvent(event);
}
