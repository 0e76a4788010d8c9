// The export end to end: the real program in a scratch folder under X.
// PNG frames on the virtual music clock (frame-exact, repeatable, a seek of
// the production's own), videos checked with ffprobe, refusals before any
// rendering, and a stop by signal that leaves an earlier output untouched.
#include "Media.h"
#include "ScratchDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

namespace {

// A production that paints each frame in a colour of its music time t:
// red = 8 * round(10 t), green = 255 - red, blue = 200 while the music
// plays, else 0; the top half is white. The camera looks along -z at the
// height of the quads, so the horizon (y = 500) splits the picture in two
// and the floor lies out of sight below. With SEEK_AT set, update() of that
// frame seeks to SEEK_TO.
const char kClockProduction[] =
    "playMp3()\n"
    "setCamPos(0, 500, 100) lookAt(0, 500, 0)\n"
    "local frame = -1\n"
    "function update()\n"
    "  frame = frame + 1\n"
    "  if SEEK_AT and frame == SEEK_AT then setMp3Time(SEEK_TO) end\n"
    "end\n"
    "function render()\n"
    "  local red = 8 * math.floor(getMp3Time() * 10 + 0.5)\n"
    "  beginQuadGL()\n"
    "  colorGL(red, 255 - red, isMp3Playing() and 200 or 0, 255)\n"
    "  vectorGL(-1000, -500, 0) vectorGL(1000, -500, 0) vectorGL(1000, 1500, 0) vectorGL(-1000, 1500, 0)\n"
    "  colorGL(255, 255, 255, 255)\n"
    "  vectorGL(-1000, 500, 1) vectorGL(1000, 500, 1) vectorGL(1000, 1500, 1) vectorGL(-1000, 1500, 1)\n"
    "  endGL()\n"
    "end\n";

struct Finished
{
    int status = -1; // -1: did not end normally
    QString out, err;
};

QProcess *Start(QProcess &process, const QString &folder, const QStringList &arguments,
                const QString &path = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_FORCE_STDERR_LOGGING", "1");
    // A private runtime folder, as a desktop session has (Qt warns without).
    static QTemporaryDir runtime;
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    if (!path.isNull())
        environment.insert("PATH", path);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(VELKARO_EXE, arguments);
    return &process;
}

Finished Export(const QString &folder, const QStringList &arguments, const QString &path = QString())
{
    QProcess process;
    Start(process, folder, arguments, path);
    Finished run;
    if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// ffprobe's view of a file: its streams and its format.
QJsonObject Probe(const QString &file)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-print_format", "json", "-show_streams", "-show_format", file});
    probe.waitForFinished(30000);
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

QJsonObject StreamOf(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &stream : probe["streams"].toArray())
        if (stream.toObject()["codec_type"].toString() == type)
            return stream.toObject();
    return QJsonObject();
}

class ExportEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (scripts/test starts Xvfb)";
        ASSERT_TRUE(scratch.isValid());
    }

    void WriteProduction(const QByteArray &prelude = QByteArray())
    {
        QFile file(scratch.filePath("prod.lua"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(prelude + kClockProduction);
    }

    QString path(const QString &name) const { return scratch.filePath(name); }

    ScratchDir scratch;
};

// Expects `count` PNG frames in `folder` (no more), frame k painted for the
// music time (tenths) times[k], playing or not.
void ExpectFrames(const QString &folder, const std::vector<int> &tenths, const std::vector<bool> &playing)
{
    EXPECT_EQ(QDir(folder).entryList({"*.png"}, QDir::Files).size(), static_cast<int>(tenths.size()));
    for (size_t k = 0; k < tenths.size(); ++k) {
        const QImage image(QDir(folder).filePath(QString::asprintf("%03zu.png", k)));
        ASSERT_FALSE(image.isNull()) << "frame " << k;
        EXPECT_EQ(image.size(), QSize(160, 90));
        const QRgb expected = qRgb(8 * tenths[k], 255 - 8 * tenths[k], playing[k] ? 200 : 0);
        for (const QPoint &p : {QPoint(80, 70), QPoint(0, 46), QPoint(159, 89)})
            EXPECT_EQ(image.pixel(p) & 0xffffff, expected & 0xffffff)
                << "frame " << k << " at " << p.x() << "," << p.y();
        for (const QPoint &p : {QPoint(0, 0), QPoint(159, 43)}) // the right way up
            EXPECT_EQ(image.pixel(p) & 0xffffff, 0xffffffu) << "frame " << k << " at " << p.x() << "," << p.y();
    }
}

TEST_F(ExportEndToEnd, PngFramesFollowTheVirtualClockExactlyAndRepeatByteForByte)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 4.0));
    WriteProduction();
    std::vector<int> tenths;
    for (int k = 0; k < 20; ++k)
        tenths.push_back(10 + k); // from 1.0 s, one tenth per frame
    const std::vector<bool> playing(20, true);

    for (const QString folder : {"first", "second"}) {
        ASSERT_TRUE(QDir(scratch.path()).mkdir(folder));
        const Finished run = Export(scratch.path(), {"--export", folder + "/%03d.png", "--fps", "10", "--size",
                                                "160x90", "--from", "1", "--to", "3"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("export: 100% frame 20/20")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("export: 20 frames, 2.00 s of video")) << run.err.toStdString();
        ExpectFrames(path(folder), tenths, playing);
    }
    for (int k = 0; k < 20; ++k) {
        const QString name = QString::asprintf("/%03d.png", k);
        QFile a(path("first") + name), b(path("second") + name);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_EQ(a.readAll(), b.readAll()) << "frame " << k;
    }
    // No console: the session log is neither read nor written; no leftovers.
    EXPECT_FALSE(QFile::exists(path("replsession.txt")));
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 4);
}

TEST_F(ExportEndToEnd, AProductionSeeingItsOwnSeekAndTheEndOfTheTrack)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.5));
    WriteProduction("SEEK_AT, SEEK_TO = 4, 2.2\n");
    ASSERT_TRUE(QDir(scratch.path()).mkdir("shots"));
    const Finished run = Export(scratch.path(), {"--export", "shots/%03d.png", "--fps", "10", "--size", "160x90",
                                            "--to", "1"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // Frames 0-3 from 0 s; frame 4 seeks to 2.2 s in its update(); the track
    // ends at 2.5 s and then reads its length, not playing.
    ExpectFrames(path("shots"), {0, 1, 2, 3, 22, 23, 24, 25, 25, 25},
                 {true, true, true, true, true, true, true, false, false, false});
}

TEST_F(ExportEndToEnd, VideosHaveTheSizeRateDurationAndTheMusicWhenThereIsMusic)
{
    WriteProduction();
    // Without music: 10 s by default, so --to; VP9 and no audio.
    Finished run = Export(scratch.path(), {"--export", "silent.webm", "--fps", "30", "--size", "320x180", "--to", "1"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QJsonObject probe = Probe(path("silent.webm"));
    EXPECT_EQ(StreamOf(probe, "video")["codec_name"].toString(), "vp9");
    EXPECT_EQ(StreamOf(probe, "video")["width"].toInt(), 320);
    EXPECT_EQ(StreamOf(probe, "video")["r_frame_rate"].toString(), "30/1");
    EXPECT_TRUE(StreamOf(probe, "audio").isEmpty());
    EXPECT_NEAR(probe["format"].toObject()["duration"].toString().toDouble(), 1.0, 1.0 / 30);

    // With music: to defaults to its length; H.264 yuv420p with AAC.
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.0));
    run = Export(scratch.path(), {"--export", "demo.mp4", "--fps", "25", "--size", "320x180"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("export: 50 frames, 2.00 s of video")) << run.err.toStdString();
    probe = Probe(path("demo.mp4"));
    const QJsonObject video = StreamOf(probe, "video");
    EXPECT_EQ(video["codec_name"].toString(), "h264");
    EXPECT_EQ(video["pix_fmt"].toString(), "yuv420p");
    EXPECT_EQ(video["width"].toInt(), 320);
    EXPECT_EQ(video["height"].toInt(), 180);
    EXPECT_EQ(video["r_frame_rate"].toString(), "25/1");
    EXPECT_EQ(video["nb_frames"].toString(), "50");
    EXPECT_EQ(StreamOf(probe, "audio")["codec_name"].toString(), "aac");
    EXPECT_NEAR(probe["format"].toObject()["duration"].toString().toDouble(), 2.0, 1.0 / 25);
}

TEST_F(ExportEndToEnd, BadArgumentsAreRefusedWithOneLineBeforeAnythingIsRendered)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 2.0));
    WriteProduction("local f = io.open('ran.txt', 'w') f:write('ran') f:close()\n");
    struct Case
    {
        QStringList arguments;
        int status;
        QString reason;
        QString path;
    };
    const Case cases[] = {
        {{"--export", "demo.mp4", "--fps", "0"}, 2, "--fps must be", {}},
        {{"--export", "demo.avi"}, 2, "cannot tell the format", {}},
        {{"--export", "demo.mp4", "--verbose"}, 2, "unknown argument '--verbose'", {}},
        {{"--export", "nowhere/%03d.png"}, 2, "the folder 'nowhere' does not exist", {}},
        {{"--export", "nowhere/demo.mp4"}, 2, "the folder 'nowhere' does not exist", {}},
        {{"--export", "demo.mp4", "--from", "2.5"}, 2, "is beyond the end of the music", {}},
        {{"--export", "demo.mp4", "--size", "40000x200"}, 2, "beyond what this OpenGL can render", {}},
        {{"--export", "demo.mp4"}, 1, "install the Debian package ffmpeg", "/nonexistent"},
    };
    for (const Case &c : cases) {
        const Finished run = Export(scratch.path(), c.arguments, c.path);
        const QString args = c.arguments.join(' ');
        EXPECT_EQ(run.status, c.status) << args.toStdString();
        EXPECT_TRUE(run.err.startsWith("velkaro: ") && run.err.contains(c.reason) &&
                    run.err.count('\n') == 1 && run.err.endsWith('\n'))
            << args.toStdString() << " wrote: " << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("ran.txt"))) << "the production ran before a refusal";
    EXPECT_FALSE(QFile::exists(path("demo.mp4")));

    const Finished help = Export(scratch.path(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: velkaro")) << help.out.toStdString();
}

TEST_F(ExportEndToEnd, AStopBySignalLeavesTheEarlierOutputByteForByteAndNoTemporaryFile)
{
    WriteProduction();
    const QByteArray earlier = "an earlier export, kept byte for byte\n";
    for (const auto &[signal, status] : {std::pair{SIGTERM, 143}, {SIGINT, 130}}) {
        QFile old(path("demo.mp4"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
        old.close();
        QProcess process;
        Start(process, scratch.path(), {"--export", "demo.mp4", "--size", "320x180", "--to", "600"});
        ASSERT_TRUE(process.waitForStarted(10000));
        // Stop it once the temporary video has grown: mid-export for sure.
        QElapsedTimer timer;
        timer.start();
        const QString temporary = QString(".demo.mp4.velkaro-%1.part").arg(process.processId());
        while (QFileInfo(path(temporary)).size() == 0 && timer.elapsed() < 60000 &&
               process.state() == QProcess::Running)
            QThread::msleep(50);
        ASSERT_GT(QFileInfo(path(temporary)).size(), 0) << QString(process.readAllStandardError()).toStdString();
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), status);
        QFile kept(path("demo.mp4"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), earlier);
        EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({"demo.mp4", "prod.lua"}));
    }
}

TEST_F(ExportEndToEnd, AnFfmpegThatDiesFailsTheExportCleanly)
{
    WriteProduction();
    const QByteArray earlier = "an earlier export\n";
    QFile old(path("demo.mp4"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
    old.close();
    // An ffmpeg that takes a few frames, then fails as on a full disk.
    QTemporaryDir bin;
    QFile fake(bin.filePath("ffmpeg"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nhead -c 1000000 > /dev/null\necho 'No space left on device' >&2\nexit 1\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const Finished run = Export(scratch.path(), {"--export", "demo.mp4", "--size", "320x180"},
                                bin.path() + ":/usr/bin:/bin");
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("velkaro: export failed: ffmpeg stopped reading the frames")) << run.err.toStdString();
    QFile kept(path("demo.mp4"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), earlier);
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"demo.mp4", "prod.lua"}));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
