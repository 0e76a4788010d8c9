// End to end: the living view — the frame loop and its callbacks, mouse and
// keys reaching the production, the mouse camera, the picture, and every
// script function at work in real frames.
#include "Program.h"

#include <cstdlib>

namespace {

class ViewEndToEnd : public EndToEndTest
{
protected:
    // Starts `production` after two helpers: pollCommand(), which update()
    // calls to run cmd.lua once the test puts one there, and append().
    void StartWithHook(const QByteArray &production)
    {
        Start("function pollCommand() local f = io.open('cmd.lua') if f then f:close() dofile('cmd.lua') os.remove('cmd.lua') end end\n"
              "function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n" + production);
    }
    void Command(const QString &chunk)
    {
        WriteFile(path("cmd.part"), chunk.toUtf8());
        QFile::rename(path("cmd.part"), path("cmd.lua"));
        ASSERT_TRUE(WaitUntil([&] { return !QFile::exists(path("cmd.lua")); })) << "no frame ran the command";
    }
    QStringList Lines(const QString &name) const { return CompleteLines(path(name)); }
    // The pointer to (x, y) of the window, which sits at the screen's origin
    // (a --sync move to where it already is would wait 15 s for nothing).
    void Pointer(int x, int y)
    {
        if (!Xdotool({"getmouselocation", "--shell"}).startsWith(QString("X=%1\nY=%2\n").arg(x).arg(y)))
            Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y)});
    }
};

bool Green(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
bool Black(QColor c) { return c.red() < 8 && c.green() < 8 && c.blue() < 8; }

// After the top level, each tick runs update() once, then render(); an
// endless update() is interrupted and the frames go on; a render() of 50 ms
// gives at most 40 frames in two seconds (frames do not queue up).
TEST_F(ViewEndToEnd, EachTickRunsUpdateThenRenderAndSlowOrEndlessFramesDoNotStopIt)
{
    StartWithHook("append('frames.txt', 'top') ticks = 0\n"
                  "function update() append('frames.txt', 'u') ticks = ticks + 1 if ticks == 3 then while true do end end end\n"
                  "function render() append('frames.txt', 'r') if ticks > 10 then os.execute('sleep 0.05') end end\n");
    ASSERT_TRUE(WaitForDebug("Lua update() error:  prod.lua:4: script interrupted", 15000)) << Debug().toStdString();
    ASSERT_TRUE(WaitForFile(path("frames.txt"), QString("u\nr\n").repeated(30)));
    const QString frames = Lines("frames.txt").join("");
    EXPECT_TRUE(frames.startsWith("top") && !frames.contains("uu")) << frames.toStdString();
    const int first = Lines("frames.txt").size();
    QThread::msleep(2000);
    const int perTwoSeconds = (Lines("frames.txt").size() - first) / 2;
    EXPECT_GE(perTwoSeconds, 8);
    EXPECT_LE(perTwoSeconds, 40);
}

// Moves give view coordinates (y up) and deltas; a right press while the
// left is held reports the left down again; only the left release is "up".
TEST_F(ViewEndToEnd, MouseMovesAndLeftButtonsReachTheProduction)
{
    StartWithHook("function OnMouseMove(x, y, dx, dy) append('mouse.txt', string.format('move %g %g %g %g', x, y, dx, dy)) end\n"
                  "function LMBDown(x, y) append('mouse.txt', string.format('down %g %g', x, y)) end\n"
                  "function LMBUp(x, y) append('mouse.txt', string.format('up %g %g', x, y)) end\n");
    Pointer(100, 100); // Qt merges queued motion: the first move arrives alone
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), "move 100 "));
    Pointer(105, 98);
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), "move 105"));
    const QStringList move = Lines("mouse.txt").last().split(' ');
    ASSERT_EQ(move.size(), 5);
    EXPECT_EQ(move.mid(3), QStringList({"5", "2"}));
    const int viewHeight = move[2].toInt() + 98;
    EXPECT_TRUE(viewHeight > 400 && viewHeight <= 442) << viewHeight;
    QFile::remove(path("mouse.txt"));
    for (const auto &[action, button] : {std::pair{"click", "1"}, {"mousedown", "1"}, {"mousedown", "3"}, {"mouseup", "3"}, {"mouseup", "1"}})
        Xdotool({action, button});
    const QString at = "105 " + QString::number(viewHeight - 98);
    WaitUntil([&] { return Lines("mouse.txt").size() >= 5; }, 5000);
    EXPECT_EQ(Lines("mouse.txt"), QStringList({"down " + at, "up " + at, "down " + at, "down " + at, "up " + at}));
}

// A plain left drag turns in place, one with the space bar held orbits.
TEST_F(ViewEndToEnd, TheSpaceBarMakesALeftDragOrbit)
{
    StartWithHook("function LMBUp() append('camera.txt', string.format('%g %g %g', getCamPos())) end\n");
    const auto drag = [&](bool space) {
        Pointer(200, 250);
        if (space)
            Keys({"keydown", "space"});
        Xdotool({"mousedown", "1"});
        for (int step = 1; step <= 5; ++step)
            Pointer(200 + 8 * step, 250);
        Xdotool({"mouseup", "1"});
        if (space)
            Keys({"keyup", "space"});
        Pointer(200, 250);
    };
    drag(false);
    ASSERT_TRUE(WaitUntil([&] { return Lines("camera.txt").size() == 1; }));
    EXPECT_EQ(Lines("camera.txt").last(), "162 66 35") << "a plain drag turns in place";
    drag(true);
    ASSERT_TRUE(WaitUntil([&] { return Lines("camera.txt").size() == 2; }));
    EXPECT_NE(Lines("camera.txt").last(), "162 66 35") << "a drag with space held orbits";
}

// The default scene (grid, floor outline, the marker under the pointer), a
// quad and a cube where the camera puts them, the voxel block and a hole.
TEST_F(ViewEndToEnd, ThePictureShowsTheGridTheShapesAndTheVoxelBlockWhereTheyAre)
{
    StartWithHook("function update() pollCommand() end\n");
    Pointer(200, 380);
    QImage shot = Screenshot(window, [](const QImage &s) { return CountNear(s, 200, 380, 16, Green) > 30; });
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(CountNear(shot, 200, 300, 200, [](QColor c) { return c.red() > 100 && c.green() < 60 && c.blue() > 180; }), 1000) << "grid";
    EXPECT_GT(CountNear(shot, 200, 220, 220, [](QColor c) { return std::abs(c.red() - 76) < 12 && std::abs(c.blue() - 204) < 12; }), 50) << "floor";
    EXPECT_GT(CountNear(shot, 200, 380, 16, Green), 30) << "marker";
    EXPECT_EQ(CountNear(shot, 60, 60, 40, Green), 0);
    // 100 units in front of the plane z = 0, 90 degree field of view; the
    // view is the window less the collapsed console (6 px).
    Pointer(5, 5);
    Command("setCamPos(0, 50, 100) lookAt(0, 50, 0) function render() beginQuadGL() colorGL(255, 0, 0, 255)\n"
            "vectorGL(-30, 40, 0) vectorGL(-10, 40, 0) vectorGL(-10, 60, 0) vectorGL(-30, 60, 0)\n"
            "colorGL(0, 0, 255, 255) drawCube(10, 40, -10, 20, true, true, true, true, true, true) endGL() end\n");
    const int cx = shot.width() / 2, cy = (shot.height() - 6) / 2, square = int(20 * cy / 100.0), cube = int(20 * cy / 90.0);
    const auto red = [](QColor c) { return c.red() > 240 && c.green() < 20 && c.blue() < 20; };
    const auto blue = [](QColor c) { return c.blue() > 240 && c.red() < 20 && c.green() < 20; };
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx + cube, cy, 5, blue) > 100; });
    EXPECT_GT(CountNear(shot, cx - square, cy, 5, red), 100) << "the square";
    EXPECT_EQ(CountNear(shot, cx + square, cy, 5, red), 0);
    EXPECT_GT(CountNear(shot, cx + cube, cy, 5, blue), 100) << "the cube";
    Command("makeVoxelBlock() setCamPos(500, 500, 1600) lookAt(500, 500, 0) function render() beginQuadGL() renderVoxelBlock() endGL() end");
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx, cy, 10, Black) == 0; });
    EXPECT_EQ(CountNear(shot, cx, cy, 10, Black), 0) << "the block's face";
    Command("for i = 40, 59 do for k = 40, 59 do for j = 0, 99 do carveVoxelAt(i, j, k) end end end");
    shot = Screenshot(window, [&](const QImage &s) { return CountNear(s, cx, cy, 6, Black) == 13 * 13; });
    EXPECT_EQ(CountNear(shot, cx, cy, 6, Black), 13 * 13) << "the background through the hole";
    EXPECT_EQ(CountNear(shot, cx, cy - 100, 10, Black), 0) << "the block around it";
}

// 5000 calls of every registered function with random arguments inside
// render(): no error, no crash, and the frames go on.
TEST_F(ViewEndToEnd, EveryFunctionTakesAnyArgumentsWithoutErrorOrCrash)
{
    StartWithHook(
        "local names = {} for name in ('drawLine getCamPos setCamPos rotateCam lookAt beginTriGL beginQuadGL beginLinGL endGL '\n"
        "  .. 'vectorGL colorGL drawCube getMp3Time setMp3Time getMp3Length playMp3 stopMp3 isMp3Playing fullscreenMode '\n"
        "  .. 'windowedMode enableStdMouseCam disableStdMouseCam getMouseCursorPos makeVoxelBlock renderVoxelBlock '\n"
        "  .. 'carveVoxelAt addVoxelAt getMp3Spectrum getMp3Level setOverlays setClearColor pushMatrixGL popMatrixGL '\n"
        "  .. 'translateGL rotateGL scaleGL loadIdentityGL setFov setClipPlanes setLineWidth setLighting setLightDir '\n"
        "  .. 'normalGL drawText loadTexture bindTexture texCoordGL freeTexture loadShader useShader setUniform '\n"
        "  .. 'setPostShader getTime getBeat getRow sync'):gmatch('%S+') do names[#names + 1] = name end\n"
        "local values = {0, -0, 1, -1, 0.5, -0.5, 255.9, 2^31, -2^31 - 1, 2^53, 1e300, -1e300, 1/0, -1/0, 0/0,\n"
        "  '1', ' 2 ', '0x10', 'x', '', true, false, {}, {1, 2}, print, nil}\n"
        "math.randomseed(7) calls, failures, frames = 0, {}, 0\n"
        "function render()\n"
        "  frames = frames + 1\n"
        "  if calls >= 5000 then append('frames.txt', frames) return end\n"
        "  for n = 1, 100 do\n"
        "    local name, args, count = names[math.random(#names)], {}, math.random(0, 12)\n"
        "    for i = 1, count do args[i] = values[math.random(#values)] end\n"
        "    local ok, message = pcall(_G[name], unpack(args, 1, count))\n"
        "    if not ok then failures[#failures + 1] = name .. ': ' .. tostring(message) end\n"
        "    calls = calls + 1\n"
        "  end\n"
        "  endGL() windowedMode() enableStdMouseCam() setCamPos(162, 66, 35) setPostShader(nil) setOverlays(true)\n"
        "  if calls >= 5000 then append('sweep.txt', calls .. ' calls, ' .. #failures .. ' errors ' .. table.concat(failures, '; ')) end\n"
        "end\n");
    ASSERT_TRUE(WaitForFile(path("sweep.txt"), "calls", 120000)) << Debug().toStdString();
    EXPECT_EQ(Lines("sweep.txt").value(0), "5000 calls, 0 errors ");
    ASSERT_TRUE(WaitUntil([&] { return !Lines("frames.txt").isEmpty(); }));
    const int before = Lines("frames.txt").last().toInt();
    EXPECT_TRUE(WaitUntil([&] { return Lines("frames.txt").last().toInt() > before; }, 3000)) << "the frames stopped";
}

} // namespace
