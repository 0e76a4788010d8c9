// The real velkaro executable in a scratch folder under the test's X display,
// driven with xdotool and Xlib.
#pragma once

#include "Files.h"
#include "Pixels.h"
#include "ScratchDir.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <signal.h>

// Sends a window manager's close request (WM_DELETE_WINDOW) to the window.
void SendCloseRequest(unsigned long window);

inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    for (timer.start(); !done(); QThread::msleep(20))
        if (timer.elapsed() > timeoutMs)
            return done();
    return true;
}

// Sends `signal` to `process` while it runs; false when it has ended. An
// ended QProcess reports process id 0, and kill(0, ...) would signal every
// process in the test runner's group, CTest with it.
inline bool SendSignal(const QProcess &process, int signal)
{
    const pid_t pid = pid_t(process.processId());
    return process.state() == QProcess::Running && pid > 0 && ::kill(pid, signal) == 0;
}

inline QByteArray RunTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

inline QString Xdotool(const QStringList &arguments) { return QString::fromUtf8(RunTool("xdotool", arguments)).trimmed(); }
inline void TypeLine(const QString &line) { Xdotool({"type", "--delay", "20", line}); Xdotool({"key", "Return"}); }

inline bool WaitForFile(const QString &path, const QString &text, int timeoutMs = 10000)
{
    return WaitUntil([&] { return QString::fromUtf8(ReadFile(path)).contains(text); }, timeoutMs);
}
// Saves `contents` aside and renames it over `path`, as editors do.
inline bool ReplaceFile(const QString &path, const QByteArray &contents)
{
    return WriteFile(path + ".part", contents) && std::rename((path + ".part").toUtf8().constData(), path.toUtf8().constData()) == 0;
}

// X through xcb, Qt's messages on stderr, the silent sound driver, a runtime
// folder and a decimal-comma locale (every number the program writes or reads
// must stay in the C locale's "."); a non-null `path` replaces PATH.
inline QProcessEnvironment ProgramEnvironment(const QString &path = QString())
{
    static QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : {std::pair{"QT_FORCE_STDERR_LOGGING", QString("1")}, {"QT_QPA_PLATFORM", QString("xcb")},
                                      {"SDL_AUDIODRIVER", QString("dummy")}, {"XDG_RUNTIME_DIR", runtime.path()},
                                      {"LC_NUMERIC", QString("de_DE.UTF-8")}})
        environment.insert(name, value);
    environment.remove("LC_ALL");
    if (!path.isNull())
        environment.insert("PATH", path);
    return environment;
}

// The window's picture as the X server shows it, taken until `until` holds
// or `timeoutMs` has passed (the server shows a frame a little late).
inline QImage Screenshot(const QString &window, const std::function<bool(const QImage &)> &until = {}, int timeoutMs = 3000)
{
    QImage shot;
    WaitUntil([&] {
        shot = QImage::fromData(RunTool("import", {"-window", window, "png:-"}), "PNG");
        return !until || (!shot.isNull() && until(shot));
    }, timeoutMs);
    return shot;
}
// Pixels of `image` in `area` that are not `colour` (within `tolerance` per channel).
inline int OtherPixels(const QImage &image, const QRect &area, QColor colour, int tolerance = 0)
{
    return CountPixels(image, area, [&](QColor c) {
        return std::abs(c.red() - colour.red()) > tolerance || std::abs(c.green() - colour.green()) > tolerance ||
               std::abs(c.blue() - colour.blue()) > tolerance;
    });
}
// The red text pixels of the error band in the lowest `rows` rows (all when
// 0) once it shows (more than 20: some letters) or is gone.
inline int BandPixels(const QString &window, bool shown, int rows = 48)
{
    int red = 0;
    Screenshot(window, [&](const QImage &shot) {
        red = CountPixels(shot, QRect(0, rows ? shot.height() - rows : 0, shot.width(), shot.height()),
                          [](QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; });
        return shown ? red > 20 : red == 0;
    });
    return red;
}

// A scratch folder, the program started in it, and its window.
class EndToEndTest : public ::testing::Test
{
protected:
    ~EndToEndTest() override { Stop(); }
    void Stop() { process.kill(); process.waitForFinished(5000); }
    QString path(const QString &name) const { return scratch.filePath(name); }
    QString Text(const QString &name) const { return QString::fromUtf8(ReadFile(path(name))); }
    QStringList Entries() const { return QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    // Writes prod.lua (unless null) and starts the program until its window is
    // visible, again when it lost its X connection (Xvfb drops one now and
    // then when another is set up at once). Its debug output goes to a file: a
    // pipe nobody reads while xdotool runs would fill up and stop the program.
    void Start(const QByteArray &production = QByteArray(), const QStringList &arguments = {})
    {
        if (!production.isNull()) {
            ASSERT_TRUE(WriteFile(path("prod.lua"), production));
        }
        Stop();
        process.setWorkingDirectory(scratch.path());
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(logs.filePath("stderr.txt"));
        window.clear();
        for (int attempt = 0; attempt < 3 && window.isEmpty(); ++attempt) {
            process.start(VELKARO_EXE, arguments);
            QElapsedTimer timer;
            timer.start();
            while (window.isEmpty() && process.waitForStarted(10000) && !process.waitForFinished(100) && timer.elapsed() < 30000)
                window = Xdotool({"search", "--onlyvisible", "--pid", QString::number(process.processId()), "--name", "^Velkaro$"}).section('\n', 0, 0);
            if (window.isEmpty() && (running() || !Debug().contains("could not connect to display")))
                break;
        }
        ASSERT_FALSE(window.isEmpty()) << Debug().toStdString();
    }
    // Starts the program beside the window (an export, a refusal), with PATH replaced when given.
    void Launch(QProcess &other, const QStringList &arguments, const QString &pathVariable = QString())
    {
        other.setProcessEnvironment(ProgramEnvironment(pathVariable));
        other.setWorkingDirectory(scratch.path());
        other.start(VELKARO_EXE, arguments);
    }
    // Runs it to its end: the exit status (-1: no normal end within `timeoutMs`), stderr and stdout.
    struct Outcome { int status = -1; QString err; };
    Outcome RunToEnd(const QStringList &arguments, const QString &pathVariable = QString(), int timeoutMs = 180000)
    {
        QProcess other;
        Launch(other, arguments, pathVariable);
        Outcome run;
        if (other.waitForFinished(timeoutMs) && other.exitStatus() == QProcess::NormalExit)
            run.status = other.exitCode();
        run.err = QString::fromUtf8(other.readAllStandardError() + other.readAllStandardOutput());
        return run;
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    QString Debug() const { return QString::fromUtf8(ReadFile(logs.filePath("stderr.txt"))); }
    // Waits until `text` is in the debug output more than `after` times.
    bool WaitForDebug(const QString &text, int timeoutMs = 10000, int after = 0)
    {
        WaitUntil([&] { return Debug().count(text) > after || !running(); }, timeoutMs);
        return Debug().count(text) > after;
    }
    // The exit status once it ended, -1 when it did not end normally or in time.
    int ExitCode(int timeoutMs = 15000)
    {
        return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    void Keys(const QStringList &arguments) { Xdotool({"windowfocus", "--sync", window}); Xdotool(arguments); }
    // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
    void RequestClose() { SendCloseRequest(window.toULong()); }
    // Drags the splitter handle from the window's bottom edge to its middle,
    // then clicks into the console below its text.
    void OpenConsole()
    {
        const int h = Xdotool({"getwindowgeometry", "--shell", window}).section("HEIGHT=", 1).section('\n', 0, 0).toInt();
        const auto to = [&](int y) { return QStringList{"mousemove", "--window", window, "100", QString::number(y)}; };
        Xdotool(to(h - 2) + QStringList{"mousedown", "1"} + to(h / 2) + QStringList{"mouseup", "1"});
        // Clicked once the console shows there (a slow program may not have
        // moved the splitter yet, and the click would land on the view).
        Screenshot(window, [&](const QImage &shot) { return shot.pixelColor(100, h - 12).lightness() > 128; }, 10000);
        Xdotool(to(h - 12) + QStringList{"click", "1"});
    }

    ScratchDir scratch;
    QTemporaryDir logs;
    QProcess process;
    QString window;
    QProcessEnvironment environment = ProgramEnvironment(); // Start's
};
