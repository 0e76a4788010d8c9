// Spectrum and level of the music: the window read from the decoder, the
// Hann window, the FFT (FFTW, single precision) and the logarithmic bands.
#include "MusicAnalysis.h"

#include "Mp3Decoder.h"

#include <fftw3.h> // fftwf_plan_dft_r2c_1d: the real FFT

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBins = kSpectrumBins;
// Decode forward rather than seek when the next window ends at most this
// many samples after what is decoded (about 0.75 s at 44.1 kHz; a seek
// costs about as much as decoding a sixth of that).
constexpr int64_t kMaxForward = 32768;
// Decoded samples kept behind the newest one, for windows that repeat or
// step back a little.
constexpr int64_t kKeep = 4 * kSpectrumWindow;
constexpr int kReadChunk = 1152; // samples decoded at a time

// One FFT plan and its buffers for the whole process, made on first use.
struct SharedFft
{
    float *in = fftwf_alloc_real(kSpectrumWindow);
    fftwf_complex *out = fftwf_alloc_complex(kBins);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(kSpectrumWindow, in, out, FFTW_ESTIMATE);
    float hann[kSpectrumWindow];
    float scale; // magnitude of a full-scale sine's peak bin -> 1

    SharedFft()
    {
        // Periodic Hann window; its sum is N/2, and a sine of amplitude A
        // peaks at A * sum / 2 in the transform.
        double sum = 0.0;
        for (int i = 0; i < kSpectrumWindow; ++i) {
            hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / kSpectrumWindow));
            sum += hann[i];
        }
        scale = static_cast<float>(2.0 / sum);
    }
    ~SharedFft()
    {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
};

SharedFft &Fft()
{
    static SharedFft fft;
    return fft;
}

// Magnitude at `hz` on the spectrum drawn as straight lines between bins.
float MagnitudeAt(const float *magnitudes, int bins, double binHz, double hz)
{
    const double x = hz / binHz;
    const int k = static_cast<int>(x);
    if (k >= bins - 1)
        return magnitudes[bins - 1];
    const float t = static_cast<float>(x - k);
    return magnitudes[k] * (1.0f - t) + magnitudes[k + 1] * t;
}

// Magnitude relative to a full-scale sine -> 0..1 over -80..0 dB.
float ScaleDecibels(float magnitude)
{
    if (!(magnitude > 0.0f))
        return 0.0f;
    const float db = 20.0f * std::log10(magnitude);
    return std::clamp((db + 80.0f) / 80.0f, 0.0f, 1.0f);
}

} // namespace

void GatherSpectrumBands(const float *magnitudes, int bins, double binHz, int bands, float *values)
{
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    const double nyquist = (bins - 1) * binHz;
    const double logStep = std::log(kSpectrumHighHz / kSpectrumLowHz) / bands;
    for (int i = 0; i < bands; ++i) {
        const double low = kSpectrumLowHz * std::exp(logStep * i);
        const double high = kSpectrumLowHz * std::exp(logStep * (i + 1));
        if (bins < 2 || !(binHz > 0.0) || low >= nyquist) {
            values[i] = 0.0f;
            continue;
        }
        // The line between bins peaks at a bin or at an edge of the band.
        float strongest = std::max(MagnitudeAt(magnitudes, bins, binHz, low),
                                   MagnitudeAt(magnitudes, bins, binHz, std::min(high, nyquist)));
        for (int k = static_cast<int>(std::ceil(low / binHz)); k < bins && k * binHz < high; ++k)
            strongest = std::max(strongest, magnitudes[k]);
        values[i] = ScaleDecibels(strongest);
    }
}

// ---------------------------------------------------------------------------
// MusicAnalysis

MusicAnalysis::MusicAnalysis(const std::string &fileName)
{
    int error = 0;
    decoder = Mp3Decoder::Open(fileName.c_str(), error);
    if (decoder)
        Fft(); // the plan, made once for the process (about 1 ms)
}

MusicAnalysis::MusicAnalysis(const Mp3Decoder &source) : decoder(source.twin())
{
    if (decoder)
        Fft();
}

MusicAnalysis::~MusicAnalysis() = default;

long MusicAnalysis::sampleRate() const
{
    return decoder ? decoder->rate() : 0;
}

void MusicAnalysis::readWindow(int64_t end, float *out)
{
    const int64_t start = end - kSpectrumWindow;
    const int64_t first = std::max<int64_t>(start, 0);
    int64_t next = keptStart + static_cast<int64_t>(kept.size());
    // Decode on from what is kept when the window follows it closely;
    // anywhere else, seek (exactly, so both ways give the same samples).
    if (first < keptStart || end - next > kMaxForward) {
        decoder->seek(first);
        kept.clear();
        keptStart = next = decoder->position();
    }
    float stereo[2 * kReadChunk];
    while (next < end && next < decoder->length()) {
        const int got = decoder->read(stereo, static_cast<int>(std::min<int64_t>(kReadChunk, end - next)));
        for (int i = 0; i < got; ++i)
            kept.push_back(0.5f * (stereo[2 * i] + stereo[2 * i + 1]));
        next += got;
    }
    for (int64_t s = start; s < end; ++s) {
        const int64_t at = s - keptStart;
        out[s - start] = (s >= 0 && at >= 0 && at < static_cast<int64_t>(kept.size())) ? kept[at] : 0.0f;
    }
    // Keep only the tail, so memory stays bounded.
    const int64_t drop = static_cast<int64_t>(kept.size()) - kKeep;
    if (drop > 0) {
        kept.erase(kept.begin(), kept.begin() + drop);
        keptStart += drop;
    }
}

void AnalyseWindow(const float *samples, double rate, SpectrumWindow &out)
{
    SharedFft &fft = Fft();
    double squares = 0.0;
    for (int i = 0; i < kSpectrumWindow; ++i) {
        squares += static_cast<double>(samples[i]) * samples[i];
        fft.in[i] = samples[i] * fft.hann[i];
    }
    out.level = std::min(1.0f, static_cast<float>(std::sqrt(squares / kSpectrumWindow)));
    fftwf_execute(fft.plan);
    for (int k = 0; k < kBins; ++k)
        out.magnitudes[k] = std::hypot(fft.out[k][0], fft.out[k][1]) * fft.scale;
    out.binHz = rate / kSpectrumWindow;
}

void MusicAnalysis::analyse(int ms)
{
    // Window end in samples: the sample at the music time (ms * rate / 1000).
    const int64_t end = static_cast<int64_t>(std::max(ms, 0)) * decoder->rate() / 1000;
    if (end == analysedEnd)
        return;
    float samples[kSpectrumWindow];
    readWindow(end, samples);
    AnalyseWindow(samples, static_cast<double>(decoder->rate()), analysed);
    analysedEnd = end;
}

void MusicAnalysis::spectrum(int ms, int bands, float *values)
{
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    if (!isOpen()) {
        std::fill(values, values + bands, 0.0f);
        return;
    }
    analyse(ms);
    GatherSpectrumBands(analysed.magnitudes, kBins, analysed.binHz, bands, values);
}

float MusicAnalysis::level(int ms)
{
    if (!isOpen())
        return 0.0f;
    analyse(ms);
    return analysed.level;
}

const SpectrumWindow &MusicAnalysis::window(int ms)
{
    if (isOpen())
        analyse(ms);
    return analysed;
}
