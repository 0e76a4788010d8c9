// The script functions from Lua: what the drawing functions emit in a real
// GL context (GL_FEEDBACK), the colour rules, the camera functions, a frame
// whose render() stops inside a bracket; the music functions on the silent
// driver; the voxel functions, out of memory too.
#include "DemoWorld.h"
#include "FSound.h"
#include "GLTestSupport.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "MusicApi.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "ScriptPrimitive.h"
#include "VoxelApi.h"
#include "VoxelRender.h"

#include <QtGlobal>

#include <new>

// While gNothrowAllowance is not negative it counts down the nothrow
// allocations that may still succeed; later ones fail.
static int gNothrowAllowance = -1;
template <typename Allocate> static void *NothrowOrNull(Allocate allocate) noexcept
{
    if (gNothrowAllowance == 0)
        return nullptr;
    gNothrowAllowance -= gNothrowAllowance > 0;
    try {
        return allocate();
    } catch (...) {
        return nullptr;
    }
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return NothrowOrNull([&] { return ::operator new(size); }); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return NothrowOrNull([&] { return ::operator new[](size); }); }
void *operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t &) noexcept
{
    return NothrowOrNull([&] { return ::operator new[](size, align); });
}

namespace {

std::vector<std::string> gDebugLines;

class ScriptApiTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        OpenScriptHost();
        RegisterScriptApi();
        demo = std::make_unique<DemoWorld>();
        demo->setViewport(0, 0, kViewWidth, kViewHeight);
        glMatrixMode(GL_PROJECTION); // world units are window pixels: x right, y up, depth 0.5 - z / 2000
        glLoadIdentity();
        glOrtho(0, kViewWidth, 0, kViewHeight, -1000, 1000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    void TearDown() override
    {
        demo.reset();
        CloseScriptHost();
        SetRunTimeLimit(5000);
        FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
        delete gVoxelBlock; // the program never destroys its block; each test starts without one
        gVoxelBlock = nullptr;
    }
    // The music tests' files, once: two.mp3 a 2 s tone, music.mp3 a 3 s full-scale sweep.
    void OpenMusic(const char *file)
    {
        static ScratchDir scratch; // the working directory from now on
        static const bool made = MakeToneMp3("two.mp3", 2.0) &&
            MakeSynthMp3("music.mp3", {"synth", "3", "sine", "300-6000", "gain", "-n", "-0.1"}) && FSOUND_Init(44100, 32, 1);
        ASSERT_TRUE(made);
        if (file) {
            ASSERT_NE(gMusicStream = FSOUND_Stream_Open(file, FSOUND_MPEGACCURATE, 0, 0), nullptr);
        }
    }
    std::vector<float> Table(const char *name)
    {
        std::vector<float> values;
        lua_getglobal(gLuaState, name);
        for (int i = 1; i <= int(lua_objlen(gLuaState, -1)); ++i, lua_pop(gLuaState, 1)) {
            lua_rawgeti(gLuaState, -1, i);
            values.push_back(float(lua_tonumber(gLuaState, -1)));
        }
        lua_pop(gLuaState, 1);
        return values;
    }
    // The number of cells that are not solid, and the first (i + 100 j + 10000 k).
    int Holes(int *first = nullptr) const
    {
        int holes = 0;
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            if (!gVoxelBlock->cellAt(f % 100, f / 100 % 100, f / 10000)->solid && holes++ == 0 && first)
                *first = f;
        return holes;
    }
    // What `chunk` prints (its first line), expecting no error.
    std::string Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
        return output.substr(0, output.find("\r\n"));
    }
    Feedback Capture(const std::string &chunk) { return CaptureFeedback([&] { Run(chunk); }); }
    // The vertices of the line primitives in world units, in emission order.
    std::vector<Vector3> Lines(const std::string &chunk)
    {
        std::vector<Vector3> points;
        for (const Primitive &line : Capture(chunk).lines)
            for (const FeedbackVertex &v : line)
                points.push_back(Vector3(v.x, v.y, (0.5f - v.z) * 2000.0f));
        return points;
    }

    std::unique_ptr<DemoWorld> demo;
};

// The selected faces (missing ones read false, 0 is true), each four corners
// of the box on its side, wound outward; a negative edge mirrors the box past the corner.
TEST_F(ScriptApiTest, DrawCubeEmitsTheSelectedFacesOfItsBoxWoundOutward)
{
    const std::vector<Vector3> all = Lines("beginLinGL() drawCube(10, 20, 30, 2, true, true, true, true, true, true) endGL()");
    ASSERT_EQ(all.size(), 24u);
    for (size_t f = 0; f < 24; f += 4) { // four distinct corners of the box, on one side
        int flat = 0;
        for (int a = 0; a < 3; ++a) {
            const auto c = [&](size_t v) { return (&all[v].x)[a] - float(10 * (a + 1)); };
            flat += std::fabs(c(f) - c(f + 1)) + std::fabs(c(f) - c(f + 2)) + std::fabs(c(f) - c(f + 3)) < 1e-3f;
            for (size_t v = f; v < f + 4; ++v)
                EXPECT_TRUE(std::fabs(c(v)) < 1e-3f || std::fabs(c(v) - 2) < 1e-3f) << v;
        }
        EXPECT_EQ(flat, 1) << "face " << f / 4;
        for (size_t v = f; v < f + 4; ++v)
            EXPECT_GT(length(all[v] - all[f + (v - f + 1) % 4]) * length(all[v] - all[f + (v - f + 2) % 4]), 1.0f) << v;
    }
    for (const auto &[faces, triangles] : {std::pair{"", 0u}, {", 0, nil, false, nil, nil, nil", 2u}, {", true, true, true, true, true, true", 12u}})
        EXPECT_EQ(Capture(std::string("beginQuadGL() drawCube(0, 0, 0, 2") + faces + ") endGL()").polygons.size(), triangles) << faces;
    glTranslated(400, 300, 0); // turned so that three faces look at the viewer: culling keeps exactly those
    glRotated(30, 1, 0, 0);
    glRotated(-40, 0, 1, 0);
    glEnable(GL_CULL_FACE);
    EXPECT_EQ(Capture("beginQuadGL() drawCube(0, 0, 0, 100, true, true, true, true, true, true) endGL()").polygons.size(), 6u);
    glDisable(GL_CULL_FACE);
    glLoadIdentity();
    const std::vector<Vector3> mirrored = Lines("beginLinGL() drawCube(10, 10, 10, -2, false, true) endGL()");
    ASSERT_EQ(mirrored.size(), 4u);
    ExpectNear(mirrored[0], Vector3(8, 10, 8), 1e-3f); // "+X" now at x = 8
}

// Colours and coordinates take loose numbers; three colour arguments draw
// invisibly under blending (alpha 0); drawLine leaves white; a voxel cell
// sends the low 8 bits of its colour.
TEST_F(ScriptApiTest, VerticesAndColoursFollowTheLooseNumberRules)
{
    for (const auto &[color, r] : {std::pair{"255.9", 1.0f}, {"256", 0.0f}, {"-1", 1.0f}, {"'128'", 128 / 255.0f}, {"-1e300", 0.0f},
                                   {"1/0", 1.0f}, {"0/0", 0.0f}, {"{}", 0.0f}}) {
        const Feedback fb = Capture(std::string("colorGL(") + color + ", 0, 0, 255) beginLinGL() vectorGL(1, 1) vectorGL(5, 5) endGL()");
        ASSERT_EQ(fb.lines.size(), 1u) << color;
        EXPECT_NEAR(fb.lines[0][0].r, r, 1e-3f) << color;
    }
    const std::vector<Vector3> points = Lines("beginLinGL() vectorGL('1', '2', '3') vectorGL('x') endGL()");
    ASSERT_EQ(points.size(), 2u);
    ExpectNear(points[0], Vector3(1, 2, 3), 1e-3f);
    ExpectNear(points[1], Vector3(0, 0, 0), 1e-3f);
    for (const auto &[color, red] : {std::pair{"colorGL(255, 0, 0, 255)", 255}, {"colorGL(255, 0, 0)", 0}}) {
        glClear(GL_COLOR_BUFFER_BIT);
        Run(std::string(color) + " beginQuadGL() vectorGL(0, 0) vectorGL(800, 0) vectorGL(800, 600) vectorGL(0, 600) endGL()");
        GLubyte rgba[4];
        glReadPixels(400, 300, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        EXPECT_EQ(rgba[0], red) << color;
    }
    Run("colorGL(1, 2, 3, 4) drawLine(1, 1, 0, 9, 9, 0)");
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(std::vector<GLfloat>(current, current + 4), std::vector<GLfloat>(4, 1.0f)) << "drawLine leaves white";
    VoxelCell cell;
    cell.faceBits = VoxelFace::kPosZ;
    cell.red = 256 + 10, cell.green = -1, cell.blue = 77, cell.alpha = 200;
    const Feedback voxel = CaptureFeedback([&] { glBegin(GL_QUADS); DrawVoxelCell(cell); glEnd(); });
    ASSERT_EQ(voxel.polygons.size(), 2u);
    const FeedbackVertex &v = voxel.polygons[0][0];
    EXPECT_EQ(std::vector<float>({v.r * 255, v.g * 255, v.b * 255, v.a * 255}), std::vector<float>({10, 255, 77, 200}));
}

TEST_F(ScriptApiTest, CameraFunctionsReadAndSteerTheWorldCamera)
{
    EXPECT_EQ(Run("print(table.concat({getMouseCursorPos()}, ' '))"), "0 0 0") << "before the first pick";
    Run("setCamPos(1.1, -2, 300)");
    EXPECT_EQ(Run("print(table.concat({getCamPos()}, ' '))"), "1.1000000238419 -2 300") << "single precision, widened";
    Run("setCamPos()");
    ExpectNear(demo->camera().position(), Vector3(), 0.0f);
    World reference; // rotateCam with one argument turns by that yaw only
    reference.camera() = demo->camera();
    reference.rotateCamera(0.5f, 0.0f);
    Run("rotateCam(0.5)");
    EXPECT_TRUE(Same(demo->camera(), reference.camera()));
    Run("setCamPos(10, 20, 30) lookAt(100, 20, 30)");
    ExpectNear(demo->camera().position(), Vector3(10, 20, 30), 0.0f);
    ExpectNear(Forward(demo->camera()), Vector3(1, 0, 0), 1e-5f);
    Run("disableStdMouseCam() disableStdMouseCam()");
    EXPECT_FALSE(demo->stdMouseCamEnabled());
    Run("enableStdMouseCam()");
    EXPECT_TRUE(demo->stdMouseCamEnabled());
}

// The frame's own lines (grid, floor outline, marker) stay whole when
// render() stops inside a bracket, and in the frame after it.
TEST_F(ScriptApiTest, ARenderThatStopsInsideABracketLeavesTheFrameWhole)
{
    const auto frameLines = [&](const std::string &render) {
        Run("function render() " + render + " end");
        return CaptureFeedback([&] { demo->renderFrame(); }).lines.size();
    };
    const size_t whole = frameLines("");
    ASSERT_GT(whole, 100u);
    SetRunTimeLimit(100);
    for (const char *render : {"beginQuadGL() vectorGL(1, 2, 3) error('stop')", "beginLinGL() while true do end", "beginTriGL()"}) {
        EXPECT_EQ(frameLines(render), whole) << render;
        EXPECT_FALSE(ScriptPrimitiveOpen()) << render;
        EXPECT_EQ(frameLines(""), whole) << "the frame after " << render;
    }
}

TEST_F(ScriptApiTest, TimesCrossInSinglePrecisionAndPlayAndStopAskOnlyTheKeptChannel)
{
    OpenMusic(nullptr);
    EXPECT_EQ(Run("setMp3Time(3) playMp3() stopMp3() print(getMp3Time() .. ' ' .. getMp3Length() .. ' ' .. tostring(isMp3Playing()))"), "0 0 false");
    EXPECT_EQ(gMusicChannel, -1);
    OpenMusic("two.mp3");
    ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 1500));
    EXPECT_EQ(Run("print(string.format('%.17g', getMp3Time()))"), "1.5000001192092896");
    // Narrowed to float, then truncated to ms (0.7 is 0.69999999); missing or not a number: 0.
    for (const auto &[seconds, ms] : {std::pair{"0.0015", 1}, {"-0.0004", 0}, {"0.7", 699}, {"'0.25'", 250}, {"", 0}, {"'soon'", 0}, {"0/0", 0}, {"1/0", 2000}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 750));
        Run("setMp3Time(" + std::string(seconds) + ")");
        EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), ms) << seconds;
    }
    EXPECT_NEAR(std::stod(Run("print(getMp3Length())")), 2.0, 0.03);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0); // behind the script's back
    EXPECT_EQ(Run("print(tostring(isMp3Playing()))"), "false");
    EXPECT_EQ(Run("playMp3() print(tostring(isMp3Playing()))"), "true");
    EXPECT_EQ(Run("stopMp3() print(tostring(isMp3Playing()) .. ' ' .. getMp3Time())"), "false 0");
    EXPECT_EQ(gMusicChannel, 0);
}

TEST_F(ScriptApiTest, TheAnalysisIsZeroWhileNothingPlaysAndFollowsTheMusicTimeWhilePlaying)
{
    const auto expectSilent = [this](const char *when) {
        EXPECT_EQ(Run("s = getMp3Spectrum(64) print(getMp3Level())"), "0") << when;
        EXPECT_EQ(Table("s"), std::vector<float>(64, 0.0f)) << when;
    };
    OpenMusic(nullptr);
    expectSilent("without music");
    OpenMusic("music.mp3");
    Run("setMp3Time(1.5)");
    expectSilent("before playMp3");
    Run("playMp3()");
    for (const auto &[argument, size] : {std::pair{"", 16}, {"0", 1}, {"1e9", 256}, {"0/0", 16}, {"2.9", 2}, {"'32'", 32}, {"-1/0", 1}}) {
        Run(std::string("s = getMp3Spectrum(") + argument + ")");
        EXPECT_EQ(Table("s").size(), size_t(size)) << argument;
    }
    MusicAnalysis reference("music.mp3");
    std::vector<float> expected(32);
    for (const char *move : {"", "setMp3Time(2.2)", "setMp3Time(0.4)"}) { // read in one chunk, retried until the time holds still
        Run(move);
        int ms = -1;
        for (int attempt = 0; attempt < 100 && ms < 0; ++attempt) {
            const int before = FSOUND_Stream_GetTime(gMusicStream);
            Run("s = getMp3Spectrum(32) level = getMp3Level()");
            ms = FSOUND_Stream_GetTime(gMusicStream) == before ? before : -1;
        }
        ASSERT_GT(ms, 0) << move;
        reference.Spectrum(ms, 32, expected.data());
        EXPECT_EQ(Table("s"), expected) << move << " at " << ms << " ms";
        lua_getglobal(gLuaState, "level");
        EXPECT_FLOAT_EQ(float(lua_tonumber(gLuaState, -1)), reference.Level(ms)) << move;
        lua_pop(gLuaState, 1);
    }
    Run("stopMp3()");
    expectSilent("after stopMp3");
}

// Nothing before the first make; a second make keeps the block and its
// holes; arguments carve the cell they name (truncated toward zero, loosely
// converted) or, out of range, none; adding with them fills it again.
TEST_F(ScriptApiTest, VoxelFunctionsConvertTheirArgumentsAndASecondMakeKeepsTheHoles)
{
    EXPECT_EQ(Run("carveVoxelAt(0, 0, 0) addVoxelAt(1, 2, 3) renderVoxelBlock() print(select('#', carveVoxelAt(1, 1, 1)))"), "0");
    EXPECT_EQ(gVoxelBlock, nullptr);
    Run("makeVoxelBlock() carveVoxelAt(5, 6, 7) makeVoxelBlock()");
    ASSERT_NE(gVoxelBlock, nullptr);
    EXPECT_EQ(Holes(), 1);
    Run("addVoxelAt(5, 6, 7)");
    const std::pair<const char *, int> cases[] = {
        {"-0.5, 0, 0", 0}, {"0.9, 1.9, 2.9", 20100}, {"'3', '4', '5'", 50403}, {"7", 7}, {"'x', {}, true", 0},
        {"99.99, 99.99, 99.99", 999999}, {"-1, 0, 0", -1}, {"0, 0, 100", -1}, {"0/0, 0, 0", -1}, {"0, 1/0, 0", -1},
        {"-1e300, 0, 0", -1}, {"2^32, 0, 0", -1}, {"0, 2^32 + 1, 0", -1}, {"0, 0, 2^31", -1}, {"-2^31, 0, 0", -1}};
    for (const auto &[args, cell] : cases) {
        Run(std::string("carveVoxelAt(") + args + ")");
        int first = -1;
        EXPECT_EQ(Holes(&first), cell < 0 ? 0 : 1) << args;
        EXPECT_EQ(first, cell) << args;
        Run(std::string("addVoxelAt(") + args + ")");
        EXPECT_EQ(Holes(), 0) << args;
    }
}

// Out of memory at each of the block's three allocations in turn: no block,
// one debug line, the script goes on; the next make succeeds.
TEST_F(ScriptApiTest, AVoxelBlockMadeWithoutMemoryIsNoneAndIsTriedAgain)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { gDebugLines.push_back(text.toStdString()); });
    for (int allowance : {0, 1, -1}) {
        gDebugLines.clear();
        gNothrowAllowance = allowance;
        Run("makeVoxelBlock() carveVoxelAt(1, 1, 1)");
        gNothrowAllowance = -1;
        EXPECT_EQ(gVoxelBlock != nullptr, allowance < 0) << allowance;
        const bool oneLine = gDebugLines.size() == 1 && gDebugLines[0].find("not enough memory") != std::string::npos;
        EXPECT_TRUE(allowance < 0 ? gDebugLines.empty() : oneLine) << allowance << ": " << gDebugLines.size() << " lines";
    }
    EXPECT_EQ(Holes(), 1);
    qInstallMessageHandler(nullptr);
}

} // namespace
