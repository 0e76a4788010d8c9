// The music analysis against synthesised MP3 files: tones peak in their
// bands at any time, the dB mapping and the mono mix, the level, silence
// and the edges of the track. (Seeks and the stream's analysis at its
// music time: Mp3FilesTest.)
#include "Media.h"
#include "MusicAnalysis.h"
#include "ScratchDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr double kBinHz = kRate / kSpectrumWindow;

// The band (from 0) that holds `hz` when there are `bands` bands.
int BandOf(double hz, int bands)
{
    return static_cast<int>(std::floor(std::log(hz / kSpectrumLowHz) / std::log(kSpectrumHighHz / kSpectrumLowHz) * bands));
}

// Lower edge of band `i` (from 0) in Hz; band i ends where band i + 1 starts.
double BandLow(int i, int bands)
{
    return kSpectrumLowHz * std::pow(kSpectrumHighHz / kSpectrumLowHz, static_cast<double>(i) / bands);
}

std::vector<float> SpectrumAt(MusicAnalysis &analysis, int ms, int bands)
{
    std::vector<float> values(bands, -1.0f);
    analysis.Spectrum(ms, bands, values.data());
    return values;
}

class MusicAnalysisTest : public ::testing::Test
{
protected:
    // Made once for the suite: encoding is the slow part.
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        // Full scale (0.1 dB below, so encoding never clips), half scale,
        // full scale in the left channel only, silence.
        ASSERT_TRUE(MakeSynthMp3("k1.mp3", {"synth", "4", "sine", "1000", "gain", "-n", "-0.1"}));
        ASSERT_TRUE(MakeSynthMp3("h100.mp3", {"synth", "4", "sine", "100", "gain", "-n", "-6.02"}));
        ASSERT_TRUE(MakeSynthMp3("left.mp3", {"synth", "4", "sine", "1000", "gain", "-n", "-0.1", "remix", "1", "0"}));
        ASSERT_TRUE(MakeSynthMp3("quiet.mp3", {"synth", "4", "sine", "1000", "vol", "0"}));
    }
    static void TearDownTestSuite() { scratch.reset(); }
    static inline std::unique_ptr<ScratchDir> scratch;
};

TEST(GatherSpectrumBands, MapsDecibelsAndKeepsEveryBandInRange)
{
    // A flat spectrum of one magnitude: every band reads the same value.
    for (const auto &[magnitude, expected] : {std::pair{1.0f, 1.0f}, {0.1f, 0.75f}, {0.01f, 0.5f}, {1e-4f, 0.0f},
                                              {1e-6f, 0.0f}, {4.0f, 1.0f}, {0.0f, 0.0f}}) {
        const std::vector<float> flat(kSpectrumWindow / 2 + 1, magnitude);
        for (const int bands : {1, 7, 256}) {
            std::vector<float> values(bands, -1.0f);
            GatherSpectrumBands(flat.data(), static_cast<int>(flat.size()), kBinHz, bands, values.data());
            for (const float value : values)
                ASSERT_NEAR(value, expected, 1e-5) << magnitude << " in " << bands << " bands";
        }
    }
    // At 22.05 kHz the bands above 11025 Hz have no bins and read 0.
    const std::vector<float> flat(kSpectrumWindow / 2 + 1, 1.0f);
    std::vector<float> values(64);
    GatherSpectrumBands(flat.data(), static_cast<int>(flat.size()), 22050.0 / kSpectrumWindow, 64, values.data());
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(values[i], i < BandOf(11025.0, 64) + 1 ? 1.0f : 0.0f) << i;
}

TEST(GatherSpectrumBands, OneBinShowsOnlyAroundItsOwnBand)
{
    std::vector<float> peak(kSpectrumWindow / 2 + 1, 0.0f);
    peak[93] = 1.0f; // 2002.6 Hz
    for (const int bands : {16, 64, 256}) {
        std::vector<float> values(bands);
        GatherSpectrumBands(peak.data(), static_cast<int>(peak.size()), kBinHz, bands, values.data());
        EXPECT_EQ(values[BandOf(93 * kBinHz, bands)], 1.0f) << bands;
        // Exactly the bands reaching in between bins 92 and 94 see it.
        for (int i = 0; i < bands; ++i)
            EXPECT_EQ(values[i] > 0.0f, BandLow(i + 1, bands) > 92 * kBinHz && BandLow(i, bands) < 94 * kBinHz)
                << i << " of " << bands;
    }
}

// Full scale reads 0 dB (1) and a level of 0.707; half scale and one
// channel of two (the mono mix) -6 dB and 0.354; silence nothing.
TEST_F(MusicAnalysisTest, ToneIsStrongestInItsBandAndTheLevelIsTheRmsOfTheMonoMix)
{
    struct Case { const char *file; double hz; float peak, level; };
    for (const Case &c : {Case{"k1.mp3", 1000, 1.0f, 0.707f}, {"h100.mp3", 100, 0.925f, 0.354f},
                          {"left.mp3", 1000, 0.925f, 0.354f}, {"quiet.mp3", 0, 0.0f, 0.0f}}) {
        MusicAnalysis analysis(c.file);
        ASSERT_TRUE(analysis.IsOpen()) << c.file;
        EXPECT_EQ(analysis.SampleRate(), 44100);
        for (const int ms : {3200, 500, 1700}) {
            EXPECT_NEAR(analysis.Level(ms), c.level, 0.02) << c.file << " at " << ms;
            for (const int bands : {16, 64}) {
                const std::vector<float> values = SpectrumAt(analysis, ms, bands);
                const float strongest = *std::max_element(values.begin(), values.end());
                if (c.hz == 0) {
                    EXPECT_LT(strongest, 0.05f) << c.file;
                    continue;
                }
                // Strongest, to within what the bin spacing (21.5 Hz) can tell
                // apart; more than an octave away at least 20 dB lower.
                const int band = BandOf(c.hz, bands);
                EXPECT_GE(values[band], strongest - 0.002f) << c.file << " " << bands << " bands at " << ms;
                EXPECT_NEAR(values[band], c.peak, 0.03) << c.file << " at " << ms;
                for (int i = 0; i < bands; ++i)
                    if (BandLow(i, bands) > 2 * c.hz || BandLow(i + 1, bands) < c.hz / 2) {
                        EXPECT_LT(values[i], c.peak - 0.25) << c.file << " band " << i << " at " << ms;
                    }
            }
        }
    }
}

TEST_F(MusicAnalysisTest, OutsideTheTrackAndWithoutAFileEverythingIsZero)
{
    MusicAnalysis analysis("k1.mp3");
    MusicAnalysis absent("absent.mp3");
    QFile text("notes.mp3");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("Plain text, not music.\n") > 0 && text.flush());
    MusicAnalysis notMusic("notes.mp3");
    EXPECT_FALSE(absent.IsOpen());
    EXPECT_FALSE(notMusic.IsOpen());
    // At 0 the window lies before the track; from 4.1 s on after its end.
    for (MusicAnalysis *source : {&analysis, &absent, &notMusic})
        for (const int ms : {0, -500, 4100, 60000}) {
            const std::vector<float> values = SpectrumAt(*source, ms, 16);
            EXPECT_EQ(*std::max_element(values.begin(), values.end()), 0.0f) << source->IsOpen() << " " << ms;
            EXPECT_EQ(source->Level(ms), 0.0f) << source->IsOpen() << " " << ms;
        }
    // Half a window into the track: half of it holds the tone.
    EXPECT_NEAR(analysis.Level(23), 0.5, 0.03);
}

} // namespace
