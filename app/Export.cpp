// The offline export: the same start-up as the window (script host, API,
// font, music, prod.lua) but no window and no console, an offscreen
// framebuffer of the requested size, the virtual music clock advanced by
// exactly one frame per frame, and every frame piped to ffmpeg as raw RGB.
// The result appears under its name only when complete: video goes to a
// temporary file beside OUT, PNG frames to a temporary folder beside them,
// and both are renamed into place at the end.
#include "Export.h"

#include "CommandLine.h"
#include "FSound.h"
#include "FfmpegPipe.h"
#include "Music.h"
#include "Production.h"
#include "ScriptApi.h"
#include "WorldWidget.h" // UseViewSurfaceFormat

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QStandardPaths>

#include <GL/gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- Signals --------------------------------------------------------------------

// The signal that asked the export to stop (SIGINT, SIGTERM), 0 while none.
// Lock-free, so the handler may set it; every wait of the export looks at it.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag is set in a signal handler");

void OnStopSignal(int signal)
{
    gStopSignal.store(signal);
}

// Ctrl+C and SIGTERM only raise the flag (the frame loop looks at it; no
// SA_RESTART, so a write blocked on ffmpeg returns); a dead ffmpeg shows
// as EPIPE on the write instead of killing the export with SIGPIPE.
void InstallSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int Refuse(const std::string &why)
{
    std::fprintf(stderr, "velkaro: %s\n", why.c_str());
    return 2;
}

void Note(const std::string &what)
{
    std::fprintf(stderr, "velkaro: note: %s\n", what.c_str());
}

int Fail(const std::string &why)
{
    std::fprintf(stderr, "velkaro: export failed: %s\n", why.c_str());
    return 1;
}

// --- Output files -------------------------------------------------------------------

// Where ffmpeg writes while the export runs, and the move into place.
class OutputFiles
{
public:
    explicit OutputFiles(const ExportOptions &options) : options(options) {}
    ~OutputFiles() { discard(); }

    // Checks OUT's folder; false with a reason when it cannot be written to.
    // PNG frames may name a folder that does not exist yet: it is made
    // (that folder only, not its parents), and removed again when the
    // export ends without frames in it.
    bool check(std::string &why)
    {
        const QFileInfo out(QString::fromStdString(options.output));
        const QFileInfo folder(out.absolutePath());
        if (options.format == ExportFormat::PngSequence && !folder.exists() && QFileInfo(folder.absolutePath()).isDir()) {
            if (!QDir().mkdir(folder.absoluteFilePath())) {
                why = "cannot make the folder '" + out.path().toStdString() + "'";
                return false;
            }
            madeFolder = folder.absoluteFilePath();
        }
        if (!QFileInfo(out.absolutePath()).isDir()) {
            why = "the folder '" + out.path().toStdString() + "' does not exist";
            return false;
        }
        if (!folder.isWritable()) {
            why = "the folder '" + out.path().toStdString() + "' is not writable";
            return false;
        }
        if (options.format != ExportFormat::PngSequence && out.isDir()) {
            why = "'" + options.output + "' is a folder";
            return false;
        }
        return true;
    }

    // Makes the temporary place; returns ffmpeg's target (file or pattern).
    bool prepare(std::string &target, std::string &why)
    {
        const QFileInfo out(QString::fromStdString(options.output));
        const QString pid = QString::number(getpid());
        if (options.format == ExportFormat::PngSequence) {
            tempFolder = out.absoluteDir().filePath(".velkaro-export-" + pid);
            if (!QDir().mkpath(tempFolder)) {
                why = "cannot make the folder " + tempFolder.toStdString();
                tempFolder.clear();
                return false;
            }
            target = QDir(tempFolder).filePath("%08d.png").toStdString();
        } else {
            tempFile = out.absoluteDir().filePath("." + out.fileName() + ".velkaro-" + pid + ".part");
            target = tempFile.toStdString();
        }
        return true;
    }

    // Moves the finished output into place over any earlier one; `bytes`
    // is what it holds.
    bool commit(long frames, long long &bytes, std::string &why)
    {
        bytes = 0;
        if (!tempFile.isEmpty()) {
            if (std::rename(tempFile.toLocal8Bit().constData(), options.output.c_str()) != 0) {
                why = "cannot rename the finished video to " + options.output + ": " + std::strerror(errno);
                return false;
            }
            tempFile.clear();
            bytes = QFileInfo(QString::fromStdString(options.output)).size();
            return true;
        }
        madeFolder.clear();   // it holds the frames now
        for (long k = 0; k < frames; ++k) {
            char name[32];
            std::snprintf(name, sizeof(name), "%08ld.png", k);
            const std::string from = QDir(tempFolder).filePath(name).toStdString();
            const std::string to = PngFrameName(options.output, k);
            if (std::rename(from.c_str(), to.c_str()) != 0) {
                why = "cannot move frame " + std::to_string(k) + " to " + to + ": " + std::strerror(errno);
                return false;
            }
            bytes += QFileInfo(QString::fromStdString(to)).size();
        }
        discard();
        return true;
    }

    // Removes whatever the export left in its temporary place.
    void discard()
    {
        if (!tempFile.isEmpty())
            QFile::remove(tempFile);
        if (!tempFolder.isEmpty())
            QDir(tempFolder).removeRecursively();
        if (!madeFolder.isEmpty())
            QDir().rmdir(madeFolder);   // only while empty
        tempFile.clear();
        tempFolder.clear();
        madeFolder.clear();
    }

private:
    const ExportOptions &options;
    QString tempFile;
    QString tempFolder;
    QString madeFolder;   // the folder check() made, while the export may still fail
};

// --- Soundtrack ---------------------------------------------------------------------

// The music as the production played it: the audio of each frame, handed
// over by the sound layer as the virtual clock advances (silence where the
// music was stopped, the new place after a seek), written raw to a
// temporary file; at the end it is muxed with the finished video, which
// ffmpeg wrote to a temporary file of its own. Both files go on every way out.
class Soundtrack
{
public:
    Soundtrack(const ExportOptions &options, const std::string &target)
        : options(options), video(target + ".video"), audio(target + ".f32"), rate(FSOUND_GetOutputRate())
    {
    }
    ~Soundtrack()
    {
        if (file)
            std::fclose(file);
        std::remove(video.c_str());
        std::remove(audio.c_str());
    }

    bool open(std::string &why)
    {
        file = std::fopen(audio.c_str(), "wb");
        if (!file || rate <= 0)
            why = "cannot write the soundtrack to " + audio + ": " + std::strerror(errno);
        return file && rate > 0;
    }

    // Advances the music clock by frame `frame` and keeps what it played:
    // the output frames between this frame's start and the next one's.
    bool advance(long frame, std::string &why)
    {
        const auto start = [this](long k) { return static_cast<long>(std::floor(k * rate / options.fps + 1e-9)); };
        const int frames = static_cast<int>(start(frame + 1) - start(frame));
        buffer.resize(2 * static_cast<size_t>(frames));
        FSOUND_AdvanceVirtualClock(1000.0 / options.fps, buffer.data(), frames);
        if (std::fwrite(buffer.data(), sizeof(float), buffer.size(), file) != buffer.size()) {
            why = "cannot write the soundtrack to " + audio + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    // Puts the video and the soundtrack into `target`.
    bool mux(const std::string &ffmpeg, const std::string &target, std::string &why)
    {
        if (std::fclose(file) != 0) {
            file = nullptr;
            why = "cannot write the soundtrack to " + audio + ": " + std::strerror(errno);
            return false;
        }
        file = nullptr;
        FfmpegPipe muxer;
        return muxer.start(ffmpeg, MuxArguments(options, video, audio, rate, target), why) && muxer.finish(why, &gStopSignal);
    }

    const ExportOptions &options;
    const std::string video, audio;

private:
    const int rate;
    std::FILE *file = nullptr;
    std::vector<float> buffer;
};

// --- Offscreen GL -------------------------------------------------------------------

// A context of the view's format, current on an offscreen surface, drawing
// into a framebuffer object with colour and depth of the export's size.
class OffscreenTarget
{
public:
    // 0 when ready, else an exit status (2: the size is beyond the GL) with
    // the reason written to stderr.
    int create(int width, int height)
    {
        const QSurfaceFormat format = QSurfaceFormat::defaultFormat();
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface))
            return Fail("cannot create an OpenGL context (run under xvfb-run on a machine without a display)");

        GLint renderbuffer = 0, texture = 0, viewport[2] = {0, 0};
        glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
        glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
        const int maxWidth = std::min({renderbuffer, texture, viewport[0]});
        const int maxHeight = std::min({renderbuffer, texture, viewport[1]});
        if (width > maxWidth || height > maxHeight)
            return Refuse("--size " + std::to_string(width) + "x" + std::to_string(height) +
                          " is beyond what this OpenGL can render (at most " + std::to_string(maxWidth) + "x" +
                          std::to_string(maxHeight) + ")");

        QOpenGLFramebufferObjectFormat fboFormat;
        fboFormat.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
        fboFormat.setInternalTextureFormat(GL_RGBA8);
        fbo = std::make_unique<QOpenGLFramebufferObject>(width, height, fboFormat);
        if (!fbo->isValid() || !fbo->bind())
            return Fail("cannot create a " + std::to_string(width) + "x" + std::to_string(height) +
                        " framebuffer");
        return 0;
    }

    ~OffscreenTarget()
    {
        if (fbo) {
            context.makeCurrent(&surface);
            fbo.reset();
            context.doneCurrent();
        }
    }

private:
    QOffscreenSurface surface;
    QOpenGLContext context;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
};

// --- Frame writer -------------------------------------------------------------------

// Writes frames to ffmpeg on a thread of its own, with two frame buffers:
// while one frame goes down the pipe the next one is rendered and read
// back, so the encoder taking its time does not stall the GL.
class FrameWriter
{
public:
    FrameWriter(FfmpegPipe &encoder, size_t frameBytes)
        : encoder(encoder), buffers{std::vector<unsigned char>(frameBytes), std::vector<unsigned char>(frameBytes)}
    {
        thread = std::thread([this] { run(); });
    }
    ~FrameWriter() { close(); }

    // The buffer to fill with the next frame, once the writer is done with
    // it; null when a write failed (the reason in error()) or a stop was
    // asked for while waiting (a signal cannot wake the wait, so it looks
    // at the flag every 50 ms).
    unsigned char *nextBuffer()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!changed.wait_for(lock, std::chrono::milliseconds(50), [this] { return !busy[fill] || failed; }))
            if (gStopSignal.load())
                return nullptr;
        return failed ? nullptr : buffers[fill].data();
    }

    // Queues the buffer that nextBuffer handed out.
    void submit()
    {
        std::lock_guard<std::mutex> lock(mutex);
        busy[fill] = true;
        queued.push_back(fill);
        fill ^= 1;
        changed.notify_all();
    }

    // Writes what is queued, then ends the thread. False when a write failed.
    bool close()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
            changed.notify_all();
        }
        if (thread.joinable())
            thread.join();
        return !failed;
    }

    const std::string &error() const { return why; }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            changed.wait(lock, [this] { return !queued.empty() || closing; });
            if (queued.empty())
                return;
            const int slot = queued.front();
            lock.unlock();
            std::string error;
            const bool ok = encoder.write(buffers[slot].data(), buffers[slot].size(), &gStopSignal, error);
            lock.lock();
            queued.pop_front();
            busy[slot] = false;
            if (!ok) {
                failed = true;
                why = error;
                queued.clear();
            }
            changed.notify_all();
            if (!ok)
                return;
        }
    }

    FfmpegPipe &encoder;
    std::vector<unsigned char> buffers[2];
    bool busy[2] = {false, false};
    int fill = 0;              // the buffer the frame loop fills next
    std::deque<int> queued;    // buffers waiting for the pipe, oldest first
    bool closing = false;
    bool failed = false;
    std::string why;
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
};

// --- Progress -----------------------------------------------------------------------

// One line updated in place on a terminal, a plain line per tenth
// otherwise, and the closing summary.
class Progress
{
public:
    Progress(long frames, double fps) : frames(frames), fps(fps), terminal(isatty(STDERR_FILENO)) {}

    void frameDone(long done)
    {
        const double wall = SecondsSince(start);
        if (terminal) {
            if (done < frames && wall - lastShown < 0.1)
                return;
            lastShown = wall;
            std::fprintf(stderr, "\r%s\033[K", line(done, wall).c_str());
            std::fflush(stderr);
        } else if (done * 10 / frames > tenthsShown) {
            tenthsShown = done * 10 / frames;
            std::fprintf(stderr, "export: %ld%% %s\n", tenthsShown * 10, line(done, wall).c_str());
        }
    }

    // Ends the in-place line before anything else is written.
    void interrupt()
    {
        if (terminal && lastShown >= 0.0)
            std::fputc('\n', stderr);
        lastShown = -1.0;
    }

    // `bytes`: the size of what was written (all frames for PNG).
    void summary(const std::string &output, long long bytes)
    {
        interrupt();
        const double wall = SecondsSince(start);
        const double video = frames / fps;
        char size[32];
        if (bytes >= 1000000)
            std::snprintf(size, sizeof(size), "%.1f MB", bytes / 1e6);
        else if (bytes >= 1000)
            std::snprintf(size, sizeof(size), "%.1f kB", bytes / 1e3);
        else
            std::snprintf(size, sizeof(size), "%lld bytes", bytes);
        std::fprintf(stderr, "export: %ld frames, %.2f s of video in %.2f s wall time (%.2fx real time): %s, %s\n",
                     frames, video, wall, wall > 0.0 ? video / wall : 0.0, output.c_str(), size);
    }

private:
    std::string line(long done, double wall) const
    {
        const double rate = wall > 0.0 ? done / wall : 0.0;
        const long left = rate > 0.0 ? static_cast<long>((frames - done) / rate + 0.5) : 0;
        char text[160];
        std::snprintf(text, sizeof(text), "frame %ld/%ld, %.2f of %.2f s, %.1f fps, %ld:%02ld left", done,
                      frames, done / fps, frames / fps, rate, left / 60, left % 60);
        return text;
    }

    const long frames;
    const double fps;
    const bool terminal;
    const Clock::time_point start = Clock::now();
    double lastShown = -1.0;
    long tenthsShown = 0;
};

// --- Timing -------------------------------------------------------------------------

// Where a frame's time goes, summed over the export; shown when the
// environment variable VELKARO_EXPORT_TIMING is set. With it on, the frame
// waits for the GL to finish before the read-back, so the two are apart.
struct Timing
{
    bool on = !qEnvironmentVariableIsEmpty("VELKARO_EXPORT_TIMING");
    double update = 0, render = 0, raster = 0, readback = 0, pipe = 0, finish = 0;

    void report(long frames) const
    {
        if (!on || frames <= 0)
            return;
        const double ms = 1000.0 / frames;
        std::fprintf(stderr,
                     "export timing per frame: update() %.2f ms, render() and GL calls %.2f ms, "
                     "GL raster %.2f ms, read-back %.2f ms, waiting for ffmpeg %.2f ms; "
                     "ffmpeg finishing %.2f s\n",
                     update * ms, render * ms, raster * ms, readback * ms, pipe * ms, finish);
    }
};

// Adds the time since `mark` to `sum` and moves `mark` on.
void Lap(double &sum, Clock::time_point &mark)
{
    const Clock::time_point now = Clock::now();
    sum += std::chrono::duration<double>(now - mark).count();
    mark = now;
}

// --- Failed frames -------------------------------------------------------------

// The first line of an error text, without its line end.
std::string TrimmedLine(const std::string &text)
{
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// Frames whose update() or render() failed: counted, the first error kept;
// a runaway callback ends the export at once.
class FrameFailures
{
public:
    // Takes in the outcome of the frame just run; true when the runaway
    // guard stopped one of its calls (the export must end).
    bool count(const Production &production)
    {
        if (production.frameError().empty())
            return false;
        if (failed++ == 0)
            first = TrimmedLine(production.frameError());
        if (!production.frameRunaway().empty() && !stopped) {
            stopped = true;
            guard = TrimmedLine(production.frameRunaway());
        }
        return stopped;
    }
    bool interrupted() const { return stopped; }

    // The end of an export whose frame call ran away: status 3, the
    // output left as it was.
    int runaway() const
    {
        std::fprintf(stderr, "velkaro: export stopped: %s\n", guard.c_str());
        std::fprintf(stderr, "velkaro: nothing exported; the output was left as it was\n");
        return 3;
    }

    // After a complete export: 0 when every frame ran clean, else 3 with
    // the count and the first error.
    int summary(long frames) const
    {
        if (failed == 0)
            return 0;
        std::fprintf(stderr, "velkaro: %ld of %ld frames failed; the first error: %s\n", failed, frames,
                     first.c_str());
        return 3;
    }

private:
    long failed = 0;
    std::string first;    // the first failed frame's error
    bool stopped = false;
    std::string guard;    // the runaway guard's message
};

int StopStatus()
{
    const int signal = gStopSignal.load();
    return signal == SIGINT ? 130 : 128 + signal;
}

} // namespace

int RunExport(const ExportOptions &requested, char *program)
{
    InstallSignalHandlers();
    ExportOptions options = requested;
    OutputFiles files(options);
    std::string why;
    if (!files.check(why))
        return Refuse(why);
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        return Fail("ffmpeg is not on PATH; install the Debian package ffmpeg (sudo apt-get install ffmpeg)");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return Fail("no display for OpenGL; on a machine without one run: xvfb-run -a velkaro --export " +
                    options.output);

    // Qt sees only the program name: every other argument is the export's.
    int qtArgc = 1;
    char *qtArgv[] = {program, nullptr};
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(qtArgc, qtArgv);
    std::setlocale(LC_NUMERIC, "C"); // numbers with "." for Lua and ffmpeg, as in the window

    // The run's own start-up, with an offscreen target for a surface. The
    // music's length settles the range before the production runs; with a
    // preroll the clocks start at 0 and the frames before --from are run
    // without being drawn. The production shuts down on every way out.
    OffscreenTarget target;
    Production production;
    int surfaceStatus = 0;
    bool rangeRefused = false;
    RunOptions run;
    run.mode = RunMode::Export;
    run.registerFunctions = RegisterScriptApi;
    run.buildSurface = [&] {
        surfaceStatus = target.create(options.width, options.height);
        if (surfaceStatus != 0)
            return false;
        production.world().setViewport(0, 0, options.width, options.height);
        production.world().setOverlays(options.overlays); // the production may still turn them on
        Production::SetFixedGLState();
        return true;
    };
    run.musicOpened = [&](std::string &reason) {
        const double musicSeconds = gMusicStream ? FSOUND_Stream_GetLengthMs(gMusicStream) / 1000.0 : -1.0;
        std::string note;
        reason = ResolveExportRange(options, musicSeconds, &note);
        rangeRefused = !reason.empty();
        if (!note.empty() && !rangeRefused)
            Note(note);
        return !rangeRefused;
    };
    // With a preroll the drawn frames lie on the whole export's frame grid:
    // the first is the frame nearest --from.
    const long prerollFrames = options.preroll ? std::lround(options.from * options.fps) : 0;
    run.from = options.preroll ? 0.0 : options.from;
    const std::string startError = production.start(run);
    if (surfaceStatus != 0)
        return surfaceStatus;
    if (gStopSignal)
        return StopStatus();
    if (rangeRefused || !startError.empty())
        return Refuse(rangeRefused ? startError : "nothing exported: " + TrimmedLine(startError));
    const long frames = ExportFrameCount(options);
    const double frameMs = 1000.0 / options.fps;

    // The frames before --from: update() only, the clocks moved on as a
    // whole export moves them, so the first frame drawn has the state it
    // has there.
    FrameFailures failures;
    for (long frame = 0; frame < prerollFrames && !gStopSignal; ++frame) {
        production.tick();
        if (failures.count(production))
            return failures.runaway();
        FSOUND_AdvanceVirtualClock(frameMs);
        production.timeline().advanceVirtualClock(frameMs / 1000.0);
    }
    if (gStopSignal)
        return StopStatus();

    std::string ffmpegTarget;
    if (!files.prepare(ffmpegTarget, why))
        return Fail(why);
    // With music, a video format gets the soundtrack the production played.
    std::unique_ptr<Soundtrack> soundtrack;
    if (gMusicStream && IsVideoFormat(options.format)) {
        soundtrack = std::make_unique<Soundtrack>(options, ffmpegTarget);
        if (!soundtrack->open(why))
            return Fail(why);
    }
    FfmpegPipe encoder;
    if (!encoder.start(ffmpeg.toStdString(), FfmpegArguments(options, soundtrack ? soundtrack->video : ffmpegTarget),
                       why))
        return Fail(why);

    // --- The frames: update() once, render once, read back, next frame's time.
    const size_t rowBytes = static_cast<size_t>(options.width) * 3;
    std::vector<unsigned char> pixels(rowBytes * options.height);
    FrameWriter writer(encoder, pixels.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    why.clear();
    Progress progress(frames, options.fps);
    Timing timing;
    for (long frame = 0; frame < frames && !gStopSignal; ++frame) {
        Clock::time_point mark = Clock::now();
        production.tick();
        Lap(timing.update, mark);
        production.paint();
        Lap(timing.render, mark);
        if (failures.count(production))
            break;
        if (timing.on) {
            glFinish();
            Lap(timing.raster, mark);
        }
        glReadPixels(0, 0, options.width, options.height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        Lap(timing.readback, mark);
        unsigned char *upright = writer.nextBuffer();
        Lap(timing.pipe, mark);
        if (!upright)
            break;
        // GL's rows run bottom up; ffmpeg wants the top row first.
        for (int row = 0; row < options.height; ++row)
            std::memcpy(upright + row * rowBytes, &pixels[(options.height - 1 - row) * rowBytes], rowBytes);
        writer.submit();
        Lap(timing.readback, mark);
        if (!soundtrack)
            FSOUND_AdvanceVirtualClock(frameMs);
        else if (!soundtrack->advance(prerollFrames + frame, why))
            break;
        production.timeline().advanceVirtualClock(frameMs / 1000.0);
        progress.frameDone(frame + 1);
    }

    progress.interrupt();
    if (failures.interrupted()) {
        encoder.terminate();
        writer.close();
        encoder.kill();
        return failures.runaway();
    }
    // A stop ends ffmpeg at once; the writer's wait for the pipe sees the
    // flag too. The temporary output goes with `files`.
    const auto stopped = [&] {
        encoder.terminate(); // a write waiting on the pipe returns
        writer.close();
        encoder.kill();
        std::fprintf(stderr, "velkaro: export stopped; %s left as it was\n", options.output.c_str());
        return StopStatus();
    };
    if (gStopSignal)
        return stopped();
    if (!writer.close() || !why.empty()) {
        if (gStopSignal)
            return stopped();
        std::string ended;
        encoder.finish(ended, &gStopSignal); // reaps ffmpeg; its own message is on stderr
        return Fail((why.empty() ? writer.error() : why) + (ended.empty() ? "" : " (" + ended + ")"));
    }
    const Clock::time_point finishing = Clock::now();
    if (!encoder.finish(why, &gStopSignal) || (soundtrack && !soundtrack->mux(ffmpeg.toStdString(), ffmpegTarget, why)))
        return gStopSignal ? stopped() : Fail(why);
    timing.finish = SecondsSince(finishing);
    if (gStopSignal)
        return stopped();
    long long bytes = 0;
    if (!files.commit(frames, bytes, why))
        return Fail(why);
    progress.summary(options.output, bytes);
    timing.report(frames);
    return failures.summary(prerollFrames + frames);
}
