// Spectrum and level of the music at a given music time, for productions
// that react to the music. The analysis reads the samples of the music's
// one decoder (Mp3Decoder, on a handle of its own), so it gives the same
// values live, on the silent driver and on the virtual clock, and the same
// values for the same calls on every run: nothing depends on wall time.
//
// The window is the kSpectrumWindow samples of the mono mix (the mean of
// the channels) that end at the music time. The level is their RMS; the
// spectrum comes from an FFT (FFTW, single precision, one plan for the
// process) of the Hann-windowed samples, gathered into logarithmic bands.
//
// Cost: a call decodes only what its window needs beyond the previous one;
// a window elsewhere is a sample-exact seek by the decoder's full index and
// a few frames of decoding. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int kSpectrumWindow = 2048;  // samples analysed per call
constexpr int kSpectrumBins = kSpectrumWindow / 2 + 1; // FFT bins of a window, 0 Hz to half the rate
constexpr int kMaxSpectrumBands = 256; // the most bands a spectrum has
constexpr double kSpectrumLowHz = 30.0;
constexpr double kSpectrumHighHz = 16000.0;

// Gathers FFT magnitudes into `bands` logarithmic bands (1..256): band i
// (from 0) covers kSpectrumLowHz * r^i .. kSpectrumLowHz * r^(i+1) Hz with
// r = (kSpectrumHighHz / kSpectrumLowHz)^(1 / bands). A band's value is
// the strongest magnitude within it, on the spectrum drawn as straight
// lines between the bins (so a band narrower than the bin spacing still
// reads the spectrum at its edges), in dB relative to a full-scale sine
// (magnitude 1), mapped linearly from -80..0 dB to 0..1 and clamped.
// Parts of a band above the highest bin (half the sample rate) read 0.
// `magnitudes` holds `bins` values, bin k at k * binHz.
void GatherSpectrumBands(const float *magnitudes, int bins, double binHz, int bands, float *values);

// One analysed window: the magnitude of each bin (relative to a full-scale
// sine, bin k at k * binHz) and the RMS level of the samples (0..1).
struct SpectrumWindow
{
    float magnitudes[kSpectrumBins] = {};
    double binHz = 0.0;
    float level = 0.0f;
};

// Analyses kSpectrumWindow mono samples at `rate` Hz into `out`: the level
// (clamped at 1), then the Hann window, the FFT and the bins' magnitudes.
// The one analysis of the music and of a live input. GUI thread only.
void AnalyseWindow(const float *samples, double rate, SpectrumWindow &out);

class Mp3Decoder;

class MusicAnalysis
{
public:
    // Opens `fileName` for decoding; isOpen() tells whether that worked.
    explicit MusicAnalysis(const std::string &fileName);
    // Reads the same samples as `source`, through a decoder of its own.
    explicit MusicAnalysis(const Mp3Decoder &source);
    ~MusicAnalysis();
    MusicAnalysis(const MusicAnalysis &) = delete;
    MusicAnalysis &operator=(const MusicAnalysis &) = delete;

    bool isOpen() const { return decoder != nullptr; }
    long sampleRate() const; // Hz, 0 when not open

    // Spectrum of the window ending at `ms` (music time in ms) into
    // values[0..bands), bands clamped into 1..kMaxSpectrumBands. Samples
    // before the start or after the end of the track count as silence.
    // All zeros when the file did not open.
    void spectrum(int ms, int bands, float *values);
    // RMS of the same window, 0..1 (a full-scale sine gives 0.707).
    float level(int ms);
    // The whole analysed window ending at `ms` (all zeros when the file did
    // not open); valid until the next call.
    const SpectrumWindow &window(int ms);

private:
    void analyse(int ms);                 // fills analysed
    void readWindow(int64_t end, float *out); // mono samples [end - N, end)

    std::unique_ptr<Mp3Decoder> decoder;
    std::vector<float> kept; // mono samples from keptStart, where the decoder stands after them
    int64_t keptStart = 0;
    int64_t analysedEnd = -1; // window end of `analysed`; -1: none
    SpectrumWindow analysed;
};
