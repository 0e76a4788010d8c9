// The script functions from Lua in a real Production and GL context.
#include "FSound.h"
#include "Files.h"
#include "GLTestSupport.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "MusicApi.h"
#include "Pixels.h"
#include "Production.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "VoxelApi.h"
#include "VoxelDrawCache.h"

#include <QImage>
#include <QTest>

#include <filesystem>
#include <iterator>
#include <new>
#include <sstream>

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

const QColor kRed(Qt::red), kGreen(Qt::green), kBlue(Qt::blue), kWhite(Qt::white), kBlack(Qt::black);

// The script block's empty cells, and the first (i + 100 j + 10000 k).
int Holes(int *first = nullptr)
{
    int count = 0;
    for (int f = 0; f < VoxelBlock::kCellCount; ++f)
        if (!gVoxelBlock->cellAt(f % 100, f / 100 % 100, f / 10000)->solid && count++ == 0 && first)
            *first = f;
    return count;
}

std::function<bool(QColor)> Is(const QColor &colour)
{
    return [colour](QColor c) { return c == colour; };
}

// A fresh Production with the script functions, working in a scratch folder.
class ScriptApiTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        run = std::make_unique<Production>();
        run->openScriptHost(RegisterScriptApi);
        run->world().setViewport(0, 0, kViewWidth, kViewHeight);
        Production::SetFixedGLState();
    }
    void TearDown() override
    {
        run.reset(); // closes the Lua state (its run time limit with it), the music and the sound layer
        gMusicChannel = -1;
        delete gVoxelBlock; // the program never destroys its block; each test starts without one
        gVoxelBlock = nullptr;
    }
    // What `chunk` prints (its first line), expecting no error.
    std::string Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
        return output.substr(0, output.find("\r\n"));
    }
    std::string Eval(const std::string &expression) { return Run("print(tostring(" + expression + "))"); }
    // One frame with this render() body; its error ("" when it ran).
    std::string Frame(const std::string &render)
    {
        Run("function render() " + render + " end");
        run->paint();
        const std::vector<ErrorBoard::Line> lines = run->world().errors().lines();
        return lines.empty() ? "" : lines.front().message;
    }
    // The framebuffer (bottom row first in GL, so pixel(x, y) counts y up).
    QImage Picture()
    {
        QImage image(kViewWidth, kViewHeight, QImage::Format_RGBA8888);
        glReadPixels(0, 0, kViewWidth, kViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        return image;
    }
    QColor Pixel(int x, int y) { return Picture().pixelColor(x, y); }
    QColor PixelAt(const Vector3 &world)
    {
        const Vector3 w = Window(world);
        return Pixel(static_cast<int>(w.x), static_cast<int>(w.y));
    }
    // The pixels in `area` (y up) that `match`.
    int Count(const QRect &area, const std::function<bool(QColor)> &match) { return CountPixels(Picture(), area, match); }
    // What `chunk` draws outside a frame, under a projection that makes world
    // units window pixels: x right, y up, depth 0.5 - z / 2000.
    Feedback Capture(const std::string &chunk)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kViewWidth, 0, kViewHeight, -1000, 1000);
        glMatrixMode(GL_MODELVIEW);
        return CaptureFeedback([&] { Run(chunk); });
    }
    // The vertices of its line primitives in world units, in emission order.
    std::vector<Vector3> Lines(const std::string &chunk)
    {
        std::vector<Vector3> points;
        for (const Primitive &line : Capture(chunk).lines)
            for (const FeedbackVertex &v : line)
                points.push_back(Vector3(v.x, v.y, (0.5f - v.z) * 2000.0f));
        return points;
    }

    ScratchDir scratch;
    std::unique_ptr<Production> run;
};

// Face arguments -X, +X, -Y, +Y, -Z, +Z; missing ones read false, 0 is true.
TEST_F(ScriptApiTest, DrawCubeEmitsTheSelectedFacesOfItsBoxWoundOutward)
{
    const char *faces[] = {"true", "false, 0", "nil, nil, 1", "nil, nil, nil, ''", "false, false, false, false, {}", "nil, nil, nil, nil, nil, true"};
    for (const char *edge : {"2", "-2"})
        for (int face = 0; face < 6; ++face) {
            const std::string call = std::string("drawCube(10, 20, 30, ") + edge + ", " + faces[face] + ")";
            const std::vector<Vector3> corners = Lines("beginLinGL() " + call + " endGL()");
            ASSERT_EQ(corners.size(), 4u) << call;
            for (const Vector3 &p : corners)
                EXPECT_NEAR((&p.x)[face / 2], 10.0f * (face / 2 + 1) + std::stof(edge) * (face % 2), 1e-3f) << call;
        }
    glTranslated(400, 300, 0);
    glRotated(30, 1, 0, 0);
    glRotated(-40, 0, 1, 0);
    glEnable(GL_CULL_FACE);
    const float centre = Window(Vector3(50, 50, 50)).z;
    const Feedback front = Capture("beginQuadGL() drawCube(0, 0, 0, 100, true, true, true, true, true, true) endGL()");
    EXPECT_EQ(front.polygons.size(), 6u);
    for (const Primitive &triangle : front.polygons)
        EXPECT_LT(triangle[0].z + triangle[1].z + triangle[2].z, 3 * centre) << "a face turned away";
}

// colorGL keeps the low 8 bits of whole numbers (a missing alpha is 0);
// drawLine leaves white; a voxel cell sends the low 8 bits of its colour.
TEST_F(ScriptApiTest, ColoursKeepTheLow8BitsOfWholeNumbers)
{
    for (const auto &[color, r, a] : {std::tuple{"255.9, 0, 0, 255", 1.0f, 1.0f}, {"256, 0, 0, 255", 0.0f, 1.0f},
                                      {"-1, 0, 0, 255", 1.0f, 1.0f}, {"'128', 0, 0, 255", 128 / 255.0f, 1.0f},
                                      {"-1e300, 0, 0, 255", 0.0f, 1.0f}, {"1/0, 0, 0, 255", 1.0f, 1.0f},
                                      {"0/0, 0, 0, 255", 0.0f, 1.0f}, {"{}, 0, 0, 255", 0.0f, 1.0f}, {"255, 0, 0", 1.0f, 0.0f}}) {
        const Feedback fb = Capture(std::string("colorGL(") + color + ") beginLinGL() vectorGL(1, 1) vectorGL(5, 5) endGL()");
        ASSERT_EQ(fb.lines.size(), 1u) << color;
        EXPECT_NEAR(fb.lines[0][0].r, r, 1e-3f) << color;
        EXPECT_EQ(fb.lines[0][0].a, a) << color;
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

TEST_F(ScriptApiTest, RotateCamTurnsByItsYawAndTheMouseCameraTurnsOffAndOn)
{
    DemoWorld &world = run->world();
    World reference; // the same default camera
    reference.rotateCamera(0.5f, 0.0f);
    Run("rotateCam(0.5)");
    EXPECT_TRUE(Same(world.camera(), reference.camera()));
    Run("disableStdMouseCam() disableStdMouseCam()");
    EXPECT_FALSE(world.stdMouseCamEnabled());
    Run("enableStdMouseCam()");
    EXPECT_TRUE(world.stdMouseCamEnabled());
}

// Times cross in single precision; isMp3Playing asks only the channel playMp3 kept.
TEST_F(ScriptApiTest, MusicFunctionsFollowTheStreamAtTheMusicTime)
{
    // The time, whether it plays, the level, the bands and the largest of them.
    const std::string state = "s = getMp3Spectrum(64) print(getMp3Time() .. ' ' .. tostring(isMp3Playing()) .. ' ' .. "
                              "getMp3Level() .. ' ' .. #s .. ' ' .. math.max(unpack(s)))";
    EXPECT_EQ(Run("setMp3Time(3) playMp3() stopMp3() " + state), "0 false 0 64 0") << "without music";
    ASSERT_TRUE(MakeSynthMp3("music.mp3", {"synth", "3", "sine", "300-6000", "gain", "-n", "-0.1"})); // a full-scale sweep
    FSOUND_SetVirtualClock(true); // the music time moves only when told
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1));
    ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    const int length = FSOUND_Stream_GetLengthMs(gMusicStream);
    EXPECT_NEAR(std::stod(Eval("getMp3Length()")), 3.0, 0.03);
    ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 1500));
    EXPECT_EQ(Run(state), "1.5000001192093 false 0 64 0") << "before playMp3";
    // 0.7 is 0.69999999 as a float; missing or not a number: 0.
    for (const auto &[seconds, ms] : {std::pair{"0.0015", 1}, {"-0.0004", 0}, {"0.7", 699}, {"'0.25'", 250}, {"", 0}, {"'soon'", 0}, {"0/0", 0}, {"1/0", length}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 750));
        Run("setMp3Time(" + std::string(seconds) + ")");
        EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), ms) << seconds;
    }
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0); // behind the script's back
    EXPECT_EQ(Eval("isMp3Playing()"), "false");
    EXPECT_EQ(Run("playMp3() print(tostring(isMp3Playing()))"), "true");
    for (const auto &[argument, size] : {std::pair{"", 16}, {"0", 1}, {"1e9", 256}, {"0/0", 16}, {"2.9", 2}, {"'32'", 32}, {"-1/0", 1}})
        EXPECT_EQ(Eval("#getMp3Spectrum(" + std::string(argument) + ")"), std::to_string(size)) << argument;
    MusicAnalysis reference("music.mp3");
    for (const char *move : {"setMp3Time(2.2)", "setMp3Time(0.4)"}) {
        std::istringstream printed(Run(std::string(move) + " s = getMp3Spectrum(32) s[33] = getMp3Level() print(table.concat(s, ' '))"));
        const int ms = FSOUND_Stream_GetTime(gMusicStream);
        std::vector<float> expected(32);
        reference.spectrum(ms, 32, expected.data());
        expected.push_back(reference.level(ms));
        EXPECT_EQ(std::vector<float>(std::istream_iterator<float>(printed), {}), expected) << move << " at " << ms << " ms";
    }
    EXPECT_EQ(Eval("table.concat(getSpectrum(32), ' ') == table.concat(getMp3Spectrum(32), ' ') and getLevel() == getMp3Level()"), "true");
    for (const auto &[smoothing, kept] : {std::pair{"0.9", 0.9f}, {"5", 0.99f}, {"'x'", 0.0f}}) {
        Run(std::string("setSpectrumSmoothing(") + smoothing + ")");
        EXPECT_FLOAT_EQ(run->inputs().smoothing(), kept) << smoothing;
    }
    // The silent driver has no inputs: the band says so until the music is followed again.
    EXPECT_EQ(Run("local ok, why = setSoundInput('usb') print(tostring(ok) .. ' ' .. why .. ' ' .. #listSoundInputs())"),
              "false there is no sound input; silent until one appears 0");
    EXPECT_EQ(run->world().errors().lines().at(0).label, "sound input");
    EXPECT_EQ(Eval("getLevel() .. ' ' .. tostring(getOnset()) .. ' ' .. tostring(setSoundInput())"), "0 false true");
    EXPECT_TRUE(run->world().errors().empty());
    EXPECT_EQ(Run("stopMp3() " + state), "0 false 0 64 0") << "after stopMp3";
    EXPECT_EQ(gMusicChannel, 0);
}

// Out of memory at each of the block's three allocations in turn: no block,
// one debug line. Arguments are truncated toward zero, loosely converted.
TEST_F(ScriptApiTest, VoxelFunctionsConvertTheirArgumentsAndAMakeWithoutMemoryMakesNone)
{
    for (int allowance : {0, 1, -1}) {
        DebugLines debug;
        gNothrowAllowance = allowance;
        Run("makeVoxelBlock() addVoxelAt(1, 1, 1) renderVoxelBlock() carveVoxelAt(5, 6, 7)");
        gNothrowAllowance = -1;
        EXPECT_EQ(gVoxelBlock != nullptr, allowance < 0) << allowance;
        const bool oneLine = debug.lines.size() == 1 && debug.lines[0].contains("not enough memory");
        EXPECT_TRUE(allowance < 0 ? debug.lines.empty() : oneLine) << allowance << ": " << debug.lines.size() << " lines";
    }
    ASSERT_NE(gVoxelBlock, nullptr);
    Run("makeVoxelBlock()");
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

TEST_F(ScriptApiTest, VoxelSculptingFunctionsReadTheirArgumentsAndAnswer)
{
    // The values a call returns, as one line.
    Run("function show(...) local t = {...} for n = 1, select('#', ...) do t[n] = tostring(t[n]) end "
        "return table.concat(t, ' ') end");
    EXPECT_EQ(Run("setVoxelColor(1, 2, 3, 9, 9, 9) carveVoxelBox(0, 0, 0, 9, 9, 9) addVoxelSphere(1, 1, 1, 5) "
                  "resetVoxelBlock() print(show(getVoxel(1, 2, 3), pickVoxelRay(-100, 45, 45, 1, 0, 0), pickVoxel()))"),
              "nil nil nil");
    Run("makeVoxelBlock() setVoxelColor(1, 2, 3, 300, -1, 7.9) setVoxelColor(4, 5, 6, 1, 2, 3, 4)");
    EXPECT_EQ(Run("print(show(getVoxel(1, 2, 3)))"), "true 44 255 7 255");
    EXPECT_EQ(Run("print(show(getVoxel(4, 5, 6)))"), "true 1 2 3 4");
    EXPECT_EQ(Run("print(show(getVoxel(100, 0, 0), getVoxel(0/0, 0, 0)))"), "nil nil");
    const std::pair<const char *, int> edits[] = {
        {"carveVoxelBox(5, 5, 5, 3, 3, 3)", 27},       {"carveVoxelBox(-5, 98, 98, 1, 200, 99)", 27 + 8},
        {"carveVoxelSphere(50, 50, 50, 0/0)", 35},      {"carveVoxelSphere(50, 50, 50, -1)", 35},
        {"carveVoxelSphere(50, 50, 50, 1)", 35 + 7},   {"carveVoxelSphere(50, 50, 50)", 42},
        {"addVoxelSphere(50, 50, 50, 1.5)", 42 - 7},   {"addVoxelBox(0, 0, 0, 99, 99, 99)", 0},
        {"carveVoxelSphere(-3, 0, 0, 3)", 1},           {"carveVoxelSphere(0, 0, 0, 1/0)", 1000000},
        {"addVoxelSphere(2^40, 0, 0, 1e300)", 0},
    };
    for (const auto &[edit, count] : edits) {
        Run(edit);
        EXPECT_EQ(Holes(), count) << edit;
    }
    EXPECT_EQ(Run("print(show(pickVoxelRay(-100, 45, 55, 1, 0, 0)))"), "0 5 4 -x");
    EXPECT_EQ(Run("print(show(pickVoxelRay(505, 2000, 505, 0, -3, 0)))"), "50 50 99 +y");
    EXPECT_EQ(Run("print(show(pickVoxelRay(-100, 45, 45, -1, 0, 0), pickVoxelRay(0, 0, 0, 0, 0, 0)))"), "nil nil");
    EXPECT_EQ(Run("carveVoxelAt(0, 4, 4) print(show(pickVoxelRay(-100, 45, 45, 1, 0, 0)))"), "1 4 4 -x");
    // The cursor mid-view, the camera looking straight down -z at the +z side.
    Run("setCamPos(505, 505, 2000) lookAt(505, 505, 0)");
    run->paint();
    run->world().mouseMove(kViewWidth / 2, kViewHeight / 2);
    EXPECT_EQ(Run("print(show(pickVoxel()))"), "50 99 50 +z");
    Run("resetVoxelBlock()");
    EXPECT_EQ(Holes(), 0);
    EXPECT_EQ(Run("print(show(getVoxel(1, 2, 3)))"), "true 129 2 131 255");
}

// Camera at distance 100 in front of the plane z = 0 around (1000, 1000),
// far from the grid: 3 pixels per unit at the default lens.
const char kFaceThePlane[] = "setCamPos(1000, 1000, 100) lookAt(1000, 1000, 0)";
const std::string kSquare = "beginQuadGL() vectorGL(990, 990, 0) vectorGL(1010, 990, 0) "
                            "vectorGL(1010, 1010, 0) vectorGL(990, 1010, 0) endGL() ";
const std::string kRedSquare = "colorGL(255, 0, 0, 255) " + kSquare;

TEST_F(ScriptApiTest, TransformsPlaceWhatFollowsAndNeverOutliveTheirRender)
{
    Run(kFaceThePlane);
    // A 20 x 5 bar turned a quarter about z, then moved: x 1015..1020, y 1000..1020.
    EXPECT_EQ(Frame("colorGL(255, 0, 0, 255) pushMatrixGL() translateGL(1020, 1000, 0) rotateGL(90, 0, 0, 1) "
                    "beginQuadGL() vectorGL(0, 0, 0) vectorGL(20, 0, 0) vectorGL(20, 5, 0) vectorGL(0, 5, 0) endGL() "
                    "popMatrixGL()"), "");
    EXPECT_EQ(PixelAt(Vector3(1017.5f, 1015, 0)), kRed);
    EXPECT_NE(PixelAt(Vector3(1030, 1002.5f, 0)), kRed) << "where the unturned bar would be";
    // Scaled twice as large about its corner; loadIdentityGL is the camera's view.
    EXPECT_EQ(Frame("scaleGL(2, 2, 1) translateGL(-500, -500, 0) " + kRedSquare), "");
    EXPECT_EQ(PixelAt(Vector3(1005, 1005, 0)), kRed);
    // NaN, infinite or huge transforms and a zero axis are ignored, not poisoning the matrix.
    EXPECT_EQ(Frame("translateGL(50, 0, 0) loadIdentityGL() translateGL(0/0, 0, 0) translateGL(1/0, 1, 1) "
                    "scaleGL(1e300, 1, 1) rotateGL(0/0, 0, 0, 1) rotateGL(90, 0, 0, 0) rotateGL(90, 1e300, 0, 0) " +
                    kRedSquare), "");
    EXPECT_EQ(PixelAt(Vector3(1000, 1000, 0)), kRed);

    // The default view with the grid: each of these renders, stopped or
    // not, leaves the rest of its frame and the next frame as an empty one.
    Run("setCamPos(162, 66, 35) lookAt(144, 60, 45)");
    SetRunTimeLimit(100);
    Frame("");
    const QImage reference = Picture();
    GLint depth = 0;
    for (const char *render : {"pushMatrixGL() translateGL(50, 0, 0) rotateGL(30, 1, 1, 0)",
                               "popMatrixGL() popMatrixGL() translateGL(0, 9, 0)",
                               "for i = 1, 100 do pushMatrixGL() scaleGL(2, 2, 2) end",
                               "pushMatrixGL() translateGL(0, 20, 0) error('stop')",
                               "beginTriGL()", "beginQuadGL() vectorGL(1, 2, 3) error('stop')",
                               "pushMatrixGL() beginQuadGL() pushMatrixGL() popMatrixGL() scaleGL(0, 0, 0) while true do end",
                               "setLighting(true) setLineWidth(9) bindTexture(1) drawText(-50, -50, 'x') error('stop')"}) {
        Frame(render);
        EXPECT_TRUE(Picture() == reference) << "the frame of " << render;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        EXPECT_EQ(depth, 1) << render;
        EXPECT_EQ(Frame(""), "") << "after " << render;
        EXPECT_TRUE(Picture() == reference) << "the frame after " << render;
        Run("setLighting(false)");
    }
    // Outside render() (a console command, update()) they do nothing.
    Run("pushMatrixGL() translateGL(50, 0, 0) setLineWidth(5)");
    Frame("");
    EXPECT_TRUE(Picture() == reference) << "after transforms outside render()";
}

TEST_F(ScriptApiTest, TheLensNarrowsThePicture)
{
    const auto redInRow = [this] { return Count(QRect(0, 280, kViewWidth, 1), Is(kRed)); };
    Run(kFaceThePlane);
    Frame(kRedSquare);
    const int wide = redInRow();
    EXPECT_NEAR(wide, 60, 2) << "20 units at 3 pixels per unit";
    Run("setFov(45)");
    Frame(kRedSquare);
    EXPECT_NEAR(redInRow() / double(wide), 1.0 / std::tan(22.5 * M_PI / 180.0), 0.05);
    // Ignored: NaN, an infinite angle, near <= 0, near >= far.
    Run("setFov(0/0) setFov(1/0) setClipPlanes(0, 10) setClipPlanes(5, 5) setClipPlanes(0/0, 10) setClipPlanes(1, 1/0)");
    EXPECT_EQ(run->world().fieldOfViewDegrees(), 45.0f);
    EXPECT_EQ(run->world().nearClip(), 0.1f);
    // Near plane beyond the square: nothing of it is left.
    Run("setFov(90) setClipPlanes(150, 1000)");
    Frame(kRedSquare);
    EXPECT_EQ(redInRow(), 0);
}

TEST_F(ScriptApiTest, LightingShadesTheCubesFacesOnlyWhenOn)
{
    Run("setCamPos(1040, 1030, 1020) lookAt(1000, 1000, 1000)");
    const std::string cube = "colorGL(200, 120, 80, 255) beginQuadGL() "
                             "drawCube(990, 990, 990, 20, true, true, true, true, true, true) endGL()";
    const auto faces = [&] {
        return std::vector<QColor>{PixelAt(Vector3(1010, 1000, 1000)), PixelAt(Vector3(1000, 1010, 1000)),
                                   PixelAt(Vector3(1000, 1000, 1010))};
    };
    Frame("setLighting(true) setLightDir(-1, -0.5, -0.2) " + cube);
    const std::vector<QColor> lit = faces();
    EXPECT_GT(lit[0].red(), lit[1].red());
    EXPECT_GT(lit[1].red(), lit[2].red());
    EXPECT_GT(lit[0].red(), lit[0].blue()) << "still the cube's own colour";
    Frame("setLightDir(0, 0, 0) setLightDir(0/0, 1, 1) " + cube);
    EXPECT_EQ(faces(), lit) << "a zero or NaN direction is ignored";
    Frame("setLighting(false) " + cube);
    EXPECT_EQ(faces()[0], QColor(200, 120, 80));
    // The voxel block's +X side, lit from behind and from the front.
    Run("makeVoxelBlock() setCamPos(1300, 500, 500) lookAt(1000, 500, 500) setLighting(true)");
    const std::string block = "beginQuadGL() renderVoxelBlock() endGL()";
    Frame("setLightDir(1, 0, 0) " + block);
    const QColor behind = Pixel(400, 300);
    Frame("setLightDir(-1, 0, 0) " + block);
    EXPECT_GT(Pixel(400, 300).value(), behind.value() + 50);
}

// Freed, a texture's quad is drawn untextured; a number is drawn as its text.
TEST_F(ScriptApiTest, TexturesFollowTheirFileAndTextLandsAtItsViewPixel)
{
    const auto save = [](const QColor &colour, int secondsLater) {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save("tex.png", "PNG", 100)); // uncompressed: the same size whatever the colour
        std::filesystem::last_write_time("tex.png", std::filesystem::last_write_time("tex.png") + std::chrono::seconds(secondsLater));
    };
    save(kRed, 0);
    Run("T = loadTexture('tex.png') " + std::string(kFaceThePlane));
    const std::string quad = "colorGL(255, 255, 255, 255) bindTexture(T) " + kSquare + "bindTexture(0)";
    Frame(quad);
    EXPECT_EQ(PixelAt(Vector3(1000, 1000, 0)), kRed);
    save(kGreen, 5);
    // Taken in by a tick once the save has settled.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        run->tick();
        Frame(quad);
        return PixelAt(Vector3(1000, 1000, 0)) == kGreen;
    }));
    Run("assert(loadTexture('tex.png') == T, 'one id per file')");
    Frame("freeTexture(T) " + quad + " colorGL(255, 0, 255, 255) drawText(380, 300, 12345) drawText(100, 50, 'HELLO', 32)");
    EXPECT_EQ(PixelAt(Vector3(993, 993, 0)), kWhite);
    const auto magenta = Is(QColor(255, 0, 255));
    const int number = Count(QRect(380, 300, 120, 40), magenta), hello = Count(QRect(100, 50, 5 * 32, 48), magenta);
    EXPECT_GT(number, 20);
    EXPECT_GT(hello, 100);
    EXPECT_EQ(Count(QRect(0, 0, kViewWidth, kViewHeight), magenta), number + hello) << "text outside its place";
    Run("local f = io.open('notes.png', 'w') f:write('not an image') f:close()");
    for (const auto &[call, message] : {std::pair{"loadTexture('missing.png')", "no such file"}, {"loadTexture('notes.png')", "not a PNG or JPEG image"},
                                        {"loadTexture('.')", "not a regular file"}, {"loadTexture({})", "not a string"}})
        Run(std::string("local id, m = ") + call + " assert(id == nil and m:find('" + message + "'), m)");
}

// 6000 x 6000 is beyond the image reader's default allocation limit.
TEST_F(ScriptApiTest, BigTexturesAreDrawnWiderOnesScaledWithANoteAndHugeOnesRefused)
{
    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    for (const auto &[name, size, colour] : {std::tuple{"big.png", QSize(6000, 6000), kBlue}, {"wide.png", QSize(limit + 1, 2), kGreen}}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(name));
        Run(std::string("T = assert(loadTexture('") + name + "')) " + kFaceThePlane);
        Frame("colorGL(255, 255, 255, 255) bindTexture(T) " + kSquare + "bindTexture(0)");
        EXPECT_EQ(PixelAt(Vector3(1000, 1000, 0)), colour) << name;
    }
    // Read again after a save: the same note, not a repeat of it.
    std::filesystem::last_write_time("wide.png", std::filesystem::last_write_time("wide.png") + std::chrono::seconds(5));
    Frame("");
    const std::vector<ErrorBoard::Line> notes = run->world().errors().lines();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(ErrorBoard::format(notes[0]), "texture: wide.png is " + std::to_string(limit + 1) + " x 2 pixels, wider or taller than the largest texture here (" +
                                                std::to_string(limit) + " a side): drawn from a copy scaled to " + std::to_string(limit) + " x 2");
    Run("freeTexture(T)");
    EXPECT_TRUE(run->world().errors().empty());
    // A PNG: its signature, a header chunk (size, 8-bit RGBA) and an empty data chunk, each with its checksum.
    const auto chunk = [](const QByteArray &length, const QByteArray &body) {
        uint32_t crc = 0xffffffffu;
        for (const char byte : body)
            for (int bit = 0, b = static_cast<unsigned char>(byte); bit < 8; ++bit, b >>= 1)
                crc = (crc >> 1) ^ (((crc ^ b) & 1) ? 0xedb88320u : 0);
        const char check[] = {char(~crc >> 24), char(~crc >> 16), char(~crc >> 8), char(~crc)};
        return QByteArray::fromHex(length) + body + QByteArray(check, 4);
    };
    ASSERT_TRUE(WriteFile("huge.png", QByteArray::fromHex("89504e470d0a1a0a") +
                                          chunk("0000000d", QByteArray::fromHex("494844520000ea600000ea600806000000")) + chunk("00000000", "IDAT")));
    Run("local id, m = loadTexture('huge.png') assert(id == nil and m:find('huge.png: the image is 60000 x 60000 pixels', 1, true), m)");
}

// The camera looks along +z at the plane z = 0, 100 units away; world +x
// goes left. A is the quad x 150..190, B x 210..250, both y 40..80. The
// cursor is over the background, away from the quads.
class ShaderGLTest : public ScriptApiTest
{
protected:
    void SetUp() override
    {
        ScriptApiTest::SetUp();
        Run("setCamPos(200, 50, -100) lookAt(200, 50, 0)\n"
            "function quad(x0, x1) beginQuadGL() vectorGL(x0, 40, 0) vectorGL(x1, 40, 0)\n"
            "  vectorGL(x1, 80, 0) vectorGL(x0, 80, 0) endGL() end\n");
        run->world().mouseMove(700, kViewHeight - 550);
        run->tick();   // the frame's inputs take the mouse
    }
};

const QRect kLowerHalf(0, 0, kViewWidth, kViewHeight / 2);   // the grid and the floor
bool Grid(QColor c) { return qAbs(c.red() - 153) < 3 && qAbs(c.green() - 25) < 3 && qAbs(c.blue() - 229) < 3; }
bool InvertedGrid(QColor c) { return Grid(QColor(255 - c.red(), 255 - c.green(), 255 - c.blue())); }

// Time and level are 0 without music; a render() that fails with a program
// bound leaves the rest of its frame and the next to fixed function.
TEST_F(ShaderGLTest, AProgramRecoloursOnlyWhatItDrawsAndIsUnboundAfterRender)
{
    for (const auto &[vertex, fragment, colour] :
         {std::tuple{"nil", "'uniform vec2 resolution, mouse, tint; uniform float time, level; void main() { gl_FragColor = "
                            "vec4(abs(resolution.x - 800.0) + abs(mouse.y - 550.0), 1.0, abs(tint.y - 0.5) + time + level, 1.0); }'", kGreen},
          {"nil", "'void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }'", kGreen},
          {"'void main() { gl_FrontColor = vec4(0.0, 0.0, 1.0, 1.0); gl_Position = ftransform(); }'", "nil", kBlue},
          {"'void main() { gl_FrontColor = gl_Color; gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex; }'",
           "'void main() { gl_FragColor = gl_Color.gbra; }'", kBlue}}) {
        Run(std::string("id = loadShader(") + vertex + ", " + fragment + ") "
            "setUniform(id, 'tint', 0.25, 0.5) setUniform(id, 'tint', 1) setUniform(id, 'nosuch', 1)");
        Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) useShader(0) quad(210, 250) end");
        run->paint();
        EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), colour) << vertex << " " << fragment;
        EXPECT_EQ(PixelAt(Vector3(230, 60, 0)), kRed) << vertex << " " << fragment;
    }
    Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) error('stop') end");
    run->paint();
    EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), kBlue);
    EXPECT_GE(Count(QRect(700 - 16, 550, 33, 1), Is(kGreen)), 1) << "the marker went through the program";
    Run("function render() colorGL(255, 0, 0, 255) quad(150, 190) end");
    run->paint();
    EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), kRed);
    EXPECT_GT(Count(kLowerHalf, Grid), 100);
}

TEST_F(ShaderGLTest, AFailedLoadReturnsNilAndTheFirstErrorWithItsLine)
{
    Run("local f = io.open('bad.frag', 'w') f:write('void main()\\n{\\n  gl_FragColor = vec4(1.0) +;\\n}\\n') f:close()");
    for (const auto &[call, start] : {std::pair{"loadShader(nil, 'void main() {\\n  gl_FragColor = nope;\\n}')", "fragment:2: "},
                                      {"loadShader('bad.frag', nil)", "bad.frag:3: "},
                                      {"loadShader(nil, 'none.frag')", "cannot read none.frag: no such file"},
                                      {"loadShader(nil, '../bad.frag')", "cannot read ../bad.frag: not a file in the production's folder"},
                                      {"setPostShader('bad.frag')", "bad.frag:3: "},
                                      {"setPostShader('#version 120\\nvoid main()\\n{ gl_FragColor = vec4(1.0) +; }')", "fragment:3: "},
                                      {"setPostShader('#version 330\\nout vec4 c;\\nvoid main() { c = vec4(1.0) +; }')", "fragment:3: "}}) {
        Run(std::string("a, b = ") + call);
        EXPECT_EQ(Eval("a"), "nil") << call;
        EXPECT_EQ(Eval("b").substr(0, std::strlen(start)), start) << call << " gave " << Eval("b");
    }
}

TEST_F(ShaderGLTest, APostPassInvertsTheSceneNotTheOverlaysKeepsThePickAndFollowsItsFile)
{
    Run("function render() colorGL(255, 255, 255, 255) quad(150, 190) end");
    run->paint();
    const Vector3 a = Window(Vector3(170, 60, 0));
    run->world().mouseMove(int(a.x), kViewHeight - int(a.y));
    run->paint();
    run->paint();
    const Vector3 pick = run->world().pickPoint();
    const float depth = run->world().pickDepth();
    ASSERT_LT(depth, 1.0f) << "the cursor is over the quad";
    const int grid = Count(kLowerHalf, Grid);
    EXPECT_EQ(Pixel(400, 580), kBlack);
    EXPECT_EQ(PixelAt(Vector3(180, 45, 0)), kWhite);
    Run("local f = io.open('post.frag', 'w') f:write('uniform sampler2D frame, depth;\\n"
        "void main() { gl_FragColor = vec4(1.0 - texture2D(frame, gl_FragCoord.xy / vec2(800.0, 600.0)).rgb, 1.0); }') "
        "f:close() post = setPostShader('post.frag')");
    run->paint();
    run->paint();
    EXPECT_EQ(Pixel(400, 580), kWhite);
    EXPECT_EQ(PixelAt(Vector3(180, 45, 0)), kBlack);
    EXPECT_NEAR(Count(kLowerHalf, Grid), grid, grid / 20);
    EXPECT_EQ(Count(kLowerHalf, InvertedGrid), 0);
    EXPECT_GE(Count(QRect(int(a.x) - 16, int(a.y), 33, 1), Is(kGreen)), 1) << "the marker is drawn over the pass";
    // The same depth to within one step of the 24-bit depth buffer.
    EXPECT_NEAR(run->world().pickDepth(), depth, 1.5 / (1 << 24));
    ExpectNear(run->world().pickPoint(), pick, 0.02f);
    // A save of its file, once settled, is relinked under the same id.
    Run("local f = io.open('post.frag', 'w') f:write('void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }') f:close()");
    EXPECT_TRUE(QTest::qWaitFor([&] {
        run->tick();
        run->paint();
        return Pixel(400, 580) == kBlue;
    }));
    EXPECT_EQ(Eval("setPostShader('post.frag')"), Eval("post"));
    Run("setPostShader(nil)");
    run->paint();
    EXPECT_EQ(Pixel(400, 580), kBlack);
}

// OSC from liblo's sender and MIDI on the run's queue: the callbacks once
// per message in arrival order before update(), the values, a bound track.
TEST_F(ScriptApiTest, ControllersReachTheScriptInArrivalOrder)
{
    ScratchDir scratch;
    EXPECT_EQ(Eval("openOsc('127.0.0.1:0')"), "true");
    EXPECT_EQ(Eval("select(2, sendOsc('127.0.0.1', 9, '/x', {}))"), "sendOsc sends numbers and strings, not a table (value 1)");
    Run("log = {} "
        "function OnOsc(path, ...) local t = {path} for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end log[#log + 1] = table.concat(t, ' ') end "
        "function OnMidi(s, a, b) log[#log + 1] = 'midi ' .. s .. ' ' .. a .. ' ' .. b end "
        "function update() if #log > 0 then log[#log + 1] = 'update ' .. tostring(oscValue('/b', 2)) .. ' ' .. midiCC(7) .. ' ' .. midiNote(60, 2) .. ' ' .. sync('fade') end end");
    ASSERT_TRUE(run->sync().bind("fade", ControlBinding{ControlBinding::MidiCC, 1, 7, ""}));
    const auto midi = [&](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        ControlMessage m;
        m.status = status, m.data1 = data1, m.data2 = data2;
        run->controllers().queue().push(m);
    };
    midi(0x91, 60, 127);
    const std::string port = std::to_string(run->controllers().osc().port());
    Run("assert(sendOsc('127.0.0.1', " + port + ", '/a', 1, 'two'))");
    Run("assert(sendOsc('127.0.0.1', " + port + ", '/b', 'x', 0.5))");
    std::string log;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        run->tick();
        log = Eval("table.concat(log, ';')");
        return log.find("/b") != std::string::npos;
    })) << log;
    // The datagrams may come in separate frames; their order stays, and
    // each frame's messages come before its update().
    EXPECT_EQ(Eval("table.concat((function() local t = {} for _, e in ipairs(log) do "
                   "if e:sub(1, 6) ~= 'update' then t[#t + 1] = e end end return t end)(), ';')"),
              "midi 145 60 127;/a 1 two;/b x 0.5");
    EXPECT_EQ(Eval("log[#log]"), "update 0.5 0 1 0");
    midi(0xB0, 7, 127);
    run->tick();
    EXPECT_EQ(Eval("log[#log]"), "update 0.5 1 1 1") << "the bound track follows its control";
    Run("function OnMidi() error('bad knob') end");
    midi(0xB0, 7, 127);
    run->tick();
    const std::vector<ErrorBoard::Line> lines = run->world().errors().lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(ErrorBoard::format(lines.back()).rfind("OnMidi()/OnOsc(): ", 0), 0u) << ErrorBoard::format(lines.back());
}

// tquad: quad() with the whole of the bound texture on it. C: a 64 x 64 canvas.
class CanvasGLTest : public ShaderGLTest
{
protected:
    void SetUp() override
    {
        ShaderGLTest::SetUp();
        Run("function tquad(x0, x1) beginQuadGL() texCoordGL(0, 0) vectorGL(x0, 40, 0) texCoordGL(1, 0) vectorGL(x1, 40, 0)\n"
            "  texCoordGL(1, 1) vectorGL(x1, 80, 0) texCoordGL(0, 1) vectorGL(x0, 80, 0) endGL() end\n"
            "C = newCanvas(64, 64)");
    }
    // The frame of `render` with canvas C shown on quad A, its error or "".
    std::string Shown(const std::string &render)
    {
        return Frame(render + " setCanvas() colorGL(255, 255, 255, 255) bindCanvas(C) tquad(150, 190) bindCanvas(0)");
    }
    QColor A() { return PixelAt(Vector3(170, 60, 0)); }
};

// Into C: a red quad and a blue one behind it, which C's own depth hides.
const std::string kRedBeforeBlue = "setCanvas(C) colorGL(255, 0, 0, 255) quad(100, 300) pushMatrixGL() translateGL(0, 0, 50) "
                                   "colorGL(0, 0, 255, 255) quad(100, 300) popMatrixGL() ";

TEST_F(CanvasGLTest, ACanvasKeepsWhatRenderDrewWithItsOwnDepthAcrossAReloadAndAStopInside)
{
    ASSERT_TRUE(WriteFile("prod.lua", "C = newCanvas(64, 64)\n"));
    EXPECT_EQ(run->run("prod.lua"), "");
    const std::string canvas = Eval("C");
    EXPECT_EQ(Shown(kRedBeforeBlue), "");
    EXPECT_EQ(A(), kRed);
    EXPECT_EQ(PixelAt(Vector3(230, 60, 0)), kBlack) << "drawn into C, not into the frame";
    EXPECT_EQ(run->run("prod.lua"), "");
    EXPECT_EQ(Eval("C"), canvas) << "the same canvas after a reload";
    EXPECT_EQ(Shown("setCanvas(C, false)"), "");
    EXPECT_EQ(A(), kRed) << "and its picture";
    // Stopped while drawing into C: the rest of the frame and the next draw into the view.
    GLint framebuffer = 0, viewport[4] = {};
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    SetRunTimeLimit(100);
    for (const char *stop : {"error('stop')", "while true do end"}) {
        Frame("setCanvas(C) bindCanvas(C) " + std::string(stop));
        EXPECT_EQ(Frame("colorGL(0, 255, 0, 255) quad(150, 190)"), "") << stop;
        EXPECT_EQ(A(), kGreen) << stop;
        GLint now = 0;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &now);
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::vector<GLint>({now, viewport[2], viewport[3]}), std::vector<GLint>({framebuffer, kViewWidth, kViewHeight})) << stop;
    }
    // C read while drawn into reads black, with one message and no GL error.
    Shown(kRedBeforeBlue);
    Shown("setCanvas(C, false) colorGL(255, 255, 255, 255) bindCanvas(C) translateGL(0, 0, -10) quad(100, 300)");
    EXPECT_EQ(A(), kBlack);
    const std::vector<ErrorBoard::Line> lines = run->world().errors().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ErrorBoard::format(lines[0]), "canvas: canvas " + canvas + " is read while it is drawn into: it reads as black");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(CanvasGLTest, PassesRunInOrderAtTheirScaleAndProgramsSampleCanvases)
{
    const std::string invert = "'uniform sampler2D frame; varying vec2 uv; void main() { gl_FragColor = vec4(1.0 - texture2D(frame, uv).rgb, 1.0); }'";
    Run("a, b = setPostShader('void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }', " + invert + ")");
    run->paint();
    EXPECT_EQ(Pixel(400, 580), QColor(Qt::cyan));
    EXPECT_EQ(Eval("setPassScale(b, 0.25)"), "true");
    run->paint();
    EXPECT_EQ(Count(QRect(0, 300, 600, 300), Is(QColor(Qt::cyan))), 600 * 300) << "the last pass stretched over the view, away from the marker";
    // The first pass at half size sees half the view as its passResolution.
    Run("h = setPostShader('uniform vec2 passResolution; void main() { gl_FragColor = vec4(passResolution / vec2(1600.0, 1200.0), 0.0, 1.0); }', b) "
        "setPassScale(h, 0.5)");
    run->paint();
    EXPECT_EQ(Pixel(400, 580), QColor(191, 191, 255));
    // A sampler given a canvas reads it; a program in the chain stays.
    Run("setPostShader(" + invert + ") p = loadShader(nil, 'uniform sampler2D picture; void main() { gl_FragColor = texture2D(picture, vec2(0.5)); }') "
        "setUniform(p, 'picture', C)");
    EXPECT_EQ(Shown(kRedBeforeBlue + "setCanvas() useShader(p) quad(210, 250)"), "");
    EXPECT_EQ(PixelAt(Vector3(230, 60, 0)), QColor(Qt::cyan)) << "red, inverted";
    Run("b = setPostShader(" + invert + ")");
    EXPECT_EQ(Eval("select(2, freeShader(b))"), "freeShader: program " + Eval("b") + " is in the post chain; set the chain without it first");
    EXPECT_EQ(Eval("freeShader(p)"), "true");
}

// Each frame adds 0.25 red to `previous`: the finished picture of the frame
// before, without the overlays, black again after a resize or a seek.
TEST_F(CanvasGLTest, PreviousIsTheFrameBeforeWithoutItsOverlays)
{
    Run("setPostShader('uniform sampler2D previous; varying vec2 uv; "
        "void main() { gl_FragColor = vec4(texture2D(previous, uv).r + 0.25, 0.0, 0.0, 1.0); }')");
    for (int frame = 1; frame <= 2; ++frame) {
        run->paint();
        EXPECT_NEAR(Pixel(400, 580).red(), 64 * frame, 1) << frame;
        Run("rotateCam(0.3)"); // the grid moves: one left in `previous` would show
    }
    EXPECT_EQ(Count(kLowerHalf, [](QColor c) { return c.red() > 140 && c.blue() < 20; }), 0);
    run->world().setViewport(0, 0, 400, 300);
    run->paint();
    EXPECT_NEAR(Pixel(200, 290).red(), 64, 1) << "after a resize";
    run->paint();
    run->followMusic();
    run->paint();
    EXPECT_NEAR(Pixel(200, 290).red(), 64, 1) << "after a seek";
}

TEST_F(CanvasGLTest, BadArgumentsGiveNilAndWhy)
{
    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    Run("p = loadShader(nil, 'void main() { gl_FragColor = vec4(1.0); }') many = {} for n = 1, 64 do many[n] = p end");
    for (const auto &[call, why] : std::vector<std::pair<std::string, std::string>>{{"newCanvas(-1, 8)", "newCanvas: a side is a whole number of pixels, 0 (the view's) or more"},
                                    {"newCanvas(8, " + std::to_string(limit + 1) + ")", "newCanvas: a side is at most " + std::to_string(limit) + " pixels here"},
                                    {"newCanvas(8, 8, 'rgb')", "newCanvas: unknown format \"rgb\" (\"rgba8\" or \"rgba16f\")"},
                                    {"newCanvas('x')", "newCanvas: give a width and a height in pixels (0: the view's)"},
                                    {"bindCanvas(7)", "bindCanvas: 7 is not a canvas"},
                                    {"freeCanvas({})", "freeCanvas: table is not a canvas"},
                                    {"setCanvas(C)", "setCanvas: only inside render(), outside a begin function and endGL"},
                                    {"setPostShader(unpack(many))", "setPostShader: at most 16 passes in a chain (64 given)"},
                                    {"setPostShader(p)", "setPostShader: " + Eval("p") + " is not a pass (a fragment stage given to setPostShader)"},
                                    {"setPassScale(p, 0.5)", "setPassScale: " + Eval("p") + " is not a pass (a fragment stage given to setPostShader)"},
                                    {"setPassScale(setPostShader('void main() { gl_FragColor = vec4(1.0); }'), 0/0)",
                                     "setPassScale: the scale is above 0 and at most 1 (a fraction of the view's size)"}})
        EXPECT_EQ(Run("local r, m = " + call + " print(tostring(r) .. ' ' .. m)"), "nil " + why);
    EXPECT_EQ(Eval("freeCanvas(C)"), "true");
    EXPECT_EQ(Frame("bindCanvas(C) setCanvas(C)"), "");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

} // namespace
