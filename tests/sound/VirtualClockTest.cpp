// The virtual music clock: the mixer stays silent and every stream call
// works on a position that only FSOUND_AdvanceVirtualClock moves.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <SDL_mixer.h> // Mix_PlayingMusic: proves the mixer plays nothing

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(VirtualClock, EveryMusicCallRunsOnTheAdvancedClockAndTheMixerStaysSilent)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("three.mp3", 3.0));
    FSOUND_SetVirtualClock(true);
    // SDL_AUDIODRIVER names a driver that does not exist: the virtual
    // clock opens the silent one straight away.
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    FSOUND_STREAM *track = FSOUND_Stream_Open("three.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(track, nullptr);
    const int length = FSOUND_Stream_GetLengthMs(track);
    ASSERT_NEAR(length, 3000, 30);

    FSOUND_AdvanceVirtualClock(500.0); // nothing plays: no effect
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, 1000));
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_EQ(Mix_PlayingMusic(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // wall time is not music time
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 1000);

    // Sixty steps of a 60 fps frame land on whole milliseconds, never one short.
    for (int frame = 1; frame <= 60; ++frame) {
        FSOUND_AdvanceVirtualClock(1000.0 / 60.0);
        ASSERT_EQ(FSOUND_Stream_GetTime(track), 1000 + frame * 1000 / 60) << frame;
    }
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 2000);

    // Seek while playing, then run past the end: stopped at the length.
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, 1500));
    ASSERT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 1500);
    FSOUND_AdvanceVirtualClock(length - 1500 + 100.0);
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_GetTime(track), length);

    // After the end the next play starts from 0; stop rewinds; a seek to the
    // length while playing ends the track.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 0);
    FSOUND_AdvanceVirtualClock(250.0);
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 250);
    ASSERT_TRUE(FSOUND_Stream_Stop(track));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_GetTime(track), 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, track), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(track, length));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_GetTime(track), length);
    EXPECT_EQ(Mix_PlayingMusic(), 0);

    FSOUND_Stream_Close(track);
    FSOUND_Close();
}

} // namespace
