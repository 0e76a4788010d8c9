// The script functions called from Lua in a real GL context: registration
// order, what the drawing functions emit (captured with GL_FEEDBACK), the
// colour rules, the camera functions, and a frame whose render() stops
// inside a bracket.
#include "DemoWorld.h"
#include "GLTestSupport.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "ScriptPrimitive.h"

#include <string>
#include <vector>

namespace {

// The real world of the program, with the overlays the frame draws.
class ScriptApiGLTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        OpenScriptHost();
        RegisterScriptApi();
        demo = std::make_unique<DemoWorld>();
        demo->setViewport(0, 0, kViewWidth, kViewHeight);
        // World units are window pixels: x right, y up, depth 0.5 - z / 2000.
        glMatrixMode(GL_PROJECTION);
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
    }

    // Runs `chunk`, expecting no error.
    void Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
    }
    // The chunk's results joined by spaces ("return ..." prepended).
    std::string Eval(const std::string &expression)
    {
        std::string output, error;
        RunScriptCaptured("print(table.concat({" + expression + "}, ' '))", output, error);
        EXPECT_EQ(error, "") << expression;
        return output.substr(0, output.find("\r\n"));
    }
    Feedback Capture(const std::string &chunk)
    {
        return captureFeedback([&] { Run(chunk); });
    }

    std::unique_ptr<DemoWorld> demo;
};

// Every vertex of the line primitives, in emission order.
std::vector<Vector3> LineVertices(const Feedback &fb)
{
    std::vector<Vector3> points;
    for (const Primitive &line : fb.lines)
        for (const FeedbackVertex &v : line)
            points.push_back(Vector3(v.x, v.y, (0.5f - v.z) * 2000.0f));
    return points;
}

TEST_F(ScriptApiGLTest, FunctionsAreRegisteredOnceInTheirFixedOrder)
{
    // The fixed table of 27, then the music analysis and the picture functions.
    const std::vector<std::string> expected = {"drawLine", "getCamPos", "setCamPos", "rotateCam", "lookAt",
        "beginTriGL", "beginQuadGL", "beginLinGL", "endGL", "vectorGL", "colorGL", "drawCube", "getMp3Time",
        "setMp3Time", "getMp3Length", "playMp3", "stopMp3", "isMp3Playing", "fullscreenMode", "windowedMode",
        "enableStdMouseCam", "disableStdMouseCam", "getMouseCursorPos", "makeVoxelBlock", "renderVoxelBlock",
        "carveVoxelAt", "addVoxelAt", "getMp3Spectrum", "getMp3Level", "setOverlays", "setClearColor"};
    const std::vector<luaL_Reg> functions = ScriptFunctions();
    ASSERT_EQ(functions.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(functions[i].name, expected[i]) << "position " << i + 1;
        lua_getglobal(gLuaState, functions[i].name);
        EXPECT_EQ(lua_tocfunction(gLuaState, -1), functions[i].func) << functions[i].name;
        lua_pop(gLuaState, 1);
    }
}

TEST_F(ScriptApiGLTest, DrawCubeEmitsTheSelectedFacesInTheFixedOrder)
{
    // A lines bracket shows the exact vertex stream; with quads Mesa reports
    // each face as two triangles.
    const std::vector<Vector3> all = LineVertices(Capture(
        "beginLinGL() drawCube(0, 0, 0, 2, true, true, true, true, true, true) endGL()"));
    const float s[24][3] = {
        {2, 0, 2}, {2, 0, 0}, {2, 2, 0}, {2, 2, 2},   {2, 2, 2}, {2, 2, 0}, {0, 2, 0}, {0, 2, 2},
        {2, 2, 2}, {0, 2, 2}, {0, 0, 2}, {2, 0, 2},   {0, 0, 2}, {0, 2, 2}, {0, 2, 0}, {0, 0, 0},
        {0, 0, 2}, {0, 0, 0}, {2, 0, 0}, {2, 0, 2},   {0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}};
    ASSERT_EQ(all.size(), 24u);
    for (int i = 0; i < 24; ++i)
        expectVecNear(all[i], Vector3(s[i][0], s[i][1], s[i][2]), 1e-3f);

    // Missing faces read false; 0 is true in Lua (here -X only).
    for (const auto &[faces, triangles] : {std::pair{"", 0u}, {", 0, nil, false, nil, nil, nil", 2u},
                                          {", true, true, true, true, true, true", 12u}})
        EXPECT_EQ(Capture(std::string("beginQuadGL() drawCube(0, 0, 0, 2") + faces + ") endGL()").polygons.size(),
                  triangles) << faces;

    // A negative edge mirrors the box to the other side of the corner.
    const std::vector<Vector3> mirrored = LineVertices(Capture(
        "beginLinGL() drawCube(10, 10, 10, -2, false, true) endGL()"));
    ASSERT_EQ(mirrored.size(), 4u);
    expectVecNear(mirrored[0], Vector3(8, 10, 8), 1e-3f);   // the "+X" face now lies at x = 8
}

TEST_F(ScriptApiGLTest, VerticesAndColoursFollowTheLooseNumberRules)
{
    for (const auto &[color, r] : {std::pair{"255.9", 1.0f}, {"256", 0.0f}, {"-1", 1.0f}, {"'128'", 128 / 255.0f},
                                   {"1e300", 1.0f}, {"-1e300", 0.0f}, {"1/0", 1.0f}, {"-1/0", 0.0f}, {"0/0", 0.0f},
                                   {"'x'", 0.0f}, {"{}", 0.0f}}) {
        const Feedback fb = Capture(std::string("colorGL(") + color + ", 0, 0, 255) beginLinGL() vectorGL(1, 1) vectorGL(5, 5) endGL()");
        ASSERT_EQ(fb.lines.size(), 1u) << color;
        EXPECT_NEAR(fb.lines[0][0].r, r, 1e-3f) << color;
    }

    const std::vector<Vector3> points = LineVertices(Capture(
        "beginLinGL() vectorGL('1', '2', '3') vectorGL('x') endGL()"));
    ASSERT_EQ(points.size(), 2u);
    expectVecNear(points[0], Vector3(1, 2, 3), 1e-3f);
    expectVecNear(points[1], Vector3(0, 0, 0), 1e-3f);

    Run("colorGL(1, 2, 3, 4) drawLine(1, 1, 0, 9, 9, 0)");
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(std::vector<GLfloat>(current, current + 4), std::vector<GLfloat>({1, 1, 1, 1})) << "drawLine leaves white";
}

TEST_F(ScriptApiGLTest, ThreeColourArgumentsDrawInvisiblyUnderBlending)
{
    const auto centrePixel = [&](const std::string &color) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        Run(color + " beginQuadGL() vectorGL(0, 0) vectorGL(800, 0) vectorGL(800, 600) vectorGL(0, 600) endGL()");
        GLubyte rgba[4];
        glReadPixels(400, 300, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return static_cast<int>(rgba[0]);
    };
    EXPECT_EQ(centrePixel("colorGL(255, 0, 0, 255)"), 255);
    EXPECT_EQ(centrePixel("colorGL(255, 0, 0)"), 0);
}

TEST_F(ScriptApiGLTest, CameraFunctionsReadAndSteerTheWorldCamera)
{
    EXPECT_EQ(Eval("getMouseCursorPos()"), "0 0 0") << "before the first pick";
    EXPECT_EQ(Eval("select('#', getCamPos()), select('#', getMouseCursorPos())"), "3 3");

    Run("setCamPos(1.1, -2, 300)");
    EXPECT_EQ(Eval("getCamPos()"), "1.1000000238419 -2 300") << "single precision, widened";
    expectVecNear(demo->camera().position(), Vector3(1.1f, -2.0f, 300.0f), 0.0f);
    Run("setCamPos()");
    expectVecNear(demo->camera().position(), Vector3(), 0.0f);

    // rotateCam with one argument turns by that yaw only; lookAt turns in place.
    World reference;
    reference.camera() = demo->camera();
    reference.rotateCamera(0.5f, 0.0f);
    Run("rotateCam(0.5)");
    EXPECT_TRUE(sameQuaternion(demo->camera().rotation(), reference.camera().rotation()));
    Run("setCamPos(10, 20, 30) lookAt(100, 20, 30)");
    expectVecNear(demo->camera().position(), Vector3(10, 20, 30), 0.0f);
    expectVecNear(forwardOf(demo->camera()), Vector3(1, 0, 0), 1e-5f);

    Run("disableStdMouseCam() disableStdMouseCam()");
    EXPECT_FALSE(demo->stdMouseCamEnabled());
    Run("enableStdMouseCam()");
    EXPECT_TRUE(demo->stdMouseCamEnabled());
}

TEST_F(ScriptApiGLTest, ARenderThatStopsInsideABracketLeavesTheFrameWhole)
{
    // The lines of a whole frame (grid, floor outline, marker) with a render()
    // that draws nothing, then with renders that stop inside a bracket.
    const auto frameLines = [&](const std::string &render) {
        Run("function render() " + render + " end");
        return captureFeedback([&] { demo->renderFrame(); }).lines.size();
    };
    const size_t whole = frameLines("");
    ASSERT_GT(whole, 100u);

    SetRunTimeLimit(100);
    for (const char *render : {"beginQuadGL() vectorGL(1, 2, 3) error('stop')",
                               "beginLinGL() while true do end",
                               "beginTriGL()"}) {
        EXPECT_EQ(frameLines(render), whole) << render;
        EXPECT_FALSE(ScriptPrimitiveOpen()) << render;
        EXPECT_EQ(frameLines(""), whole) << "the frame after " << render;
    }
}

} // namespace
