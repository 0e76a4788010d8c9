// End to end: the living view.
#include "Program.h"

namespace {

class ViewEndToEnd : public EndToEndTest
{
protected:
    // Starts `production` after a helper that appends a line to a file.
    void StartWithAppend(const QByteArray &production, const QStringList &arguments = {})
    {
        Start("function append(name, text) local f = io.open(name, 'a') f:write(text, '\\n') f:close() end\n" + production, arguments);
    }
    // The finished lines of a file the production appends to.
    QStringList Lines(const QString &name) const
    {
        const QString text = Text(name);
        return text.left(text.lastIndexOf('\n') + 1).split('\n', Qt::SkipEmptyParts);
    }
    // The pointer to (x, y) of the window, which sits at the screen's origin
    // (a --sync move to where it already is would wait 15 s for nothing).
    void Pointer(int x, int y)
    {
        if (!Xdotool({"getmouselocation", "--shell"}).startsWith(QString("X=%1\nY=%2\n").arg(x).arg(y)))
            Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y)});
    }
};

bool Green(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
int CountNear(const QImage &image, int x, int y, int radius, const std::function<bool(QColor)> &match)
{
    return CountPixels(image, QRect(x - radius, y - radius, 2 * radius + 1, 2 * radius + 1), match);
}

// The interruption names the loop's line in the innermost function also under
// the production's own hook (which keeps being called); a render() of 50 ms
// gives at most 40 frames in two seconds (frames do not queue up).
TEST_F(ViewEndToEnd, EachTickRunsUpdateThenRenderAndSlowOrEndlessFramesDoNotStopIt)
{
    StartWithAppend("append('frames.txt', 'top') ticks, calls = 0, 0 debug.sethook(function() calls = calls + 1 end, '', 1000)\n"
                    "local function spin()\n"
                    "  while true do end\n"
                    "end\n"
                    "function update() append('frames.txt', 'u') ticks = ticks + 1 if ticks == 3 then spin() end\n"
                    "  if ticks == 10 then append('hook.txt', tostring(calls > 0)) end end\n"
                    "function render() append('frames.txt', 'r') if ticks > 10 then os.execute('sleep 0.05') end end\n");
    ASSERT_TRUE(WaitForDebug("Lua update() error:  prod.lua:4: script interrupted: it ran for more than 5 seconds", 15000))
        << Debug().toStdString();
    EXPECT_TRUE(WaitForFile(path("hook.txt"), "true")) << "the production's own hook was not called";
    ASSERT_TRUE(WaitForFile(path("frames.txt"), QString("u\nr\n").repeated(30)));
    const QString frames = Lines("frames.txt").join("");
    EXPECT_TRUE(frames.startsWith("top") && !frames.contains("uu")) << frames.toStdString();
    const int first = Lines("frames.txt").size();
    QThread::msleep(2000);
    const int perTwoSeconds = (Lines("frames.txt").size() - first) / 2;
    EXPECT_GE(perTwoSeconds, 8);
    EXPECT_LE(perTwoSeconds, 40);
}

// Without overlays the view is the clear colour alone and the pick follows the
// floor (y = 0 but for the slab's polygon offset). A right press while the left
// is held reports the left down again; only the left release is "up". Escape
// ends the window with status 1.
TEST_F(ViewEndToEnd, ThePointerReachesTheProductionThroughBadCameraValuesWithAndWithoutOverlays)
{
    StartWithAppend("setOverlays(false) setClearColor(0, 0, 255 + 256) ups, lastX = 0, -1000\n"
                    "function update() if not done then done = true\n"
                    "  rotateCam(0/0, 0) rotateCam(0, 1/0) rotateCam(-1/0) setCamPos(0/0, 0, 0) setCamPos(0, 1e39, 0) lookAt(0, -1/0, 0)\n"
                    "  lookAt(0/0, 0, 0) lookAt(0, 1e39, -3e38) lookAt(162, 1000, 35)\n"
                    "  append('camera.txt', string.format('%g %g %g', getCamPos())) end\n"
                    "  local x, y = getMouseCursorPos()\n"
                    "  if ups < 2 and math.abs(y) < 3 and math.abs(x - lastX) > 5 then lastX = x append('picks.txt', x) end end\n"
                    "function OnMouseMove(x, y, dx, dy) append('mouse.txt', string.format('move %g %g %g %g', x, y, dx, dy)) end\n"
                    "function LMBDown(x, y) append('mouse.txt', string.format('down %g %g', x, y)) end\n"
                    "function LMBUp(x, y) append('mouse.txt', string.format('up %g %g', x, y)) ups = ups + 1\n"
                    "  if ups == 2 then setOverlays(true) setClearColor(0, 0, 0) end end\n"
                    "function render() if not sized then sized = true append('size.txt', string.format('%d %d', getViewSize())) end end\n",
                    {"--size", "400x400"});
    ASSERT_TRUE(WaitForFile(path("camera.txt"), "\n"));
    EXPECT_EQ(Text("camera.txt"), "162 66 35\n");
    EXPECT_EQ(Text("size.txt"), "400 400\n");
    const QImage plain = Screenshot(window, [](const QImage &s) { return OtherPixels(s, QRect(0, 0, 400, 400), Qt::blue) == 0; });
    EXPECT_EQ(plain.width(), 400);
    EXPECT_EQ(OtherPixels(plain, QRect(0, 0, 400, 400), Qt::blue), 0) << "grid, floor outline or marker drawn";
    EXPECT_EQ(CountPixels(plain, QRect(0, 400, 400, plain.height() - 400), [](QColor c) { return c == Qt::blue; }), 0)
        << "the view is not 400 high";
    for (const auto &[x, y] : {std::pair{100, 350}, {200, 380}}) {
        const qsizetype picks = Lines("picks.txt").size();
        Pointer(x, y);
        EXPECT_TRUE(WaitUntil([&] { return Lines("picks.txt").size() > picks; }, 5000)) << "no floor pick at " << x;
    }

    Pointer(205, 378); // from (200, 380), which a frame has seen (Qt merges queued motion)
    ASSERT_TRUE(WaitForFile(path("mouse.txt"), "move 205"));
    EXPECT_EQ(Lines("mouse.txt").last(), "move 205 22 5 2");
    QFile::remove(path("mouse.txt"));
    for (const auto &[action, button] : {std::pair{"click", "1"}, {"mousedown", "1"}, {"mousedown", "3"}, {"mouseup", "3"}, {"mouseup", "1"}})
        Xdotool({action, button});
    WaitUntil([&] { return Lines("mouse.txt").size() >= 5; }, 5000);
    EXPECT_EQ(Lines("mouse.txt"), QStringList({"down 205 22", "up 205 22", "down 205 22", "down 205 22", "up 205 22"}));

    const QImage shot = Screenshot(window, [](const QImage &s) { return CountNear(s, 205, 378, 16, Green) > 30; });
    EXPECT_GT(CountNear(shot, 200, 300, 200, [](QColor c) { return c.red() > 100 && c.green() < 60 && c.blue() > 180; }), 1000) << "grid";
    EXPECT_GT(CountNear(shot, 200, 220, 220, [](QColor c) { return std::abs(c.red() - 76) < 12 && std::abs(c.blue() - 204) < 12; }), 50) << "floor";
    EXPECT_GT(CountNear(shot, 205, 378, 16, Green), 30) << "marker";
    EXPECT_EQ(CountNear(shot, 60, 60, 40, Green), 0);
    Keys({"key", "Escape"});
    EXPECT_EQ(ExitCode(), 1);
}

TEST_F(ViewEndToEnd, AClickOverTheVoxelBlockPicksTheCubeUnderTheCursor)
{
    StartWithAppend("makeVoxelBlock() setCamPos(505, 2000, 506) lookAt(505, 0, 505)\n"
                    "function render() beginQuadGL() renderVoxelBlock() endGL() if not shown then shown = true append('shown.txt', 'yes') end end\n"
                    "function LMBDown(x, y) local i, j, k, face = pickVoxel() carveVoxelSphere(i, j, k, 3)\n"
                    "  append('picks.txt', string.format('%d %d %d %s %s', i, j, k, face, tostring(getVoxel(i, j, k)))) end\n",
                    {"--size", "400x400"});
    ASSERT_TRUE(WaitForFile(path("shown.txt"), "\n"));
    // The middle of the view, straight down onto the top's cube (50, 50,
    // 99); then a quarter of the view right and up (x 755, z 256).
    for (const auto &[x, y] : {std::pair{200, 200}, {250, 150}}) {
        Pointer(x, y);
        Xdotool({"click", "1"});
        WaitUntil([&] { return Lines("picks.txt").size() == (x == 200 ? 1 : 2); }, 5000);
    }
    EXPECT_EQ(Lines("picks.txt").join(", ").toStdString(), "50 50 99 +y false, 75 25 99 +y false");
    Keys({"key", "Escape"});
    EXPECT_EQ(ExitCode(), 1);
}

// 5000 calls with random arguments inside render(); ten frames and more go on after them.
TEST_F(ViewEndToEnd, EveryFunctionTakesAnyArgumentsWithoutErrorOrCrash)
{
    StartWithAppend(
        "local names = {} for name in ('drawLine getCamPos setCamPos rotateCam lookAt beginTriGL beginQuadGL beginLinGL endGL '\n"
        "  .. 'vectorGL colorGL drawCube getMp3Time setMp3Time getMp3Length playMp3 stopMp3 isMp3Playing fullscreenMode '\n"
        "  .. 'windowedMode enableStdMouseCam disableStdMouseCam getMouseCursorPos makeVoxelBlock renderVoxelBlock '\n"
        "  .. 'carveVoxelAt addVoxelAt getMp3Spectrum getMp3Level setOverlays setClearColor pushMatrixGL popMatrixGL '\n"
        "  .. 'translateGL rotateGL scaleGL loadIdentityGL setFov setClipPlanes setLineWidth setLighting setLightDir '\n"
        "  .. 'normalGL drawText getTextSize getViewSize loadTexture bindTexture texCoordGL freeTexture loadShader useShader setUniform '\n"
        "  .. 'setPostShader getTime getBeat getRow sync setVoxelColor getVoxel carveVoxelBox addVoxelBox carveVoxelSphere '\n"
        "  .. 'addVoxelSphere pickVoxel pickVoxelRay resetVoxelBlock newMesh setMeshVertices drawMesh freeMesh drawMeshInstances '\n"
        "  .. 'loadModel drawModel'):gmatch('%S+') do names[#names + 1] = name end\n"
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
    EXPECT_TRUE(WaitUntil([&] { return Lines("frames.txt").size() > 10; })) << "the frames stopped";
}

} // namespace
