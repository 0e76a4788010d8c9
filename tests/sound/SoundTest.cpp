// The FSOUND_ layer against synthesised MP3 files on the silent driver:
// opening, length, play/stop/seek, the end of the track and the music clock.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <QFile>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

FSOUND_STREAM *Open(const char *name) { return FSOUND_Stream_Open(name, FSOUND_MPEGACCURATE, 0, 0); }
int Play(FSOUND_STREAM *stream) { return FSOUND_Stream_Play(FSOUND_FREE, stream); }
int Time(FSOUND_STREAM *stream) { return FSOUND_Stream_GetTime(stream); }
auto Within(double low, double high) { return ::testing::AllOf(::testing::Ge(low), ::testing::Lt(high)); }

bool WaitUntilStopped(std::chrono::milliseconds limit)
{
    for (const Clock::time_point end = Clock::now() + limit; FSOUND_IsPlaying(0); std::this_thread::sleep_for(5ms))
        if (Clock::now() > end)
            return false;
    return true;
}

class SoundTest : public ::testing::Test
{
protected:
    // The output and the music files are made once: both are slow.
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        ASSERT_TRUE(MakeToneMp3("two.mp3", 2.0) && MakeToneMp3("half.mp3", 0.5));
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    static void TearDownTestSuite() { FSOUND_Close(); scratch.reset(); }
    void SetUp() override
    {
        ASSERT_NE(two = Open("two.mp3"), nullptr);
        ASSERT_NE(half = Open("half.mp3"), nullptr);
    }
    void TearDown() override { FSOUND_Stream_Close(two); FSOUND_Stream_Close(half); }
    static inline std::unique_ptr<ScratchDir> scratch;
    FSOUND_STREAM *two = nullptr, *half = nullptr;
};

TEST_F(SoundTest, OpenReportsBadFilesAndMeasuresGoodOnes)
{
    QFile text("notes.mp3"), empty("empty.mp3");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("Plain text, not music.\n") > 0 && text.flush());
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    // Missing or unreadable: 9 (FMOD_ERR_FILE_NOTFOUND); no music: 10 (FMOD_ERR_FILE_FORMAT).
    for (const auto &[name, code] : {std::pair{"absent.mp3", 9}, {".", 9}, {"notes.mp3", 10}, {"empty.mp3", 10}}) {
        EXPECT_EQ(Open(name), nullptr) << name;
        EXPECT_EQ(FSOUND_GetError(), code) << name;
    }
    FSOUND_Stream_Close(Open("two.mp3"));
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_NONE);
    EXPECT_NEAR(FSOUND_Stream_GetLengthMs(two), 2000, 30);
    EXPECT_NEAR(FSOUND_Stream_GetLengthMs(half), 500, 30);
}

TEST_F(SoundTest, SeekIsClampedAndMovesTheClockStoppedOrPlayingAndStopRewinds)
{
    const int length = FSOUND_Stream_GetLengthMs(two);
    for (const auto &[request, ms] : {std::pair{1500, 1500}, {-20, 0}, {length + 5000, length}, {1200, 1200}}) {
        EXPECT_TRUE(FSOUND_Stream_SetTime(two, request));
        EXPECT_EQ(Time(two), ms);
    }
    ASSERT_EQ(Play(two), 0);
    EXPECT_THAT(Time(two), Within(1200, 1400));
    for (const int request : {1700, 200}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(two, request));
        EXPECT_THAT(Time(two), Within(request, request + 150));
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(Time(two), 300);
    EXPECT_TRUE(FSOUND_Stream_Stop(two)); // rewinds
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(Time(two), 0);
    ASSERT_EQ(Play(two), 0);
    EXPECT_LT(Time(two), 150);
}

TEST_F(SoundTest, PlayFollowsTheWallClockNeverBackwardsAndPlayingAgainKeepsTheChannel)
{
    const Clock::time_point begin = Clock::now();
    ASSERT_EQ(Play(two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_FALSE(FSOUND_IsPlaying(1));
    int ms = Time(two), decreases = 0;
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + 1500 * (i % 7)));
        const int now = Time(two);
        decreases += now < ms;
        ms = now;
    }
    EXPECT_EQ(decreases, 0);
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    EXPECT_THAT(ms, Within(0.5 * wallMs, 1.5 * wallMs));
    EXPECT_EQ(Play(two), 0); // while playing: the same channel, no restart
    EXPECT_GE(Time(two), ms);
}

TEST_F(SoundTest, TrackEndStopsAtTheLengthAndTheNextPlayStartsFromZero)
{
    const int length = FSOUND_Stream_GetLengthMs(half);
    ASSERT_EQ(Play(half), 0);
    ASSERT_TRUE(WaitUntilStopped(3000ms));
    EXPECT_EQ(Time(half), length);
    ASSERT_EQ(Play(half), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_LT(Time(half), 150);
    // A seek past the end while playing ends the track too.
    EXPECT_TRUE(FSOUND_Stream_SetTime(half, length + 3000));
    ASSERT_TRUE(WaitUntilStopped(1000ms));
    EXPECT_EQ(Time(half), length);
}

TEST_F(SoundTest, PlayingAnotherStreamOrClosingThePlayingOneHaltsIt)
{
    ASSERT_TRUE(FSOUND_Stream_SetTime(two, 400));
    ASSERT_EQ(Play(two), 0);
    ASSERT_EQ(Play(half), 0);
    EXPECT_EQ(Time(two), 0); // stopped as by FSOUND_Stream_Stop
    FSOUND_STREAM *closed = half;
    half = nullptr;
    EXPECT_TRUE(FSOUND_Stream_Close(closed));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_FALSE(FSOUND_Stream_Close(closed)); // refused, not freed twice
    ASSERT_EQ(Play(two), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
}

} // namespace
