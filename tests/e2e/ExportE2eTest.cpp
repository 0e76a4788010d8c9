// End to end: the export.
#include "Media.h"
#include "Program.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

// Each frame in colours of its music time t: below the middle red = 8 *
// round(10 t), green = 255 - red, blue = 200 while playing; above it red =
// the sync track "red" (from 0 at row 0 linearly to 240 at row 16, 2 s at 120
// bpm, then held: 12 a tenth of a second), green and blue 255. With SEEK_AT
// set, that frame's update() seeks to SEEK_TO. "red" is bound to a knob, as a
// recording leaves it: the export plays its keys.
const char kSync[] = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#control red midi-cc 1 7\ntrack red\n0 0 linear\n"
                     "16 240 step\n";
const char kClock[] =
    "playMp3() setCamPos(0, 500, 100) lookAt(0, 500, 0) local frame = -1\n"
    "function update() frame = frame + 1 if SEEK_AT and frame == SEEK_AT then setMp3Time(SEEK_TO) end end\n"
    "function render() local red = 8 * math.floor(getMp3Time() * 10 + 0.5)\n"
    "  beginQuadGL() colorGL(red, 255 - red, isMp3Playing() and 200 or 0, 255)\n"
    "  vectorGL(-1000, -500, 0) vectorGL(1000, -500, 0) vectorGL(1000, 1500, 0) vectorGL(-1000, 1500, 0)\n"
    "  colorGL(math.floor(sync('red') + 0.5), 255, 255, 255)\n"
    "  vectorGL(-1000, 500, 1) vectorGL(1000, 500, 1) vectorGL(1000, 1500, 1) vectorGL(-1000, 1500, 1) endGL() end\n";

class ExportEndToEnd : public EndToEndTest
{
protected:
    // Exactly the frames 000.png... of `folder`, the right way up: frame k
    // for tenths[k] of a second of the 2.5 s track (playing before its end)
    // or, when `ownClock` is given, of no music and ownClock[k] on the tracks.
    void ExpectFrames(const QString &folder, const std::vector<int> &tenths, const std::vector<int> &ownClock = {})
    {
        EXPECT_EQ(QDir(path(folder)).entryList({"*.png"}).size(), int(tenths.size()));
        for (size_t k = 0; k < tenths.size(); ++k) {
            const QImage image(path(folder + QString::asprintf("/%03zu.png", k)));
            ASSERT_EQ(image.size(), QSize(160, 90)) << k;
            const QRgb colour = qRgb(8 * tenths[k], 255 - 8 * tenths[k], ownClock.empty() && tenths[k] < 25 ? 200 : 0);
            const QRgb top = qRgb(std::min(240, 12 * (ownClock.empty() ? tenths : ownClock)[k]), 255, 255);
            for (const auto &[x, y, expected] : {std::tuple{80, 70, colour}, {0, 46, colour}, {159, 89, colour}, {0, 0, top}})
                EXPECT_EQ(image.pixel(x, y), expected) << "frame " << k << " at " << x << "," << y;
        }
    }
};

TEST_F(ExportEndToEnd, PngFramesFollowTheVirtualClockAndTheSyncTracksExactlyRepeatAndSeeTheProductionsOwnSeek)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), kClock) && WriteFile(path("sync.txt"), kSync));
    // 1 s from 0.5 s at 10 fps: without music the sync tracks follow the own
    // clock, with it the music, twice the same bytes; the folder is made.
    const std::vector<int> from5 = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    const QStringList second = {"--fps", "10", "--size", "160x90", "--from", "0.5", "--to", "1.5"};
    ASSERT_EQ(RunToEnd(QStringList{"--export", "silent/%03d.png"} + second).status, 0);
    ExpectFrames("silent", std::vector<int>(10, 0), from5);
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.5));
    for (const QString folder : {"a", "b"}) {
        const auto [status, err] = RunToEnd(QStringList{"--export", folder + "/%03d.png"} + second);
        ASSERT_EQ(status, 0) << err.toStdString();
        EXPECT_TRUE(err.contains("export: 100% frame 10/10") && err.contains("export: 10 frames, 1.00 s of video")) << err.toStdString();
        ExpectFrames(folder, from5);
    }
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(ReadFile(path(QString::asprintf("a/%03d.png", k))), ReadFile(path(QString::asprintf("b/%03d.png", k))));
    EXPECT_EQ(Entries(), QStringList({"a", "b", "music.mp3", "prod.lua", "silent", "sync.txt"})) << "a session log or leftovers";
    // Frame 4 seeks to 2.2 s; the track ends at 2.5 s and then reads its length, not playing.
    ASSERT_TRUE(WriteFile(path("prod.lua"), QByteArray("SEEK_AT, SEEK_TO = 4, 2.2\n") + kClock));
    ASSERT_EQ(RunToEnd({"--export", "s/%03d.png", "--fps", "10", "--size", "160x90", "--to", "1"}).status, 0);
    ExpectFrames("s", {0, 1, 2, 3, 22, 23, 24, 25, 25, 25});
    // --to beyond the music: it ends with the music, after one note. The
    // frames before --from run first, so the seek of frame 4 has happened
    // and the music has ended by 2 s, as in the whole export; without the
    // preroll the production starts at 2 s and frame 4 is its fifth.
    const Outcome beyond = RunToEnd({"--export", "e/%03d.png", "--fps", "10", "--size", "160x90", "--from", "2", "--to", "5"});
    EXPECT_EQ(beyond.err.count("velkaro: note: --to 5 s is beyond the end of the music"), 1) << beyond.err.toStdString();
    ExpectFrames("e", {25, 25, 25, 25, 25});
    ASSERT_EQ(RunToEnd({"--export", "n/%03d.png", "--fps", "10", "--size", "160x90", "--from", "2", "--to", "5", "--no-preroll"}).status, 0);
    ExpectFrames("n", {20, 21, 22, 23, 22});
}

// The video stream (codec, size, pixel format, rate, frames), the audio
// stream's codec and the duration, as ffprobe reads them.
QStringList Probe(const QString &file)
{
    return QString(RunTool("ffprobe", {"-v", "error", "-count_frames", "-show_entries", "stream=codec_name,width,height,pix_fmt,"
                                       "r_frame_rate,nb_read_frames:format=duration", "-of", "csv=p=0", file})).split('\n', Qt::SkipEmptyParts);
}

// Without music (10 s by default, hence --to) VP9 and no audio; with it H.264
// and AAC. The music is a 4 s sweep (sox's is exponential: 200 Hz * 9^(t / 4 s))
// that frame 25 (1 s) seeks to 3 s: heard at 0.5 s, at 3.5 s, then silent.
TEST_F(ExportEndToEnd, VideosHaveTheSizeRateAndLengthAskedTheSoundtrackThatPlayedAndTheirQuality)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), QByteArray("SEEK_AT, SEEK_TO = 25, 3\n") + kClock));
    ASSERT_EQ(RunToEnd({"--export", "silent.webm", "--fps", "30", "--size", "320x180", "--to", "1"}).status, 0);
    QStringList probe = Probe(path("silent.webm"));
    ASSERT_EQ(probe.size(), 2) << probe.join('\n').toStdString();
    EXPECT_EQ(probe[0], "vp9,320,180,yuv420p,30/1,30");
    EXPECT_NEAR(probe[1].toDouble(), 1.0, 1.0 / 30);
    ASSERT_TRUE(MakeSynthMp3(path("music.mp3"), {"synth", "4", "sine", "200-1800", "vol", "0.5"}));
    const Outcome run = RunToEnd({"--export", "demo.mp4", "--fps", "25", "--size", "320x180"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    probe = Probe(path("demo.mp4"));
    ASSERT_EQ(probe.size(), 3) << probe.join('\n').toStdString();
    EXPECT_EQ(probe[0], "h264,320,180,yuv420p,25/1,100");
    EXPECT_TRUE(probe[1].startsWith("aac,")) << probe[1].toStdString();
    EXPECT_NEAR(probe[2].toDouble(), 4.0, 1.0 / 25);

    const QByteArray pcm = RunTool("ffmpeg", {"-v", "error", "-i", path("demo.mp4"), "-ac", "1", "-ar", "44100", "-f", "f32le", "-"});
    ASSERT_GE(pcm.size(), int(3 * 44100 * sizeof(float)));
    const auto *samples = reinterpret_cast<const float *>(pcm.constData());
    // Frequency (from zero crossings) and level (RMS) from `from` to `to` seconds.
    const auto sound = [&](double from, double to) {
        int crossings = 0;
        double squares = 0;
        for (int k = int(from * 44100); k < int(to * 44100); ++k) {
            crossings += (samples[k] < 0) != (samples[k + 1] < 0);
            squares += samples[k] * samples[k];
        }
        return std::pair{crossings / 2.0 / (to - from), std::sqrt(squares / ((to - from) * 44100))};
    };
    for (const auto &[at, music] : {std::pair{0.5, 0.5}, {1.5, 3.5}}) {
        const auto [hz, rms] = sound(at - 0.2, at + 0.2);
        EXPECT_NEAR(hz, 200 * std::pow(9.0, music / 4), 0.03 * 200 * std::pow(9.0, music / 4)) << at;
        EXPECT_GT(rms, 0.2) << at;
    }
    EXPECT_LT(sound(2.2, 2.9).second, 0.01) << "sound after the end of the music";

    const QRegularExpressionMatch said = QRegularExpression("demo.mp4, ([0-9.]+) (bytes|kB|MB)\n").match(run.err);
    ASSERT_TRUE(said.hasMatch()) << run.err.toStdString();
    const double unit = said.captured(2) == "MB" ? 1e6 : said.captured(2) == "kB" ? 1e3 : 1;
    EXPECT_NEAR(said.captured(1).toDouble(), QFileInfo(path("demo.mp4")).size() / unit, 0.051);
    ASSERT_EQ(RunToEnd({"--export", "low.mp4", "--crf", "51", "--fps", "25", "--size", "320x180"}).status, 0);
    EXPECT_LT(QFileInfo(path("low.mp4")).size(), QFileInfo(path("demo.mp4")).size());
}

// A post shader fed by the music. Red: the time / 4; green: the spectrum's
// band of 440 Hz (band 27 of 64) on the left half, a band near 12 kHz on the
// right; blue: width / 400.
TEST_F(ExportEndToEnd, TheExportRunsThePostPassWithTimeSpectrumResolutionAndDepth)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 3.0));
    ASSERT_TRUE(WriteFile(path("prod.lua"),
        "playMp3() setCamPos(0, 500, 100) lookAt(0, 500, 0)   -- no grid, no floor in sight\n"
        "function render() beginQuadGL() vectorGL(0, 0, 0) vectorGL(1000, 0, 0) vectorGL(1000, 500, 0)\n"
        "  vectorGL(0, 500, 0) endGL() end   -- the lower right quarter, near\n"
        "setPostShader([[uniform sampler2D spectrum, depth; uniform float time; uniform vec2 resolution;\n"
        "varying vec2 uv;\n"
        "void main() { float band = uv.x < 0.5 ? 27.5 : 60.5;\n"
        "  float b = uv.x < 0.5 ? resolution.x / 400.0 : texture2D(depth, uv).r < 1.0 ? 0.5 : 1.0;\n"
        "  gl_FragColor = vec4(time / 4.0, texture2D(spectrum, vec2(band / 64.0, 0.5)).r, b, 1.0);\n"
        "}]])\n"));
    const Outcome run = RunToEnd({"--export", "shots/%03d.png", "--fps", "10", "--size", "160x90", "--from", "1", "--to", "1.2"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (int k = 0; k < 2; ++k) {
        const QImage image(path(QString::asprintf("shots/%03d.png", k)));
        const QColor left = image.pixelColor(40, 45), right = image.pixelColor(120, 20);
        EXPECT_NEAR(left.red(), (1.0 + 0.1 * k) / 4.0 * 255.0, 2.0) << "frame " << k;
        EXPECT_NEAR(left.blue(), 160.0 / 400.0 * 255.0, 2.0) << "frame " << k;
        EXPECT_GT(left.green(), 150) << "frame " << k;
        EXPECT_LT(right.green(), 60) << "frame " << k;
        // The scene's depth: the far background above, the quad below.
        EXPECT_EQ(right.blue(), 255) << "frame " << k;
        EXPECT_NEAR(image.pixelColor(120, 70).blue(), 128, 2) << "frame " << k;
    }
}

// A shader's time is the production's time without music too (the frames
// before --from run first, the clock as in a whole export).
TEST_F(ExportEndToEnd, AShadersTimeRunsWithoutMusic)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), "setPostShader('uniform float time; void main() { gl_FragColor = vec4(time / 4.0, 0.0, 0.0, 1.0); }')\n"));
    for (const char *preroll : {"", "--no-preroll"}) {
        QStringList arguments = {"--export", "t/%03d.png", "--fps", "10", "--size", "32x18", "--from", "1", "--to", "1.3"};
        if (*preroll)
            arguments << preroll;
        ASSERT_EQ(RunToEnd(arguments).status, 0) << preroll;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(QImage(path(QString::asprintf("t/%03d.png", k))).pixelColor(16, 9).red(), (1.0 + 0.1 * k) / 4.0 * 255.0, 2.0)
                << preroll << " frame " << k;
    }
}

// Each frame adds 8 to the red of `previous`: frame k holds k + 1 steps, the
// same in two exports, and one again after frame 3 seeks. A canvas of size
// 0 is the export's size (its green and blue, from its `resolution`).
TEST_F(ExportEndToEnd, FeedbackFromThePreviousFrameIsFrameExact)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.5));
    ASSERT_TRUE(WriteFile(path("prod.lua"), R"(C = newCanvas(0, 0) local frame = -1
S = loadShader('void main() { gl_Position = vec4(gl_Vertex.xy, 0.0, 1.0); }',
  'uniform vec2 resolution; void main() { gl_FragColor = vec4(0.0, resolution / 255.0, 1.0); }')
P = setPostShader([[uniform sampler2D previous, canvas; varying vec2 uv;
  void main() { gl_FragColor = vec4(texture2D(previous, uv).r + 8.0 / 255.0, texture2D(canvas, uv).gb, 1.0); }]])
setUniform(P, 'canvas', C)
function update() frame = frame + 1 if frame == 3 then setMp3Time(1) end end
function render() setCanvas(C) useShader(S) beginQuadGL() vectorGL(-1, -1, 0) vectorGL(1, -1, 0) vectorGL(1, 1, 0) vectorGL(-1, 1, 0) endGL() end
)"));
    for (const QString folder : {"a", "b"})
        ASSERT_EQ(RunToEnd({"--export", folder + "/%d.png", "--fps", "10", "--size", "32x18", "--to", "0.5"}).status, 0);
    for (int k = 0; k < 5; ++k) {
        const QString frame = QString::asprintf("/%d.png", k);
        EXPECT_EQ(QImage(path("a" + frame)).pixelColor(16, 9), QColor(8 * (k < 3 ? k + 1 : k - 2), 32, 18)) << k;
        EXPECT_EQ(ReadFile(path("a" + frame)), ReadFile(path("b" + frame))) << k;
    }
}

// A failing top level is refused before any frame (2); failed frames are
// counted and named (3, the video kept); a runaway ends the export at once (3).
TEST_F(ExportEndToEnd, ABrokenProductionCannotExportAsASuccess)
{
    const struct { const char *production; int status; const char *said; bool written; } cases[] = {
        {nullptr, 2, "velkaro: nothing exported: cannot open prod.lua", false},
        {"error('top level broke')", 2, "top level broke", false},
        {"n = 0 function update() n = n + 1 end function render() if n == 3 then error('third frame broke') end end", 3,
         "velkaro: 1 of 5 frames failed; the first error: ", true},
        {"function render() error('every frame broke') end", 3, "velkaro: 5 of 5 frames failed; the first error: ", true},
        {"n = 0 function update() n = n + 1 if n == 2 then while true do end end end", 3,
         "velkaro: export stopped: prod.lua:1: script interrupted", false},
    };
    ASSERT_TRUE(WriteFile(path("out.mp4"), "earlier"));
    for (const auto &c : cases) {
        QFile::remove(path("prod.lua"));
        if (c.production) {
            ASSERT_TRUE(WriteFile(path("prod.lua"), c.production));
        }
        const Outcome run = RunToEnd({"--export", "out.mp4", "--size", "64x36", "--fps", "10", "--to", "0.5"});
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.said)) << run.err.toStdString();
        EXPECT_EQ(ReadFile(path("out.mp4")) == "earlier", !c.written) << c.said;
        EXPECT_EQ(Entries().filter(".part").size(), 0) << c.said;
        ASSERT_TRUE(WriteFile(path("out.mp4"), "earlier"));
    }
}

// Joined with ffmpeg's concat demuxer. The production carves its state in
// update(); the frames before --from run first, so each part starts in it.
TEST_F(ExportEndToEnd, AnExportSplitInTwoAndJoinedIsTheWholeFrameForFrame)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"),
        "setCamPos(0, 500, 100) lookAt(0, 500, 0) carved = 0\n"
        "function update() carved = carved + 7 end\n"
        "function render() local c = carved % 256 beginQuadGL() colorGL(c, 255 - c, math.floor(getTime() * 50) % 256, 255)\n"
        "  vectorGL(-1000, -500, 0) vectorGL(1000, -500, 0) vectorGL(1000, 1500, 0) vectorGL(-1000, 1500, 0) endGL() end\n"));
    const QStringList common = {"--size", "64x36", "--fps", "20", "--crf", "0"};
    const auto part = [&](const QString &name, const QString &from, const QString &to, const QStringList &more = {}) {
        return RunToEnd(QStringList{"--export", name, "--from", from, "--to", to} + common + more).status;
    };
    ASSERT_EQ(part("whole.mp4", "1", "3"), 0);
    ASSERT_EQ(part("a.mp4", "1", "2"), 0);
    ASSERT_EQ(part("b.mp4", "2", "3"), 0);
    ASSERT_EQ(part("c.mp4", "2", "3", {"--no-preroll"}), 0);
    const auto frames = [&](const QStringList &input) {
        QStringList lines = QString(RunTool("ffmpeg", QStringList{"-v", "error"} + input + QStringList{"-an", "-f", "framemd5", "-"}))
                                .split('\n', Qt::SkipEmptyParts).filter(QRegularExpression("^0,"));
        for (QString &line : lines)
            line = line.section(',', -1).trimmed();   // the frame's checksum alone
        return lines;
    };
    const auto joined = [&](const char *second) {
        WriteFile(path("list.txt"), QByteArray("file 'a.mp4'\nfile '") + second + "'\n");
        return frames({"-f", "concat", "-safe", "0", "-i", path("list.txt")});
    };
    const QStringList whole = frames({"-i", path("whole.mp4")});
    ASSERT_EQ(whole.size(), 40);
    EXPECT_EQ(joined("b.mp4"), whole);
    EXPECT_NE(joined("c.mp4"), whole) << "without the preroll the second part starts in another state";
}

// A production that draws nothing, exported: the grid with --overlays (a PNG),
// the clear colour alone without (a video frame, within its YUV).
TEST_F(ExportEndToEnd, AnExportIsTheClearColourAloneUnlessOverlaysAreAsked)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), "setClearColor(200, 40, 0)\n"));
    ASSERT_EQ(RunToEnd({"--export", "%d.png", "--size", "320x180", "--to", "0.1", "--overlays"}).status, 0);
    QImage image(path("0.png"));
    EXPECT_GT(CountPixels(image, image.rect(), [](QColor p) { return p.red() > 90 && p.blue() > 120 && p.green() < 80; }), 100);
    ASSERT_EQ(RunToEnd({"--export", "demo.mp4", "--size", "320x180", "--to", "0.1"}).status, 0);
    RunTool("ffmpeg", {"-v", "error", "-y", "-i", path("demo.mp4"), "-frames:v", "1", path("0.png")});
    image = QImage(path("0.png"));
    EXPECT_EQ(image.size(), QSize(320, 180));
    EXPECT_EQ(OtherPixels(image, image.rect(), QColor(200, 40, 0), 12), 0);
    // A post shader that discards the left half: the clear colour shows there.
    ASSERT_TRUE(WriteFile(path("prod.lua"), "setClearColor(200, 40, 0)\n"
                          "setPostShader('varying vec2 uv; void main() { if (uv.x < 0.5) discard;"
                          " gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }')\n"));
    ASSERT_EQ(RunToEnd({"--export", "post%d.png", "--size", "320x180", "--to", "0.05"}).status, 0);
    image = QImage(path("post0.png"));
    EXPECT_EQ(OtherPixels(image, QRect(0, 0, 150, 180), QColor(200, 40, 0)), 0);
    EXPECT_EQ(OtherPixels(image, QRect(170, 0, 150, 180), QColor(0, 255, 0)), 0);
    // A title centred with the export's size and the text's own: its letters
    // lie in the box getTextSize gives and fill most of it.
    ASSERT_TRUE(WriteFile(path("prod.lua"), "function render() local w, h = getViewSize() local tw, th = getTextSize('HELLO', 40)\n"
                          "  local f = io.open('size.txt', 'w') f:write(w, ' ', h, ' ', tw, ' ', th) f:close()\n"
                          "  colorGL(255, 255, 255, 255) drawText((w - tw) / 2, (h - th) / 2, 'HELLO', 40) end\n"));
    ASSERT_EQ(RunToEnd({"--export", "title%d.png", "--size", "320x180", "--to", "0.05"}).status, 0);
    const QStringList sizes = Text("size.txt").split(' ');
    ASSERT_EQ(sizes.size(), 4) << Text("size.txt").toStdString();
    EXPECT_EQ(sizes[0] + " " + sizes[1], "320 180");
    const int tw = sizes[2].toInt(), th = sizes[3].toInt();
    const QRect box((320 - tw) / 2, (180 - th) / 2, tw, th);
    image = QImage(path("title0.png"));
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).lightness() > 128)
                ink |= QRect(x, y, 1, 1);
    EXPECT_TRUE(box.adjusted(-1, -1, 1, 1).contains(ink)) << "box " << tw << "x" << th << " ink " << ink.x() << "," << ink.y()
                                                          << " " << ink.width() << "x" << ink.height();
    EXPECT_LE(std::abs(ink.left() + ink.right() + 1 - 320), 3) << "not centred: " << ink.left() << ".." << ink.right();
    EXPECT_GT(ink.height(), th / 2);
}

// A sync file that does not parse (read after the others are checked) is refused with its line.
TEST_F(ExportEndToEnd, BadArgumentsAreRefusedWithOneLineBeforeAnythingIsRendered)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.0));
    ASSERT_TRUE(WriteFile(path("prod.lua"), QByteArray("local f = io.open('ran.txt', 'w') f:write('ran') f:close()\n") + kClock));
    ASSERT_TRUE(WriteFile(path("sync.txt"), "velkaro-sync 1\ntrack red\n0 0 lineal\n"));
    const struct { QStringList arguments; int status; QString reason, path; } cases[] = {
        {{"--export", "demo.avi"}, 2, "cannot tell the format", {}},
        {{"--export", "no/where/%03d.png"}, 2, "the folder 'no/where' does not exist", {}},
        {{"--export", "demo.mp4", "--from", "2.5"}, 2, "is beyond the end of the music", {}},
        {{"--export", "%03d.png", "--size", "40000x200"}, 2, "beyond what this OpenGL can render", {}},
        {{"--export", "demo.mp4"}, 1, "install the Debian package ffmpeg", "/nonexistent"},
        {{"--export", "%03d.png"}, 2, "sync.txt: line 3: interpolation 'lineal'", {}},
        {{"--export", "%03d.png", "--osc", "9000"}, 2, "--midi and --osc go with the window and --play", {}},
    };
    for (const auto &c : cases) {
        const auto [status, err] = RunToEnd(c.arguments, c.path);
        EXPECT_EQ(status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("velkaro: ") && err.contains(c.reason) && err.count('\n') == 1 && err.endsWith('\n')) << err.toStdString();
    }
    EXPECT_EQ(Entries(), QStringList({"music.mp3", "prod.lua", "sync.txt"})) << "the production ran or left output";
    EXPECT_TRUE(RunToEnd({"--help"}).err.startsWith("Usage: velkaro"));
    EXPECT_TRUE(QRegularExpression("^velkaro \\d+\\.\\d+\\.\\d+\n$").match(RunToEnd({"--version"}).err).hasMatch());
    // An argument neither the window nor Qt knows: its line, the usage, status 2, no window (that would stay open).
    for (const QStringList &arguments : {QStringList{"--bogus"}, QStringList{"-style", "fusion", "--bogus"}}) {
        const auto [status, err] = RunToEnd(arguments, QString(), 20000);
        EXPECT_EQ(status, 2);
        EXPECT_TRUE(err.startsWith("velkaro: unknown argument '--bogus'\nUsage: velkaro")) << err.toStdString();
    }
}

// SIGTERM, Ctrl+C while the encoder reads nothing, or an ffmpeg that fails as
// on a full disk; a signal ends it within 2 s.
TEST_F(ExportEndToEnd, AStoppedExportLeavesTheEarlierOutputByteForByteAndNoTemporaryFile)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), kClock));
    const struct { int signal, status; QByteArray ffmpeg; QString message; } cases[] = {
        {SIGTERM, 143, "", ""}, {SIGINT, 130, "exec sleep 30\n", ""},
        {0, 1, "head -c 1000000 > /dev/null\necho 'No space left on device' >&2\nexit 1\n",
         "velkaro: export failed: ffmpeg stopped reading the frames"}};
    for (const auto &c : cases) {
        QTemporaryDir bin;
        ASSERT_TRUE(WriteFile(bin.filePath("ffmpeg"), "#!/bin/sh\n" + c.ffmpeg) && WriteFile(path("demo.mp4"), "earlier"));
        QFile(bin.filePath("ffmpeg")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        QProcess p;
        Launch(p, {"--export", "demo.mp4", "--size", "320x180", "--to", "600"}, c.ffmpeg.isEmpty() ? QString() : bin.path() + ":/usr/bin:/bin");
        ASSERT_TRUE(p.waitForStarted(10000));
        const QString temporary = path(QString(".demo.mp4.velkaro-%1.part").arg(p.processId()));
        QElapsedTimer stop;
        if (c.signal) { // once the temporary video grows, or after 3 s when nothing reads the frames (the pipe is full)
            WaitUntil([&] { return QFileInfo(temporary).size() > 0 || p.state() != QProcess::Running; }, c.ffmpeg.isEmpty() ? 60000 : 3000);
            ASSERT_EQ(p.state(), QProcess::Running) << c.signal;
            stop.start();
            ASSERT_TRUE(SendSignal(p, c.signal)) << c.signal;
        }
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_TRUE(!c.signal || stop.elapsed() < 2000) << c.signal;
        EXPECT_EQ(p.exitCode(), c.status) << c.signal;
        EXPECT_TRUE(QString(p.readAllStandardError()).contains(c.message)) << c.signal;
        EXPECT_EQ(ReadFile(path("demo.mp4")), "earlier") << c.signal;
        EXPECT_EQ(Entries(), QStringList({"demo.mp4", "prod.lua"})) << c.signal;
    }
}

} // namespace
