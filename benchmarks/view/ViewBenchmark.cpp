// Benchmarks of the view: the cost of one frame (UpdateFrame: the world's
// step, a synchronous repaint) for an empty production at three sizes and
// through a trivial post shader, with the output screen open, the
// share of it spent running "update()" and "render()", a production that
// draws 20,000 coloured quads every frame, and one vectorGL call from Lua.
// Needs an X display (run under xvfb-run).
#include "ScriptApi.h"
#include "Production.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QTest>

#include <benchmark/benchmark.h>

#include <memory>

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
