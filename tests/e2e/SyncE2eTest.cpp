// Sync tracks end to end in the export: each frame painted in the colour of
// a track at the frame's row, with the music (which the production seeks)
// and without it (the own clock on frames); a second export gives the same
// bytes; a sync file that does not parse stops the export with its line.
#include "Media.h"
#include "Program.h"

#include <QDir>

namespace {

// red = sync("red"): 0 at row 0 rising linearly to 240 at row 16 (2 s at
// 120 bpm), then held, read above the horizon (the floor lies below it).
// Frame 4's update() seeks the music to 1.5 s.
const char kSync[] = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack red\n0 0 linear\n16 240 step\n";
const char kProduction[] =
    "playMp3() setCamPos(0, 0, 100) lookAt(0, 0, 0)\n"
    "local frame = -1\n"
    "function update() frame = frame + 1 if frame == 4 then setMp3Time(1.5) end end\n"
    "function render()\n"
    "  beginQuadGL() colorGL(math.floor(sync('red') + 0.5), 0, 0, 255)\n"
    "  vectorGL(-1000, -1000, 0) vectorGL(1000, -1000, 0) vectorGL(1000, 1000, 0) vectorGL(-1000, 1000, 0) endGL()\n"
    "end\n";

class SyncEndToEnd : public EndToEndTest
{
protected:
    // Exports 10 frames at 10 fps into `folder`.
    Outcome Export(const QString &folder, const QStringList &more)
    {
        return RunToEnd(QStringList{"--export", folder + "/%02d.png", "--fps", "10", "--size", "64x36"} + more);
    }
    std::vector<int> Reds(const QString &folder) const
    {
        std::vector<int> reds;
        for (int k = 0; k < 10; ++k)
            reds.push_back(qRed(QImage(path(folder + QString::asprintf("/%02d.png", k))).pixel(32, 6)));
        return reds;
    }
};

TEST_F(SyncEndToEnd, ExportedFramesFollowTheTracksWithAndWithoutMusicAndRepeat)
{
    ASSERT_TRUE(WriteFile(path("sync.txt"), kSync));
    ASSERT_TRUE(WriteFile(path("prod.lua"), kProduction));

    // Without music the own clock starts at --from and moves a frame a time.
    auto run = Export("silent", {"--from", "0.5", "--to", "1.5"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(Reds("silent"), std::vector<int>({60, 72, 84, 96, 108, 120, 132, 144, 156, 168}));

    // With music: 0.0 .. 0.3 s, the seek to 1.5 s in frame 4, then on to
    // 2.0 s where the step holds 240. Twice, byte for byte.
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 4.0));
    for (const QString folder : {"first", "second"}) {
        run = Export(folder, {"--to", "1"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(Reds(folder), std::vector<int>({0, 12, 24, 36, 180, 192, 204, 216, 228, 240}));
    }
    for (int k = 0; k < 10; ++k) {
        const QString name = QString::asprintf("/%02d.png", k);
        EXPECT_EQ(ReadFile(path("first") + name), ReadFile(path("second") + name)) << "frame " << k;
    }

    ASSERT_TRUE(WriteFile(path("sync.txt"), "velkaro-sync 1\ntrack red\n0 0 lineal\n"));
    run = Export("bad", {"--to", "1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.startsWith("velkaro: sync.txt: line 3: interpolation 'lineal'")) << run.err.toStdString();
    EXPECT_TRUE(QDir(path("bad")).isEmpty());
}

} // namespace
