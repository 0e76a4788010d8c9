// Start-up paths of the FSOUND_ layer. SDL_AUDIODRIVER names a driver that
// does not exist, so the first open fails on every machine.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <QStringList>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

QStringList gDebugLines;

// FSOUND_Init, with the debug lines it writes collected.
bool InitCollecting()
{
    gDebugLines.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &line) { gDebugLines << line; });
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
    ASSERT_TRUE(InitCollecting()) << FSOUND_GetError();
    EXPECT_EQ(gDebugLines, QStringList{"sound: no audio device, music plays silently"});
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1)); // refused while the output is open
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);

    FSOUND_STREAM *stream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(stream, nullptr);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int ms = FSOUND_Stream_GetTime(stream);
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_THAT(ms, ::testing::AllOf(::testing::Gt(0.5 * wallMs), ::testing::Lt(1.5 * wallMs)));

    // Closing the library first leaves a handle that only Stream_Close takes.
    FSOUND_Close();
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), -1);
    EXPECT_TRUE(FSOUND_Stream_Close(stream));
    // The output opens again, through the same fallback.
    EXPECT_TRUE(InitCollecting());
    EXPECT_EQ(gDebugLines.size(), 1);
    FSOUND_Close();
}

} // namespace
