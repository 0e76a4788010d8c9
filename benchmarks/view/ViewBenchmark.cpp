// Benchmarks of the view: the cost of one frame (UpdateFrame: the world's
// step, a synchronous repaint) for an empty production at three sizes and
// through a trivial post shader, with the output screen open, the
// share of it spent running "update()" and "render()", a production that
// draws 20,000 coloured quads every frame, one vectorGL call from Lua, the
// canvas and feedback examples, and the memory of canvases made and freed.
// Needs an X display (run under xvfb-run).
#include "ScriptApi.h"
#include "Production.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

// The view, counting its paints, so a run whose repaints did not happen
// (a window never exposed) is reported instead of measured.
class CountingView : public WorldWidget
{
public:
    explicit CountingView(Production *production) : WorldWidget(production) {}
    int paints = 0;

protected:
    void paintGL() override
    {
        WorldWidget::paintGL();
        ++paints;
    }
};

// A shown view of the given size with a fresh script host and API.
class ViewFixture
{
public:
    ViewFixture(int width, int height, const char *script)
    {
        production.openScriptHost(RegisterScriptApi);
        RunScript(script);
        widget = std::make_unique<CountingView>(&production);
        widget->resize(width, height);
        widget->show();
        exposed = QTest::qWaitForWindowExposed(widget.get());
        widget->UpdateFrame();   // first paint outside the measurement
    }
    // Marks the run failed unless every iteration painted.
    void check(benchmark::State &state, int paintsBefore)
    {
        if (!exposed || widget->paints - paintsBefore != static_cast<int>(state.iterations()))
            state.SkipWithError("the view did not paint every frame");
    }
    ~ViewFixture()
    {
        widget.reset();   // the production closes its script host
    }
    Production production;
    std::unique_ptr<CountingView> widget;
    bool exposed = false;
};

const char kQuads[] =
    "function render()\n"
    "  beginQuadGL()\n"
    "  for i = 0, 19999 do\n"
    "    local x, z = (i % 200) * 2, math.floor(i / 200) * 2\n"
    "    colorGL(i % 256, 128, 255 - i % 256, 255)\n"
    "    vectorGL(x, 1, z) vectorGL(x + 1, 1, z) vectorGL(x + 1, 1, z + 1) vectorGL(x, 1, z + 1)\n"
    "  end\n"
    "  endGL()\n"
    "end\n";

void BM_FrameEmptyProduction(benchmark::State &state)
{
    ViewFixture view(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), "");
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
    state.SetLabel(std::to_string(state.range(0)) + "x" + std::to_string(state.range(1)));
}
BENCHMARK(BM_FrameEmptyProduction)->Args({403, 442})->Args({1280, 720})->Args({1280, 1024})->Unit(benchmark::kMillisecond);

// The same frame through a trivial post shader (the scene drawn into a
// texture with its depth, one pass over the view, the overlays tested
// against that depth): the pass's cost is the difference to the empty
// production at the same size.
void BM_FramePostShader(benchmark::State &state)
{
    ViewFixture view(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                     "setPostShader('uniform sampler2D frame; varying vec2 uv;\\n"
                     "void main() { gl_FragColor = texture2D(frame, uv); }')");
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
    state.SetLabel(std::to_string(state.range(0)) + "x" + std::to_string(state.range(1)));
}
BENCHMARK(BM_FramePostShader)->Args({1280, 720})->Unit(benchmark::kMillisecond);

// The same frame with the output screen open (on the only screen here),
// its picture at 1280 x 720: the scene drawn once into the picture, shown
// letterboxed in the view with the overlays and alone in the output. Its
// cost is the difference to the empty production at 1280 x 720.
void BM_FrameOutputOpen(benchmark::State &state)
{
    ViewFixture view(1280, 720, "");
    view.widget->setOutputSize(QSize(1280, 720));
    const std::string why = view.widget->openOutput("1");
    if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    view.widget->UpdateFrame();
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
    view.widget->closeOutput();
}
BENCHMARK(BM_FrameOutputOpen)->Unit(benchmark::kMillisecond);

// The three canvas and feedback examples of the documentation, each a
// frame at 1280 x 720 with a cube turning in it; their cost is the
// difference to BM_FrameCube.
const char kCube[] =
    "setCamPos(200, 120, 380) lookAt(200, 0, 200)\n"
    "function cube() pushMatrixGL() translateGL(200 + 80 * math.cos(getTime() * 2), 20, 200) rotateGL(getTime() * 90, 0, 1, 0)\n"
    "  colorGL(255, 200, 40, 255) beginQuadGL() drawCube(-10, -10, -10, 20, true, true, true, true, true, true) endGL()\n"
    "  popMatrixGL() end\n";
const char kTrails[] =
    "setPostShader([[uniform sampler2D frame, previous; varying vec2 uv;\n"
    "void main() { vec3 before = texture2D(previous, uv).rgb * 0.92 - 0.004;\n"
    "  gl_FragColor = vec4(max(texture2D(frame, uv).rgb, before), 1.0); }]])\n"
    "function render() cube() end\n";
const char kBlur[] =
    "local blur = [[uniform sampler2D frame; uniform vec2 passResolution; varying vec2 uv;\n"
    "void main() { vec2 step = STEP / passResolution; vec4 sum = vec4(0.0);\n"
    "  for (int i = -4; i <= 4; ++i) sum += texture2D(frame, uv + float(i) * step);\n"
    "  gl_FragColor = sum / 9.0; }]]\n"
    "local h, v = setPostShader(blur:gsub('STEP', 'vec2(1.0, 0.0)'), (blur:gsub('STEP', 'vec2(0.0, 1.0)')))\n"
    "setPassScale(h, 0.5) setPassScale(v, 0.5)\n"
    "function render() cube() end\n";
const char kScreen[] =
    "local screen = newCanvas(256, 144)\n"
    "function render() setCanvas(screen) cube() setCanvas()\n"
    "  colorGL(20, 30, 80, 255) beginQuadGL() vectorGL(80, 0, 149) vectorGL(320, 0, 149) vectorGL(320, 135, 149) vectorGL(80, 135, 149) endGL()\n"
    "  colorGL(255, 255, 255, 255) bindCanvas(screen) beginQuadGL()\n"
    "  texCoordGL(0, 0) vectorGL(80, 0, 150) texCoordGL(1, 0) vectorGL(320, 0, 150)\n"
    "  texCoordGL(1, 1) vectorGL(320, 135, 150) texCoordGL(0, 1) vectorGL(80, 135, 150) endGL() bindCanvas(0)\n"
    "  cube() end\n";
const char kPlainCube[] = "function render() cube() end\n";

void BM_FrameCanvasExample(benchmark::State &state)
{
    const char *examples[] = {kPlainCube, kTrails, kBlur, kScreen};
    const char *names[] = {"cube alone", "trails from previous", "two-pass blur at half size", "a canvas on a quad"};
    ViewFixture view(1280, 720, (std::string(kCube) + examples[state.range(0)]).c_str());
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_FrameCanvasExample)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Resident memory in bytes (/proc/self/statm), 0 when it cannot be read.
long long ResidentBytes()
{
    long long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    const bool read = std::fscanf(statm, "%lld %lld", &pages, &resident) == 2;
    std::fclose(statm);
    return read ? resident * sysconf(_SC_PAGESIZE) : 0;
}

// 100 canvases made, drawn into and freed every frame, for 1,000 frames:
// resident memory before and after (a canvas's memory is its pixels only
// while it exists).
void BM_CanvasesMadeAndFreed(benchmark::State &state)
{
    ViewFixture view(403, 442, "function render() for i = 1, 100 do local c = newCanvas(64, 64)\n"
                               "  setCanvas(c) setCanvas() freeCanvas(c) end end\n");
    for (int frame = 0; frame < 20; ++frame)
        view.widget->UpdateFrame();   // the driver's own pools settle first
    const long long before = ResidentBytes();
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
    const long long after = ResidentBytes();
    state.counters["rss_before_MiB"] = before / 1048576.0;
    state.counters["rss_after_MiB"] = after / 1048576.0;
    state.counters["canvases_left"] = static_cast<double>(view.production.canvases().table().count());
    std::fprintf(stderr, "100 canvases a frame for %lld frames: resident %.1f MiB before, %.1f MiB after\n",
                 static_cast<long long>(state.iterations()), before / 1048576.0, after / 1048576.0);
}
BENCHMARK(BM_CanvasesMadeAndFreed)->Iterations(1000)->Unit(benchmark::kMillisecond);

// The two script calls of a frame alone, with the default callbacks.
void BM_FrameScriptCalls(benchmark::State &state)
{
    ViewFixture view(403, 442, "");
    std::string output, error;
    for (auto _ : state) {
        RunScriptCaptured("update()", output, error);
        RunScriptCaptured("render()", output, error);
    }
}
BENCHMARK(BM_FrameScriptCalls)->Unit(benchmark::kMicrosecond);

void BM_Frame20000Quads(benchmark::State &state)
{
    ViewFixture view(403, 442, kQuads);
    const int paints = view.widget->paints;
    for (auto _ : state)
        view.widget->UpdateFrame();
    view.check(state, paints);
}
BENCHMARK(BM_Frame20000Quads)->Unit(benchmark::kMillisecond);

// 100,000 vectorGL calls from a Lua loop in one bracket, in the view's
// context; the figure per call is the time divided by 100,000.
void BM_VectorGLFromLua(benchmark::State &state)
{
    ViewFixture view(403, 442, "");
    view.widget->makeCurrent();
    std::string output, error;
    for (auto _ : state)
        RunScriptCaptured("beginTriGL() for i = 1, 100000 do vectorGL(i, 2, 3) end endGL()", output, error);
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_VectorGLFromLua)->Unit(benchmark::kMillisecond);

// The Lua loop alone, calling an empty C function, to separate the loop's
// own cost from vectorGL's.
int EmptyFunction(lua_State *) { return 0; }
void BM_EmptyCallFromLua(benchmark::State &state)
{
    ViewFixture view(403, 442, "");
    RegisterFunction("emptyCall", EmptyFunction);
    std::string output, error;
    for (auto _ : state)
        RunScriptCaptured("for i = 1, 100000 do emptyCall(i, 2, 3) end", output, error);
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_EmptyCallFromLua)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
