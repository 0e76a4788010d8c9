// The FSOUND_ layer and the music analysis without a sound card: start-up
// falls back to the silent driver; the virtual clock makes every time exact.
#include "FSound.h"
#include "Files.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "ScratchDir.h"
#include "SoundFollower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

FSOUND_STREAM *Open(const char *name) { return FSOUND_Stream_Open(name, FSOUND_MPEGACCURATE, 0, 0); }
int Play(FSOUND_STREAM *stream) { return FSOUND_Stream_Play(FSOUND_FREE, stream); }
int Time(FSOUND_STREAM *stream) { return FSOUND_Stream_GetTime(stream); }

// FSOUND_Init, with the debug lines it writes.
bool InitCollecting(QStringList &lines)
{
    DebugLines debug;
    const bool ok = FSOUND_Init(44100, 32, 1);
    lines = debug.lines;
    return ok;
}

TEST(Sound, StartsOnTheSilentDriverWhoseClockFollowsTheWallClockToTheEnd)
{
    FSOUND_SetVirtualClock(false);
    EXPECT_EQ(Open("music.mp3"), nullptr); // every call before FSOUND_Init is harmless
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(Play(nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr) || FSOUND_Stream_Stop(nullptr) || FSOUND_Stream_SetTime(nullptr, 10));
    EXPECT_EQ(std::pair(Time(nullptr), FSOUND_Stream_GetLengthMs(nullptr)), std::pair(0, 0));

    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("two.mp3", 2.0));
    QStringList lines;
    ASSERT_TRUE(InitCollecting(lines)) << FSOUND_GetError();
    EXPECT_EQ(lines, QStringList{"sound: no audio device, music plays silently"});
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1)); // refused while the output is open
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);
    for (const char *name : {"absent.mp3", "."}) {
        EXPECT_EQ(Open(name), nullptr);
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_NOTFOUND) << name;
    }

    // Seeks while playing (back too) move the clock; playing again changes
    // nothing; from there the clock follows the wall clock, never backwards,
    // until the track ends at its length.
    FSOUND_STREAM *two = Open("two.mp3");
    ASSERT_NE(two, nullptr);
    const int length = FSOUND_Stream_GetLengthMs(two);
    ASSERT_EQ(Play(two), 0);
    EXPECT_FALSE(FSOUND_IsPlaying(1)); // the music plays on channel 0
    for (const int ms : {1800, 1500}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(two, ms));
        ASSERT_EQ(Play(two), 0);
        EXPECT_GE(Time(two), ms);
        EXPECT_LT(Time(two), ms + 150);
    }
    const Clock::time_point begin = Clock::now();
    int ms = Time(two), decreases = 0;
    for (int i = 0; FSOUND_IsPlaying(0) && Clock::now() < begin + std::chrono::seconds(3); ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + 1500 * (i % 7)));
        const int now = Time(two);
        decreases += now < ms;
        ms = now;
    }
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    EXPECT_EQ(decreases, 0);
    EXPECT_EQ(ms, length);
    EXPECT_GT(wallMs, 0.5 * (length - 1500));
    EXPECT_LT(wallMs, 1.5 * (length - 1500));

    // Closing the library first leaves a handle that only Stream_Close takes;
    // the output then opens again through the same fallback.
    FSOUND_Close();
    EXPECT_EQ(Play(two), -1);
    EXPECT_TRUE(FSOUND_Stream_Close(two));
    lines.clear();
    EXPECT_TRUE(InitCollecting(lines));
    EXPECT_EQ(lines.size(), 1);
    FSOUND_Close();
}

// The output opens on the silent driver without trying a device.
TEST(VirtualClock, TheTransportRunsOnTheAdvancedClock)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3("three.mp3", 3.0) && MakeToneMp3("short.mp3", 0.3));
    FSOUND_SetVirtualClock(true);
    QStringList lines;
    ASSERT_TRUE(InitCollecting(lines)) << FSOUND_GetError();
    EXPECT_TRUE(lines.isEmpty());
    FSOUND_STREAM *track = Open("three.mp3"), *other = Open("short.mp3");
    ASSERT_TRUE(track && other);
    const int length = FSOUND_Stream_GetLengthMs(track);
    ASSERT_NEAR(length, 3000, 30);

    enum Call { Advance, Seek, Start, Stop, StartOther };
    constexpr int kLength = -1;
    const struct { Call call; int arg, ms; bool playing; } steps[] = {
        {Advance, 500, 0, false}, // nothing plays: no effect
        {Seek, -20, 0, false},
        {Seek, 9000, kLength, false},
        {Seek, 1000, 1000, false},
        {Start, 0, 1000, true},
        {Advance, 250, 1250, true},
        {Seek, 500, 500, true},
        {Advance, 9000, kLength, false}, // ran to the end: stopped there
        {Start, 0, 0, true},             // after the end, from 0
        {Advance, 250, 250, true},
        {Stop, 0, 0, false}, // rewinds
        {Start, 0, 0, true},
        {Seek, 9000, kLength, false}, // a seek to the length ends the track
        {Seek, 700, 700, false},
        {Start, 0, 700, true},
        {StartOther, 0, 0, true}, // halts this one as Stop does
    };
    for (const auto &step : steps) {
        switch (step.call) {
        case Advance: FSOUND_AdvanceVirtualClock(step.arg); break;
        case Seek: ASSERT_TRUE(FSOUND_Stream_SetTime(track, step.arg)); break;
        case Start: ASSERT_EQ(Play(track), 0); break;
        case Stop: ASSERT_TRUE(FSOUND_Stream_Stop(track)); break;
        case StartOther: ASSERT_EQ(Play(other), 0); break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // wall time is not music time
        EXPECT_EQ(Time(track), step.ms == kLength ? length : step.ms) << &step - steps;
        EXPECT_EQ(FSOUND_IsPlaying(0), step.playing) << &step - steps;
    }
    // The output never takes the playing stream: wall time does not end it.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(FSOUND_IsPlaying(0));
    // Closing the playing stream halts it; a second close is refused.
    EXPECT_TRUE(FSOUND_Stream_Close(other));
    EXPECT_FALSE(FSOUND_IsPlaying(0));
    EXPECT_FALSE(FSOUND_Stream_Close(other));
    FSOUND_Stream_Close(track);
    FSOUND_Close();
}

// The band (from 0) that holds `hz` when there are `bands` bands.
int BandOf(double hz, int bands)
{
    return static_cast<int>(std::floor(std::log(hz / kSpectrumLowHz) / std::log(kSpectrumHighHz / kSpectrumLowHz) * bands));
}

std::vector<float> Gather(const std::vector<float> &magnitudes, double binHz, int bands)
{
    std::vector<float> values(bands, -1.0f);
    GatherSpectrumBands(magnitudes.data(), static_cast<int>(magnitudes.size()), binHz, bands, values.data());
    return values;
}

constexpr double kBinHz = 44100.0 / kSpectrumWindow;

// Bands read 0..1 over -80..0 dB. Bin 93 (2002.6 Hz) alone: of 100 and 256
// bands, one has an edge between bins 93 and 94, one between 92 and 93.
TEST(GatherSpectrumBands, MapsDecibelsAndEachBinToTheBandsAroundIt)
{
    for (const auto &[magnitude, expected] : {std::pair{1.0f, 1.0f}, {0.1f, 0.75f}, {0.01f, 0.5f}, {1e-4f, 0.0f},
                                              {1e-6f, 0.0f}, {4.0f, 1.0f}, {0.0f, 0.0f}}) {
        const std::vector<float> flat(kSpectrumWindow / 2 + 1, magnitude);
        for (const int bands : {1, 7, 256})
            for (const float value : Gather(flat, kBinHz, bands))
                ASSERT_NEAR(value, expected, 1e-5) << magnitude << " in " << bands << " bands";
        const std::vector<float> values = Gather(flat, kBinHz / 2, 64);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(values[i], i <= BandOf(11025.0, 64) ? expected : 0.0f) << i;
    }
    std::vector<float> peak(kSpectrumWindow / 2 + 1, 0.0f);
    peak[93] = 1.0f;
    for (const int bands : {16, 100, 256}) {
        const std::vector<float> values = Gather(peak, kBinHz, bands);
        for (int i = 0; i < bands; ++i) {
            EXPECT_EQ(values[i] == 1.0f, i == BandOf(93 * kBinHz, bands)) << i << " of " << bands;
            EXPECT_EQ(values[i] > 0.0f, i >= BandOf(92 * kBinHz, bands) && i <= BandOf(94 * kBinHz, bands))
                << i << " of " << bands;
        }
    }
}

constexpr int kFrameFrames = 735; // one 60 fps frame at 44.1 kHz

// 60 frames a second over `samples` (44.1 kHz): each frame takes the window
// ending at its time. Returns the ms of the frames with an onset.
std::vector<double> OnsetsAt60Fps(const std::vector<float> &samples)
{
    SoundFollower follower;
    SpectrumWindow window;
    std::vector<double> onsets;
    for (long frame = 1; frame * kFrameFrames <= static_cast<long>(samples.size()); ++frame) {
        const long end = frame * kFrameFrames;
        std::vector<float> last(kSpectrumWindow, 0.0f);
        for (long i = std::max(0L, end - kSpectrumWindow); i < end; ++i)
            last[i - (end - kSpectrumWindow)] = samples[i];
        AnalyseWindow(last.data(), 44100.0, window);
        follower.take(frame, &window, end / 44.1, 0.0f);
        if (follower.onset())
            onsets.push_back(end / 44.1);
    }
    return onsets;
}

// A steady hum with a little noise starts (an onset in the first frame),
// then 8 kicks (a falling sine burst), every other one a flam, half a
// second apart: one onset each, within three frames of its start (the
// window's taper hears a sound fully some 20 ms after it began); none for
// the noise. Then rain: one onset as it starts, none within it.
TEST(SoundFollower, AClickTrackGivesOneOnsetPerClick)
{
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> hiss(-0.01f, 0.01f);
    std::vector<float> track(5 * 44100);
    for (size_t i = 0; i < track.size(); ++i)
        track[i] = 0.1f * std::sin(2.0f * 3.14159265f * 220.0f * i / 44100.0f) + hiss(noise);
    for (int click = 0; click < 8; ++click)
        for (int hit = 0; hit <= click % 2; ++hit) // odd ones a flam: a second hit 40 ms on
            for (int i = 0; i < 4410; ++i) // 100 ms from 150 Hz down, fading
                track[(250 + 500 * click + 40 * hit) * 441 / 10 + i] += 0.8f * std::exp(-i / 900.0f) * std::sin(i * (0.021f - i * 1.5e-6f));
    // Then a second of rain: noise of a new loudness every 10 ms.
    std::uniform_real_distribution<float> loudness(0.1f, 0.5f);
    float gain = 0.0f;
    for (size_t i = 4 * 44100; i < track.size(); ++i)
        track[i] += (i % 441 ? gain : (gain = 100.0f * loudness(noise))) * hiss(noise);
    const std::vector<double> onsets = OnsetsAt60Fps(track);
    ASSERT_EQ(onsets.size(), 10u) << ::testing::PrintToString(onsets);
    EXPECT_NEAR(onsets[0], 1000.0 / 60, 1e-9);
    for (int click = 0; click < 9; ++click) // and the rain's start
        EXPECT_NEAR(onsets[click + 1], (click < 8 ? 250 + 500 * click : 4000) + 25, 25.0) << click;
    track.assign(track.size(), 0.0f);
    EXPECT_TRUE(OnsetsAt60Fps(track).empty()) << "silence";
}

// Each frame moves every bin (1 - s) of the way; a second take in a frame
// replaces the first instead of smoothing again. A band scales with its bins.
TEST(SoundFollower, SmoothsOncePerFrame)
{
    std::vector<float> tone(kSpectrumWindow);
    for (int i = 0; i < kSpectrumWindow; ++i)
        tone[i] = 0.5f * std::sin(2.0f * 3.14159265f * 1000.0f * i / 44100.0f);
    SpectrumWindow window;
    AnalyseWindow(tone.data(), 44100.0, window);
    float raw[16], smoothed[16];
    SoundFollower follower;
    const auto band = [&](long long frame, const SpectrumWindow *heard, float s) {
        follower.take(frame, heard, 0.0, s);
        follower.spectrum(16, smoothed);
        return smoothed[BandOf(1000.0, 16)];
    };
    follower.take(0, &window, 0.0, 0.0f);
    follower.spectrum(16, raw);
    const float full = raw[BandOf(1000.0, 16)];
    EXPECT_NEAR(full, 1.0f + 20.0f * std::log10(0.5f) / 80.0f, 0.02f); // less the taper's loss between bins
    EXPECT_EQ(band(1, &window, 0.5f), full) << "a steady tone stays";
    for (const auto &[frame, heard, factor] : {std::tuple{2LL, false, 0.5f}, {2, true, 1.0f}, {2, false, 0.5f}, {3, false, 0.25f},
                                               {4, false, 0.25f * 0.99f}})
        EXPECT_NEAR(band(frame, heard ? &window : nullptr, frame == 4 ? 7.0f : 0.5f), full + 20.0f * std::log10(factor) / 80.0f, 1e-5f)
            << "frame " << frame;
    EXPECT_EQ(follower.level(), 0.0f);
    // Noise after silence is an onset, not again within 100 ms, but at once
    // after a jump back in time.
    std::mt19937 random(3);
    std::uniform_real_distribution<float> hiss(-0.5f, 0.5f);
    std::generate(tone.begin(), tone.end(), [&] { return hiss(random); });
    AnalyseWindow(tone.data(), 44100.0, window);
    for (const auto &[frame, ms, heard, onset] : {std::tuple{5LL, 1000.0, true, true}, {6, 1017.0, false, false},
                                                  {7, 500.0, true, true}, {8, 550.0, false, false}, {9, 580.0, true, false}}) {
        follower.take(frame, heard ? &window : nullptr, ms, 0.0f);
        EXPECT_EQ(follower.onset(), onset) << frame;
    }
}

constexpr int kSeconds = 12;
double StepHz(int second) { return 200.0 + 150.0 * second; }

// The MPEG audio between the tags players add: before it an ID3v2.3 tag
// holding a 1 MB picture (the tag's size 0x10000a, syncsafe: 7 bits a
// byte; the frame's 0x100000), after it an APEv2 tag (one 19-byte item,
// footer only) and an ID3v1 tag.
QByteArray Tagged(const QByteArray &audio)
{
    const QByteArray id3v2 = QByteArray("ID3\3\0\0\0\x40\0\x0a" "APIC\0\x10\0\0\0\0" "\0image/jpeg\0\3\0", 34);
    const QByteArray ape = QByteArray("\5\0\0\0\0\0\0\0Title\0Steps" "APETAGEX\xd0\7\0\0\x33\0\0\0\1\0\0\0", 39);
    return id3v2 + QByteArray((1 << 20) - 14, '\xd8') + audio + ape + QByteArray(12, '\0') + "TAG" +
           QByteArray("Steps").leftJustified(125, '\0');
}

// Frequency of the left channel by its zero crossings.
double CrossingHz(const std::vector<float> &stereo, int rate)
{
    int crossings = 0;
    for (size_t i = 2; i < stereo.size(); i += 2)
        crossings += (stereo[i - 2] < 0.0f) != (stereo[i] < 0.0f);
    return crossings / 2.0 / (stereo.size() / 2.0 / rate);
}

// Plays on for `frames` 60 fps frames; what was heard.
std::vector<float> Hear(int frames)
{
    std::vector<float> heard, frame(2 * kFrameFrames);
    for (int i = 0; i < frames; ++i) {
        FSOUND_AdvanceVirtualClock(1000.0 / 60, frame.data(), kFrameFrames);
        heard.insert(heard.end(), frame.begin(), frame.end());
    }
    return heard;
}

struct Kind
{
    const char *name;
    QStringList encode; // the encoder's command line, before the file's name
    bool gapless;       // the info tag gives the encoder's delay and padding
    int rate;
};

const Kind kKinds[] = {
    {"cbr.mp3", {"lame", "--quiet", "-b", "128", "steps.wav"}, true, 44100},
    {"vbr.mp3", {"lame", "--quiet", "-V", "2", "steps.wav"}, true, 44100},
    {"vbr-headerless.mp3", {"lame", "--quiet", "-V", "2", "-t", "steps.wav"}, false, 44100},
    {"mpeg2-mono.mp3", {"lame", "--quiet", "-V", "2", "-t", "-m", "m", "--resample", "22.05", "steps.wav"}, false, 22050},
    {"mpeg25.mp3", {"lame", "--quiet", "--resample", "8", "steps.wav"}, true, 8000},
    {"32k.mp3", {"lame", "--quiet", "--resample", "32", "-t", "steps.wav"}, false, 32000},
    {"48k.mp3", {"lame", "--quiet", "--resample", "48", "-t", "steps.wav"}, false, 48000},
    {"free.mp3", {"lame", "--quiet", "--freeformat", "-b", "400", "steps.wav"}, true, 44100},
    {"layer2.mp3", {"ffmpeg", "-loglevel", "error", "-i", "steps.wav", "-c:a", "mp2", "-f", "mp2"}, false, 44100},
};

// Files of the kinds users bring, from a tone whose frequency steps every
// second (on the left only), and damaged copies that play what decodes.
class Mp3Files : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        // Second s: a sine of StepHz(s) at 0.488 of full scale, on the left.
        QStringList seconds;
        for (int s = 0; s < kSeconds; ++s) {
            seconds << QString("%1.wav").arg(s);
            ASSERT_TRUE(RunsCleanly("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", seconds.last(), "synth", "1", "sine",
                                        QString::number(StepHz(s)), "vol", "0.488", "remix", "1", "0"}));
        }
        ASSERT_TRUE(RunsCleanly("sox", seconds + QStringList{"steps.wav"}));
        for (const Kind &kind : kKinds)
            ASSERT_TRUE(RunsCleanly(kind.encode.first(), kind.encode.mid(1) << kind.name)) << kind.name;
        ASSERT_TRUE(WriteFile("tagged.mp3", Tagged(ReadFile("cbr.mp3"))));
        FSOUND_SetVirtualClock(true);
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    static void TearDownTestSuite() { FSOUND_Close(); scratch.reset(); }
    static inline std::unique_ptr<ScratchDir> scratch;
};

TEST_F(Mp3Files, EveryKindHasItsLengthSeeksWhereAskedAndPlaysAtItsSpeed)
{
    std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));
    kinds.push_back({"tagged.mp3", {}, true, 44100});
    float bands[64];
    for (const Kind &kind : kinds) {
        FSOUND_STREAM *stream = Open(kind.name);
        ASSERT_NE(stream, nullptr) << kind.name << ": " << FSOUND_GetError();
        // Without the info tag the decoder's delay and the padding stay:
        // at most two 1152-sample frames more.
        const int length = FSOUND_Stream_GetLengthMs(stream);
        EXPECT_GE(length, 1000 * kSeconds - 1) << kind.name;
        EXPECT_LE(length, 1000 * kSeconds + (kind.gapless ? 1 : 2304000 / kind.rate)) << kind.name;
        StreamSpectrum(stream, 64, bands); // at 0 the window lies before the track
        EXPECT_EQ(*std::max_element(bands, bands + 64), 0.0f) << kind.name;
        for (const int second : {7, 2, 11, 4}) {
            const int ms = 1000 * second + 600;
            ASSERT_TRUE(FSOUND_Stream_SetTime(stream, ms));
            ASSERT_EQ(Play(stream), 0);
            // The mono mix holds half the left channel: -12.2 dB (0.847 on
            // the 80 dB scale) in the tone's band, an RMS of 0.173.
            StreamSpectrum(stream, 64, bands);
            const float *strongest = std::max_element(bands, bands + 64);
            EXPECT_NEAR(strongest - bands, BandOf(StepHz(second), 64), 1) << kind.name << " at " << ms;
            EXPECT_NEAR(*strongest, 0.847f, 0.03f) << kind.name << " at " << ms;
            EXPECT_NEAR(StreamLevel(stream), 0.173f, 0.02f) << kind.name << " at " << ms;
            EXPECT_NEAR(CrossingHz(Hear(12), 44100), StepHz(second), 0.03 * StepHz(second)) << kind.name << " at " << ms;
            EXPECT_EQ(Time(stream), ms + 200) << kind.name;
            FSOUND_Stream_Stop(stream);
        }
        FSOUND_Stream_Close(stream);
    }
    // Straight from a file: nothing after the end of the track, nor without a file.
    MusicAnalysis after("cbr.mp3"), absent("absent.mp3");
    for (MusicAnalysis *analysis : {&after, &absent}) {
        analysis->spectrum(60000, 64, bands);
        EXPECT_EQ(*std::max_element(bands, bands + 64), 0.0f) << analysis->isOpen();
        EXPECT_EQ(analysis->level(60000), 0.0f) << analysis->isOpen();
    }
}

TEST_F(Mp3Files, DamagedFilesPlayWhatDecodesAndNeverStopTheShow)
{
    std::mt19937 random(11);
    const auto noise = [&random](int bytes) {
        QByteArray out(bytes, '\0');
        std::generate(out.begin(), out.end(), [&random] { return static_cast<char>(random()); });
        return out;
    };
    const QByteArray cbr = ReadFile("cbr.mp3"), vbr = ReadFile("vbr.mp3"), lsf = ReadFile("mpeg2-mono.mp3");
    struct Damage { const char *name; QByteArray bytes; int minMs, maxMs; }; // maxMs 0: no frame at all
    const Damage damages[] = {
        {"empty", QByteArray(), 0, 0},
        {"text", QByteArray("Plain text, not music.\n").repeated(200), 0, 0},
        {"noise", noise(200000), 0, 0},
        {"tags only", Tagged(QByteArray()), 0, 0},
        {"first bytes", cbr.left(10), 0, 0},
        {"cut at a third", cbr.left(cbr.size() / 3), 3700, 4300},
        {"cut inside a frame", cbr.left(cbr.size() * 2 / 3 + 17), 7700, 8300},
        {"last byte missing", cbr.chopped(1), 11900, 12030},
        {"garbage in the middle", vbr.left(vbr.size() / 2) + noise(65536) + vbr.mid(vbr.size() / 2), 11500, 13000},
        {"MPEG-2 cut in half", lsf.left(lsf.size() / 2), 3000, 9000},
        {"MPEG-2 with garbage", lsf.left(lsf.size() / 3) + noise(4000) + lsf.mid(lsf.size() / 3), 11000, 13000},
    };
    for (const Damage &damage : damages) {
        ASSERT_TRUE(WriteFile("damaged.mp3", damage.bytes));
        FSOUND_STREAM *stream = Open("damaged.mp3");
        if (damage.maxMs == 0) {
            EXPECT_EQ(stream, nullptr) << damage.name;
            EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT) << damage.name;
            continue;
        }
        ASSERT_NE(stream, nullptr) << damage.name << ": " << FSOUND_GetError();
        const int length = FSOUND_Stream_GetLengthMs(stream);
        EXPECT_GE(length, damage.minMs) << damage.name;
        EXPECT_LE(length, damage.maxMs) << damage.name;
        // Seeks anywhere, then on to the end: finite samples, spectra and
        // levels, and the track ends at its length.
        ASSERT_EQ(Play(stream), 0);
        float bands[16];
        bool finite = true;
        const auto frame = [&] {
            StreamSpectrum(stream, 16, bands);
            std::vector<float> seen = Hear(1);
            seen.insert(seen.end(), bands, bands + 16);
            seen.push_back(StreamLevel(stream));
            finite = finite && std::all_of(seen.begin(), seen.end(), [](float x) { return std::isfinite(x); });
        };
        for (const int ms : {length / 2, length - 30, 100, length / 3}) {
            ASSERT_TRUE(FSOUND_Stream_SetTime(stream, ms));
            ASSERT_EQ(Play(stream), 0); // again, where the track ended
            frame();
            frame();
        }
        for (int frames = 0; FSOUND_IsPlaying(0) && frames < length * 60 / 1000 + 2; ++frames)
            frame();
        EXPECT_FALSE(FSOUND_IsPlaying(0)) << damage.name;
        EXPECT_TRUE(finite) << damage.name;
        EXPECT_EQ(Time(stream), length) << damage.name;
        FSOUND_Stream_Close(stream);
    }
}

} // namespace
