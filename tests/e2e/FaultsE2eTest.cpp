// End to end: faults a user meets — numbers under a comma locale, a camera
// given non-finite values, a runaway callback's line, long errors in the
// band, reload of the production's other files, and console output cut at
// the buffer's size.
#include "Media.h"
#include "Program.h"


namespace {

using Faults = EndToEndTest;

const char kAppend[] =
    "function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n";

// Under a German locale (the window and the player) Lua writes and reads numbers with ".", and an
// export with music (ffmpeg's -ss and -t) works.
TEST_F(Faults, ACommaLocaleChangesNoNumber)
{
    qputenv("LC_ALL", "de_DE.UTF-8");   // for every program started from here on
    for (const QStringList &mode : {QStringList{}, QStringList{"--play", "--window", "--size", "320x200"}}) {
        QFile::remove(path("numbers.txt"));
        Start(QByteArray(kAppend) +
              "append('numbers.txt', string.format('%.1f', 1.5) .. ' ' .. tostring(0.25) .. ' ' .. tonumber('2.5'))\n", mode);
        EXPECT_TRUE(WaitForFile(path("numbers.txt"), "1.5 0.25 2.5")) << mode.join(' ').toStdString() << Text("numbers.txt").toStdString();
        Stop();
    }

    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 1.0));
    const Outcome run = RunToEnd({"--export", "demo.mp4", "--fps", "10", "--size", "64x64", "--to", "0.5"});
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
