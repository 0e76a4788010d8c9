// Program: the real velkaro executable started in a scratch folder under
// the test's X display, with helpers to find its window, drive it with
// xdotool and read back its debug output and exit status.
#pragma once

#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

#include <signal.h>

// Runs a helper command to its end and returns its standard output.
inline QString RunTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString Xdotool(const QStringList &arguments, int *exitCode = nullptr)
{
    return RunTool("xdotool", arguments, exitCode);
}

class Program
{
public:
    explicit Program(const QString &folder)
    {
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_FORCE_STDERR_LOGGING", "1");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("SDL_AUDIODRIVER", "dummy");
        process.setProcessEnvironment(environment);
    }

    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts the program and waits until its main window is visible. Xvfb
    // now and then drops a connection set up at the same moment as another
    // (here: the xdotool polling below); a start that failed so is retried.
    bool start(int timeoutMs = 30000)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (startOnce(timeoutMs))
                return true;
            if (process.state() != QProcess::NotRunning || !debugOutput().contains("could not connect to display"))
                return false;
            debug.clear();
            QThread::msleep(500);
        }
        return false;
    }

    qint64 pid() const { return process.processId(); }
    const QString &windowId() const { return window; }

    // Everything the program wrote to its debug output (stderr) so far.
    QString debugOutput()
    {
        process.waitForReadyRead(50);
        debug += QString::fromUtf8(process.readAllStandardError());
        return debug;
    }

private:
    bool startOnce(int timeoutMs)
    {
        process.start(VELKARO_EXE, {});
        if (!process.waitForStarted(10000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            const QString found = Xdotool({"search", "--onlyvisible", "--pid",
                                           QString::number(process.processId()), "--name", "^Velkaro$"});
            if (!found.isEmpty()) {
                window = found.split('\n').first();
                return true;
            }
            // The pause between polls; QProcess also learns of an exit only here.
            if (process.waitForFinished(100))
                return false;
        }
        return false;
    }

public:
    // Waits until the debug output contains `text`.
    bool waitForDebug(const QString &text, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!debugOutput().contains(text)) {
            if (timer.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
                return debugOutput().contains(text);
        }
        return true;
    }

    bool waitForExit(int timeoutMs = 15000)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        debugOutput();
        return ended;
    }

    bool running() const { return process.state() != QProcess::NotRunning; }
    bool exitedNormally() const { return process.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return process.exitCode(); }

    void terminate() { ::kill(static_cast<pid_t>(process.processId()), SIGTERM); }

    // Gives the window the keyboard focus (there is no window manager) and
    // sends it keys, e.g. {"key", "Escape"} or {"type", "print(1)"}.
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

inline void WriteFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(contents);
}

inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces `path` in one step (write aside, rename), so a reader never
// sees half a file.
inline void ReplaceFile(const QString &path, const QByteArray &contents)
{
    const QString aside = path + ".part";
    WriteFile(aside, contents);
    QFile::remove(path);
    QFile::rename(aside, path);
}

// Fixture of the end-to-end tests: a scratch folder to start the program in,
// and a skip where there is no X display to start it on.
class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (scripts/test starts Xvfb)";
        ASSERT_TRUE(scratch.isValid());
    }

    ScratchDir scratch;
};

// --- Window helpers ----------------------------------------------------------

struct Geometry
{
    int x = 0, y = 0, width = 0, height = 0;
};

inline Geometry WindowGeometry(const QString &window)
{
    Geometry g;
    const QString text = Xdotool({"getwindowgeometry", "--shell", window});
    for (const QString &line : text.split('\n')) {
        const QStringList pair = line.split('=');
        if (pair.size() != 2)
            continue;
        const int value = pair[1].toInt();
        if (pair[0] == "X") g.x = value;
        if (pair[0] == "Y") g.y = value;
        if (pair[0] == "WIDTH") g.width = value;
        if (pair[0] == "HEIGHT") g.height = value;
    }
    return g;
}

// Drags the splitter handle from the window's bottom edge up to its middle,
// then clicks into the console near its bottom, below the text.
inline void OpenConsole(Program &program)
{
    const Geometry g = WindowGeometry(program.windowId());
    const QString x = QString::number(g.x + g.width / 2);
    Xdotool({"mousemove", "--sync", x, QString::number(g.y + g.height - 2)});
    Xdotool({"mousedown", "1"});
    for (int step = 1; step <= 10; ++step)
        Xdotool({"mousemove", "--sync", x, QString::number(g.y + g.height - 2 - step * g.height / 20)});
    Xdotool({"mouseup", "1"});
    Xdotool({"mousemove", "--sync", x, QString::number(g.y + g.height - 12)});
    Xdotool({"click", "1"});
}

inline bool WaitForFile(const QString &path, const QString &text, int timeoutMs = 10000)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (QString::fromUtf8(ReadFile(path)).contains(text))
            return true;
        QThread::msleep(50);
    }
    return false;
}

// The window's picture as the X server shows it (ImageMagick's import).
inline QImage Screenshot(const QString &window)
{
    QProcess process;
    process.start("import", {"-window", window, "png:-"});
    process.waitForFinished(30000);
    return QImage::fromData(process.readAllStandardOutput(), "PNG");
}

// Pixels of the error band's red text in the lowest `rows` rows of `image`
// (all rows when 0).
inline int RedPixels(const QImage &image, int rows = 0)
{
    const QImage picture = image.convertToFormat(QImage::Format_RGB32);
    const int first = rows > 0 ? qMax(0, picture.height() - rows) : 0;
    int count = 0;
    for (int y = first; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = picture.pixel(x, y);
            count += qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110;
        }
    }
    return count;
}
