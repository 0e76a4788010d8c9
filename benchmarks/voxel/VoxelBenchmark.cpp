// Cost of the voxel block: making it (time, and the memory it takes), carving
// and adding cells directly, as spheres and from Lua, and drawing the full
// block: in immediate mode with the render walk, and from the cache (its
// rectangles, or its faces one by one; still, with 1,000 edits a frame and
// with a sphere carved and added back every frame). The GL benchmarks need an X server
// (xvfb-run).
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "VoxelDrawCache.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <GL/glu.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h> // getrusage: peak resident memory

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- make

void BM_MakeVoxelBlock(benchmark::State &state)
{
    for (auto _ : state) {
        auto block = VoxelBlock::make();
        benchmark::DoNotOptimize(block.get());
        state.PauseTiming(); // freeing the 48 MB is not part of making
        block.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MakeVoxelBlock)->Unit(benchmark::kMillisecond)->Iterations(20);

// ---------------------------------------------------------------- carve and add

// Random cells of a cube of `range` cells along each index, centred in the
// block, from a small xorshift generator (a few ns per cell, included).
struct RandomCells
{
    uint32_t state = 0x9e3779b9u;
    int base, range;
    RandomCells(int r) : base((VoxelBlock::kSize - r) / 2), range(r) {}
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int Index() { return base + int(Next() % uint32_t(range)); }
};

// A carve or an add, chosen at random, of a random cell: over the whole
// block (range 100) or within a 16-cell cube, the way a brush carves. The
// warm-up brings the cube to its steady mix, where half its cells are
// empty and half the operations change the block.
void CarveAddMix(benchmark::State &state, int range)
{
    auto block = VoxelBlock::make();
    RandomCells random(range);
    auto step = [&] {
        const bool carve = random.Next() & 1;
        const int i = random.Index(), j = random.Index(), k = random.Index();
        carve ? block->carve(i, j, k) : block->add(i, j, k);
    };
    for (long n = 0; n < 6L * range * range * range; ++n)
        step();
    for (auto _ : state)
        step();
    benchmark::DoNotOptimize(block->surfaceHead());
}
void BM_CarveAddWholeBlock(benchmark::State &state) { CarveAddMix(state, VoxelBlock::kSize); }
void BM_CarveAddBrush16(benchmark::State &state) { CarveAddMix(state, 16); }
BENCHMARK(BM_CarveAddWholeBlock);
BENCHMARK(BM_CarveAddBrush16);

// Every operation changes the block: carve a random solid cell of the full
// block and add it back (the figure is per operation, two per iteration).
void BM_CarveThenAddBack(benchmark::State &state)
{
    auto block = VoxelBlock::make();
    RandomCells random(VoxelBlock::kSize);
    for (auto _ : state) {
        const int i = random.Index(), j = random.Index(), k = random.Index();
        block->carve(i, j, k);
        block->add(i, j, k);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_CarveThenAddBack);

// A sphere of radius 20 (33,401 cells) carved around a random cell of the
// block's middle, or added back (the figure is per sphere, both kinds).
void BM_CarveAddSphere20(benchmark::State &state)
{
    auto block = VoxelBlock::make();
    RandomCells random(40);
    bool carved = false;
    int ci = 50, cj = 50, ck = 50;
    for (auto _ : state) {
        if (!carved)
            ci = random.Index(), cj = random.Index(), ck = random.Index();
        carved ? block->addSphere(ci, cj, ck, 20) : block->carveSphere(ci, cj, ck, 20);
        carved = !carved;
    }
    state.SetItemsProcessed(state.iterations() * 33401);
}
BENCHMARK(BM_CarveAddSphere20)->Unit(benchmark::kMillisecond);

// carveVoxelAt and addVoxelAt from Lua through the script host (runaway
// guard on), 20,000 calls per run on random cells of the whole block; the
// figure is per call. BM_LuaEmptyLoop is the same loop calling a Lua
// function that does nothing, for comparison.
void LuaCalls(benchmark::State &state, const char *carve, const char *add)
{
    OpenScriptHost();
    RegisterScriptApi();
    std::string output, error;
    RunScriptCaptured("makeVoxelBlock() function nop() end "
                      "idx = {} for n = 1, 30000 do idx[n] = math.random(0, 99) end",
                      output, error);
    const std::string chunk = std::string("local c, a, idx = ") + carve + ", " + add +
                              ", idx for n = 1, 10000 do c(idx[n], idx[n + 1], idx[n + 2]) "
                              "a(idx[n + 3], idx[n + 4], idx[n + 5]) end";
    for (auto _ : state) {
        RunScriptCaptured(chunk, output, error);
        if (!error.empty())
            state.SkipWithError(error.c_str());
    }
    state.SetItemsProcessed(state.iterations() * 20000);
    CloseScriptHost();
}
void BM_LuaCarveAdd(benchmark::State &state) { LuaCalls(state, "carveVoxelAt", "addVoxelAt"); }
void BM_LuaEmptyLoop(benchmark::State &state) { LuaCalls(state, "nop", "nop"); }
BENCHMARK(BM_LuaCarveAdd)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaEmptyLoop)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- drawing

// A compatibility context rendering into a 403 x 442 framebuffer object
// with depth, the view looking at the block from outside a corner.
struct GLView
{
    std::unique_ptr<QOpenGLContext> context = std::make_unique<QOpenGLContext>();
    std::unique_ptr<QOffscreenSurface> surface = std::make_unique<QOffscreenSurface>();
    std::unique_ptr<QOpenGLFramebufferObject> fbo;

    bool Open()
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setDepthBufferSize(24);
        context->setFormat(format);
        if (!context->create())
            return false;
        surface->setFormat(context->format());
        surface->create();
        if (!context->makeCurrent(surface.get()))
            return false;
        fbo = std::make_unique<QOpenGLFramebufferObject>(403, 442, QOpenGLFramebufferObject::CombinedDepthStencil);
        fbo->bind();
        glViewport(0, 0, 403, 442);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(60.0, 403.0 / 442.0, 1.0, 10000.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(2200, 1800, 2400, 500, 500, 500, 0, 1, 0);
        glEnable(GL_DEPTH_TEST);
        return true;
    }
};

// One frame: clear, the quads that `sendQuads` sends, and a glFinish so the
// rasteriser's work counts. With `culled`, GL drops every face before
// rasterising, which leaves the cost of the calls alone.
template <typename Emit>
void Frames(benchmark::State &state, bool culled, Emit &&sendQuads)
{
    if (culled) {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
    }
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBegin(GL_QUADS);
        sendQuads();
        glEnd();
        glFinish();
    }
    glDisable(GL_CULL_FACE);
}

VoxelBlock *gDrawnBlock = nullptr;

void RenderWalk(benchmark::State &state, bool culled)
{
    Frames(state, culled, [] { RenderVoxelBlock(*gDrawnBlock); });
}

// The block from the cache of vertex arrays, as renderVoxelBlock draws it
// inside a quad bracket (the bracket closed around the draw). Before each
// frame `edit` changes the block; the cache rebuilds the chunks it touched.
template <typename Edit>
void CachedFrames(benchmark::State &state, bool culled, Edit &&edit)
{
    VoxelDrawCache cache;
    Frames(state, culled, [&] {
        edit();
        glEnd();
        cache.draw(*gDrawnBlock);
        glBegin(GL_QUADS);
    });
}

// 1,000 edits a frame: a 10-cell brush carved at a random place, then
// added back the next frame, and so on; or 1,000 random cells of the whole
// block carved or added (the worst case for the chunks: most change).
void Brush(RandomCells &random, bool &carved, int &bi, int &bj, int &bk)
{
    if (!carved) {
        bi = int(random.Next() % 90), bj = int(random.Next() % 90), bk = int(random.Next() % 90);
    }
    for (int i = bi; i < bi + 10; ++i)
        for (int j = bj; j < bj + 10; ++j)
            for (int k = bk; k < bk + 10; ++k)
                carved ? gDrawnBlock->add(i, j, k) : gDrawnBlock->carve(i, j, k);
    carved = !carved;
}

void BM_CachedDraw(benchmark::State &state) { CachedFrames(state, false, [] {}); }
// The faces one by one from the cache, as every state that could tell the
// rectangles apart gets them: here a 2D texturing left on with no texture,
// which colours nothing.
void BM_CachedDrawFaceByFace(benchmark::State &state)
{
    glEnable(GL_TEXTURE_2D);
    CachedFrames(state, false, [] {});
    glDisable(GL_TEXTURE_2D);
}
// A sphere of radius 20 carved into the top of the block every other frame
// and added back in between.
void BM_CachedDrawSphere20(benchmark::State &state)
{
    RandomCells random(60);
    bool carved = false;
    int ci = 50, cj = 50;
    CachedFrames(state, false, [&] {
        if (!carved)
            ci = random.Index(), cj = random.Index();
        carved ? gDrawnBlock->addSphere(ci, cj, 99, 20) : gDrawnBlock->carveSphere(ci, cj, 99, 20);
        carved = !carved;
    });
    if (carved)
        gDrawnBlock->addSphere(ci, cj, 99, 20);
}
void BM_CachedDrawCulled(benchmark::State &state) { CachedFrames(state, true, [] {}); }
void BM_CachedDrawBrush1000(benchmark::State &state)
{
    RandomCells random(100);
    bool carved = false;
    int bi = 0, bj = 0, bk = 0;
    CachedFrames(state, false, [&] { Brush(random, carved, bi, bj, bk); });
    if (carved)
        Brush(random, carved, bi, bj, bk);   // the block whole again
}
void BM_CachedDrawScattered1000(benchmark::State &state)
{
    RandomCells random(100);
    random.state = 0x1234567u;
    CachedFrames(state, false, [&] {
        for (int n = 0; n < 1000; ++n) {
            const int i = int(random.Next() % 100), j = int(random.Next() % 100), k = int(random.Next() % 100);
            (random.Next() & 1) ? gDrawnBlock->carve(i, j, k) : gDrawnBlock->add(i, j, k);
        }
    });
    for (int i = 0; i < 100; ++i)   // the block whole again
        for (int j = 0; j < 100; ++j)
            for (int k = 0; k < 100; ++k)
                gDrawnBlock->add(i, j, k);
}

void BM_RenderWalk(benchmark::State &state) { RenderWalk(state, false); }
void BM_RenderWalkCulled(benchmark::State &state) { RenderWalk(state, true); }

// Peak resident memory in kilobytes so far.
long MaxRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    // Memory first, while the process is small: the growth of the peak
    // resident size over one make is what the block costs.
    const long before = MaxRssKb();
    {
        auto block = VoxelBlock::make();
        std::printf("voxel block: sizeof(VoxelCell) %zu bytes, cells %.1f MB, peak RSS grew by %.1f MB over one make\n",
                    sizeof(VoxelCell), sizeof(VoxelCell) * double(VoxelBlock::kCellCount) / 1e6,
                    (MaxRssKb() - before) / 1e3);
    }

    benchmark::Initialize(&argc, argv);
    std::unique_ptr<QGuiApplication> app;
    std::unique_ptr<GLView> view;
    std::unique_ptr<VoxelBlock> drawn;
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        app = std::make_unique<QGuiApplication>(argc, argv);
        view = std::make_unique<GLView>();
        if (view->Open()) {
            drawn = VoxelBlock::make();
            gDrawnBlock = drawn.get();
            benchmark::RegisterBenchmark("BM_RenderWalk", BM_RenderWalk)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_RenderWalkCulled", BM_RenderWalkCulled)->Unit(benchmark::kMillisecond);
            {
                // What the cache keeps: resident memory over its first build.
                const long rssBefore = MaxRssKb();
                VoxelDrawCache cache;
                cache.draw(*gDrawnBlock);
                glFinish();
                std::printf("voxel draw cache: arrays and texture %.1f MB, peak RSS grew by %.1f MB over the first draw\n",
                            cache.bytes() / 1e6, (MaxRssKb() - rssBefore) / 1e3);
                glEnable(GL_TEXTURE_2D); // the faces one by one as well
                cache.draw(*gDrawnBlock);
                glDisable(GL_TEXTURE_2D);
                std::printf("voxel draw cache: %.1f MB with the faces one by one as well\n", cache.bytes() / 1e6);
            }
            benchmark::RegisterBenchmark("BM_CachedDraw", BM_CachedDraw)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_CachedDrawFaceByFace", BM_CachedDrawFaceByFace)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_CachedDrawCulled", BM_CachedDrawCulled)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_CachedDrawSphere20", BM_CachedDrawSphere20)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_CachedDrawBrush1000", BM_CachedDrawBrush1000)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_CachedDrawScattered1000", BM_CachedDrawScattered1000)->Unit(benchmark::kMillisecond);
        } else {
            std::printf("no OpenGL context: drawing benchmarks skipped\n");
        }
    } else {
        std::printf("no DISPLAY: drawing benchmarks skipped (run under xvfb-run)\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
