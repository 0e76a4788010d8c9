// The music decoder and analysis on a synthesised 10-minute 320 kbit/s
// track (pink noise with a tone: the costliest to decode; made at start-up,
// ~10 s), through the FSOUND_ layer on the virtual clock:
//   BM_Open                 FSOUND_Stream_Open: the full scan and the
//                           analysis' own decoder (goal <= 150 ms)
//   BM_SpectrumWhilePlaying getMp3Spectrum(64) once per 60 fps frame while
//                           the music plays on (goal <= 50 us a call)
//   BM_FirstCallAfterSeek   a seek to a random time, then the spectrum
//                           (goal <= 0.3 ms); max_call_ms is the worst
//   BM_MemoryAdded          heap in use (mallinfo2) and resident set added
//                           by an open stream after it has played and been
//                           analysed all over (goal <= 16 MB); run first
// *_cpu counters are the calling thread's CPU time, wall time otherwise.
#include "FSound.h"
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
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string gTrack;
float gValues[kMaxSpectrumBands];
constexpr int kLengthMs = 600000;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

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

FSOUND_STREAM *Open()
{
    return FSOUND_Stream_Open(gTrack.c_str(), FSOUND_MPEGACCURATE, 0, 0);
}

void BM_MemoryAdded(benchmark::State &state)
{
    for (auto _ : state) {
        const size_t heapBefore = mallinfo2().uordblks;
        const long residentBefore = ResidentBytes();
        FSOUND_STREAM *stream = Open();
        FSOUND_Stream_Play(FSOUND_FREE, stream);
        std::vector<float> audio(2 * 800);
        for (int ms = 0; ms < kLengthMs; ms += kLengthMs / 97) {
            FSOUND_Stream_SetTime(stream, ms);
            for (int frame = 0; frame < 30; ++frame) {
                StreamSpectrum(stream, 256, gValues);
                FSOUND_AdvanceVirtualClock(1000.0 / 60, audio.data(), 735);
            }
        }
        state.counters["heap_MB"] = (mallinfo2().uordblks - static_cast<double>(heapBefore)) / 1e6;
        state.counters["resident_MB"] = (ResidentBytes() - residentBefore) / 1e6;
        FSOUND_Stream_Close(stream);
    }
}
BENCHMARK(BM_MemoryAdded)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Open(benchmark::State &state)
{
    for (auto _ : state)
        FSOUND_Stream_Close(Open());
}
BENCHMARK(BM_Open)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_SpectrumWhilePlaying(benchmark::State &state)
{
    FSOUND_STREAM *stream = Open();
    FSOUND_Stream_SetTime(stream, 60000);
    FSOUND_Stream_Play(FSOUND_FREE, stream);
    double worst = 0.0;
    for (auto _ : state) {
        const double cpu = ThreadCpuMs();
        StreamSpectrum(stream, static_cast<int>(state.range(0)), gValues);
        worst = std::max(worst, ThreadCpuMs() - cpu);
        state.PauseTiming();
        FSOUND_AdvanceVirtualClock(1000.0 / 60);
        if (!FSOUND_IsPlaying(0))
            FSOUND_Stream_Play(FSOUND_FREE, stream);
        state.ResumeTiming();
    }
    state.counters["max_call_cpu_ms"] = worst;
    FSOUND_Stream_Close(stream);
}
BENCHMARK(BM_SpectrumWhilePlaying)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);

void BM_FirstCallAfterSeek(benchmark::State &state)
{
    FSOUND_STREAM *stream = Open();
    FSOUND_Stream_Play(FSOUND_FREE, stream);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> time(0, kLengthMs - 1000);
    double worst = 0.0, worstCpu = 0.0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const double cpu = ThreadCpuMs();
        FSOUND_Stream_SetTime(stream, time(random));
        StreamSpectrum(stream, 64, gValues);
        worstCpu = std::max(worstCpu, ThreadCpuMs() - cpu);
        worst = std::max(worst, MsSince(start));
    }
    state.counters["max_call_ms"] = worst;
    state.counters["max_call_cpu_ms"] = worstCpu;
    FSOUND_Stream_Close(stream);
}
BENCHMARK(BM_FirstCallAfterSeek)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    gTrack = QDir(dir.path()).filePath("music10.mp3").toStdString();
    const QString seconds = QString::number(kLengthMs / 1000);
    if (!dir.isValid() ||
        !MakeSynthMp3(QString::fromStdString(gTrack),
                      {"synth", seconds, "pinknoise", "synth", seconds, "sine", "mix", "440", "gain", "-n", "-1"}, 2, 320)) {
        std::fprintf(stderr, "could not synthesise the track (sox and lame needed)\n");
        return 1;
    }
    FSOUND_SetVirtualClock(true);
    if (!FSOUND_Init(44100, 32, 1)) {
        std::fprintf(stderr, "FSOUND_Init failed: %d\n", FSOUND_GetError());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FSOUND_Close();
    return 0;
}
