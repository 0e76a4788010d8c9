// The timeline's own clock without music, and the transport on the music,
// which runs on the sound layer's virtual clock, so times are exact; tap
// tempo; a live input (SDL's disk driver capturing from a file).
#include "FSound.h"
#include "Files.h"
#include "FrameInputs.h"
#include "Media.h"
#include "Music.h"
#include "MusicAnalysis.h"
#include "ScratchDir.h"
#include "Timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
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

// 1.5 s of a 1 kHz tone at half scale, then the file ends: silence. The
// music's own analysis stays silent; a name that matches nothing says which
// names there are.
TEST(FrameInputs, FollowTheLiveInputsNewestSamples)
{
    ScratchDir scratch;
    QByteArray tone(4 * 66150, 0);
    for (int i = 0; i < 66150; ++i)
        reinterpret_cast<float *>(tone.data())[i] = 0.5f * std::sin(2.0f * 3.14159265f * 1000.0f * i / 44100.0f);
    ASSERT_TRUE(WriteFile("in.raw", tone));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILEIN", "in.raw", 1);
    Timeline timeline;
    FrameInputs inputs(timeline);
    EXPECT_FALSE(inputs.useInput("usb"));
    EXPECT_EQ(inputs.inputProblem(), "no input matches \"usb\" (inputs: \"System audio capture device\"); silent until one does");
    ASSERT_TRUE(inputs.useInput("CAPTURE")) << inputs.inputProblem();
    std::vector<float> bands(64);
    const auto heard = [&](const std::function<bool(float)> &until) {
        for (int frame = 0; frame < 500; ++frame, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (inputs.take(0, 0), inputs.spectrum(64, bands.data()), until(inputs.level()))
                return true;
        return false;
    };
    ASSERT_TRUE(heard([](float level) { return level > 0.35f; })) << "a window full of the tone";
    EXPECT_NEAR(inputs.level(), 0.354f, 0.005f);
    const int band1k = static_cast<int>(std::log(1000.0 / kSpectrumLowHz) / std::log(kSpectrumHighHz / kSpectrumLowHz) * 64);
    EXPECT_EQ(std::max_element(bands.begin(), bands.end()) - bands.begin(), band1k);
    EXPECT_EQ(inputs.musicLevel(), 0.0f);
    ASSERT_TRUE(heard([](float level) { return level == 0.0f; }));
    EXPECT_EQ(bands, std::vector<float>(64, 0.0f));
}

// Taps fed their times: from the fourth on the bpm is their mean interval
// (to 0.1) and a whole beat falls on the last; a pause starts over; the sync
// file's bpm takes over only when it changes, and keeps the beat when it
// says the tapped bpm (saved from the pane).
TEST(Timeline, TapsSetTheBpmAndTheBeat)
{
    Timeline timeline; // 120 bpm
    timeline.useVirtualClock(10.3); // the last tap is heard at 10.3 s: beat 20.6 before
    timeline.beginFrame();
    for (const double t : {100.0, 100.52, 101.04})
        EXPECT_FALSE(timeline.tap(t, 10.3));
    EXPECT_NE(timeline.status().find("  tap 3"), std::string::npos) << timeline.status();
    EXPECT_TRUE(timeline.tap(101.56, 10.3));
    EXPECT_DOUBLE_EQ(timeline.bpm(), 115.4); // 60 / 0.52
    EXPECT_NEAR(timeline.beat(), 21.0, 1e-9);
    EXPECT_TRUE(timeline.tap(102.0, 10.3)); // a shorter fifth interval: the mean of the four
    EXPECT_DOUBLE_EQ(timeline.bpm(), 120.0);
    EXPECT_FALSE(timeline.tap(104.1, 10.3)) << "after a pause the taps start over";
    EXPECT_EQ(timeline.taps(), 1);
    EXPECT_NE(timeline.status().find("  120.0 bpm tapped"), std::string::npos) << timeline.status();
    timeline.setTempo(120.0, 4);
    EXPECT_TRUE(timeline.tapped()) << "the file's bpm did not change";
    for (const double t : {107.0, 107.4, 107.8, 108.2})
        timeline.tap(t, 10.3);
    timeline.setTempo(150.0, 4);
    EXPECT_FALSE(timeline.tapped());
    EXPECT_NEAR(timeline.beat(), 21.0, 1e-9) << "saved: the tapped beat stays";
    timeline.setTempo(90.0, 4);
    EXPECT_NEAR(timeline.beat(), 10.3 * 1.5, 1e-9) << "another bpm in the file takes over";
}

} // namespace
