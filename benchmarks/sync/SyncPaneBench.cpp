// The sync pane and its block edits at the size of a long production: 100
// tracks x 10,000 keys (a key every 4 rows, values of up to 6 digits).
// BM_PaneRedraw: one whole paint of the pane into an image, the time in the
// middle of the keys. Arg: the pane's width in pixels (1280: the columns a
// wide pane shows; 9000: all 100 columns at once); "columns" is how many
// were drawn. BM_Paste / BM_PasteUndo: a block of 10 tracks x 1,000 rows,
// a key on every row (10,000 keys), pasted at the cursor into 10 of the
// tracks, and that paste undone, each with sync.txt written after it as
// the pane does (Arg 1) or into a file of those 10 tracks alone (Arg 0),
// to show the writing's share. Run under xvfb-run or with
// QT_QPA_PLATFORM=offscreen.
#include "Production.h"
#include "SyncBlock.h"
#include "SyncPane.h"

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

const int kTracks = 100;
const int kKeys = 10000;

void Fill(SyncTracks &tracks, int count)
{
    std::mt19937 random(11);
    for (int t = 0; t < count; ++t) {
        SyncTrack *track = tracks.findOrAdd("group" + std::to_string(t % 8) + ":track." + std::to_string(t));
        for (int k = 0; k < kKeys; ++k)
            track->setKey(4 * k, static_cast<double>(random() % 2000000) / 1000.0 - 1000.0,
                          static_cast<Interpolation>(random() % 4));
    }
}

void BM_PaneRedraw(benchmark::State &state)
{
    Production production;
    Fill(production.sync().tracks(), kTracks);
    production.timeline().useVirtualClock(0.0);
    production.timeline().seekRow(2 * kKeys);
    SyncPane pane(&production);
    pane.resize(static_cast<int>(state.range(0)), 1000);
    QImage image(pane.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        pane.render(&image);
    state.counters["columns"] = pane.shownColumns();
}

void Paste(benchmark::State &state, bool timeUndo)
{
    QTemporaryDir dir;
    SyncFile sync(dir.filePath("sync.txt"));
    Fill(sync.tracks(), state.range(0) ? kTracks : 10);
    std::string error;
    SyncBlock block;
    std::string text = "#rows 1000\n";
    for (int t = 0; t < 10; ++t) {
        text += "track t" + std::to_string(t) + "\n";
        for (int row = 0; row < 1000; ++row)
            text += std::to_string(row) + " " + std::to_string(row % 97) + ".5 linear\n";
    }
    ParseSyncBlock(text, block, error);
    std::vector<std::string> targets;
    for (int t = 0; t < 10; ++t)
        targets.push_back(sync.tracks().track(t).name());
    for (auto _ : state) {
        if (timeUndo)
            state.PauseTiming();
        if (!sync.paste(block, targets, 2 * kKeys))
            state.SkipWithError("paste refused");
        if (timeUndo)
            state.ResumeTiming();
        else
            state.PauseTiming();
        if (!sync.undo())
            state.SkipWithError("undo refused");
        if (!timeUndo)
            state.ResumeTiming();
    }
}

void BM_Paste(benchmark::State &state) { Paste(state, false); }
void BM_PasteUndo(benchmark::State &state) { Paste(state, true); }

} // namespace

BENCHMARK(BM_PaneRedraw)->Arg(1280)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paste)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteUndo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
