// End to end: the living view of the real program — the frame loop and its
// callbacks, mouse and keys reaching the production, the mouse camera, the
// picture, and the script functions at work in real frames.
#include "Program.h"

#include <cstdlib>
#include <utility>

namespace {

class ViewEndToEnd : public EndToEndTest
{
protected:
    // Starts the program on `production`, after a hook that update() can call
    // (pollCommand) to run cmd.lua once the test puts one in place, and
    // append(name, text), which adds a line to a file.
    void StartWithHook(const QByteArray &production)
    {
        Start("function pollCommand()\n"
              "  local f = io.open('cmd.lua') if not f then return end f:close()\n"
              "  dofile('cmd.lua') os.remove('cmd.lua')\n"
              "end\n"
              "function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n" +
              production);
    }
    // Runs `chunk` inside the next update() and waits until it has run.
    void Command(const QString &chunk)
    {
        ReplaceFile(path("cmd.lua"), chunk.toUtf8());
        ASSERT_TRUE(WaitUntil([&] { return !QFile::exists(path("cmd.lua")); })) << "no frame ran the command";
    }
    QStringList Lines(const QString &name) const { return CompleteLines(path(name)); }
    // Moves the pointer to (x, y) of the window (it sits at the screen's
    // origin). --sync waits for the motion, which a move to where the pointer
    // already is never makes (xdotool gives up after 15 s): that one is skipped.
    void Pointer(int x, int y)
    {
        if (!Xdotool({"getmouselocation", "--shell"}).startsWith(QString("X=%1\nY=%2\n").arg(x).arg(y)))
            Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y)});
    }
};

bool Red(QColor c) { return c.red() > 240 && c.green() < 20 && c.blue() < 20; }
bool Blue(QColor c) { return c.blue() > 240 && c.red() < 20 && c.green() < 20; }
bool Green(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
bool Black(QColor c) { return c.red() < 8 && c.green() < 8 && c.blue() < 8; }

TEST_F(ViewEndToEnd, EachTickRunsUpdateOnceAndThenRenderAfterTheTopLevel)
{
    StartWithHook("append('frames.txt', 'top')\n"
                  "function update() append('frames.txt', 'u') end\n"
                  "function render() append('frames.txt', 'r') end\n");
    ASSERT_TRUE(WaitForFile(path("frames.txt"), QString("u\nr\n").repeated(60)));
    const QString frames = Lines("frames.txt").join("");
    EXPECT_TRUE(frames.startsWith("top")) << "the first frame comes after the top-level code";
    EXPECT_FALSE(frames.contains("uu")) << "an update without its render";
    EXPECT_EQ(frames.count("top"), 1);
    EXPECT_TRUE(program->running());
}

TEST_F(ViewEndToEnd, AnEndlessUpdateIsInterruptedAndFramesGoOn)
{
    StartWithHook("ticks = 0\n"
                  "function update() ticks = ticks + 1 if ticks == 3 then while true do end end end\n"
                  "function render() if ticks > 3 then append('after.txt', ticks) end end\n");
    ASSERT_TRUE(program->waitForDebug("Lua update() error:  prod.lua:7: script interrupted", 15000))
        << program->debugOutput().toStdString();
    EXPECT_TRUE(WaitForFile(path("after.txt"), "20"));
}

// Moves give the view's coordinates (y upwards) and deltas; a right press
// while the left is held reports the left button down again, and only the
// left release reports up.
TEST_F(ViewEndToEnd, MouseMovesAndLeftButtonsReachTheProduction)
{
    StartWithHook("function OnMouseMove(x, y, dx, dy) append('mouse.txt', string.format('move %g %g %g %g', x, y, dx, dy)) end\n"
                  "function LMBDown(x, y) append('mouse.txt', string.format('down %g %g', x, y)) end\n"
                  "function LMBUp(x, y) append('mouse.txt', string.format('up %g %g', x, y)) end\n");
    // Qt merges motion that queues up: let the first move arrive alone.
    Pointer(100, 100);
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), "move 100 "));
    Pointer(105, 98);
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), "move 105"));
    const QStringList move = Lines("mouse.txt").last().split(' ');
    ASSERT_EQ(move.size(), 5);
    EXPECT_EQ(move[1], "105");
    EXPECT_EQ(move[3], "5");
    EXPECT_EQ(move[4], "2") << "y counts upwards";
    const int viewHeight = move[2].toInt() + 98;
    EXPECT_GT(viewHeight, 400);
    EXPECT_LE(viewHeight, 442);

    QFile::remove(path("mouse.txt"));
    for (const auto &[action, button] :
         {std::pair{"click", "1"}, {"mousedown", "1"}, {"mousedown", "3"}, {"mouseup", "3"}, {"mouseup", "1"}})
        Xdotool({action, button});
    const QString at = "105 " + QString::number(viewHeight - 98);
    WaitUntil([&] { return Lines("mouse.txt").size() >= 5; }, 5000);
    EXPECT_EQ(Lines("mouse.txt"), QStringList({"down " + at, "up " + at, "down " + at, "down " + at, "up " + at}))
        << Text("mouse.txt").toStdString();
}

// A plain left drag turns in place, one with the space bar held orbits; with
// the mouse camera off a drag leaves the picture as it was while the
// production still hears the moves.
TEST_F(ViewEndToEnd, TheSpaceBarMakesALeftDragOrbitAndTheMouseCameraCanBeTurnedOff)
{
    StartWithHook("function update() pollCommand() end\n"
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
    };
    const QString start = "162 66 35";
    drag(false);
    ASSERT_TRUE(WaitUntil([&] { return Lines("camera.txt").size() == 1; }));
    EXPECT_EQ(Lines("camera.txt").last(), start) << "a plain drag turns in place";
    drag(true);
    ASSERT_TRUE(WaitUntil([&] { return Lines("camera.txt").size() == 2; }));
    EXPECT_NE(Lines("camera.txt").last(), start) << "a drag with space held orbits";

    Command("disableStdMouseCam() setCamPos(162, 66, 35) lookAt(144, 60, 45)");
    Pointer(200, 250);
    QThread::msleep(200);
    const QImage before = Screenshot(program->windowId());
    Command("movesBefore = moves");
    drag(false);
    Pointer(200, 250);
    Command("");   // a frame after the drag's events
    QThread::msleep(200);
    EXPECT_EQ(Screenshot(program->windowId()), before) << "the drag turned the view";
    Command("append('moves.txt', moves - movesBefore)");
    EXPECT_GE(Text("moves.txt").toInt(), 5);
}

// A render() that takes 50 ms gives about 16 frames a second, never more
// than the 40 that 50 ms allow: frames do not queue up.
TEST_F(ViewEndToEnd, SlowFramesDelayTheNextInsteadOfQueueing)
{
    StartWithHook("function render() os.execute('sleep 0.05') append('count.txt', 'r') end\n");
    ASSERT_TRUE(WaitForFile(path("count.txt"), "r\nr\nr\n"));
    const int first = Lines("count.txt").size();
    QThread::msleep(2000);
    const int perTwoSeconds = Lines("count.txt").size() - first;
    EXPECT_GE(perTwoSeconds, 8);
    EXPECT_LE(perTwoSeconds, 40);
}

// Screenshots of three scenes in turn: the default one, a quad and a cube the
// production draws, and the voxel block before and after a hole is carved.
TEST_F(ViewEndToEnd, ThePictureShowsTheGridTheShapesAndTheVoxelBlockWhereTheyAre)
{
    StartWithHook("function update() pollCommand() end\n");
    const QString window = program->windowId();
    Pointer(200, 380);   // over the floor, near the bottom of the view
    QImage shot = Screenshot(window, [](const QImage &s) { return CountNear(s, 200, 380, 16, Green) > 30; });
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(CountNear(shot, 200, 300, 200, [](QColor c) { return c.red() > 100 && c.green() < 60 && c.blue() > 180; }),
              1000) << "the grid";
    EXPECT_GT(CountNear(shot, 200, 220, 220, [](QColor c) {
                  return std::abs(c.red() - 76) < 12 && std::abs(c.blue() - 204) < 12;
              }), 50) << "the floor's outline";
    EXPECT_GT(CountNear(shot, 200, 380, 16, Green), 30) << "the marker under the pointer";
    EXPECT_EQ(CountNear(shot, 60, 60, 40, Green), 0) << "no marker away from the pointer";

    // The camera 100 units in front of the plane z = 0 at the shapes' height:
    // a red square left of the centre, a blue cube right of it. The view is
    // the window less the collapsed console (6 px); 90 degree field of view.
    Pointer(5, 5);
    Command("setCamPos(0, 50, 100) lookAt(0, 50, 0)\n"
            "function render()\n"
            "  beginQuadGL() colorGL(255, 0, 0, 255)\n"
            "  vectorGL(-30, 40, 0) vectorGL(-10, 40, 0) vectorGL(-10, 60, 0) vectorGL(-30, 60, 0)\n"
            "  colorGL(0, 0, 255, 255) drawCube(10, 40, -10, 20, true, true, true, true, true, true)\n"
            "  endGL()\n"
            "end\n");
    const int cx = shot.width() / 2, cy = (shot.height() - 6) / 2;
    const int square = static_cast<int>(20 * cy / 100.0), cube = static_cast<int>(20 * cy / 90.0);
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx + cube, cy, 5, Blue) > 100; });
    EXPECT_GT(CountNear(shot, cx - square, cy, 5, Red), 100) << "the square";
    EXPECT_EQ(CountNear(shot, cx + square, cy, 5, Red), 0);
    EXPECT_GT(CountNear(shot, cx + cube, cy, 5, Blue), 100) << "the cube";

    // The block's +Z face fills the middle; then a 20 x 20 tunnel through it,
    // front to back, shows the background.
    Command("makeVoxelBlock() setCamPos(500, 500, 1600) lookAt(500, 500, 0)\n"
            "function render() beginQuadGL() renderVoxelBlock() endGL() end\n");
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx, cy, 10, Black) == 0; });
    EXPECT_EQ(CountNear(shot, cx, cy, 10, Black), 0) << "the block's face";
    Command("for i = 40, 59 do for k = 40, 59 do for j = 0, 99 do carveVoxelAt(i, j, k) end end end");
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx, cy, 6, Black) == 13 * 13; });
    EXPECT_EQ(CountNear(shot, cx, cy, 6, Black), 13 * 13) << "the background through the hole";
    EXPECT_EQ(CountNear(shot, cx, cy - 100, 10, Black), 0) << "the block around the hole";
}

// Thousands of calls of every function with random arguments inside render():
// no error but the guard's own, no crash, and the frames go on.
TEST_F(ViewEndToEnd, EveryFunctionTakesAnyArgumentsWithoutErrorOrCrash)
{
    StartWithHook(
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
    ASSERT_TRUE(WaitForFile(path("sweep.txt"), "calls", 30000)) << program->debugOutput().toStdString();
    EXPECT_EQ(Lines("sweep.txt").value(0), "5000 calls, 0 errors") << Text("sweep.txt").toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !Lines("frames.txt").isEmpty(); }));
    const int before = Lines("frames.txt").last().toInt();
    EXPECT_TRUE(WaitUntil([&] { return Lines("frames.txt").last().toInt() > before; }, 3000)) << "the frames go on";
    EXPECT_TRUE(program->running());
}

} // namespace
