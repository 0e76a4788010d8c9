// Tests of the FSOUND_ layer against synthesised MP3 files: opening,
// length, the play/stop/seek state machine, the end of the track and the
// music clock.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The output is opened once per binary: opening SDL audio is slow.
class SoundEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError(); }
    void TearDown() override { FSOUND_Close(); }
};

class SoundTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        scratch = new ScratchDir;
        ASSERT_TRUE(scratch->isValid());
        ASSERT_TRUE(MakeToneMp3("two.mp3", 2.0));
        ASSERT_TRUE(MakeToneMp3("half.mp3", 0.5));
    }
    static void TearDownTestSuite()
    {
        delete scratch;
        scratch = nullptr;
    }

    void SetUp() override
    {
        two = FSOUND_Stream_Open("two.mp3", FSOUND_MPEGACCURATE, 0, 0);
        half = FSOUND_Stream_Open("half.mp3", FSOUND_MPEGACCURATE, 0, 0);
        ASSERT_NE(two, nullptr);
        ASSERT_NE(half, nullptr);
    }
    void TearDown() override
    {
        FSOUND_Stream_Close(two);
        FSOUND_Stream_Close(half);
    }

    // Waits until nothing plays on channel 0, at most `limit`.
    static bool WaitUntilStopped(std::chrono::milliseconds limit)
    {
        const Clock::time_point end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (!FSOUND_IsPlaying(0))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return !FSOUND_IsPlaying(0);
    }

    static ScratchDir *scratch;
    FSOUND_STREAM *two = nullptr;
    FSOUND_STREAM *half = nullptr;
};

ScratchDir *SoundTest::scratch = nullptr;

TEST_F(SoundTest, OpenReportsMissingAndUndecodableFiles)
{
    EXPECT_EQ(FSOUND_Stream_Open("absent.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_NOTFOUND);
    EXPECT_EQ(FSOUND_GetError(), 9);

    // A folder exists but cannot be read as a file.
    EXPECT_EQ(FSOUND_Stream_Open(".", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), 9);

    QFile text("notes.mp3");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("This is a plain text file, not music at all.\n");
    text.close();
    EXPECT_EQ(FSOUND_Stream_Open("notes.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
    EXPECT_EQ(FSOUND_GetError(), 10);

    QFile empty("empty.mp3");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_EQ(FSOUND_Stream_Open("empty.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), 10);

    // A success clears the code.
    FSOUND_STREAM *again = FSOUND_Stream_Open("two.mp3", FSOUND_MPEGACCURATE, 0, 0);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_NONE);
    FSOUND_Stream_Close(again);
}

TEST_F(SoundTest, LengthComesFromTheAccurateScan)
{
    EXPECT_NEAR(FSOUND_Stream_GetLengthMs(two), 2000, 30);
    EXPECT_NEAR(FSOUND_Stream_GetLengthMs(half), 500, 30);
}

TEST_F(SoundTest, SeekWhileStoppedSetsTheStartAndIsClamped)
{
    const int length = FSOUND_Stream_GetLengthMs(two);
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);
    EXPECT_TRUE(FSOUND_Stream_SetTime(two, 1500));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 1500);
    EXPECT_TRUE(FSOUND_Stream_SetTime(two, -20));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);
    EXPECT_TRUE(FSOUND_Stream_SetTime(two, length + 5000));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), length);
    EXPECT_FALSE(FSOUND_IsPlaying(0));

    // The next play starts where the seek put it.
    ASSERT_TRUE(FSOUND_Stream_SetTime(two, 1200));
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    const int start = FSOUND_Stream_GetTime(two);
    EXPECT_GE(start, 1200);
    EXPECT_LT(start, 1400);
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, PlayAdvancesWithTheWallClock)
{
    const Clock::time_point begin = Clock::now();
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_FALSE(FSOUND_IsPlaying(1));
    EXPECT_FALSE(FSOUND_IsPlaying(-1));
    std::this_thread::sleep_for(1000ms);
    const int ms = FSOUND_Stream_GetTime(two);
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    EXPECT_GT(ms, 0.5 * wallMs);
    EXPECT_LT(ms, 1.5 * wallMs);

    // A second play changes nothing and hands back the same channel.
    const int before = FSOUND_Stream_GetTime(two);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_GE(FSOUND_Stream_GetTime(two), before);
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, StopHaltsAndRewinds)
{
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_GT(FSOUND_Stream_GetTime(two), 0);
    EXPECT_TRUE(FSOUND_Stream_Stop(two));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);

    // Playing again starts from the beginning.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    EXPECT_LT(FSOUND_Stream_GetTime(two), 150);
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, SeekWhilePlayingMovesTheClock)
{
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(two, 1000));
    int ms = FSOUND_Stream_GetTime(two);
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1150);
    EXPECT_TRUE(FSOUND_IsPlaying(0));

    // Backwards seeks are obeyed too.
    ASSERT_TRUE(FSOUND_Stream_SetTime(two, 200));
    ms = FSOUND_Stream_GetTime(two);
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 350);
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(FSOUND_Stream_GetTime(two), 300);
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, EndOfTrackStopsAtTheLengthAndReplaysFromZero)
{
    const int length = FSOUND_Stream_GetLengthMs(half);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, half), 0);
    ASSERT_TRUE(WaitUntilStopped(3000ms));
    EXPECT_EQ(FSOUND_Stream_GetTime(half), length);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FSOUND_Stream_GetTime(half), length);
    EXPECT_FALSE(FSOUND_IsPlaying(0));

    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, half), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_LT(FSOUND_Stream_GetTime(half), 150);
    FSOUND_Stream_Stop(half);
}

TEST_F(SoundTest, SeekPastTheEndWhilePlayingEndsTheTrack)
{
    const int length = FSOUND_Stream_GetLengthMs(two);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    EXPECT_TRUE(FSOUND_Stream_SetTime(two, length + 3000));
    ASSERT_TRUE(WaitUntilStopped(1000ms));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), length);

    // After the end a seek moves the position again.
    EXPECT_TRUE(FSOUND_Stream_SetTime(two, 700));
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 700);
}

TEST_F(SoundTest, TimeNeverDecreasesWhilePlaying)
{
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    int previous = FSOUND_Stream_GetTime(two);
    int decreases = 0;
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + 1500 * (i % 7)));
        const int ms = FSOUND_Stream_GetTime(two);
        if (ms < previous)
            ++decreases;
        previous = ms;
    }
    EXPECT_EQ(decreases, 0);
    EXPECT_GT(previous, 200); // it really played through the reads
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, OnlyOneStreamPlays)
{
    ASSERT_TRUE(FSOUND_Stream_SetTime(two, 400));
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, half), 0);
    // The first stream is stopped as by FSOUND_Stream_Stop.
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(FSOUND_Stream_GetTime(half), 0);
    EXPECT_EQ(FSOUND_Stream_GetTime(two), 0);

    // Stopping the stream that no longer plays leaves the other one alone.
    EXPECT_TRUE(FSOUND_Stream_Stop(two));
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    FSOUND_Stream_Stop(half);
    EXPECT_FALSE(FSOUND_IsPlaying(0));
}

TEST_F(SoundTest, CloseWhilePlayingHaltsTheMusic)
{
    FSOUND_STREAM *extra = FSOUND_Stream_Open("two.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(extra, nullptr);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, extra), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(FSOUND_Stream_Close(extra));
    EXPECT_FALSE(FSOUND_IsPlaying(0));

    // The handle is gone: closing it again is refused, not a double free.
    EXPECT_FALSE(FSOUND_Stream_Close(extra));
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);

    // Another stream plays normally afterwards.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    FSOUND_Stream_Stop(two);
}

TEST_F(SoundTest, NullStreamIsHarmless)
{
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
    EXPECT_FALSE(FSOUND_Stream_Stop(nullptr));
    EXPECT_FALSE(FSOUND_Stream_SetTime(nullptr, 10));
    EXPECT_EQ(FSOUND_Stream_GetTime(nullptr), 0);
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(nullptr), 0);
    EXPECT_FALSE(FSOUND_IsPlaying(0));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SoundEnvironment);
    return RUN_ALL_TESTS();
}
