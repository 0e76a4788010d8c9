// End to end: faults a user meets — numbers under a comma locale, a camera
// given non-finite values, a runaway callback's line, long errors in the
// band, reload of the production's other files, the export's edges, and
// console output cut at the buffer's size.
#include "Media.h"
#include "Program.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Sets an environment variable for the programs started while it lives.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value) : name(name), had(qEnvironmentVariableIsSet(name)),
                                                           previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { had ? qputenv(name, previous) : qunsetenv(name); }

private:
    const char *name;
    bool had;
    QByteArray previous;
};

class Faults : public EndToEndTest
{
protected:
    struct Finished
    {
        int status = -1;   // -1: did not end normally
        QString err;
    };
    // Runs an export with `arguments` in the scratch folder to its end.
    Finished Export(const QStringList &arguments, const QString &path = QString())
    {
        QProcess process;
        process.setProcessEnvironment(ProgramEnvironment(path));
        process.setWorkingDirectory(scratch.path());
        process.start(VELKARO_EXE, arguments);
        Finished run;
        if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
            run.status = process.exitCode();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    // Moves the pointer to (x, y) of the window (at the screen's origin).
    static void Pointer(int x, int y)
    {
        if (!Xdotool({"getmouselocation", "--shell"}).startsWith(QString("X=%1\nY=%2\n").arg(x).arg(y)))
            Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y)});
    }
};

const char kAppend[] =
    "function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n";

// Under a German locale the mouse callbacks get four numbers, Lua writes
// numbers with ".", and an export with music (ffmpeg's -ss and -t) works.
TEST_F(Faults, ACommaLocaleChangesNoNumber)
{
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    Start(QByteArray(kAppend) +
          "append('numbers.txt', string.format('%.1f', 1.5) .. ' ' .. tostring(0.25) .. ' ' .. tonumber('2.5'))\n"
          "function OnMouseMove(...) append('mouse.txt', select('#', ...) .. ' ' .. table.concat({...}, ' ')) end\n");
    EXPECT_TRUE(WaitForFile(path("numbers.txt"), "1.5 0.25 2.5")) << Text("numbers.txt").toStdString();
    Pointer(100, 100);
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), " 100 "));
    Pointer(105, 98);
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), " 105 "));
    const QStringList move = CompleteLines(path("mouse.txt")).last().split(' ');
    ASSERT_EQ(move.size(), 5) << Text("mouse.txt").toStdString();
    EXPECT_EQ(QStringList({move[0], move[1], move[3], move[4]}), QStringList({"4", "105", "5", "2"}));
    Stop();

    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 1.0));
    const Finished run = Export({"--export", "demo.mp4", "--fps", "10", "--size", "64x64", "--to", "0.5"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("export: 5 frames, 0.50 s of video")) << run.err.toStdString();
}

} // namespace
