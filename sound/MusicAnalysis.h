// Spectrum and level of the music at a given music time, for productions
// that react to the music. The analysis decodes the music file itself
// (libmpg123, gapless, accurate seeking), independently of playback, so it
// gives the same values live, on the silent driver and on any clock that
// drives FSOUND_Stream_GetTime.
//
// The window is the kSpectrumWindow samples of the mono mix (the mean of
// the channels) that end at the music time. The level is their RMS; the
// spectrum comes from an FFT (FFTW, single precision, one plan for the
// process) of the Hann-windowed samples, gathered into logarithmic bands.
//
// Cost: a call decodes only what it needs next to its previous window, or
// seeks accurately and decodes a few frames. Accurate seeking needs the
// decoder's frame index up to the target; the index is built a little at
// every call and at most for a bounded time per call, and a seek beyond it
// that cannot be reached in that time is answered from a second decoder
// that seeks approximately (by the file's table of contents; up to ~0.15 s
// off), for the few calls until the index reaches it. GUI thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct FSOUND_STREAM;

constexpr int kSpectrumWindow = 2048;  // samples analysed per call
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

class MusicAnalysis
{
public:
    // Opens `fileName` for decoding; IsOpen() tells whether that worked.
    explicit MusicAnalysis(const std::string &fileName);
    ~MusicAnalysis();
    MusicAnalysis(const MusicAnalysis &) = delete;
    MusicAnalysis &operator=(const MusicAnalysis &) = delete;

    bool IsOpen() const;
    const std::string &FileName() const { return fileName_; }
    long SampleRate() const; // Hz, 0 when not open

    using Clock = std::chrono::steady_clock;

    // Spectrum of the window ending at `ms` (music time in ms) into
    // values[0..bands), bands clamped into 1..kMaxSpectrumBands. Samples
    // before the start or after the end of the track count as silence.
    // All zeros when the file did not open. `callStart`: when the caller's
    // call began; the time budgets of the index walk count from it.
    void Spectrum(int ms, int bands, float *values, Clock::time_point callStart = Clock::now());
    // RMS of the same window, 0..1 (a full-scale sine gives 0.707).
    float Level(int ms, Clock::time_point callStart = Clock::now());

    // True once the decoder's frame index covers the whole track, so that
    // every seek is accurate and quick.
    bool IndexComplete() const;

private:
    class Decoder;
    void Analyse(int ms, Clock::time_point callStart);              // fills magnitudes_, level_
    void ReadWindow(int64_t end, float *out, Clock::time_point callStart); // samples [end - N, end)

    std::string fileName_;
    std::unique_ptr<Decoder> accurate_; // the decoder every answer should come from
    std::unique_ptr<Decoder> fuzzy_;    // opened only for seeks beyond the index
    int64_t analysedEnd_ = -1;          // window end of magnitudes_/level_; -1: none
    float magnitudes_[kSpectrumWindow / 2 + 1] = {};
    float level_ = 0.0f;
};

// The analysis of `stream` at its current music time (FSOUND_Stream_GetTime),
// from an analysis kept for the last stream asked about (made again when
// another stream, or another file under that name, is asked about). Zeros
// for a null or closed stream or a file that cannot be decoded.
void StreamSpectrum(FSOUND_STREAM *stream, int bands, float *values);
float StreamLevel(FSOUND_STREAM *stream);
// Frees the kept analysis (its decoders and file handles).
void ReleaseStreamAnalysis();
