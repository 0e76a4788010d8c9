// Music clock benchmark: plays a synthesised track for 20 s on the silent
// driver and reads FSOUND_Stream_GetTime every 10 ms, as a frame loop does.
// Counters (all in ms):
//   max_backward_step   largest decrease between two reads (goal: 0)
//   max_gap_to_wall     largest |music time - wall time since play|
//   gap_at_1s, gap_at_10s, final_gap_to_wall
//                       music time - wall time then; growth means the
//                       audio clock itself runs off the wall clock
//   jitter_rms, jitter_max  deviation of each read-to-read step of the
//                       music time from the wall time between the reads
// A second benchmark measures the cost of one GetTime call while playing.
#include "FSound.h"
#include "Media.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

FSOUND_STREAM *gStream = nullptr;

void BM_MusicClock20s(benchmark::State &state)
{
    for (auto _ : state) {
        FSOUND_Stream_Stop(gStream);
        const Clock::time_point begin = Clock::now();
        if (FSOUND_Stream_Play(FSOUND_FREE, gStream) != 0) {
            state.SkipWithError("play failed");
            return;
        }
        double maxBackward = 0.0, maxGap = 0.0, finalGap = 0.0;
        double gapAt1s = 0.0, gapAt10s = 0.0;
        double jitterSum = 0.0, jitterMax = 0.0;
        int steps = 0;
        int previous = FSOUND_Stream_GetTime(gStream);
        Clock::time_point previousAt = Clock::now();
        Clock::time_point tick = begin;
        while (MsBetween(begin, Clock::now()) < 20000.0) {
            tick += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(tick);
            const int ms = FSOUND_Stream_GetTime(gStream);
            const Clock::time_point at = Clock::now();
            const double wall = MsBetween(begin, at);
            maxBackward = std::max(maxBackward, static_cast<double>(previous - ms));
            maxGap = std::max(maxGap, std::fabs(ms - wall));
            finalGap = ms - wall;
            if (wall <= 1000.0)
                gapAt1s = finalGap;
            if (wall <= 10000.0)
                gapAt10s = finalGap;
            const double jitter = (ms - previous) - MsBetween(previousAt, at);
            jitterSum += jitter * jitter;
            jitterMax = std::max(jitterMax, std::fabs(jitter));
            ++steps;
            previous = ms;
            previousAt = at;
        }
        FSOUND_Stream_Stop(gStream);
        state.counters["max_backward_step"] = maxBackward;
        state.counters["max_gap_to_wall"] = maxGap;
        state.counters["gap_at_1s"] = gapAt1s;
        state.counters["gap_at_10s"] = gapAt10s;
        state.counters["final_gap_to_wall"] = finalGap;
        state.counters["jitter_rms"] = steps ? std::sqrt(jitterSum / steps) : 0.0;
        state.counters["jitter_max"] = jitterMax;
        state.counters["reads"] = steps;
    }
}
BENCHMARK(BM_MusicClock20s)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_GetTimeCall(benchmark::State &state)
{
    FSOUND_Stream_Stop(gStream);
    FSOUND_Stream_Play(FSOUND_FREE, gStream);
    for (auto _ : state)
        benchmark::DoNotOptimize(FSOUND_Stream_GetTime(gStream));
    FSOUND_Stream_Stop(gStream);
}
BENCHMARK(BM_GetTimeCall);

} // namespace

int main(int argc, char **argv)
{
    setenv("SDL_AUDIODRIVER", "dummy", 0); // silent unless the caller chose a driver
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !MakeToneMp3(QDir(dir.path()).filePath("music.mp3"), 22.0))
        return 1;
    if (!FSOUND_Init(44100, 32, 1))
        return 1;
    gStream = FSOUND_Stream_Open(QDir(dir.path()).filePath("music.mp3").toUtf8().constData(),
                                 FSOUND_MPEGACCURATE, 0, 0);
    if (!gStream)
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    FSOUND_Stream_Close(gStream);
    FSOUND_Close();
    benchmark::Shutdown();
    return 0;
}
