// The live input's analysis per frame, as a frame that follows the input
// does it: the newest 2048 samples copied from the capture ring, the
// analysis (level, Hann window, FFT, bins), the follower's take (smoothing
// 0.5, the 64 bands of the flux, the onset) and the spectrum in 64 bands.
// The device is SDL's disk driver reading a tone from a file, capturing on
// its own thread as a sound card would. Goal: at most 50 us a frame.
//   BM_InputFrame   wall time a frame; cpu_us the calling thread's CPU time
#include "SoundInput.h"
#include "SoundFollower.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <time.h> // clock_gettime: the thread's CPU time

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double ThreadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

void BM_InputFrame(benchmark::State &state)
{
    SoundInput input;
    if (!input.follow("")) {
        state.SkipWithError(input.problem().c_str());
        return;
    }
    SoundFollower follower;
    SpectrumWindow window;
    float samples[kSpectrumWindow];
    float bands[64];
    long long frame = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        const double start = ThreadCpuUs();
        const double rate = input.newest(samples);
        AnalyseWindow(samples, rate, window);
        follower.take(++frame, &window, input.capturedMs(), 0.5f);
        follower.spectrum(64, bands);
        benchmark::DoNotOptimize(bands);
        cpu += ThreadCpuUs() - start;
    }
    state.counters["cpu_us"] = cpu / static_cast<double>(frame);
}
BENCHMARK(BM_InputFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    const QString raw = QDir(dir.path()).filePath("in.raw");
    std::vector<float> tone(60 * 44100);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(i) / 44100.0f);
    QFile file(raw);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(tone.data()), static_cast<qint64>(tone.size() * sizeof(float))) < 0) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(raw));
        return 1;
    }
    file.close();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILEIN", raw.toLocal8Bit().constData(), 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
