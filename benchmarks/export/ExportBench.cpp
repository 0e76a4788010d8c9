// Export speed: the real program exports the example production (its
// prod.lua, with 10 s of synthesised music) to H.264 at 60 fps, at 640x360
// and 1280x720. Needs a display (run under xvfb-run). Counters:
//   x_realtime     seconds of video per second of wall time (goal > 1)
//   update_ms, render_ms, raster_ms, readback_ms, ffmpeg_wait_ms
//                  per frame: the production's update(), render() with the
//                  GL calls, the GL finishing the picture, the read-back
//                  and flip, and waiting for ffmpeg to take the frame
//                  (the encoder runs beside the export, in its own process)
#include "Media.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const double kSeconds = 10.0;

void BM_ExportH264At60Fps(benchmark::State &state)
{
    QTemporaryDir folder;
    if (!QFile::copy(EXAMPLE_DIR "/prod.lua", folder.filePath("prod.lua")) ||
        !MakeToneMp3(folder.filePath("music.mp3"), kSeconds)) {
        state.SkipWithError("cannot set up the example production");
        return;
    }
    const QString size = QString("%1x%2").arg(state.range(0)).arg(state.range(1));
    QString timing;
    double wall = 0.0;
    for (auto _ : state) {
        QProcess velkaro;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VELKARO_EXPORT_TIMING", "1");
        velkaro.setProcessEnvironment(environment);
        velkaro.setWorkingDirectory(folder.path());
        const auto start = std::chrono::steady_clock::now();
        velkaro.start(VELKARO_EXE, {"--export", "bench.mp4", "--size", size, "--fps", "60"});
        if (!velkaro.waitForFinished(600000) || velkaro.exitCode() != 0) {
            state.SkipWithError(velkaro.readAllStandardError().constData());
            return;
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        timing = QString::fromUtf8(velkaro.readAllStandardError());
    }
    state.counters["x_realtime"] = kSeconds / wall;
    // "export timing per frame: update() 0.01 ms, render() and GL calls 1.97 ms, ..."
    const char *names[] = {"update_ms", "render_ms", "raster_ms", "readback_ms", "ffmpeg_wait_ms"};
    QRegularExpressionMatchIterator numbers =
        QRegularExpression("([0-9.]+) ms").globalMatch(timing.mid(timing.indexOf("export timing")));
    for (const char *name : names)
        if (numbers.hasNext())
            state.counters[name] = numbers.next().captured(1).toDouble();
}
BENCHMARK(BM_ExportH264At60Fps)->Args({640, 360})->Args({1280, 720})->Iterations(1)->UseManualTime()
    ->Unit(benchmark::kSecond);

// The preroll of --from: the example production with 10 minutes and 1 s of
// music, exported from 10 minutes on (three frames at 640x360), so its
// update() runs 36,000 times first without drawing. Counter: preroll_s,
// the wall time beyond the same three frames exported from 0.
void BM_PrerollTenMinutes(benchmark::State &state)
{
    QTemporaryDir folder;
    if (!QFile::copy(EXAMPLE_DIR "/prod.lua", folder.filePath("prod.lua")) ||
        !MakeToneMp3(folder.filePath("music.mp3"), 601.0)) {
        state.SkipWithError("cannot set up the example production");
        return;
    }
    const auto exportFrom = [&](const char *from, const char *to) {
        QProcess velkaro;
        velkaro.setWorkingDirectory(folder.path());
        const auto start = std::chrono::steady_clock::now();
        velkaro.start(VELKARO_EXE, {"--export", "bench.mp4", "--size", "640x360", "--fps", "60", "--from", from, "--to", to});
        if (!velkaro.waitForFinished(600000) || velkaro.exitCode() != 0)
            return -1.0;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double preroll = 0.0;
    for (auto _ : state) {
        const double late = exportFrom("600", "600.05"), early = exportFrom("0", "0.05");
        if (late < 0 || early < 0) {
            state.SkipWithError("the export failed");
            return;
        }
        state.SetIterationTime(late);
        preroll = late - early;
    }
    state.counters["preroll_s"] = preroll;
}
BENCHMARK(BM_PrerollTenMinutes)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
