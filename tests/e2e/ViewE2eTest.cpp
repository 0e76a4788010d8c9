// End to end: the living view of the real program — the frame loop and its
// callbacks, mouse and keys reaching the production, the mouse camera, the
// picture, and the script functions at work in real frames.
#include "Program.h"

#include <QColor>
#include <QImage>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// Every production here starts with this: update() runs cmd.lua once when
// the test puts one in place, so a test can act inside a frame.
const char kCommandHook[] =
    "function pollCommand()\n"
    "  local f = io.open('cmd.lua') if not f then return end f:close()\n"
    "  dofile('cmd.lua') os.remove('cmd.lua')\n"
    "end\n"
    "function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n";

class ViewEndToEnd : public EndToEndTest
{
protected:
    // Starts the program on `production` (after the command hook).
    void Start(const QString &production)
    {
        WriteFile(scratch.filePath("prod.lua"), kCommandHook + production.toUtf8());
        program = std::make_unique<Program>(scratch.path());
        ASSERT_TRUE(program->start()) << program->debugOutput().toStdString();
    }
    // Runs `chunk` inside the next update() and waits until it has run.
    void Command(const QString &chunk)
    {
        const QString path = scratch.filePath("cmd.lua");
        ReplaceFile(path, chunk.toUtf8());
        for (int waited = 0; QFile::exists(path) && waited < 10000; waited += 20)
            QThread::msleep(20);
        ASSERT_FALSE(QFile::exists(path)) << "no frame ran the command";
    }
    QString Text(const QString &name) const { return QString::fromUtf8(ReadFile(scratch.filePath(name))); }
    QStringList Lines(const QString &name) const { return Text(name).split('\n', Qt::SkipEmptyParts); }
    // Moves the pointer to (x, y) of the window (it sits at the screen's origin).
    void Pointer(int x, int y) { Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y)}); }

    std::unique_ptr<Program> program;
};

// Pixels of `image` within `radius` of (x, y) that satisfy `match`.
int CountNear(const QImage &image, int x, int y, int radius, const std::function<bool(QColor)> &match)
{
    int count = 0;
    for (int j = std::max(0, y - radius); j <= std::min(image.height() - 1, y + radius); ++j)
        for (int i = std::max(0, x - radius); i <= std::min(image.width() - 1, x + radius); ++i)
            count += match(image.pixelColor(i, j)) ? 1 : 0;
    return count;
}

TEST_F(ViewEndToEnd, EachTickRunsUpdateOnceAndThenRenderAfterTheTopLevel)
{
    Start("append('frames.txt', 'top')\n"
          "function update() pollCommand() append('frames.txt', 'u') end\n"
          "function render() append('frames.txt', 'r') end\n");
    ASSERT_TRUE(WaitForFile(scratch.filePath("frames.txt"), QString("u\nr\n").repeated(60)));
    const QString frames = Lines("frames.txt").join("");
    EXPECT_TRUE(frames.startsWith("top")) << "the first frame comes after the top-level code";
    EXPECT_FALSE(frames.contains("uu")) << "an update without its render";
    EXPECT_EQ(frames.count("top"), 1);
    EXPECT_TRUE(program->running());
}

TEST_F(ViewEndToEnd, AFailingUpdateReportsEveryFrameUntilMendedFromTheConsole)
{
    Start("function update() pollCommand() error('boom') end\n"
          "function render() append('paints.txt', 'r') end\n");
    ASSERT_TRUE(WaitForFile(scratch.filePath("paints.txt"), QString("r\n").repeated(30)));
    const int errors = program->debugOutput().count("Lua update() error: ");
    EXPECT_GE(errors, 20) << "one line per frame";
    EXPECT_LE(errors, Lines("paints.txt").size() + 2) << "no more than one line per frame";

    OpenConsole(*program);
    Xdotool({"type", "--delay", "10", "function update() append('mended.txt', 'yes') end"});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForFile(scratch.filePath("mended.txt"), "yes"));
    const int afterMending = program->debugOutput().count("Lua update() error: ");
    QThread::msleep(500);
    EXPECT_EQ(program->debugOutput().count("Lua update() error: "), afterMending);
}

TEST_F(ViewEndToEnd, AnEndlessUpdateIsInterruptedAndFramesGoOn)
{
    Start("ticks = 0\n"
          "function update() ticks = ticks + 1 if ticks == 3 then while true do end end end\n"
          "function render() if ticks > 3 then append('after.txt', ticks) end end\n");
    ASSERT_TRUE(program->waitForDebug("Lua update() error:  [string \"update()\"]:1: script interrupted", 15000))
        << program->debugOutput().toStdString();
    EXPECT_TRUE(WaitForFile(scratch.filePath("after.txt"), "20"));
}

TEST_F(ViewEndToEnd, MouseMovesAndLeftButtonsReachTheProduction)
{
    Start("function update() pollCommand() end\n"
          "function OnMouseMove(x, y, dx, dy) append('mouse.txt', string.format('move %g %g %g %g', x, y, dx, dy)) end\n"
          "function LMBDown(x, y) append('mouse.txt', string.format('down %g %g', x, y)) end\n"
          "function LMBUp(x, y) append('mouse.txt', string.format('up %g %g', x, y)) end\n");
    // Qt merges motion that queues up: let the first move arrive alone.
    Pointer(100, 100);
    ASSERT_TRUE(WaitForFile(scratch.filePath("mouse.txt"), "move 100 "));
    Pointer(105, 98);
    ASSERT_TRUE(WaitForFile(scratch.filePath("mouse.txt"), "move 105"));
    const QStringList move = Lines("mouse.txt").last().split(' ');
    ASSERT_EQ(move.size(), 5);
    EXPECT_EQ(move[1], "105");
    EXPECT_EQ(move[3], "5");
    EXPECT_EQ(move[4], "2") << "y counts upwards";
    const int viewHeight = move[2].toInt() + 98;
    EXPECT_GT(viewHeight, 400);
    EXPECT_LE(viewHeight, 442);

    // A left click; then a right press while the left is held reports the
    // left button down again, and only the left release reports up.
    QFile::remove(scratch.filePath("mouse.txt"));
    Xdotool({"click", "1"});
    Xdotool({"mousedown", "1"});
    Xdotool({"mousedown", "3"});
    Xdotool({"mouseup", "3"});
    Xdotool({"mouseup", "1"});
    const QString at = QString::number(105) + " " + QString::number(viewHeight - 98);
    for (int waited = 0; Lines("mouse.txt").size() < 5 && waited < 5000; waited += 50)
        QThread::msleep(50);
    EXPECT_EQ(Lines("mouse.txt"), QStringList({"down " + at, "up " + at, "down " + at, "down " + at, "up " + at}))
        << Text("mouse.txt").toStdString();
}

TEST_F(ViewEndToEnd, TheSpaceBarMakesALeftDragOrbitAndTheMouseCameraCanBeTurnedOff)
{
    Start("function update() pollCommand() end\n"
          "function LMBUp() append('camera.txt', string.format('%g %g %g', getCamPos())) end\n"
          "moves = 0 function OnMouseMove() moves = moves + 1 end\n");
    const auto drag = [&](bool space) {
        Pointer(200, 250);
        if (space)
            program->keys({"keydown", "space"});
        Xdotool({"mousedown", "1"});
        for (int step = 1; step <= 5; ++step)
            Pointer(200 + 8 * step, 250);
        Xdotool({"mouseup", "1"});
        if (space)
            program->keys({"keyup", "space"});
        QThread::msleep(200);
    };
    const QString start = "162 66 35";
    drag(false);
    ASSERT_TRUE(WaitForFile(scratch.filePath("camera.txt"), start)) << "a plain drag turns in place";
    drag(true);
    ASSERT_EQ(Lines("camera.txt").size(), 2);
    EXPECT_NE(Lines("camera.txt").last(), start) << "a drag with space held orbits";

    // With the mouse camera off a drag leaves the picture as it was, while
    // the production still hears the moves.
    Command("disableStdMouseCam() setCamPos(162, 66, 35) lookAt(144, 60, 45)");
    Pointer(200, 250);
    QThread::msleep(200);
    const QImage before = Screenshot(program->windowId());
    Command("movesBefore = moves");
    drag(false);
    Pointer(200, 250);
    QThread::msleep(200);
    EXPECT_EQ(Screenshot(program->windowId()), before) << "the drag turned the view";
    Command("append('moves.txt', moves - movesBefore)");
    EXPECT_GE(Text("moves.txt").toInt(), 5);
}

TEST_F(ViewEndToEnd, TheViewShowsGridFloorAndTheMarkerAtThePick)
{
    Start("function update() pollCommand() end\n");
    Pointer(200, 380);   // over the floor, near the bottom of the view
    QThread::msleep(300);
    const QImage shot = Screenshot(program->windowId());
    ASSERT_FALSE(shot.isNull());
    const auto purple = [](QColor c) { return c.red() > 100 && c.green() < 60 && c.blue() > 180; };
    const auto green = [](QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; };
    const auto floorBlue = [](QColor c) { return std::abs(c.red() - 76) < 12 && std::abs(c.blue() - 204) < 12; };
    EXPECT_GT(CountNear(shot, 200, 300, 200, purple), 1000) << "the grid";
    EXPECT_GT(CountNear(shot, 200, 220, 220, floorBlue), 50) << "the floor's outline";
    EXPECT_GT(CountNear(shot, 200, 380, 16, green), 30) << "the marker under the pointer";
    EXPECT_EQ(CountNear(shot, 60, 60, 40, green), 0) << "no marker away from the pointer";
}

TEST_F(ViewEndToEnd, SlowFramesDelayTheNextInsteadOfQueueing)
{
    // A render() that takes 50 ms.
    Start("function update() pollCommand() end\n"
          "function render() os.execute('sleep 0.05') append('count.txt', 'r') end\n");
    ASSERT_TRUE(WaitForFile(scratch.filePath("count.txt"), "r\nr\nr\n"));
    const int first = Lines("count.txt").size();
    QThread::msleep(2000);
    const int perTwoSeconds = Lines("count.txt").size() - first;
    // About 16 frames a second; never more than the 40 that 50 ms allow.
    EXPECT_GE(perTwoSeconds, 8);
    EXPECT_LE(perTwoSeconds, 40);
}

TEST_F(ViewEndToEnd, AQuadAndACubeAppearWhereTheProductionPutsThem)
{
    // The camera 100 units in front of the plane z = 0, at the height of
    // the shapes: a red square left of the centre, a cube right of it.
    Start("function update() pollCommand() end\n"
          "setCamPos(0, 50, 100) lookAt(0, 50, 0)\n"
          "function render()\n"
          "  beginQuadGL() colorGL(255, 0, 0, 255)\n"
          "  vectorGL(-30, 40, 0) vectorGL(-10, 40, 0) vectorGL(-10, 60, 0) vectorGL(-30, 60, 0)\n"
          "  colorGL(0, 0, 255, 255) drawCube(10, 40, -10, 20, true, true, true, true, true, true)\n"
          "  endGL()\n"
          "end\n");
    Pointer(5, 5);
    QThread::msleep(300);
    const QImage shot = Screenshot(program->windowId());
    ASSERT_FALSE(shot.isNull());
    // The view is the window's width and, less the collapsed console, its height.
    const int cx = shot.width() / 2;
    const int cy = (shot.height() - 6) / 2;
    const double unit = cy / 100.0;   // pixels per world unit at distance 100 (90 degree field)
    const auto red = [](QColor c) { return c.red() > 240 && c.green() < 20 && c.blue() < 20; };
    const auto blue = [](QColor c) { return c.blue() > 240 && c.red() < 20 && c.green() < 20; };
    EXPECT_GT(CountNear(shot, cx - static_cast<int>(20 * unit), cy, 5, red), 100) << "the square";
    EXPECT_EQ(CountNear(shot, cx + static_cast<int>(20 * unit), cy, 5, red), 0);
    EXPECT_GT(CountNear(shot, cx + static_cast<int>(20 * unit * 100 / 90), cy, 5, blue), 100) << "the cube";
}

TEST_F(ViewEndToEnd, AHoleCarvedIntoTheVoxelBlockShowsWhatLiesBehind)
{
    // The block's +Z face fills the middle of the view.
    Start("function update() pollCommand() end\n"
          "makeVoxelBlock() setCamPos(500, 500, 1600) lookAt(500, 500, 0)\n"
          "function render() beginQuadGL() renderVoxelBlock() endGL() end\n");
    Pointer(5, 5);
    QThread::msleep(300);
    const QImage before = Screenshot(program->windowId());
    ASSERT_FALSE(before.isNull());
    const int cx = before.width() / 2, cy = (before.height() - 6) / 2;
    const auto black = [](QColor c) { return c.red() < 8 && c.green() < 8 && c.blue() < 8; };
    EXPECT_EQ(CountNear(before, cx, cy, 10, black), 0) << "the block's face";

    // A 20 x 20 tunnel through the middle of the block, front to back.
    Command("for i = 40, 59 do for k = 40, 59 do for j = 0, 99 do carveVoxelAt(i, j, k) end end end");
    QThread::msleep(300);
    const QImage after = Screenshot(program->windowId());
    EXPECT_EQ(CountNear(after, cx, cy, 6, black), 13 * 13) << "the background through the hole";
    EXPECT_EQ(CountNear(after, cx, cy - 100, 10, black), 0) << "the block around the hole";
}

TEST_F(ViewEndToEnd, EveryFunctionTakesAnyArgumentsWithoutErrorOrCrash)
{
    // Thousands of calls with random arguments inside render(); any error
    // but the guard's own is counted.
    Start("function update() pollCommand() end\n"
          "local names = {'drawLine', 'getCamPos', 'setCamPos', 'rotateCam', 'lookAt', 'beginTriGL',\n"
          "  'beginQuadGL', 'beginLinGL', 'endGL', 'vectorGL', 'colorGL', 'drawCube', 'getMp3Time',\n"
          "  'setMp3Time', 'getMp3Length', 'playMp3', 'stopMp3', 'isMp3Playing', 'fullscreenMode',\n"
          "  'windowedMode', 'enableStdMouseCam', 'disableStdMouseCam', 'getMouseCursorPos', 'makeVoxelBlock',\n"
          "  'renderVoxelBlock', 'carveVoxelAt', 'addVoxelAt', 'getMp3Spectrum', 'getMp3Level'}\n"
          "local values = {0, -0, 1, -1, 0.5, -0.5, 255.9, 2^31, -2^31 - 1, 2^53, 1e300, -1e300, 1/0, -1/0, 0/0,\n"
          "  '1', ' 2 ', '0x10', 'x', '', true, false, {}, {1, 2}, print, nil}\n"
          "math.randomseed(7) calls, failures, frames = 0, {}, 0\n"
          "function render()\n"
          "  frames = frames + 1\n"
          "  if calls >= 5000 then append('frames.txt', frames) return end\n"
          "  for n = 1, 500 do\n"
          "    local name = names[math.random(#names)]\n"
          "    local args, count = {}, math.random(0, 12)\n"
          "    for i = 1, count do args[i] = values[math.random(#values)] end\n"
          "    local ok, message = pcall(_G[name], unpack(args, 1, count))\n"
          "    if not ok then failures[#failures + 1] = name .. ': ' .. tostring(message) end\n"
          "    calls = calls + 1\n"
          "  end\n"
          "  endGL() windowedMode() enableStdMouseCam() setCamPos(162, 66, 35)\n"
          "  if calls >= 5000 then append('sweep.txt', calls .. ' calls, ' .. #failures .. ' errors')\n"
          "    for _, f in ipairs(failures) do append('sweep.txt', f) end end\n"
          "end\n");
    ASSERT_TRUE(WaitForFile(scratch.filePath("sweep.txt"), "calls", 30000)) << program->debugOutput().toStdString();
    EXPECT_EQ(Lines("sweep.txt").first(), "5000 calls, 0 errors") << Text("sweep.txt").toStdString();
    ASSERT_TRUE(WaitForFile(scratch.filePath("frames.txt"), "\n", 10000));
    const int before = Lines("frames.txt").last().toInt();
    QThread::msleep(300);
    EXPECT_GT(Lines("frames.txt").last().toInt(), before) << "the frames go on";
    EXPECT_TRUE(program->running());
}

} // namespace
