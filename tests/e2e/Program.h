// Program: the real velkaro executable started in a scratch folder under the
// test's X display, and what the end-to-end tests share to drive it (xdotool),
// wait for its files and debug lines, and read its picture.
#pragma once

#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

#include <signal.h>

// Polls `done` every 20 ms until it holds or `timeoutMs` has passed.
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    for (; !done(); QThread::msleep(20))
        if (timer.elapsed() > timeoutMs)
            return done();
    return true;
}

// Runs a helper command to its end and returns its standard output.
inline QByteArray RunTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

inline QString Xdotool(const QStringList &arguments) { return QString::fromUtf8(RunTool("xdotool", arguments)).trimmed(); }

// Types `line` into the focused widget and presses Return.
inline void TypeLine(const QString &line)
{
    Xdotool({"type", "--delay", "20", line});
    Xdotool({"key", "Return"});
}

// The environment of every run: X through xcb, Qt's messages on stderr, the
// silent sound driver, and a private runtime folder as a desktop session has
// (Qt warns without). A non-null `path` replaces PATH.
inline QProcessEnvironment ProgramEnvironment(const QString &path = QString())
{
    static QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_FORCE_STDERR_LOGGING", "1");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    if (!path.isNull())
        environment.insert("PATH", path);
    return environment;
}

// The program with its window: started, found, sent keys and closed.
class Program
{
public:
    explicit Program(const QString &folder)
    {
        process.setWorkingDirectory(folder);
        process.setProcessEnvironment(ProgramEnvironment());
    }
    ~Program() { process.kill(); process.waitForFinished(5000); }

    // Starts the program and waits until its main window is visible. Xvfb now
    // and then drops a connection set up at the same moment as another (here:
    // the xdotool polling); a start that failed so is retried.
    bool start(int timeoutMs = 30000, const QStringList &arguments = {})
    {
        for (int attempt = 0; attempt < 3; ++attempt, debug.clear(), QThread::msleep(500)) {
            process.start(VELKARO_EXE, arguments);
            QElapsedTimer timer;
            timer.start();
            // The pause between polls; QProcess also learns of an exit only here.
            while (process.waitForStarted(10000) && !process.waitForFinished(100) && timer.elapsed() < timeoutMs) {
                window = Xdotool({"search", "--onlyvisible", "--pid", QString::number(process.processId()),
                                  "--name", "^Velkaro$"}).section('\n', 0, 0);
                if (!window.isEmpty())
                    return true;
            }
            if (running() || !debugOutput().contains("could not connect to display"))
                return false;
        }
        return false;
    }

    const QString &windowId() const { return window; }
    bool running() const { return process.state() != QProcess::NotRunning; }
    // The exit status, or -1 when the program did not end normally.
    int exitCode() const { return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1; }
    void terminate() { ::kill(static_cast<pid_t>(process.processId()), SIGTERM); }

    // Everything the program wrote to its debug output (stderr) so far.
    QString debugOutput()
    {
        process.waitForReadyRead(50);
        return debug += QString::fromUtf8(process.readAllStandardError());
    }

    // Waits until `text` is in the debug output more than `after` times.
    bool waitForDebug(const QString &text, int timeoutMs = 10000, int after = 0)
    {
        WaitUntil([&] { return debugOutput().count(text) > after || !running(); }, timeoutMs);
        return debugOutput().count(text) > after;
    }

    bool waitForExit(int timeoutMs = 15000)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        debugOutput();
        return ended;
    }

    // Gives the window the keyboard focus (there is no window manager) and
    // sends it keys, e.g. {"key", "Escape"}.
    void keys(const QStringList &arguments)
    {
        Xdotool({"windowfocus", "--sync", window});
        Xdotool(arguments);
    }

    // Asks the window to close as a window manager would.
    bool requestClose() { return RunTool(WM_CLOSE_EXE, {window}).isEmpty(); }

private:
    QProcess process;
    QString window;
    QString debug;
};

// --- Files -------------------------------------------------------------------

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces `path` in one step (write aside, rename): no reader sees half a file.
inline void ReplaceFile(const QString &path, const QByteArray &contents)
{
    WriteFile(path + ".part", contents);
    QFile::remove(path);
    QFile::rename(path + ".part", path);
}

inline bool WaitForFile(const QString &path, const QString &text, int timeoutMs = 10000)
{
    return WaitUntil([&] { return QString::fromUtf8(ReadFile(path)).contains(text); }, timeoutMs);
}

// The finished lines of a file the program appends to: a line still being
// written (no '\n' yet) is left out.
inline QStringList CompleteLines(const QString &path)
{
    const QString text = QString::fromUtf8(ReadFile(path));
    return text.left(text.lastIndexOf('\n') + 1).split('\n', Qt::SkipEmptyParts);
}

// --- Pictures ----------------------------------------------------------------

// The window's picture as the X server shows it (ImageMagick's import). The
// server shows a new frame a little after the program made it: with `until`,
// pictures are taken until one satisfies it or `timeoutMs` has passed, and
// the last one is returned.
inline QImage Screenshot(const QString &window, const std::function<bool(const QImage &)> &until = {},
                         int timeoutMs = 3000)
{
    QImage shot;
    WaitUntil([&] {
        shot = QImage::fromData(RunTool("import", {"-window", window, "png:-"}), "PNG");
        return !until || (!shot.isNull() && until(shot));
    }, timeoutMs);
    return shot;
}

// Pixels of `image` inside `area` (clipped to the image) that satisfy `match`.
inline int CountPixels(const QImage &image, const QRect &area, const std::function<bool(QColor)> &match)
{
    const QRect r = area.intersected(image.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += match(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

// Pixels within `radius` of (x, y) (a square) that satisfy `match`.
inline int CountNear(const QImage &image, int x, int y, int radius, const std::function<bool(QColor)> &match)
{
    return CountPixels(image, QRect(x - radius, y - radius, 2 * radius + 1, 2 * radius + 1), match);
}

// The error band: red text in the lowest rows of the view while the console is
// collapsed. kSomeText red pixels make at least a few letters.
const int kBandRows = 48;
const int kSomeText = 20;

// Red pixels of the band's text in the lowest `rows` rows (all rows when 0).
inline int RedPixels(const QImage &image, int rows = kBandRows)
{
    return CountPixels(image, QRect(0, rows > 0 ? image.height() - rows : 0, image.width(), image.height()),
                       [](QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; });
}

// Red band pixels once the picture shows the band `shown` (some text) or
// gone (none), or the last count after three seconds.
inline int BandPixels(const QString &window, bool shown, int rows = kBandRows)
{
    int red = 0;
    Screenshot(window, [&](const QImage &shot) {
        red = RedPixels(shot, rows);
        return shown ? red > kSomeText : red == 0;
    });
    return red;
}

// --- Fixture -----------------------------------------------------------------

// A scratch folder to start the program in, and a skip without an X display.
class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (scripts/test starts Xvfb)";
        ASSERT_TRUE(scratch.isValid());
    }

    QString path(const QString &name) const { return scratch.filePath(name); }
    QString Text(const QString &name) const { return QString::fromUtf8(ReadFile(path(name))); }

    // Writes prod.lua (unless `production` is null) and starts `program` on it.
    void Start(const QByteArray &production = QByteArray(), const QStringList &arguments = {})
    {
        if (!production.isNull()) {
            ASSERT_TRUE(WriteFile(path("prod.lua"), production));
        }
        program = std::make_unique<Program>(scratch.path());
        ASSERT_TRUE(program->start(30000, arguments)) << program->debugOutput().toStdString();
    }

    ScratchDir scratch;
    std::unique_ptr<Program> program;
};

// Drags the splitter handle from the window's bottom edge up to its middle,
// then clicks into the console near its bottom, below the text.
inline void OpenConsole(Program &program)
{
    QMap<QString, int> g;   // X, Y, WIDTH, HEIGHT
    for (const QString &line : Xdotool({"getwindowgeometry", "--shell", program.windowId()}).split('\n'))
        g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    const auto moveTo = [&](int above) {
        Xdotool({"mousemove", "--sync", QString::number(g["X"] + g["WIDTH"] / 2),
                 QString::number(g["Y"] + g["HEIGHT"] - above)});
    };
    moveTo(2);
    Xdotool({"mousedown", "1"});
    for (int step = 1; step <= 10; ++step)
        moveTo(2 + step * g["HEIGHT"] / 20);
    Xdotool({"mouseup", "1"});
    moveTo(12);
    Xdotool({"click", "1"});
}
