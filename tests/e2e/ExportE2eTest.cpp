// The export end to end: the real program in a scratch folder under X.
// PNG frames on the virtual music clock (frame-exact, repeatable, a seek of
// the production's own), videos checked with ffprobe, refusals before any
// rendering, and a stop (signal, failing ffmpeg) that leaves an earlier
// output untouched.
#include "Media.h"
#include "Program.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A production that paints each frame in a colour of its music time t: red =
// 8 * round(10 t), green = 255 - red, blue = 200 while the music plays; the top
// half is white (the camera looks along -z at the horizon, y = 500). With
// SEEK_AT set, update() of that frame seeks to SEEK_TO.
const char kClockProduction[] =
    "playMp3() setCamPos(0, 500, 100) lookAt(0, 500, 0)\n"
    "local frame = -1\n"
    "function update() frame = frame + 1 if SEEK_AT and frame == SEEK_AT then setMp3Time(SEEK_TO) end end\n"
    "function render()\n"
    "  local red = 8 * math.floor(getMp3Time() * 10 + 0.5)\n"
    "  beginQuadGL() colorGL(red, 255 - red, isMp3Playing() and 200 or 0, 255)\n"
    "  vectorGL(-1000, -500, 0) vectorGL(1000, -500, 0) vectorGL(1000, 1500, 0) vectorGL(-1000, 1500, 0)\n"
    "  colorGL(255, 255, 255, 255)\n"
    "  vectorGL(-1000, 500, 1) vectorGL(1000, 500, 1) vectorGL(1000, 1500, 1) vectorGL(-1000, 1500, 1) endGL()\n"
    "end\n";

// ffprobe's view of a file's stream of `type` ("video", "audio"; empty when
// none) and, for "format", of the file as a whole.
QJsonObject Probe(const QString &file, const QString &type)
{
    const QJsonObject probe = QJsonDocument::fromJson(RunTool("ffprobe", {"-v", "error", "-print_format", "json",
                                                          "-show_streams", "-show_format", file})).object();
    for (const QJsonValue &stream : probe["streams"].toArray())
        if (stream.toObject()["codec_type"].toString() == type)
            return stream.toObject();
    return probe[type].toObject();
}

class ExportEndToEnd : public EndToEndTest
{
protected:
    // The exit status (-1: did not end normally) and the output of an export run.
    struct Finished
    {
        int status = -1;
        QString out, err;
    };

    void Launch(QProcess &process, const QStringList &arguments, const QString &path = QString())
    {
        process.setProcessEnvironment(ProgramEnvironment(path));
        process.setWorkingDirectory(scratch.path());
        process.start(VELKARO_EXE, arguments);
    }
    Finished Export(const QStringList &arguments, const QString &path = QString())
    {
        QProcess process;
        Launch(process, arguments, path);
        Finished run;
        if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
            run.status = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    void WriteProduction(const QByteArray &prelude = QByteArray())
    {
        ASSERT_TRUE(WriteFile(path("prod.lua"), prelude + kClockProduction));
    }
    QStringList Entries() const
    {
        return QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

// Expects exactly the PNG frames 000.png... of `folder`, frame k painted for
// the music time (in tenths) tenths[k], playing or not, the right way up.
void ExpectFrames(const QString &folder, const std::vector<int> &tenths, const std::vector<bool> &playing)
{
    EXPECT_EQ(QDir(folder).entryList({"*.png"}, QDir::Files).size(), static_cast<int>(tenths.size()));
    for (size_t k = 0; k < tenths.size(); ++k) {
        const QImage image(QDir(folder).filePath(QString::asprintf("%03zu.png", k)));
        ASSERT_EQ(image.size(), QSize(160, 90)) << "frame " << k;
        const QRgb colour = qRgb(8 * tenths[k], 255 - 8 * tenths[k], playing[k] ? 200 : 0);
        for (const auto &[p, expected] : {std::pair{QPoint(80, 70), colour}, {QPoint(0, 46), colour},
                                           {QPoint(159, 89), colour}, {QPoint(0, 0), qRgb(255, 255, 255)},
                                           {QPoint(159, 43), qRgb(255, 255, 255)}})
            EXPECT_EQ(image.pixel(p) & 0xffffff, expected & 0xffffff) << "frame " << k << " at " << p.x() << "," << p.y();
    }
}

// 2 s at 10 fps from 1 s: 20 frames of the times 1.0, 1.1, ...; a second run
// gives the same bytes; no console, so no session log, and no leftovers.
TEST_F(ExportEndToEnd, PngFramesFollowTheVirtualClockExactlyAndRepeatByteForByte)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 4.0));
    WriteProduction();
    std::vector<int> tenths;
    for (int k = 0; k < 20; ++k)
        tenths.push_back(10 + k);
    for (const QString folder : {"first", "second"}) {
        ASSERT_TRUE(QDir(scratch.path()).mkdir(folder));
        const Finished run = Export({"--export", folder + "/%03d.png", "--fps", "10", "--size",
                                                     "160x90", "--from", "1", "--to", "3"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("export: 100% frame 20/20")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("export: 20 frames, 2.00 s of video")) << run.err.toStdString();
        ExpectFrames(path(folder), tenths, std::vector<bool>(20, true));
    }
    for (int k = 0; k < 20; ++k) {
        const QString name = QString::asprintf("/%03d.png", k);
        EXPECT_EQ(ReadFile(path("first") + name), ReadFile(path("second") + name)) << "frame " << k;
    }
    EXPECT_EQ(Entries(), QStringList({"first", "music.mp3", "prod.lua", "second"}));
}

// Frames 0-3 from 0 s; frame 4 seeks to 2.2 s in its update(); the track ends
// at 2.5 s and then reads its length, not playing.
TEST_F(ExportEndToEnd, AProductionSeesItsOwnSeekAndTheEndOfTheTrack)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.5));
    WriteProduction("SEEK_AT, SEEK_TO = 4, 2.2\n");
    ASSERT_TRUE(QDir(scratch.path()).mkdir("shots"));
    const Finished run = Export({"--export", "shots/%03d.png", "--fps", "10", "--size", "160x90",
                                                 "--to", "1"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectFrames(path("shots"), {0, 1, 2, 3, 22, 23, 24, 25, 25, 25},
                 {true, true, true, true, true, true, true, false, false, false});
}

// Without music (10 s by default, hence --to): VP9 and no audio. With music
// (the length is its length): H.264 with AAC. Both yuv420p at the asked size,
// rate and frame count, the duration within one frame.
TEST_F(ExportEndToEnd, VideosHaveTheSizeRateDurationAndTheMusicWhenThereIsMusic)
{
    WriteProduction();
    const struct
    {
        QString file, fps;
        QStringList more;
        double music, seconds;
        QString codec, audio;
        int frames;
    } cases[] = {
        {"silent.webm", "30", {"--to", "1"}, 0, 1.0, "vp9", "", 30},
        {"demo.mp4", "25", {}, 2.0, 2.0, "h264", "aac", 50},
    };
    for (const auto &c : cases) {
        if (c.music > 0) {
            ASSERT_TRUE(MakeToneMp3(path("music.mp3"), c.music));
        }
        const Finished run = Export(QStringList({"--export", c.file, "--fps", c.fps, "--size",
                                                                 "320x180"}) + c.more);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString("export: %1 frames, %2 s of video").arg(c.frames).arg(c.seconds, 0, 'f', 2)))
            << run.err.toStdString();
        const QJsonObject video = Probe(path(c.file), "video");
        EXPECT_EQ(video["codec_name"].toString(), c.codec) << c.file.toStdString();
        EXPECT_EQ(video["pix_fmt"].toString(), "yuv420p") << c.file.toStdString();
        EXPECT_EQ(video["width"].toInt(), 320) << c.file.toStdString();
        EXPECT_EQ(video["height"].toInt(), 180) << c.file.toStdString();
        EXPECT_EQ(video["r_frame_rate"].toString(), c.fps + "/1") << c.file.toStdString();
        EXPECT_EQ(Probe(path(c.file), "audio")["codec_name"].toString(), c.audio) << c.file.toStdString();
        EXPECT_NEAR(Probe(path(c.file), "format")["duration"].toString().toDouble(), c.seconds, 1.0 / c.fps.toInt())
            << c.file.toStdString();
    }
    EXPECT_EQ(Probe(path("demo.mp4"), "video")["nb_frames"].toString(), "50");
}

// Each refusal: its status and one line "velkaro: ..." naming the reason,
// before the production runs or any output is made.
TEST_F(ExportEndToEnd, BadArgumentsAreRefusedWithOneLineBeforeAnythingIsRendered)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.0));
    WriteProduction("local f = io.open('ran.txt', 'w') f:write('ran') f:close()\n");
    const struct
    {
        QStringList arguments;
        int status;
        QString reason;
        QString path;
    } cases[] = {
        {{"--export", "demo.mp4", "--fps", "0"}, 2, "--fps must be", {}},
        {{"--export", "demo.avi"}, 2, "cannot tell the format", {}},
        {{"--export", "demo.mp4", "--verbose"}, 2, "unknown argument '--verbose'", {}},
        {{"--export", "no/where/%03d.png"}, 2, "the folder 'no/where' does not exist", {}},
        {{"--export", "nowhere/demo.mp4"}, 2, "the folder 'nowhere' does not exist", {}},
        {{"--export", "demo.mp4", "--from", "2.5"}, 2, "is beyond the end of the music", {}},
        {{"--export", "%03d.png", "--size", "40000x200"}, 2, "beyond what this OpenGL can render", {}},
        {{"--export", "demo.mp4"}, 1, "install the Debian package ffmpeg", "/nonexistent"},
    };
    for (const auto &c : cases) {
        const Finished run = Export(c.arguments, c.path);
        const std::string args = c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.status, c.status) << args;
        EXPECT_TRUE(run.err.startsWith("velkaro: ") && run.err.contains(c.reason) && run.err.count('\n') == 1 &&
                    run.err.endsWith('\n')) << args << " wrote: " << run.err.toStdString();
    }
    EXPECT_EQ(Entries(), QStringList({"music.mp3", "prod.lua"})) << "the production ran or left output";

    const Finished help = Export({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: velkaro")) << help.out.toStdString();
}

// An export stopped mid-way — by SIGTERM, by Ctrl+C, or by an ffmpeg that
// takes a few frames and then fails as on a full disk — ends with its status
// and leaves an earlier output byte for byte and no temporary file.
TEST_F(ExportEndToEnd, AStoppedExportLeavesTheEarlierOutputByteForByteAndNoTemporaryFile)
{
    WriteProduction();
    QTemporaryDir bin;
    ASSERT_TRUE(WriteFile(bin.filePath("ffmpeg"), "#!/bin/sh\nhead -c 1000000 > /dev/null\n"
                                                  "echo 'No space left on device' >&2\nexit 1\n"));
    QFile(bin.filePath("ffmpeg")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const struct
    {
        int signal, status;
        QString path, message;
    } cases[] = {
        {SIGTERM, 143, {}, ""},
        {SIGINT, 130, {}, ""},
        {0, 1, bin.path() + ":/usr/bin:/bin", "velkaro: export failed: ffmpeg stopped reading the frames"},
    };
    const QByteArray earlier = "an earlier export, kept byte for byte\n";
    for (const auto &c : cases) {
        ASSERT_TRUE(WriteFile(path("demo.mp4"), earlier));
        QProcess process;
        Launch(process, {"--export", "demo.mp4", "--size", "320x180", "--to", "600"}, c.path);
        ASSERT_TRUE(process.waitForStarted(10000));
        if (c.signal) {
            // Stop it once the temporary video has grown: mid-export for sure.
            const QString temporary = path(QString(".demo.mp4.velkaro-%1.part").arg(process.processId()));
            ASSERT_TRUE(WaitUntil([&] {
                return QFileInfo(temporary).size() > 0 || process.state() != QProcess::Running;
            }, 60000));
            ASSERT_GT(QFileInfo(temporary).size(), 0) << QString(process.readAllStandardError()).toStdString();
            ::kill(static_cast<pid_t>(process.processId()), c.signal);
        }
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status) << c.signal;
        EXPECT_TRUE(QString(process.readAllStandardError()).contains(c.message)) << c.signal;
        EXPECT_EQ(ReadFile(path("demo.mp4")), earlier) << c.signal;
        EXPECT_EQ(Entries(), QStringList({"demo.mp4", "prod.lua"})) << c.signal;
    }
}

} // namespace
