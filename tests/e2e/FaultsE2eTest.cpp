// End to end: faults a user meets — numbers under a comma locale, a camera
// given non-finite values, a runaway callback's line, long errors in the
// band, reload of the production's other files, the export's edges, and
// console output cut at the buffer's size.
#include "Media.h"
#include "Program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <signal.h>

namespace {

class Faults : public EndToEndTest
{
protected:
    struct Finished { int status = -1; QString err; };   // -1: did not end normally
    void Launch(QProcess &process, const QStringList &arguments, const QString &path = QString())
    {
        process.setProcessEnvironment(ProgramEnvironment(path));
        process.setWorkingDirectory(scratch.path());
        process.start(VELKARO_EXE, arguments);
    }
    // Runs an export with `arguments` in the scratch folder to its end.
    Finished Export(const QStringList &arguments, const QString &path = QString())
    {
        QProcess process;
        Launch(process, arguments, path);
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
    qputenv("LC_ALL", "de_DE.UTF-8");   // for every program started from here on
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

bool Blue(QColor c) { return c.blue() > 240 && c.red() < 20 && c.green() < 20; }

// The longest run of red band pixels along one row (a thin line of the
// text's colour is drawn at half strength), and the rows from the first to
// the last with red, in the lowest `rows` rows.
std::pair<int, int> RedRunAndSpan(const QImage &image, int rows)
{
    int longest = 0, first = -1, last = -1;
    for (int y = std::max(0, image.height() - rows); y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            run = c.red() > 90 && c.green() < 60 && c.red() > c.blue() ? run + 1 : 0;
            longest = std::max(longest, run);
            if (run > 0)
                last = y, first = first < 0 ? y : first;
        }
    }
    return {longest, first < 0 ? 0 : last - first + 1};
}

// Camera calls with values that are not finite, or a target straight
// above, leave the camera and the picture as they were; then a long error
// wraps onto three lines of the band with its end (a row of underscores)
// in sight.
TEST_F(Faults, BadCameraValuesKeepThePictureAndALongErrorShowsItsEnd)
{
    Start(QByteArray(kAppend) +
          "setCamPos(0, 50, 100) lookAt(0, 50, 0)\n"
          "local bad = { function() rotateCam(0/0, 0) end, function() rotateCam(0, 1/0) end,\n"
          "  function() rotateCam(-1/0) end, function() setCamPos(0/0, 0, 0) end, function() setCamPos(0, 1e39, 0) end,\n"
          "  function() lookAt(0, -1/0, 0) end, function() lookAt(0/0, 0, 0) end, function() lookAt(0, 1e39, -3e38) end,\n"
          "  function() lookAt(0, 1000, 100) end }\n"
          "frame = 0\n"
          "function update() frame = frame + 1 if bad[frame] then bad[frame]() end\n"
          "  if frame == #bad + 1 then append('camera.txt', string.format('%g %g %g', getCamPos())) end\n"
          "  local f = io.open('long.flag') if f then f:close() LONG = true end end\n"
          "function render() beginQuadGL() colorGL(0, 0, 255, 255)\n"
          "  vectorGL(-1000, -1000, 0) vectorGL(1000, -1000, 0) vectorGL(1000, 1000, 0) vectorGL(-1000, 1000, 0) endGL()\n"
          "  if LONG then error(string.rep('a long message ', 40) .. '____________') end end\n");
    ASSERT_TRUE(WaitForFile(path("camera.txt"), "\n"));
    EXPECT_EQ(Text("camera.txt"), "0 50 100\n");
    const QImage shot = Screenshot(window, [](const QImage &s) { return CountNear(s, s.width() / 2, 150, 20, Blue) > 1500; });
    EXPECT_GT(CountNear(shot, shot.width() / 2, 150, 20, Blue), 1500) << "the view lost its picture";

    ASSERT_TRUE(WriteFile(path("long.flag"), ""));
    std::pair<int, int> band;
    Screenshot(window, [&](const QImage &s) { band = RedRunAndSpan(s, 100); return band.first >= 40 && band.second > 30; });
    EXPECT_GE(band.first, 40) << "the end of the message is not in sight";
    EXPECT_GT(band.second, 30) << "the message is not on three lines";
    EXPECT_LT(band.second, 60) << "the message takes more than three lines";
}

// A runaway render() names the line of the loop in the innermost function,
// also when the production set its own hook, which keeps being called.
TEST_F(Faults, AnInterruptedRenderNamesTheLineOfItsLoop)
{
    Start(QByteArray(kAppend) +
          "calls = 0 debug.sethook(function() calls = calls + 1 end, '', 1000)\n"
          "local function spin()\n"
          "  while true do end\n"
          "end\n"
          "ticks = 0\n"
          "function render() ticks = ticks + 1 if ticks == 3 then spin() end\n"
          "  if ticks == 10 then append('after.txt', tostring(calls > 0)) end end\n");
    EXPECT_TRUE(WaitForDebug("Lua render() error:  prod.lua:4: script interrupted: it ran for more than 5 seconds", 15000))
        << Debug().toStdString();
    EXPECT_TRUE(WaitForFile(path("after.txt"), "true")) << "the production's own hook was not called";
}

// Saving a file that the production's top level read with dofile or
// require runs the production again, which reads the new version.
TEST_F(Faults, SavingAFileTheProductionReadsReloadsIt)
{
    ASSERT_TRUE(WriteFile(path("helper.lua"), "append('seen.txt', 'helper 1')\n"));
    ASSERT_TRUE(WriteFile(path("lib.lua"), "append('seen.txt', 'lib 1') return {}\n"));
    Start(QByteArray(kAppend) + "dofile('helper.lua')\npackage.path = './?.lua;' .. package.path\nrequire('lib')\n");
    ASSERT_TRUE(WaitForFile(path("seen.txt"), "lib 1"));
    for (const auto &[file, text] : {std::pair{"helper.lua", "append('seen.txt', 'helper 2')\n"},
                                     {"lib.lua", "append('seen.txt', 'lib 2') return {}\n"}}) {
        const int reloads = Debug().count("prod.lua reloaded");
        ASSERT_TRUE(ReplaceFile(path(file), text));
        EXPECT_TRUE(WaitForDebug("prod.lua reloaded", 5000, reloads)) << file;
        EXPECT_TRUE(WaitForFile(path("seen.txt"), QString(text).section('\'', 3, 3))) << file << ": " << Text("seen.txt").toStdString();
    }
}

// The export's edges: a missing PNG folder is made (only the last one), a
// size beyond the encoder and a day-long span without music are refused,
// and --to beyond the music ends with it after one note.
TEST_F(Faults, TheExportMakesItsFolderAndRefusesWhatItCannotDo)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), ""));
    const struct
    {
        bool music;
        QStringList arguments;
        int status;
        QString said, made;   // `made`: a file that must exist afterwards
    } cases[] = {
        {false, {"--export", "new/%03d.png", "--size", "64x64", "--fps", "10", "--to", "0.3"}, 0, "", "new/002.png"},
        {false, {"--export", "no/where/%03d.png"}, 2, "the folder 'no/where' does not exist", ""},
        {false, {"--export", "big.mp4", "--size", "20000x20000"}, 2, "beyond what the encoder takes; at most 16254x16254", ""},
        {false, {"--export", "day.webm", "--to", "86401"}, 2, "longer than 24 hours", ""},
        {true, {"--export", "cut/%03d.png", "--size", "64x64", "--fps", "10", "--to", "5"}, 0,
         "velkaro: note: --to 5 s is beyond the end of the music", "cut/009.png"},
    };
    for (const auto &c : cases) {
        if (c.music) {
            ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 1.0));
        }
        const Finished run = Export(c.arguments);
        const std::string args = c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.status, c.status) << args << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.said)) << args << ": " << run.err.toStdString();
        EXPECT_LE(run.err.count("note:"), 1) << args;
        if (!c.made.isEmpty()) {
            EXPECT_TRUE(QFileInfo::exists(path(c.made))) << args;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path("cut/010.png"))) << "frames beyond the music's end";
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"cut", "music.mp3", "new", "prod.lua"}));
}

// An encoder that stopped reading cannot hold up Ctrl+C or SIGTERM: the
// export ends within 2 s, leaving the earlier output and no partial file.
TEST_F(Faults, AStopEndsAnExportWhoseEncoderStoppedReading)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), ""));
    QTemporaryDir bin;
    ASSERT_TRUE(WriteFile(bin.filePath("ffmpeg"), "#!/bin/sh\nexec sleep 30\n"));
    QFile(bin.filePath("ffmpeg")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray earlier = "an earlier export\n";
    for (const auto &[signal, status] : {std::pair{SIGTERM, 143}, {SIGINT, 130}}) {
        ASSERT_TRUE(WriteFile(path("demo.mp4"), earlier));
        QProcess process;
        Launch(process, {"--export", "demo.mp4", "--size", "320x180", "--to", "600"}, bin.path() + ":/usr/bin:/bin");
        ASSERT_TRUE(process.waitForStarted(10000));
        QThread::msleep(3000);   // start-up and enough frames to fill the pipe
        ASSERT_EQ(process.state(), QProcess::Running) << QString(process.readAllStandardError()).toStdString();
        QElapsedTimer stop;
        stop.start();
        ::kill(static_cast<pid_t>(process.processId()), signal);
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_LT(stop.elapsed(), 2000) << signal;
        EXPECT_EQ(process.exitCode(), status) << signal;
        EXPECT_EQ(ReadFile(path("demo.mp4")), earlier) << signal;
        EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({"demo.mp4", "prod.lua"})) << signal;
    }
}

// Output beyond the buffer is cut with a mark in the console (and so in
// the session log); output that fits has none.
TEST_F(Faults, TheConsoleMarksOutputCutAtTheBuffersSize)
{
    Start("");
    OpenConsole();
    TypeLine("print(string.rep('x', 1500))");
    TypeLine("print(string.rep('y', 1000))");
    ASSERT_TRUE(WaitForFile(path("replsession.txt"), QString(1000, 'y')));
    const QString session = Text("replsession.txt");
    EXPECT_TRUE(session.contains(QString(1023, 'x') + "\n\u2026 (output cut at 1023 characters)\n"))
        << session.toStdString();
    EXPECT_FALSE(session.contains(QString(1024, 'x')));
    EXPECT_EQ(session.count("output cut"), 1);
}

} // namespace
