// Start-up paths of the FSOUND_ layer: calls before init, and the fallback
// to the silent driver. The test runs with SDL_AUDIODRIVER naming a driver
// that does not exist, so the first open fails on every machine.
#include "FSound.h"
#include "Media.h"
#include "ScratchDir.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

QStringList gDebugLines;

void CollectDebug(QtMsgType, const QMessageLogContext &, const QString &message)
{
    gDebugLines << message;
}

TEST(SoundStartup, CallsBeforeInitAreHarmless)
{
    FSOUND_Close();
    FSOUND_Close();
    EXPECT_EQ(FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
}

TEST(SoundStartup, FallsBackToTheSilentDriverThatKeepsTime)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("music.mp3", 2.0));

    gDebugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectDebug);
    const bool ok = FSOUND_Init(44100, 32, 1);
    qInstallMessageHandler(previous);
    ASSERT_TRUE(ok) << FSOUND_GetError();
    EXPECT_EQ(gDebugLines, QStringList{"sound: no audio device, music plays silently"});

    // A second init is refused while the output is open.
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1));
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);

    FSOUND_STREAM *stream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
    ASSERT_NE(stream, nullptr);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int ms = FSOUND_Stream_GetTime(stream);
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GT(ms, 0.5 * wallMs);
    EXPECT_LT(ms, 1.5 * wallMs);

    // Closing the library first leaves a handle that only Stream_Close takes.
    FSOUND_Close();
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), -1);
    EXPECT_TRUE(FSOUND_Stream_Close(stream));

    // The output opens again after a close, through the same fallback.
    gDebugLines.clear();
    qInstallMessageHandler(CollectDebug);
    const bool reopened = FSOUND_Init(44100, 32, 1);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(reopened);
    EXPECT_EQ(gDebugLines.size(), 1);
    FSOUND_Close();
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
