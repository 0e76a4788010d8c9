// Shaders from Lua in a real GL context, read back as pixels of whole
// production frames (Production::paint into an 800 x 600 framebuffer):
// programs that recolour what they draw, the reset after render(), compile
// errors, uniforms, the post pass with its overlays and pick, live reload.
#include "GLTestSupport.h"
#include "Production.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <QColor>
#include <QFile>
#include <QThread>

#include <string>

namespace {

// The camera looks along +z at the plane z = 0, 100 units away; world +x
// goes left. A is the quad x 150..190, B x 210..250, both y 40..80.
const char kScene[] =
    "setCamPos(200, 50, -100) lookAt(200, 50, 0)\n"
    "function quad(x0, x1) beginQuadGL() vectorGL(x0, 40, 0) vectorGL(x1, 40, 0)\n"
    "  vectorGL(x1, 80, 0) vectorGL(x0, 80, 0) endGL() end\n";

class ShaderGLTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        production = std::make_unique<Production>();
        production->openScriptHost(RegisterScriptApi);
        Production::SetFixedGLState();
        production->world().setViewport(0, 0, kViewWidth, kViewHeight);
        Run(kScene);
        Cursor(700, 550);   // over the background, away from the quads
    }
    void TearDown() override { production.reset(); }

    void Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
    }
    std::string Eval(const std::string &expression)
    {
        std::string output, error;
        RunScriptCaptured("print(tostring(" + expression + "))", output, error);
        return output.substr(0, output.find("\r\n"));
    }
    // The cursor at window pixel (x, y), y up.
    void Cursor(int x, int y) { production->world().mouseMove(x, kViewHeight - y); }
    void Paint() { production->paint(); }
    // Paints until a saved shader file has settled and been relinked.
    void PaintAfterSave()
    {
        Paint();
        QThread::msleep(Shaders::kSettleMs + 50);
        Paint();
    }
    QRgb Pixel(int x, int y)
    {
        unsigned char p[4] = {};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return qRgb(p[0], p[1], p[2]);
    }
    QRgb PixelAt(float x, float y) { const Vector3 w = Window(Vector3(x, y, 0)); return Pixel(int(w.x), int(w.y)); }
    // Pixels in the lower half (the grid and the floor) that `match`.
    int Count(bool (*match)(QRgb))
    {
        std::vector<unsigned char> p(kViewWidth * kViewHeight / 2 * 4);
        glReadPixels(0, 0, kViewWidth, kViewHeight / 2, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        int n = 0;
        for (size_t i = 0; i < p.size(); i += 4)
            n += match(qRgb(p[i], p[i + 1], p[i + 2]));
        return n;
    }
    // Marker pixels (green) on the row through the cursor at (x, y).
    int Marker(int x, int y)
    {
        int green = 0;
        for (int dx = -16; dx <= 16; ++dx)
            green += Pixel(x + dx, y) == qRgb(0, 255, 0);
        return green;
    }
    std::string BoardText()
    {
        std::string text;
        for (const ErrorBoard::Line &line : production->world().errors().lines())
            text += ErrorBoard::format(line) + "\n";
        return text;
    }

    ScratchDir scratch;
    std::unique_ptr<Production> production;
};

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0);
bool Grid(QRgb c) { return qAbs(qRed(c) - 153) < 3 && qAbs(qGreen(c) - 25) < 3 && qAbs(qBlue(c) - 229) < 3; }
bool InvertedGrid(QRgb c) { return Grid(qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c))); }

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
        QRgb colour;
    } programs[] = {
        {"nil", "'void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }'", kGreen},
        {"'void main() { gl_FrontColor = vec4(0.0, 0.0, 1.0, 1.0); gl_Position = ftransform(); }'", "nil", kBlue},
        {"'void main() { gl_FrontColor = gl_Color; gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex; }'",
         "'void main() { gl_FragColor = gl_Color.gbra; }'", qRgb(0, 0, 255)},
    };
    for (const auto &p : programs) {
        Run(std::string("id = loadShader(") + p.vertex + ", " + p.fragment + ")");
        ASSERT_NE(Eval("id"), "nil") << p.fragment;
        Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) useShader(0) quad(210, 250) end");
        Paint();
        EXPECT_EQ(PixelAt(170, 60), p.colour) << p.vertex << " " << p.fragment;
        EXPECT_EQ(PixelAt(230, 60), kRed) << p.vertex << " " << p.fragment;
    }
    Run("function render() colorGL(255, 0, 0, 255) useShader(id) quad(150, 190) error('stop') end");
    Paint();
    EXPECT_EQ(PixelAt(170, 60), kBlue);
    EXPECT_GE(Marker(700, 550), 1) << "the marker went through the program";
    Run("function render() colorGL(255, 0, 0, 255) quad(150, 190) end");
    Paint();
    EXPECT_EQ(PixelAt(170, 60), kRed);
    EXPECT_GT(Count(Grid), 100);
}

// A failed load returns nil and the reason, the first error first with its
// file (or stage) and line; wrong arguments never raise an error.
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
    Run("useShader('x') useShader() setUniform() setUniform(1, 2, 3) setUniform(1, 'a', 'b') setPostShader(5)");
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
    const QRgb pixel = PixelAt(170, 60);
    EXPECT_NEAR(qRed(pixel), 204, 1);    // 800 / 1000
    EXPECT_NEAR(qGreen(pixel), 102, 1);  // 400 / 1000
    EXPECT_NEAR(qBlue(pixel), 128, 1);   // 0.5
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
    const Vector3 pick = production->world().pickPoint();
    const float depth = production->world().pickDepth();
    ASSERT_LT(depth, 1.0f) << "the cursor is over the quad";
    const int grid = Count(Grid);
    EXPECT_EQ(Pixel(400, 580), kBlack);
    EXPECT_EQ(PixelAt(180, 45), kWhite);

    Run("post = setPostShader('uniform sampler2D frame, depth;\\n"
        "void main() { gl_FragColor = vec4(1.0 - texture2D(frame, gl_FragCoord.xy / vec2(800.0, 600.0)).rgb, 1.0); }')");
    ASSERT_NE(Eval("post"), "nil");
    Paint();
    Paint();
    EXPECT_EQ(Pixel(400, 580), kWhite);
    EXPECT_EQ(PixelAt(180, 45), kBlack);
    EXPECT_NEAR(Count(Grid), grid, grid / 20);
    EXPECT_EQ(Count(InvertedGrid), 0);   // no inverted grid
    EXPECT_GE(Marker(int(a.x), int(a.y)), 1) << "the marker is drawn over the pass";
    // The same depth to within one step of the 24-bit depth buffer.
    EXPECT_NEAR(production->world().pickDepth(), depth, 1.5 / (1 << 24));
    ExpectNear(production->world().pickPoint(), pick, 0.02f);

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
