// Console benchmarks: one key press against a session of 100 and of
// 100,000 lines (with and without the repaint it asks for), saving a 10 MB
// session and loading a 5 MB session of 100,000 lines. Run on the offscreen
// platform unless another one is chosen.
#include "REPLEdit.h"
#include "ScriptHost.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

// Writes a session log with `lines` lines of console text, each a prompt
// line of about `lineLength` characters, ending with the prompt alone.
void WriteSession(const QString &name, int lines, int lineLength)
{
    QByteArray file = "1\nprint(1)\n###\n";
    file.reserve(qsizetype(lines) * (lineLength + 1) + 64);
    for (int i = 0; i < lines; ++i) {
        QByteArray line = "Lua>print(" + QByteArray::number(i) + ") -- ";
        line += QByteArray(qMax(0, lineLength - int(line.size())), 'x');
        file += line + "\n";
    }
    file += "Lua>";
    QFile out(name);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(file);
}

// A console in its own scratch folder, loaded from a generated session.
struct Session
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<REPLEdit> repl;

    Session(int lines, int lineLength, bool bShown = true)
    {
        QDir::setCurrent(dir.path());
        WriteSession(gSessionFileName, lines, lineLength);
        repl = std::make_unique<REPLEdit>(nullptr);
        repl->SetPrompt("Lua>");
        repl->resize(900, 300);
        if (bShown)
            repl->show();
        // Let the document layout finish before measuring.
        repl->document()->documentLayout()->documentSize();
        QApplication::processEvents();
    }
    ~Session()
    {
        repl.reset();
        QDir::setCurrent(previous);
    }
};

void SendKey(REPLEdit *repl, Qt::Key key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(repl, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(repl, &release);
}

void SendLetter(REPLEdit *repl)
{
    SendKey(repl, Qt::Key_A, "a");
}

// Keeps the input line short, so every measured key press meets the same
// input: Escape (with the cursor in the input) empties it.
void ClearInputEvery64(benchmark::State &state, REPLEdit *repl, int64_t &typed)
{
    if (++typed % 64 != 0)
        return;
    state.PauseTiming();
    SendKey(repl, Qt::Key_Escape, QString(QChar(27)));
    state.ResumeTiming();
}

void BM_KeyPress(benchmark::State &state)
{
    Session session(int(state.range(0)), 50);
    int64_t typed = 0;
    for (auto _ : state) {
        SendLetter(session.repl.get());
        ClearInputEvery64(state, session.repl.get(), typed);
    }
    state.counters["lines"] = double(state.range(0));
}
BENCHMARK(BM_KeyPress)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_KeyPressAndRepaint(benchmark::State &state)
{
    Session session(int(state.range(0)), 50);
    int64_t typed = 0;
    for (auto _ : state) {
        SendLetter(session.repl.get());
        session.repl->viewport()->repaint();
        ClearInputEvery64(state, session.repl.get(), typed);
    }
    state.counters["lines"] = double(state.range(0));
}
BENCHMARK(BM_KeyPressAndRepaint)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_SaveSession10MB(benchmark::State &state)
{
    Session session(200000, 50);
    const QString name = "bench-save.txt";
    for (auto _ : state)
        session.repl->SaveSession(name);
    state.counters["bytes"] = double(QFile(name).size());
}
BENCHMARK(BM_SaveSession10MB)->Unit(benchmark::kMillisecond);

// Argument 1: the console is on screen, so setting the cursor at the end
// makes the editor lay out the whole document to scroll there; 0: hidden,
// which leaves reading the file and building the document.
void BM_LoadSession5MB(benchmark::State &state)
{
    Session session(1, 50, state.range(0) != 0);
    const QString name = "bench-load.txt";
    WriteSession(name, 100000, 50);
    for (auto _ : state)
        session.repl->LoadSession(name);
    state.counters["bytes"] = double(QFile(name).size());
    state.counters["blocks"] = double(session.repl->document()->blockCount());
}
BENCHMARK(BM_LoadSession5MB)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf");
    OpenScriptHost();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseScriptHost();
    return 0;
}
