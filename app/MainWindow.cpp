// The main window's start-up sequence, Escape handling and shutdown.
#include "MainWindow.h"

#include "ChunkComplete.h"
#include "ConsoleSplitter.h"
#include "MainWindowForm.h"
#include "REPLEdit.h"
#include "RocketClient.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "SyncPane.h"
#include "WorldWidget.h"

#include <QDebug>
#include <QDockWidget>
#include <QKeyEvent>
#include <QSplitter>
#include <QTextCursor>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

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

MainWindow::MainWindow(const std::string &soundInput, QWidget *parent)
    : QMainWindow(parent)
    , form(new MainWindowForm)
{
    gMainWindow = this;
    RunOptions options;
    options.mode = RunMode::Authoring;
    options.registerFunctions = RegisterScriptApi;
    options.soundInput = soundInput;
    options.buildSurface = [this] {
        form->SetupForm(this, &production);
        connect(form->repl, &REPLEdit::CommandEntered, this, &MainWindow::RunREPLCommand);
        form->repl->SetPrompt("Lua>");
        setWindowTitle("Velkaro");
        setStyleSheet("QSplitter::handle { background: black }");
        form->splitter->setSizes({500, 0});
        form->world->setFocus(Qt::OtherFocusReason);
        production.setOutputSwitch([this](bool open, const std::string &screen) {
            if (!open) {
                form->world->closeOutput();
                return std::string();
            }
            return form->world->openOutput(screen);
        });
        // The sync pane, beside the view and hidden: the form stays as it is.
        syncDock = new QDockWidget(QStringLiteral("Sync"), this);
        syncDock->setObjectName("syncDock");
        syncDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                              QDockWidget::DockWidgetFloatable);
        syncDock->setWidget(new SyncPane(&production, syncDock));
        addDockWidget(Qt::RightDockWidgetArea, syncDock);
        syncDock->hide();
        return true;
    };
    // Runs dofile("prod.lua") now, and again from the frames whenever it
    // or a file it read is saved.
    production.start(options);
}

void MainWindow::ConnectToSyncEditor(const QString &host, quint16 port)
{
    rocket = std::make_unique<RocketClient>(
        production.sync(), production.timeline(), host, port, [this] { production.syncChanged(); },
        [](const std::string &line) { qInfo().noquote() << QString::fromStdString(line); });
}

MainWindow::~MainWindow()
{
    rocket.reset();
    delete form;
    form = nullptr;
    // The production's shutdown follows: the Lua state, then the sound.
}

void MainWindow::SetViewSize(const QSize &size)
{
    // The splitter's minimum height counts the collapsed console's too.
    const int consoleMinimum = std::min(form->repl->minimumHeight(), std::max(1, size.height() / 2));
    form->repl->setMinimumSize(std::min(form->repl->minimumWidth(), size.width()), consoleMinimum);
    form->world->setMinimumSize(0, std::min(form->world->minimumHeight(), size.height() - consoleMinimum));
    // The splitter fills the window; below the view lies only its handle.
    resize(size.width(), size.height() + form->splitter->handleWidth());
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
    const std::string chunk = ConsoleChunk(sCommand.toStdString());
    if (sCommand.startsWith(QLatin1Char('=')))
        valueCount = RunScriptCapturedValues(chunk, output, error, values);
    else
        RunScriptCaptured(chunk, output, error);
    if (!output.empty())
        AppendPlainParagraph(form->repl, output);
    if (LastRunOutputCut())
        AppendPlainParagraph(form->repl, "\u2026 (output cut at " + std::to_string(sizeof(gPrintBuffer) - 1) +
                                             " characters)");
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
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        form->splitter->toggleConsole();
        return;
    }
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        toggleSyncPane();
        return;
    }
    if (event->key() == Qt::Key_F3 && event->modifiers() == Qt::NoModifier) {
        production.switchOutput(!form->world->outputOpen(), std::string());
        return;
    }
    // The view's keys come here unaccepted; the console's never do.
    if (focusWidget() == form->world && SyncPane::TransportKey(production.timeline(), event))
        return;
    QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    form->world->closeOutput();
    QMainWindow::closeEvent(event);
}

std::string MainWindow::OpenOutput(const std::string &screen, const QSize &size)
{
    form->world->setOutputSize(size);
    return production.switchOutput(true, screen);
}

void MainWindow::toggleSyncPane()
{
    if (syncDock->isVisible()) {
        syncDock->hide();
        form->world->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Room for the pane (as wide as it was last) without squeezing the
    // view and the console.
    const int paneWidth = syncDock->widget()->sizeHint().width();
    const int needed = 403 + paneWidth;
    if (!isFullScreen() && !isMaximized() && width() < needed)
        resize(needed, height());
    syncDock->show();
    if (!syncDock->isFloating())
        resizeDocks({syncDock}, {paneWidth}, Qt::Horizontal);
    syncDock->widget()->setFocus(Qt::OtherFocusReason);
}
