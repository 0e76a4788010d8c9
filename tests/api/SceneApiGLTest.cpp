// Whole frames of a real Production (Production::paint into an 800 x 600
// framebuffer) read back as pixels: transforms, the lens and the pick,
// lighting, text, textures, and that nothing a render() does with them
// reaches the frame after it; shaders: programs that recolour what they
// draw, compile errors, uniforms, the post pass with its overlays and pick,
// live reload.
#include "GLTestSupport.h"
#include "Production.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <string>
#include <vector>

namespace {

class ProductionGLTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        Open();
    }
    void TearDown() override
    {
        run.reset();
        SetRunTimeLimit(5000);
    }
    void Open()
    {
        run.reset();   // before the new one: the old world's end clears gDemoWorld
        run = std::make_unique<Production>();
        run->openScriptHost(RegisterScriptApi);
        run->world().setViewport(0, 0, kViewWidth, kViewHeight);
        Production::SetFixedGLState();
    }
    void Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
    }
    // The value of a Lua expression as text.
    std::string Eval(const std::string &expression)
    {
        std::string output, error;
        RunScriptCaptured("print(tostring(" + expression + "))", output, error);
        return output.substr(0, output.find("\r\n"));
    }
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
    // Camera at distance 100 in front of the plane z = 0 around (1000, 1000),
    // far from the grid: 3 pixels per unit at the default lens.
    void FaceThePlane() { Run("setCamPos(1000, 1000, 100) lookAt(1000, 1000, 0)"); }

    ScratchDir scratch;
    std::unique_ptr<Production> run;
};

using SceneApiGLTest = ProductionGLTest;

const char kRedSquare[] = "colorGL(255, 0, 0, 255) beginQuadGL() vectorGL(990, 990, 0) vectorGL(1010, 990, 0) "
                          "vectorGL(1010, 1010, 0) vectorGL(990, 1010, 0) endGL() ";

// Red pixels in one row (away from the pick marker).
int RedRun(const QImage &picture, int row)
{
    int count = 0;
    for (int x = 0; x < picture.width(); ++x)
        count += picture.pixelColor(x, row) == QColor(255, 0, 0);
    return count;
}

TEST_F(SceneApiGLTest, TransformsPlaceWhatFollowsAndNeverOutliveTheirRender)
{
    FaceThePlane();
    // A 20 x 5 bar turned a quarter about z, then moved: x 1015..1020, y 1000..1020.
    EXPECT_EQ(Frame("colorGL(255, 0, 0, 255) pushMatrixGL() translateGL(1020, 1000, 0) rotateGL(90, 0, 0, 1) "
                    "beginQuadGL() vectorGL(0, 0, 0) vectorGL(20, 0, 0) vectorGL(20, 5, 0) vectorGL(0, 5, 0) endGL() "
                    "popMatrixGL()"), "");
    EXPECT_EQ(PixelAt(Vector3(1017.5f, 1015, 0)), QColor(255, 0, 0));
    EXPECT_NE(PixelAt(Vector3(1030, 1002.5f, 0)), QColor(255, 0, 0)) << "where the unturned bar would be";
    // Scaled twice as large about its corner; loadIdentityGL is the camera's view.
    EXPECT_EQ(Frame("scaleGL(2, 2, 1) translateGL(-500, -500, 0) " + std::string(kRedSquare)), "");
    EXPECT_EQ(PixelAt(Vector3(1005, 1005, 0)), QColor(255, 0, 0));
    // NaN, infinite or huge transforms and a zero axis are ignored, not poisoning the matrix.
    EXPECT_EQ(Frame("translateGL(50, 0, 0) loadIdentityGL() translateGL(0/0, 0, 0) translateGL(1/0, 1, 1) "
                    "scaleGL(1e300, 1, 1) rotateGL(0/0, 0, 0, 1) rotateGL(90, 0, 0, 0) rotateGL(90, 1e300, 0, 0) " +
                    std::string(kRedSquare)), "");
    EXPECT_EQ(PixelAt(Vector3(1000, 1000, 0)), QColor(255, 0, 0));

    // The default view with the grid: the frame after each of these renders
    // is the same picture as after an empty one.
    Open();
    SetRunTimeLimit(100);
    Frame("");
    const QImage reference = Picture();
    GLint depth = 0;
    for (const char *render : {"pushMatrixGL() translateGL(50, 0, 0) rotateGL(30, 1, 1, 0)",
                               "popMatrixGL() popMatrixGL() translateGL(0, 9, 0)",
                               "for i = 1, 100 do pushMatrixGL() scaleGL(2, 2, 2) end",
                               "pushMatrixGL() translateGL(0, 20, 0) error('stop')",
                               "pushMatrixGL() beginQuadGL() pushMatrixGL() popMatrixGL() scaleGL(0, 0, 0) while true do end",
                               "setLighting(true) setLineWidth(9) bindTexture(1) drawText(0, 0, 'x') error('stop')"}) {
        Frame(render);
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

TEST_F(SceneApiGLTest, TheLensNarrowsThePictureAndThePickFollows)
{
    FaceThePlane();
    Frame(kRedSquare);
    const int wide = RedRun(Picture(), 280);
    EXPECT_NEAR(wide, 60, 2) << "20 units at 3 pixels per unit";

    Run("setFov(45)");
    run->world().mouseMove(445, 300);   // over the square only at 45 degrees
    Frame(kRedSquare);
    Frame(kRedSquare);   // the pick of the frame before
    const int narrow = RedRun(Picture(), 280);
    EXPECT_NEAR(narrow / double(wide), 1.0 / std::tan(22.5 * M_PI / 180.0), 0.05);
    const Vector3 pick = run->world().pickPoint();
    EXPECT_NEAR(pick.z, 0.0f, 0.05f);
    EXPECT_NEAR(pick.x, 1000.0f + 45.0f * 100.0f * std::tan(22.5 * M_PI / 180.0) / 300.0f, 0.3f);

    // Ignored: NaN, an infinite angle, near <= 0, near >= far; a huge angle is 179.
    Run("setFov(0/0) setFov(1/0) setClipPlanes(0, 10) setClipPlanes(5, 5) setClipPlanes(0/0, 10) setClipPlanes(1, 1/0)");
    EXPECT_EQ(run->world().fieldOfViewDegrees(), 45.0f);
    EXPECT_EQ(run->world().nearClip(), 0.1f);
    Run("setFov(1e300)");
    EXPECT_EQ(run->world().fieldOfViewDegrees(), 179.0f);

    // Near plane beyond the square: nothing of it is left.
    Run("setFov(90) setClipPlanes(150, 1000)");
    Frame(kRedSquare);
    EXPECT_EQ(RedRun(Picture(), 280), 0);
}

TEST_F(SceneApiGLTest, LightingShadesTheCubesFacesOnlyWhenOn)
{
    Run("setCamPos(1040, 1030, 1020) lookAt(1000, 1000, 1000)");
    const std::string cube = "colorGL(200, 120, 80, 255) beginQuadGL() "
                             "drawCube(990, 990, 990, 20, true, true, true, true, true, true) endGL()";
    const auto faces = [&] {
        return std::vector<QColor>{PixelAt(Vector3(1010, 1000, 1000)), PixelAt(Vector3(1000, 1010, 1000)),
                                   PixelAt(Vector3(1000, 1000, 1010))};
    };
    Frame(cube);
    for (const QColor &face : faces())
        EXPECT_EQ(face, QColor(200, 120, 80)) << "unlit: the colour as given, normals or not";

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

TEST_F(SceneApiGLTest, TextLandsInTheCurrentColourAtItsViewPixel)
{
    Run("setCamPos(1000, 1000, 100) lookAt(1000, 1000, 0)");
    // Over a white quad that covers the view, drawn before it.
    Frame("colorGL(255, 255, 255, 255) beginQuadGL() vectorGL(900, 900, 0) vectorGL(1100, 900, 0) "
          "vectorGL(1100, 1100, 0) vectorGL(900, 1100, 0) endGL() "
          "colorGL(255, 0, 255, 255) drawText(100, 50, 'HELLO', 32) drawText(600, 400, 12345)");
    const QImage picture = Picture();
    int inside = 0, outside = 0, number = 0;
    for (int y = 0; y < kViewHeight; ++y)
        for (int x = 0; x < kViewWidth; ++x) {
            if (picture.pixelColor(x, y) != QColor(255, 0, 255))
                continue;
            if (x >= 600 && y >= 400)
                ++number;
            else if (x >= 100 && x < 100 + 5 * 32 && y >= 50 && y < 50 + 48)
                ++inside;
            else
                ++outside;
        }
    EXPECT_GT(inside, 100);
    EXPECT_GT(number, 20) << "a number is drawn as its text at the default size";
    EXPECT_EQ(outside, 0);

}

TEST_F(SceneApiGLTest, TexturesShowTheirPixelsFollowTheFileAndFailSoftly)
{
    QTemporaryDir folder;
    const QString file = folder.filePath("tex.png");
    // 4 x 4 in 2 x 2 blocks: top row red, green; bottom row blue, white.
    const auto save = [&](const QColor &topLeft) {
        QImage image(4, 4, QImage::Format_RGB32);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                image.setPixelColor(x, y, y < 2 ? (x < 2 ? topLeft : QColor(0, 255, 0))
                                                : (x < 2 ? QColor(0, 0, 255) : QColor(255, 255, 255)));
        ASSERT_TRUE(image.save(file + ".part", "PNG"));
        QFile::remove(file);
        ASSERT_TRUE(QFile::rename(file + ".part", file));
    };
    save(QColor(255, 0, 0));
    Run("T = loadTexture('" + file.toStdString() + "')");
    FaceThePlane();
    const std::string quad = "colorGL(255, 255, 255, 255) bindTexture(T) beginQuadGL() "
                             "texCoordGL(0, 0) vectorGL(980, 980, 0) texCoordGL(1, 0) vectorGL(1020, 980, 0) "
                             "texCoordGL(1, 1) vectorGL(1020, 1020, 0) texCoordGL(0, 1) vectorGL(980, 1020, 0) "
                             "endGL() bindTexture(0)";
    const auto quadrants = [&] {
        return std::vector<QColor>{PixelAt(Vector3(990, 1010, 0)), PixelAt(Vector3(1010, 1010, 0)),
                                   PixelAt(Vector3(990, 990, 0)), PixelAt(Vector3(1010, 990, 0))};
    };
    Frame(quad);
    EXPECT_EQ(quadrants(), (std::vector<QColor>{Qt::red, Qt::green, Qt::blue, Qt::white}));

    // Saved again (a later time stamp): the same id shows the new picture.
    save(QColor(255, 255, 0));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    f.close();
    Frame(quad);
    EXPECT_EQ(quadrants()[0], QColor(255, 255, 0));
    Run("assert(loadTexture('" + file.toStdString() + "') == T, 'one id per file')");

    // Freed: the quad is drawn untextured, in its white.
    Frame("freeTexture(T) " + quad);
    EXPECT_EQ(quadrants()[0], QColor(255, 255, 255));

    // Failures come back as nil and a message.
    QFile notImage(folder.filePath("notes.png"));
    ASSERT_TRUE(notImage.open(QIODevice::WriteOnly));
    notImage.write("not an image");
    notImage.close();
    for (const auto &[call, message] :
         {std::pair{"loadTexture('" + folder.filePath("missing.png").toStdString() + "')", "no such file"},
          {"loadTexture('" + notImage.fileName().toStdString() + "')", "not a PNG or JPEG image"},
          {"loadTexture('" + folder.path().toStdString() + "')", "not a regular file"},
          {"loadTexture()", "not a string"}, {"loadTexture({})", "not a string"}})
        Run("local id, m = " + call + " assert(id == nil and m:find('" + message + "'), m)");
}

// The camera looks along +z at the plane z = 0, 100 units away; world +x
// goes left. A is the quad x 150..190, B x 210..250, both y 40..80.
const char kScene[] =
    "setCamPos(200, 50, -100) lookAt(200, 50, 0)\n"
    "function quad(x0, x1) beginQuadGL() vectorGL(x0, 40, 0) vectorGL(x1, 40, 0)\n"
    "  vectorGL(x1, 80, 0) vectorGL(x0, 80, 0) endGL() end\n";

class ShaderGLTest : public ProductionGLTest
{
protected:
    void SetUp() override
    {
        ProductionGLTest::SetUp();
        Run(kScene);
        Cursor(700, 550);   // over the background, away from the quads
    }
    // The cursor at window pixel (x, y), y up.
    void Cursor(int x, int y) { run->world().mouseMove(x, kViewHeight - y); }
    void Paint() { run->paint(); }
    // Paints until a saved shader file has settled and been relinked.
    void PaintAfterSave()
    {
        Paint();
        QThread::msleep(Shaders::kSettleMs + 50);
        Paint();
    }
    // Pixels in the lower half (the grid and the floor) that `match`.
    int Count(bool (*match)(QColor))
    {
        const QImage picture = Picture();
        int n = 0;
        for (int y = 0; y < kViewHeight / 2; ++y)
            for (int x = 0; x < kViewWidth; ++x)
                n += match(picture.pixelColor(x, y));
        return n;
    }
    // Marker pixels (green) on the row through the cursor at (x, y).
    int Marker(int x, int y)
    {
        const QImage picture = Picture();
        int green = 0;
        for (int dx = -16; dx <= 16; ++dx)
            green += picture.pixelColor(x + dx, y) == QColor(Qt::green);
        return green;
    }
    std::string BoardText()
    {
        std::string text;
        for (const ErrorBoard::Line &line : run->world().errors().lines())
            text += ErrorBoard::format(line) + "\n";
        return text;
    }
};

const QColor kRed(Qt::red), kGreen(Qt::green), kBlue(Qt::blue), kWhite(Qt::white), kBlack(Qt::black);
bool Grid(QColor c) { return qAbs(c.red() - 153) < 3 && qAbs(c.green() - 25) < 3 && qAbs(c.blue() - 229) < 3; }
bool InvertedGrid(QColor c) { return Grid(QColor(255 - c.red(), 255 - c.green(), 255 - c.blue())); }

void WriteText(const QString &name, const QByteArray &text)
{
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// Each kind of program (fragment only, vertex only, both, using the
// compatibility built-ins) recolours quad A drawn through it and nothing
// else; after a render() that fails with a program bound the next frame,
// grid included, is fixed function.
TEST_F(ShaderGLTest, AProgramRecoloursOnlyWhatItDrawsAndIsUnboundAfterRender)
{
    const struct
    {
        const char *vertex, *fragment;
        QColor colour;
    } programs[] = {
        {"nil", "'void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }'", kGreen},
        {"'void main() { gl_FrontColor = vec4(0.0, 0.0, 1.0, 1.0); gl_Position = ftransform(); }'", "nil", kBlue},
        {"'void main() { gl_FrontColor = gl_Color; gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex; }'",
         "'void main() { gl_FragColor = gl_Color.gbra; }'", kBlue},
    };
    for (const auto &p : programs) {
        Run(std::string("id = loadShader(") + p.vertex + ", " + p.fragment + ")");
        ASSERT_NE(Eval("id"), "nil") << p.fragment;
        Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) useShader(0) quad(210, 250) end");
        Paint();
        EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), p.colour) << p.vertex << " " << p.fragment;
        EXPECT_EQ(PixelAt(Vector3(230, 60, 0)), kRed) << p.vertex << " " << p.fragment;
    }
    Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) error('stop') end");
    Paint();
    EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), kBlue);
    EXPECT_GE(Marker(700, 550), 1) << "the marker went through the program";
    Run("function render() colorGL(255, 0, 0, 255) quad(150, 190) end");
    Paint();
    EXPECT_EQ(PixelAt(Vector3(170, 60, 0)), kRed);
    EXPECT_GT(Count(Grid), 100);
}

// A failed load returns nil and the reason, the first error first with its
// file (or stage) and line.
TEST_F(ShaderGLTest, AFailedLoadReturnsNilAndTheFirstErrorWithItsLine)
{
    WriteText("bad.frag", "void main()\n{\n  gl_FragColor = vec4(1.0) +;\n}\n");
    const struct
    {
        std::string call, start;
    } cases[] = {
        {"loadShader(nil, 'void main() {\\n  gl_FragColor = nope;\\n}')", "fragment:2: "},
        {"loadShader('bad.frag', nil)", "bad.frag:3: "},
        {"loadShader(nil, 'none.frag')", "cannot read none.frag: no such file"},
        {"loadShader(nil, '../bad.frag')", "cannot read ../bad.frag: not a file in the production's folder"},
        {"loadShader()", "loadShader: give a vertex or a fragment stage"},
        {"loadShader(1, {})", "loadShader: each stage is GLSL text"},
        {"setPostShader('bad.frag')", "bad.frag:3: "},
    };
    for (const auto &c : cases) {
        Run("a, b = " + c.call);
        EXPECT_EQ(Eval("a"), "nil") << c.call;
        EXPECT_EQ(Eval("b").substr(0, c.start.size()), c.start) << c.call << " gave " << Eval("b");
    }
}

// Automatic uniforms (resolution, mouse; time and level are 0 without
// music) and setUniform's values reach the program; a value of the wrong
// type or for an unknown name is ignored.
TEST_F(ShaderGLTest, UniformsReachTheProgram)
{
    Run("id = loadShader(nil, 'uniform vec2 resolution, mouse, tint; uniform float time, level;\\n"
        "void main() { gl_FragColor = vec4(resolution.x / 1000.0, mouse.y / 1000.0, tint.y + time + level, 1.0); }')\n"
        "setUniform(id, 'tint', 0.25, 0.5) setUniform(id, 'tint', 1) setUniform(id, 'nosuch', 1)\n"
        "function render() useShader(id) quad(150, 190) end");
    Cursor(700, 400);
    Paint();
    const QColor pixel = PixelAt(Vector3(170, 60, 0));
    EXPECT_NEAR(pixel.red(), 204, 1);    // 800 / 1000
    EXPECT_NEAR(pixel.green(), 102, 1);  // 400 / 1000
    EXPECT_NEAR(pixel.blue(), 128, 1);   // 0.5
}

// An inverting post pass inverts the scene and its background, not the
// grid and the marker drawn after it; the pick finds the same point.
TEST_F(ShaderGLTest, APostPassInvertsTheSceneNotTheOverlaysAndKeepsThePick)
{
    Run("function render() colorGL(255, 255, 255, 255) quad(150, 190) end");
    Paint();
    const Vector3 a = Window(Vector3(170, 60, 0));
    Cursor(int(a.x), int(a.y));
    Paint();
    Paint();
    const Vector3 pick = run->world().pickPoint();
    const float depth = run->world().pickDepth();
    ASSERT_LT(depth, 1.0f) << "the cursor is over the quad";
    const int grid = Count(Grid);
    EXPECT_EQ(Pixel(400, 580), kBlack);
    EXPECT_EQ(PixelAt(Vector3(180, 45, 0)), kWhite);

    Run("post = setPostShader('uniform sampler2D frame, depth;\\n"
        "void main() { gl_FragColor = vec4(1.0 - texture2D(frame, gl_FragCoord.xy / vec2(800.0, 600.0)).rgb, 1.0); }')");
    ASSERT_NE(Eval("post"), "nil");
    Paint();
    Paint();
    EXPECT_EQ(Pixel(400, 580), kWhite);
    EXPECT_EQ(PixelAt(Vector3(180, 45, 0)), kBlack);
    EXPECT_NEAR(Count(Grid), grid, grid / 20);
    EXPECT_EQ(Count(InvertedGrid), 0);   // no inverted grid
    EXPECT_GE(Marker(int(a.x), int(a.y)), 1) << "the marker is drawn over the pass";
    // The same depth to within one step of the 24-bit depth buffer.
    EXPECT_NEAR(run->world().pickDepth(), depth, 1.5 / (1 << 24));
    ExpectNear(run->world().pickPoint(), pick, 0.02f);

    Run("setPostShader(nil)");
    Paint();
    EXPECT_EQ(Pixel(400, 580), kBlack);
}

// A saved post shader file is relinked under the same id; a broken save
// keeps the last good one and puts its first error on the board until a
// good save.
TEST_F(ShaderGLTest, ABrokenSaveKeepsTheLastGoodProgramWithItsErrorShown)
{
    WriteText("post.frag", "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n");
    Run("post = setPostShader('post.frag')");
    ASSERT_NE(Eval("post"), "nil");
    Paint();
    EXPECT_EQ(Pixel(400, 580), kGreen);
    WriteText("post.frag", "void main()\n{ gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0) }\n");
    PaintAfterSave();
    EXPECT_EQ(Pixel(400, 580), kGreen);
    EXPECT_EQ(BoardText().substr(0, 19), "shader: post.frag:2") << BoardText();
    WriteText("post.frag", "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n");
    PaintAfterSave();
    EXPECT_EQ(Pixel(400, 580), kBlue);
    EXPECT_EQ(BoardText(), "");
    EXPECT_EQ(Eval("setPostShader('post.frag')"), Eval("post"));
}

} // namespace
