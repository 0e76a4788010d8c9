// The main window's start-up sequence, Escape handling and shutdown.
#include "MainWindow.h"

#include "FSound.h"
#include "MusicApi.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "SoundErrorText.h"

#include <QDebug>
#include <QFontDatabase>
#include <QKeyEvent>

#include <cstdlib>

namespace {

// Registers the console font from the working directory and lists the
// families it supplies on the debug output.
void RegisterConsoleFont()
{
    const int id = QFontDatabase::addApplicationFont("VeraMono.ttf");
    if (id == -1)
        return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    for (const QString &family : families)
        qDebug().noquote() << family;
}

// Initialises the sound layer and opens the music stream; failures are
// reported on the debug output and leave gMusicStream null.
void OpenMusic()
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

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    gMainWindow = this;
    OpenScriptHost();
    RegisterScriptApi();
    RegisterConsoleFont();
    setCentralWidget(new QWidget(this));
    setWindowTitle("Velkaro");
    setStyleSheet("QSplitter::handle { background: black }");
    OpenMusic();
    RunScript("dofile(\"prod.lua\")");
}

MainWindow::~MainWindow()
{
    CloseScriptHost();
    FSOUND_Stream_Close(gMusicStream);
    FSOUND_Close();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Escape)
        std::exit(1);
    QWidget::keyPressEvent(event);
}
