// End to end: the export. PNG frames on the virtual music clock (exact,
// repeatable, the production's own seek), videos checked with ffprobe,
// refusals before any rendering, and stops that leave an earlier output.
#include "Media.h"
#include "Program.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// Each frame in a colour of its music time t: red = 8 * round(10 t), green =
// 255 - red, blue = 200 while playing; the top half white. With SEEK_AT set,
// that frame's update() seeks to SEEK_TO.
const char kClock[] =
    "playMp3() setCamPos(0, 500, 100) lookAt(0, 500, 0) local frame = -1\n"
    "function update() frame = frame + 1 if SEEK_AT and frame == SEEK_AT then setMp3Time(SEEK_TO) end end\n"
    "function render() local red = 8 * math.floor(getMp3Time() * 10 + 0.5)\n"
    "  beginQuadGL() colorGL(red, 255 - red, isMp3Playing() and 200 or 0, 255)\n"
    "  vectorGL(-1000, -500, 0) vectorGL(1000, -500, 0) vectorGL(1000, 1500, 0) vectorGL(-1000, 1500, 0) colorGL(255, 255, 255, 255)\n"
    "  vectorGL(-1000, 500, 1) vectorGL(1000, 500, 1) vectorGL(1000, 1500, 1) vectorGL(-1000, 1500, 1) endGL() end\n";

class ExportEndToEnd : public EndToEndTest
{
protected:
    // Exactly the frames 000.png... of `folder`, frame k for tenths[k] of a second, playing or not, the right way up.
    void ExpectFrames(const QString &folder, const std::vector<int> &tenths, const std::vector<bool> &playing)
    {
        EXPECT_EQ(QDir(path(folder)).entryList({"*.png"}).size(), int(tenths.size()));
        for (size_t k = 0; k < tenths.size(); ++k) {
            const QImage image(path(folder + QString::asprintf("/%03zu.png", k)));
            ASSERT_EQ(image.size(), QSize(160, 90)) << k;
            const QRgb colour = qRgb(8 * tenths[k], 255 - 8 * tenths[k], playing[k] ? 200 : 0);
            for (const auto &[x, y, expected] : {std::tuple{80, 70, colour}, {0, 46, colour}, {159, 89, colour}, {0, 0, qRgb(255, 255, 255)}})
                EXPECT_EQ(image.pixel(x, y), expected) << "frame " << k << " at " << x << "," << y;
        }
    }
};

TEST_F(ExportEndToEnd, PngFramesFollowTheVirtualClockExactlyRepeatAndSeeTheProductionsOwnSeek)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.5) && WriteFile(path("prod.lua"), kClock));
    for (const QString folder : {"a", "b"}) { // 1 s from 0.5 s at 10 fps, twice: the same bytes; the folder is made
        const auto [status, err] = RunToEnd({"--export", folder + "/%03d.png", "--fps", "10", "--size", "160x90", "--from", "0.5", "--to", "1.5"});
        ASSERT_EQ(status, 0) << err.toStdString();
        EXPECT_TRUE(err.contains("export: 100% frame 10/10") && err.contains("export: 10 frames, 1.00 s of video")) << err.toStdString();
        ExpectFrames(folder, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, std::vector<bool>(10, true));
    }
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(ReadFile(path(QString::asprintf("a/%03d.png", k))), ReadFile(path(QString::asprintf("b/%03d.png", k))));
    EXPECT_EQ(Entries(), QStringList({"a", "b", "music.mp3", "prod.lua"})) << "a session log or leftovers";
    // Frame 4 seeks to 2.2 s; the track ends at 2.5 s and then reads its length, not playing.
    ASSERT_TRUE(WriteFile(path("prod.lua"), QByteArray("SEEK_AT, SEEK_TO = 4, 2.2\n") + kClock));
    ASSERT_EQ(RunToEnd({"--export", "s/%03d.png", "--fps", "10", "--size", "160x90", "--to", "1"}).status, 0);
    ExpectFrames("s", {0, 1, 2, 3, 22, 23, 24, 25, 25, 25}, {true, true, true, true, true, true, true, false, false, false});
    // --to beyond the music: it ends with the music, after one note (frame 4 still seeks).
    const Outcome beyond = RunToEnd({"--export", "e/%03d.png", "--fps", "10", "--size", "160x90", "--from", "2", "--to", "5"});
    EXPECT_EQ(beyond.err.count("velkaro: note: --to 5 s is beyond the end of the music"), 1) << beyond.err.toStdString();
    ExpectFrames("e", {20, 21, 22, 23, 22}, std::vector<bool>(5, true));
}

// Without music (10 s by default, hence --to) VP9 and no audio; with music
// (its length) H.264 and AAC; yuv420p, the size, rate and frame count asked.
TEST_F(ExportEndToEnd, VideosHaveTheSizeRateDurationAndTheMusicWhenThereIsMusic)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), kClock));
    const struct { QString file, fps; QStringList more; double seconds; QString codec, audio, frames; } cases[] = {
        {"silent.webm", "30", {"--to", "1"}, 1.0, "vp9", "", "30"}, {"demo.mp4", "25", {}, 2.0, "h264", "aac", "50"}};
    for (const auto &c : cases) {
        if (!c.audio.isEmpty()) {
            ASSERT_TRUE(MakeToneMp3(path("music.mp3"), c.seconds));
        }
        const auto [status, err] = RunToEnd(QStringList({"--export", c.file, "--fps", c.fps, "--size", "320x180"}) + c.more);
        ASSERT_EQ(status, 0) << err.toStdString();
        const QJsonObject probe = QJsonDocument::fromJson(RunTool("ffprobe", {"-v", "error", "-print_format", "json", "-count_frames",
                                                          "-show_streams", "-show_format", path(c.file)})).object();
        QMap<QString, QJsonObject> streams;
        for (const QJsonValue &stream : probe["streams"].toArray())
            streams[stream["codec_type"].toString()] = stream.toObject();
        const QJsonObject video = streams["video"];
        EXPECT_EQ(QStringList({video["codec_name"].toString(), video["pix_fmt"].toString(), QString::number(video["width"].toInt()),
                               QString::number(video["height"].toInt()), video["r_frame_rate"].toString(), video["nb_read_frames"].toString(),
                               streams["audio"]["codec_name"].toString()}),
                  QStringList({c.codec, "yuv420p", "320", "180", c.fps + "/1", c.frames, c.audio})) << c.file.toStdString();
        EXPECT_NEAR(probe["format"]["duration"].toString().toDouble(), c.seconds, 1.0 / c.fps.toInt());
    }
}

// A production that seeks at 1 s (frame 10) to 3 s of a 4 s sweep (sox's
// is exponential: 200 Hz * 9^(t / 4 s)) and paints its spectrum: two exports give the
// same video and audio, and the soundtrack is heard where it is seen: the
// sweep at 0.5 s, at 3.5 s after the seek, silence once the track ended.
TEST_F(ExportEndToEnd, TwoExportsOfASeekingSpectrumReadingProductionAreIdenticalAndSoundWhereTheyAre)
{
    ASSERT_TRUE(MakeSynthMp3(path("music.mp3"), {"synth", "4", "sine", "200-1800", "vol", "0.5"}));
    ASSERT_TRUE(WriteFile(path("prod.lua"), "playMp3() setCamPos(0, 0, 100) lookAt(0, 0, 0)\n"
                                            "local frame = -1\n"
                                            "function update() frame = frame + 1 if frame == 10 then setMp3Time(3) end end\n"
                                            "function render()\n"
                                            "  local s = getMp3Spectrum(16) beginQuadGL()\n"
                                            "  for i = 1, 16 do colorGL(255 * s[i], 128, 255 * getMp3Level(), 255)\n"
                                            "    local x = 6 * i - 50 vectorGL(x, -40, 0) vectorGL(x + 5, -40, 0)\n"
                                            "    vectorGL(x + 5, 80 * s[i] - 40, 0) vectorGL(x, 80 * s[i] - 40, 0) end\n"
                                            "  endGL()\n"
                                            "end\n"));
    QByteArray decoded[2];
    for (int i = 0; i < 2; ++i) {
        const QString file = QString("run%1.mkv").arg(i);
        const auto [status, err] = RunToEnd({"--export", file, "--fps", "10", "--size", "160x90", "--to", "3"});
        ASSERT_EQ(status, 0) << err.toStdString();
        decoded[i] = RunTool("ffmpeg", {"-v", "error", "-i", path(file), "-f", "framemd5", "-"});
    }
    EXPECT_GT(decoded[0].count("\n0,"), 29) << "video frames";
    EXPECT_GT(decoded[0].count("\n1,"), 100) << "audio frames";
    EXPECT_EQ(decoded[0], decoded[1]);
    const QByteArray pcm = RunTool("ffmpeg", {"-v", "error", "-i", path("run0.mkv"), "-ac", "1", "-ar", "44100",
                                              "-f", "f32le", "-"});
    const auto *samples = reinterpret_cast<const float *>(pcm.constData());
    const auto hz = [&](double from, double to, double &rms) {
        int crossings = 0;
        double squares = 0;
        for (int k = int(from * 44100); k < int(to * 44100); ++k) {
            crossings += (samples[k] < 0) != (samples[k + 1] < 0);
            squares += samples[k] * samples[k];
        }
        rms = std::sqrt(squares / ((to - from) * 44100));
        return crossings / 2.0 / (to - from);
    };
    ASSERT_GE(pcm.size(), int(3 * 44100 * sizeof(float)) - 4096);
    double rms = 0;
    const auto sweep = [](double t) { return 200 * std::pow(9.0, t / 4); };
    EXPECT_NEAR(hz(0.3, 0.7, rms), sweep(0.5), 0.03 * sweep(0.5));
    EXPECT_NEAR(hz(1.3, 1.7, rms), sweep(3.5), 0.03 * sweep(3.5));
    EXPECT_GT(rms, 0.2);
    hz(2.2, 2.9, rms);
    EXPECT_LT(rms, 0.01);
}

// Refusals: a status and one line "velkaro: ..." before the production runs
// or any output is made.
TEST_F(ExportEndToEnd, BadArgumentsAreRefusedWithOneLineBeforeAnythingIsRendered)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.0));
    ASSERT_TRUE(WriteFile(path("prod.lua"), QByteArray("local f = io.open('ran.txt', 'w') f:write('ran') f:close()\n") + kClock));
    const struct { QStringList arguments; int status; QString reason, path; } cases[] = {
        {{"--export", "demo.avi"}, 2, "cannot tell the format", {}},
        {{"--export", "no/where/%03d.png"}, 2, "the folder 'no/where' does not exist", {}},
        {{"--export", "demo.mp4", "--from", "2.5"}, 2, "is beyond the end of the music", {}},
        {{"--export", "%03d.png", "--size", "40000x200"}, 2, "beyond what this OpenGL can render", {}},
        {{"--export", "demo.mp4"}, 1, "install the Debian package ffmpeg", "/nonexistent"},
    };
    for (const auto &c : cases) {
        const auto [status, err] = RunToEnd(c.arguments, c.path);
        EXPECT_EQ(status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("velkaro: ") && err.contains(c.reason) && err.count('\n') == 1 && err.endsWith('\n')) << err.toStdString();
    }
    EXPECT_EQ(Entries(), QStringList({"music.mp3", "prod.lua"})) << "the production ran or left output";
    EXPECT_TRUE(RunToEnd({"--help"}).err.startsWith("Usage: velkaro"));
}

// Stopped mid-way by SIGTERM, by Ctrl+C while the encoder reads nothing, or
// by an ffmpeg that fails as on a full disk: its status, the earlier output
// byte for byte, no temporary file; a signal ends it within 2 s.
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
            ::kill(pid_t(p.processId()), c.signal);
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
