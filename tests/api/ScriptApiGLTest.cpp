// The script functions from Lua in a real GL context: what the drawing
// functions emit (GL_FEEDBACK), the colour rules, the voxel colours, the
// camera functions, and a frame whose render() stops inside a bracket.
#include "DemoWorld.h"
#include "GLTestSupport.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "ScriptPrimitive.h"
#include "VoxelRender.h"

#include <string>

namespace {

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
        glMatrixMode(GL_PROJECTION); // world units are window pixels: x right, y up, depth 0.5 - z / 2000
        glLoadIdentity();
        glOrtho(0, kViewWidth, 0, kViewHeight, -1000, 1000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    void TearDown() override { demo.reset(); CloseScriptHost(); SetRunTimeLimit(5000); }
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
TEST_F(ScriptApiGLTest, DrawCubeEmitsTheSelectedFacesOfItsBoxWoundOutward)
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
TEST_F(ScriptApiGLTest, VerticesAndColoursFollowTheLooseNumberRules)
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

TEST_F(ScriptApiGLTest, CameraFunctionsReadAndSteerTheWorldCamera)
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
TEST_F(ScriptApiGLTest, ARenderThatStopsInsideABracketLeavesTheFrameWhole)
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

} // namespace
