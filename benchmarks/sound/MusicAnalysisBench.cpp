// Music analysis benchmark, on a synthesised 3-minute and 10-minute track
// (pink noise with a tone, 128 kbit/s MP3, made at start-up; takes ~20 s).
//   BM_FrameLoop/<bands>/<minutes>   one call per frame of a 60 fps loop
//                                    (music time +16 ms a call), once the
//                                    frame index is complete
//   BM_RandomTime/<bands>/<minutes>  one call at a random time (a seek)
//   BM_FirstCalls/<minutes>/<where>  a new analysis (as when a production
//                                    first asks) whose first call lands at
//                                    0 (where=0) or at 90 % of the track
//                                    (where=90), then 300 frames of a frame
//                                    loop: first_call_ms, max_call_ms of all
//                                    301, calls_until_indexed
//   BM_MemoryAdded/<minutes>         heap in use (mallinfo2) and resident
//                                    set added by one analysis after it has
//                                    indexed the whole track; run first
// max_*_ms counters are wall time, as a frame loop feels it (on a busy
// machine they include time the thread was not running); the *_cpu_ms
// counters are the calling thread's CPU time for the same calls.
#include "Media.h"
#include "MusicAnalysis.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <malloc.h> // mallinfo2: heap in use
#include <time.h>   // clock_gettime: the thread's CPU time

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string gTrack[11]; // by length in minutes: 3 and 10
float gValues[kMaxSpectrumBands];

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the calling thread in ms.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

int LengthMs(int minutes)
{
    return minutes * 60000;
}

// Resident set size in bytes, from /proc/self/statm.
long ResidentBytes()
{
    long pages = 0, resident = 0;
    if (std::FILE *file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    return resident * 4096;
}

// Calls a frame loop until the analysis has indexed the whole track.
int IndexFully(MusicAnalysis &analysis)
{
    int calls = 0;
    for (int ms = 0; !analysis.IndexComplete() && calls < 100000; ms += 16, ++calls)
        analysis.Spectrum(ms, 64, gValues);
    return calls;
}

void BM_MemoryAdded(benchmark::State &state)
{
    const int minutes = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const size_t heapBefore = mallinfo2().uordblks;
        const long residentBefore = ResidentBytes();
        auto analysis = std::make_unique<MusicAnalysis>(gTrack[minutes]);
        IndexFully(*analysis);
        for (int ms = 0; ms < LengthMs(minutes); ms += LengthMs(minutes) / 97)
            analysis->Spectrum(ms, 256, gValues);
        state.counters["heap_MB"] = (mallinfo2().uordblks - static_cast<double>(heapBefore)) / 1e6;
        state.counters["resident_MB"] = (ResidentBytes() - residentBefore) / 1e6;
    }
}
BENCHMARK(BM_MemoryAdded)->Arg(3)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FrameLoop(benchmark::State &state)
{
    const int bands = static_cast<int>(state.range(0));
    const int minutes = static_cast<int>(state.range(1));
    MusicAnalysis analysis(gTrack[minutes]);
    IndexFully(analysis);
    int ms = 0;
    double worst = 0.0, worstCpu = 0.0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const double cpu = ThreadCpuMs();
        analysis.Spectrum(ms, bands, gValues);
        benchmark::DoNotOptimize(analysis.Level(ms));
        worstCpu = std::max(worstCpu, ThreadCpuMs() - cpu);
        worst = std::max(worst, MsSince(start));
        ms = (ms + 16) % LengthMs(minutes);
    }
    state.counters["max_call_ms"] = worst;
    state.counters["max_call_cpu_ms"] = worstCpu;
}
BENCHMARK(BM_FrameLoop)->ArgsProduct({{16, 64, 256}, {3, 10}})->Unit(benchmark::kMicrosecond);

void BM_RandomTime(benchmark::State &state)
{
    const int bands = static_cast<int>(state.range(0));
    const int minutes = static_cast<int>(state.range(1));
    MusicAnalysis analysis(gTrack[minutes]);
    IndexFully(analysis);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> time(0, LengthMs(minutes));
    double worst = 0.0, worstCpu = 0.0;
    for (auto _ : state) {
        const int ms = time(random);
        const Clock::time_point start = Clock::now();
        const double cpu = ThreadCpuMs();
        analysis.Spectrum(ms, bands, gValues);
        worstCpu = std::max(worstCpu, ThreadCpuMs() - cpu);
        worst = std::max(worst, MsSince(start));
    }
    state.counters["max_call_ms"] = worst;
    state.counters["max_call_cpu_ms"] = worstCpu;
}
BENCHMARK(BM_RandomTime)->ArgsProduct({{16, 64, 256}, {3, 10}})->Unit(benchmark::kMicrosecond);

void BM_FirstCalls(benchmark::State &state)
{
    const int minutes = static_cast<int>(state.range(0));
    const int from = LengthMs(minutes) / 100 * static_cast<int>(state.range(1));
    double first = 0.0, worst = 0.0, firstCpu = 0.0, worstCpu = 0.0, indexedAfter = 0.0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const double cpu = ThreadCpuMs();
        MusicAnalysis analysis(gTrack[minutes]);
        analysis.Spectrum(from, 64, gValues, start); // its budget counts from the open
        firstCpu = std::max(firstCpu, ThreadCpuMs() - cpu);
        first = std::max(first, MsSince(start));
        worst = std::max(worst, first);
        worstCpu = std::max(worstCpu, firstCpu);
        indexedAfter = 0.0;
        for (int call = 1; call <= 300; ++call) {
            const Clock::time_point begin = Clock::now();
            const double callCpu = ThreadCpuMs();
            analysis.Spectrum(from + 16 * call, 64, gValues);
            worstCpu = std::max(worstCpu, ThreadCpuMs() - callCpu);
            worst = std::max(worst, MsSince(begin));
            if (indexedAfter == 0.0 && analysis.IndexComplete())
                indexedAfter = call + 1;
        }
    }
    state.counters["first_call_ms"] = first;
    state.counters["first_call_cpu_ms"] = firstCpu;
    state.counters["max_call_ms"] = worst;
    state.counters["max_call_cpu_ms"] = worstCpu;
    state.counters["calls_until_indexed"] = indexedAfter;
}
BENCHMARK(BM_FirstCalls)->ArgsProduct({{3, 10}, {0, 90}})->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    for (const int minutes : {3, 10}) {
        gTrack[minutes] = QDir(dir.path()).filePath(QString("music%1.mp3").arg(minutes)).toStdString();
        const QString seconds = QString::number(minutes * 60);
        if (!dir.isValid() ||
            !MakeSynthMp3(QString::fromStdString(gTrack[minutes]),
                          {"synth", seconds, "pinknoise", "synth", seconds, "sine", "mix", "440", "gain", "-n", "-1"},
                          2, 128)) {
            std::fprintf(stderr, "could not synthesise the %d-minute track (sox and lame needed)\n", minutes);
            return 1;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
