// The main window's start-up sequence, Escape handling and shutdown.
#include "MainWindow.h"

#include "ChunkComplete.h"
#include "MainWindowForm.h"
#include "ProductionWatcher.h"
#include "REPLEdit.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QDebug>
#include <QKeyEvent>
#include <QSplitter>
#include <QTextCursor>

#include <algorithm>
#include <cstdlib>

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

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainWindowForm)
{
    gMainWindow = this;
    production.openScriptHost(RegisterScriptApi);
    Production::RegisterConsoleFont();
    form->SetupForm(this, &production);
    form->repl->SetPrompt("Lua>");
    setWindowTitle("Velkaro");
    setStyleSheet("QSplitter::handle { background: black }");
    form->splitter->setSizes({500, 0});
    form->world->setFocus(Qt::OtherFocusReason);
    production.openMusic();
    // Runs dofile("prod.lua") now and again whenever the file is saved.
    (new ProductionWatcher(form->world, &production, QStringLiteral("prod.lua"), this))->RunAtStartUp();
}

MainWindow::~MainWindow()
{
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
