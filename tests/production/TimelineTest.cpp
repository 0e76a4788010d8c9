// The timeline: its own clock without music (real time from the first
// frame, pause, the export's virtual clock) and the transport on the music
// (pause and scrub move the music, beat steps, a loop that wraps). The
// music runs on the sound layer's virtual clock, so times are exact.
#include "FSound.h"
#include "Media.h"
#include "Music.h"
#include "ScratchDir.h"
#include "Timeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(Timeline, OwnClockRunsInRealTimeFromTheFirstFrameAndPauses)
{
    ASSERT_EQ(gMusicStream, nullptr);
    Timeline timeline;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(timeline.time(), 0.0) << "before the first frame";
    const auto first = std::chrono::steady_clock::now();
    timeline.beginFrame();
    EXPECT_LT(timeline.time(), 0.01) << "the clock starts with the first frame, not before";
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    timeline.beginFrame();
    EXPECT_GE(timeline.time(), 0.04);
    EXPECT_LE(timeline.time(), std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count());
    EXPECT_TRUE(timeline.playing());

    timeline.togglePlay();
    const double paused = timeline.time();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    timeline.beginFrame();
    EXPECT_FALSE(timeline.playing());
    EXPECT_DOUBLE_EQ(timeline.time(), paused);
    timeline.seekRow(12); // 120 bpm, 4 rows a beat: 1.5 s
    timeline.beginFrame();
    EXPECT_DOUBLE_EQ(timeline.time(), 1.5);
    EXPECT_DOUBLE_EQ(timeline.beat(), 3.0);
    EXPECT_EQ(timeline.status(), "0:01.500  bar 1.4  row 12  paused");

    // The export's clock moves by frames only.
    Timeline exported;
    exported.setTempo(60, 2);
    exported.useVirtualClock(0.5);
    exported.beginFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    exported.advanceVirtualClock(0.25);
    exported.beginFrame();
    EXPECT_DOUBLE_EQ(exported.time(), 0.75);
    EXPECT_DOUBLE_EQ(exported.row(), 1.5);
}

class TimelineMusic : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        ASSERT_TRUE(MakeToneMp3("music.mp3", 6.0));
        FSOUND_SetVirtualClock(true);
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1));
    }
    static void TearDownTestSuite()
    {
        FSOUND_Close();
        scratch.reset();
    }
    void SetUp() override { ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", 0, 0, 0), nullptr); }
    void TearDown() override
    {
        FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }
    // Moves the music on and starts the next frame.
    void Frame(double ms)
    {
        FSOUND_AdvanceVirtualClock(ms);
        timeline.beginFrame();
    }
    int MusicMs() const { return FSOUND_Stream_GetTime(gMusicStream); }

    static inline std::unique_ptr<ScratchDir> scratch;
    Timeline timeline;
};

TEST_F(TimelineMusic, PauseAndScrubMoveTheMusic)
{
    timeline.play();
    Frame(1000);
    EXPECT_DOUBLE_EQ(timeline.time(), 1.0);
    timeline.togglePlay();
    EXPECT_FALSE(MusicIsPlaying());
    Frame(500);
    EXPECT_EQ(MusicMs(), 1000) << "paused where it was";
    timeline.seekRow(19); // 2.375 s
    EXPECT_EQ(MusicMs(), 2375);
    EXPECT_EQ(timeline.wholeRow(), 19);
    timeline.togglePlay();
    EXPECT_TRUE(MusicIsPlaying());
    Frame(100);
    EXPECT_DOUBLE_EQ(timeline.time(), 2.475);
    const struct
    {
        int beats;
        int ms;
    } steps[] = {{1, 2500}, {1, 3000}, {-1, 2500}, {-4, 500}, {-4, 0}, {4, 2000}};
    for (const auto &step : steps) {
        timeline.stepBeats(step.beats);
        EXPECT_EQ(MusicMs(), step.ms) << step.beats;
        EXPECT_DOUBLE_EQ(timeline.time(), step.ms / 1000.0) << step.beats;
    }
}

TEST_F(TimelineMusic, ALoopWrapsToItsStartWhilePlaying)
{
    timeline.seekRow(8);
    timeline.markLoopIn();
    timeline.seekRow(12);
    timeline.markLoopOut();
    timeline.seekRow(10);
    EXPECT_TRUE(timeline.looping());
    EXPECT_NE(timeline.status().find("loop 8-12"), std::string::npos) << timeline.status();
    timeline.play();
    Frame(200); // 1.45 s
    EXPECT_DOUBLE_EQ(timeline.time(), 1.45);
    Frame(100); // 1.55 s: past the end
    EXPECT_DOUBLE_EQ(timeline.time(), 1.0);
    EXPECT_EQ(MusicMs(), 1000);
    EXPECT_TRUE(MusicIsPlaying());
    timeline.clearLoop();
    Frame(600);
    EXPECT_DOUBLE_EQ(timeline.time(), 1.6);
}

} // namespace
