// The timeline's own clock without music, and the transport on the music,
// which runs on the sound layer's virtual clock, so times are exact.
#include "FSound.h"
#include "FrameInputs.h"
#include "Media.h"
#include "Music.h"
#include "ScratchDir.h"
#include "Timeline.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(Timeline, OwnClockRunsFromTheFirstFrameAndPauses)
{
    ASSERT_EQ(gMusicStream, nullptr);
    Timeline timeline;
    timeline.useVirtualClock(0.0);
    timeline.advanceVirtualClock(0.03);
    timeline.beginFrame();
    EXPECT_EQ(timeline.time(), 0.0) << "the clock starts with the first frame, not before";
    timeline.advanceVirtualClock(0.04);
    timeline.beginFrame();
    EXPECT_DOUBLE_EQ(timeline.time(), 0.04);

    timeline.togglePlay();
    const double paused = timeline.time();
    timeline.advanceVirtualClock(0.02);
    timeline.beginFrame();
    EXPECT_DOUBLE_EQ(timeline.time(), paused);
    timeline.setTempo(60, 2);
    timeline.seekRow(3); // 60 bpm, 2 rows a beat: 1.5 s
    timeline.beginFrame();
    EXPECT_EQ(timeline.status(), "0:01.500  bar 1.2  row 3  paused");
}

// The frame's inputs hear the music at the frame's time while the transport
// holds it too (a paused frame is the one the export writes there), and
// silence once the script stopped it.
TEST(Timeline, TheTransportMovesTheMusic)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeSynthMp3("music.mp3", {"synth", "6", "sine", "200-4000"}));
    FSOUND_SetVirtualClock(true);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1));
    ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", 0, 0, 0), nullptr);
    Timeline timeline;
    FrameInputs inputs(timeline);
    const auto heard = [&inputs] {
        std::vector<float> values(32);
        inputs.spectrum(32, values.data());
        values.push_back(inputs.level());
        return values;
    };
    const auto frame = [&timeline](double ms) { // moves the music on and starts the next frame
        FSOUND_AdvanceVirtualClock(ms);
        timeline.beginFrame();
    };
    const auto musicMs = [] { return FSOUND_Stream_GetTime(gMusicStream); };

    timeline.play();
    frame(1000);
    EXPECT_DOUBLE_EQ(timeline.time(), 1.0);
    const std::vector<float> playingAt1 = heard();
    EXPECT_GT(playingAt1.back(), 0.3f);
    timeline.togglePlay();
    frame(500);
    EXPECT_EQ(musicMs(), 1000) << "paused where it was";
    EXPECT_EQ(heard(), playingAt1) << "a paused frame hears the music where it stands";
    timeline.seekRow(19); // 2.375 s
    EXPECT_EQ(musicMs(), 2375);
    const std::vector<float> scrubbed = heard();
    EXPECT_NE(scrubbed, playingAt1) << "the analysis follows the scrub";
    timeline.togglePlay();
    frame(0);
    EXPECT_EQ(heard(), scrubbed) << "playing at the same time";
    frame(100);
    EXPECT_DOUBLE_EQ(timeline.time(), 2.475);
    FSOUND_Stream_Stop(gMusicStream);   // as the script's stopMp3
    EXPECT_EQ(heard(), std::vector<float>(33, 0.0f)) << "music stopped by the script is silence";
    FSOUND_Stream_SetTime(gMusicStream, 2475);
    timeline.play();
    for (const auto &[beats, ms] : {std::pair{1, 2500}, {1, 3000}, {-1, 2500}, {-4, 500}, {-4, 0}, {4, 2000}}) {
        timeline.stepBeats(beats);
        EXPECT_EQ(musicMs(), ms) << beats;
        EXPECT_DOUBLE_EQ(timeline.time(), ms / 1000.0) << beats;
    }

    timeline.seekRow(8);
    timeline.markLoopIn();
    timeline.seekRow(12);
    timeline.markLoopOut();
    timeline.seekRow(10);
    EXPECT_NE(timeline.status().find("loop 8-12"), std::string::npos) << timeline.status();
    frame(200); // 1.45 s
    EXPECT_DOUBLE_EQ(timeline.time(), 1.45);
    frame(100); // 1.55 s: past the end
    EXPECT_DOUBLE_EQ(timeline.time(), 1.0);
    timeline.clearLoop();
    frame(600);
    EXPECT_DOUBLE_EQ(timeline.time(), 1.6);
    FSOUND_Stream_Close(gMusicStream);
    gMusicStream = nullptr;
    FSOUND_Close();
}

} // namespace
