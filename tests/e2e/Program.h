// The real velkaro executable started in a scratch folder under the test's X
// display, and what the end-to-end tests share to drive it (xdotool, Xlib),
// wait for its files and debug lines, and read its picture.
#pragma once

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

inline QByteArray RunTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

inline QString Xdotool(const QStringList &arguments) { return QString::fromUtf8(RunTool("xdotool", arguments)).trimmed(); }
inline void TypeLine(const QString &line) { Xdotool({"type", "--delay", "20", line}); Xdotool({"key", "Return"}); }

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline bool WaitForFile(const QString &path, const QString &text, int timeoutMs = 10000)
{
    return WaitUntil([&] { return QString::fromUtf8(ReadFile(path)).contains(text); }, timeoutMs);
}
// Saves `contents` aside and renames it over `path`, as editors do.
inline bool ReplaceFile(const QString &path, const QByteArray &contents)
{
    return WriteFile(path + ".part", contents) && std::rename((path + ".part").toUtf8().constData(), path.toUtf8().constData()) == 0;
}
// The finished lines of a file the program appends to.
inline QStringList CompleteLines(const QString &path)
{
    const QString text = QString::fromUtf8(ReadFile(path));
    return text.left(text.lastIndexOf('\n') + 1).split('\n', Qt::SkipEmptyParts);
}

// X through xcb, Qt's messages on stderr, the silent sound driver, a runtime
// folder; a non-null `path` replaces PATH.
inline QProcessEnvironment ProgramEnvironment(const QString &path = QString())
{
    static QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : {std::pair{"QT_FORCE_STDERR_LOGGING", QString("1")}, {"QT_QPA_PLATFORM", QString("xcb")},
                                      {"SDL_AUDIODRIVER", QString("dummy")}, {"XDG_RUNTIME_DIR", runtime.path()}})
        environment.insert(name, value);
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
inline int CountPixels(const QImage &image, const QRect &area, const std::function<bool(QColor)> &match)
{
    const QRect r = area.intersected(image.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += match(image.pixelColor(x, y));
    return count;
}
inline int CountNear(const QImage &image, int x, int y, int radius, const std::function<bool(QColor)> &match)
{
    return CountPixels(image, QRect(x - radius, y - radius, 2 * radius + 1, 2 * radius + 1), match);
}
// Red text pixels of the error band in the lowest `rows` rows (all when 0).
const int kBandRows = 48;
inline int RedPixels(const QImage &image, int rows = kBandRows)
{
    return CountPixels(image, QRect(0, rows ? image.height() - rows : 0, image.width(), image.height()),
                       [](QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; });
}
// The band's red pixels once it shows (more than 20: some letters) or is gone.
inline int BandPixels(const QString &window, bool shown, int rows = kBandRows)
{
    int red = 0;
    Screenshot(window, [&](const QImage &shot) { red = RedPixels(shot, rows); return shown ? red > 20 : red == 0; });
    return red;
}

// A scratch folder, the program started in it, and its window.
class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
    }
    ~EndToEndTest() override { Stop(); }
    void Stop() { process.kill(); process.waitForFinished(5000); debug.clear(); }
    QString path(const QString &name) const { return scratch.filePath(name); }
    QString Text(const QString &name) const { return QString::fromUtf8(ReadFile(path(name))); }
    QStringList Entries() const { return QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    // Writes prod.lua (unless null) and starts the program with `arguments`
    // until its window is visible; a start that lost its X connection (Xvfb
    // drops one now and then when another is set up at the same moment) is
    // retried.
    void Start(const QByteArray &production = QByteArray(), const QStringList &arguments = {})
    {
        if (!production.isNull()) {
            ASSERT_TRUE(WriteFile(path("prod.lua"), production));
        }
        Stop();
        process.setWorkingDirectory(scratch.path());
        process.setProcessEnvironment(ProgramEnvironment());
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
    // Starts the program with `arguments` in the scratch folder beside the
    // window's (an export, a refusal); a non-null `pathVariable` replaces PATH.
    void Launch(QProcess &other, const QStringList &arguments, const QString &pathVariable = QString())
    {
        other.setProcessEnvironment(ProgramEnvironment(pathVariable));
        other.setWorkingDirectory(scratch.path());
        other.start(VELKARO_EXE, arguments);
    }
    // Runs it so to its end: the exit status (-1: no normal end), stderr and stdout.
    struct Outcome { int status = -1; QString err; };
    Outcome RunToEnd(const QStringList &arguments, const QString &pathVariable = QString())
    {
        QProcess other;
        Launch(other, arguments, pathVariable);
        Outcome run;
        if (other.waitForFinished(180000) && other.exitStatus() == QProcess::NormalExit)
            run.status = other.exitCode();
        run.err = QString::fromUtf8(other.readAllStandardError() + other.readAllStandardOutput());
        return run;
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    QString Debug()
    {
        process.waitForReadyRead(50);
        return debug += QString::fromUtf8(process.readAllStandardError());
    }
    // Waits until `text` is in the debug output more than `after` times.
    bool WaitForDebug(const QString &text, int timeoutMs = 10000, int after = 0)
    {
        WaitUntil([&] { return Debug().count(text) > after || !running(); }, timeoutMs);
        return Debug().count(text) > after;
    }
    // The exit status once it ended, -1 when it did not end normally or in time.
    int ExitCode(int timeoutMs = 15000)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        Debug();
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    void Keys(const QStringList &arguments) { Xdotool({"windowfocus", "--sync", window}); Xdotool(arguments); }
    // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
    void RequestClose() { SendCloseRequest(window.toULong()); }
    // Drags the splitter handle from the window's bottom edge to its middle,
    // then clicks into the console below its text.
    void OpenConsole()
    {
        QMap<QString, int> g;
        for (const QString &line : Xdotool({"getwindowgeometry", "--shell", window}).split('\n'))
            g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        const auto moveTo = [&](int above) {
            Xdotool({"mousemove", "--sync", QString::number(g["X"] + g["WIDTH"] / 2), QString::number(g["Y"] + g["HEIGHT"] - above)});
        };
        moveTo(2);
        Xdotool({"mousedown", "1"});
        for (int step = 1; step <= 10; ++step)
            moveTo(2 + step * g["HEIGHT"] / 20);
        Xdotool({"mouseup", "1"});
        moveTo(12);
        Xdotool({"click", "1"});
    }

    ScratchDir scratch;
    QProcess process;
    QString window, debug;
};
