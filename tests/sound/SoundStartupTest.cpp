// The FSOUND_ layer without a sound card: SDL_AUDIODRIVER names a driver
// that does not exist, so the first open fails on every machine. Start-up
// falls back to the silent driver; the virtual clock of offline rendering
// opens it straight away and keeps the mixer silent.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <QStringList>

#include <SDL_mixer.h> // Mix_PlayingMusic: proves the mixer plays nothing

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

// FSOUND_Init, with the debug lines it writes.
bool InitCollecting(QStringList &lines)
{
    static QStringList *sink;
    sink = &lines;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &line) { *sink << line; });
    const bool ok = FSOUND_Init(44100, 32, 1);
    qInstallMessageHandler(previous);
    return ok;
}

TEST(SoundStartup, CallsBeforeInitAreHarmlessThenInitFallsBackToTheSilentDriver)
{
    FSOUND_Close();
    EXPECT_EQ(FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
    EXPECT_FALSE(FSOUND_Stream_Stop(nullptr) || FSOUND_Stream_SetTime(nullptr, 10) || FSOUND_IsPlaying(0));
    EXPECT_EQ(std::pair(FSOUND_Stream_GetTime(nullptr), FSOUND_Stream_GetLengthMs(nullptr)), std::pair(0, 0));

    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("music.mp3", 2.0));
    QStringList lines;
    ASSERT_TRUE(InitCollecting(lines)) << FSOUND_GetError();
    EXPECT_EQ(lines, QStringList{"sound: no audio device, music plays silently"});
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1)); // refused while the output is open
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);

    // The silent driver plays: the clock follows the wall clock.
    FSOUND_STREAM *stream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(stream, nullptr);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int ms = FSOUND_Stream_GetTime(stream);
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GT(ms, 0.5 * wallMs);
    EXPECT_LT(ms, 1.5 * wallMs);

    // Closing the library first leaves a handle that only Stream_Close takes;
    // the output then opens again through the same fallback.
    FSOUND_Close();
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), -1);
    EXPECT_TRUE(FSOUND_Stream_Close(stream));
    lines.clear();
    EXPECT_TRUE(InitCollecting(lines));
    EXPECT_EQ(lines.size(), 1);
    FSOUND_Close();
}

// Every stream call works on a position only FSOUND_AdvanceVirtualClock moves.
TEST(VirtualClock, EveryMusicCallRunsOnTheAdvancedClockAndTheMixerStaysSilent)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("three.mp3", 3.0));
    FSOUND_SetVirtualClock(true);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    FSOUND_STREAM *track = FSOUND_Stream_Open("three.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(track, nullptr);
    const auto time = [&] { return FSOUND_Stream_GetTime(track); };
    const int length = FSOUND_Stream_GetLengthMs(track);
    ASSERT_NEAR(length, 3000, 30);

    FSOUND_AdvanceVirtualClock(500.0); // nothing plays: no effect
    EXPECT_EQ(time(), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, 1000));
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_EQ(Mix_PlayingMusic(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // wall time is not music time
    EXPECT_EQ(time(), 1000);
    // Sixty steps of a 60 fps frame land on whole milliseconds, never one short.
    for (int frame = 1; frame <= 60; ++frame) {
        FSOUND_AdvanceVirtualClock(1000.0 / 60.0);
        ASSERT_EQ(time(), 1000 + frame * 1000 / 60) << frame;
    }
    // Seek while playing, then run past the end: stopped at the length.
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, 1500));
    ASSERT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_EQ(time(), 1500);
    FSOUND_AdvanceVirtualClock(length - 1500 + 100.0);
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(time(), length);
    // After the end the next play starts from 0; stop rewinds; a seek to the
    // length while playing ends the track.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    EXPECT_EQ(time(), 0);
    FSOUND_AdvanceVirtualClock(250.0);
    EXPECT_EQ(time(), 250);
    ASSERT_TRUE(FSOUND_Stream_Stop(track));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(time(), 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, length));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(time(), length);
    EXPECT_EQ(Mix_PlayingMusic(), 0);
    FSOUND_Stream_Close(track);
    FSOUND_Close();
}

} // namespace
