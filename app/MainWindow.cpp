// The main window's start-up sequence, Escape handling and shutdown.
#include "MainWindow.h"

#include "FSound.h"
#include "MainWindowForm.h"
#include "MusicApi.h"
#include "ProductionWatcher.h"
#include "REPLEdit.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "SoundErrorText.h"
#include "WorldWidget.h"

#include <QDebug>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QSplitter>
#include <QTextCursor>

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

// Appends `text` to the console as a new paragraph of plain text, so
// printed text that looks like HTML is shown as it is.
void AppendPlainParagraph(QTextEdit *console, const std::string &text)
{
    QTextCursor cursor(console->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(QString::fromStdString(text));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainWindowForm)
{
    gMainWindow = this;
    OpenScriptHost();
    RegisterScriptApi();
    RegisterConsoleFont();
    form->SetupForm(this);
    form->repl->SetPrompt("Lua>");
    setWindowTitle("Velkaro");
    setStyleSheet("QSplitter::handle { background: black }");
    form->splitter->setSizes({500, 0});
    form->world->setFocus(Qt::OtherFocusReason);
    OpenMusic();
    // Runs dofile("prod.lua") now and again whenever the file is saved.
    (new ProductionWatcher(form->world, QStringLiteral("prod.lua"), this))->RunAtStartUp();
}

MainWindow::~MainWindow()
{
    delete form;
    form = nullptr;
    CloseScriptHost();
    FSOUND_Stream_Close(gMusicStream);
    FSOUND_Close();
}

void MainWindow::RunREPLCommand(QString sCommand)
{
    // Script functions draw, read matrices and pick in the view's context.
    form->world->makeCurrent();
    std::string output;
    std::string error;
    std::string values;
    int valueCount = 0;
    // "=expr" shows what "return expr" returns, after what it printed.
    if (sCommand.startsWith(QLatin1Char('=')))
        valueCount = RunScriptCapturedValues("return " + sCommand.mid(1).toStdString(), output, error, values);
    else
        RunScriptCaptured(sCommand.toStdString(), output, error);
    if (!output.empty())
        AppendPlainParagraph(form->repl, output);
    if (valueCount > 0)
        AppendPlainParagraph(form->repl, values);
    if (!error.empty())
        AppendPlainParagraph(form->repl, error);
    form->repl->NewPrompt();
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
