// Spectrum and level of the music: decoding with libmpg123 around the
// requested time, the Hann window, the FFT (FFTW, single precision) and the
// logarithmic bands. See MusicAnalysis.h for the cost model.
#include "MusicAnalysis.h"

#include "FSound.h"

#include <fftw3.h>   // fftwf_plan_dft_r2c_1d: the real FFT
#include <mpg123.h>  // the decoder
#include <sys/stat.h> // stat: notices another file under the same name

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

using Clock = MusicAnalysis::Clock;

constexpr int kBins = kSpectrumWindow / 2 + 1;
// Decode forward rather than seek when the next window ends at most this
// many samples after what is decoded (about 0.75 s at 44.1 kHz).
constexpr int64_t kMaxForward = 32768;
// Decoded samples kept behind the newest one, for windows that repeat or
// step back a little.
constexpr int64_t kKeep = 4 * kSpectrumWindow;
// Frames the index walk advances per step (about 0.1-0.3 ms of work).
constexpr int64_t kWalkStep = 128;
// Time a call may spend walking the index to reach a seek target; past it
// the call is answered by the approximate decoder.
constexpr auto kSeekWalkBudget = std::chrono::milliseconds(6);
// Time a call spends extending the index ahead, while it is incomplete.
constexpr auto kBackgroundWalkBudget = std::chrono::milliseconds(1);
// Frames between a sample's nominal frame and the frame that holds it
// (encoder delay, the decoder's own look-back).
constexpr int64_t kFrameMargin = 4;

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
// Decoder: one libmpg123 handle and the mono samples it decoded last, as a
// run [start_, start_ + samples_.size()) that ends where the handle goes on.

class MusicAnalysis::Decoder
{
public:
    // `fuzzy`: seek from the file's table of contents or bit rate, without
    // the frame index: quick anywhere, but only approximately in time.
    Decoder(const std::string &fileName, bool fuzzy)
    {
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (!handle_)
            return;
        mpg123_param(handle_, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | (fuzzy ? MPG123_FUZZY : 0), 0.0);
        // Float samples at whatever rate and channel count the file has.
        mpg123_format_none(handle_);
        const long *rates = nullptr;
        size_t rateCount = 0;
        mpg123_rates(&rates, &rateCount);
        for (size_t i = 0; i < rateCount; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        int encoding = 0;
        if (mpg123_open(handle_, fileName.c_str()) != MPG123_OK ||
            mpg123_getformat(handle_, &rate_, &channels_, &encoding) != MPG123_OK || rate_ <= 0 ||
            channels_ < 1 || channels_ > 2) {
            mpg123_delete(handle_);
            handle_ = nullptr;
            return;
        }
        const int spf = mpg123_spf(handle_);
        samplesPerFrame_ = spf > 0 ? spf : 1152;
        const off_t frames = mpg123_framelength(handle_); // exact with an info tag, else estimated
        if (frames > 0)
            totalFrames_ = frames;
    }
    ~Decoder()
    {
        if (handle_)
            mpg123_delete(handle_); // also closes the file
    }

    bool IsOpen() const { return handle_ != nullptr; }
    long Rate() const { return rate_; }
    int64_t FramesReached() const { return framesReached_; }
    bool IndexComplete() const { return framesReached_ >= totalFrames_; }

    // Frame (from 0) that must be indexed for an accurate seek to `sample`.
    int64_t FrameOf(int64_t sample) const { return sample / samplesPerFrame_ + kFrameMargin; }

    // True when the window [start, end) can be served without a seek.
    bool Follows(int64_t start, int64_t end) const
    {
        const int64_t first = std::max<int64_t>(start, 0);
        return positioned_ && first >= start_ && end - Next() <= kMaxForward;
    }

    // Mono mix of samples [start, end) into out; 0 before the track and
    // after its end. Seeks when the window does not follow what is decoded.
    void Read(int64_t start, int64_t end, float *out)
    {
        const int64_t first = std::max<int64_t>(start, 0);
        if (!Follows(start, end))
            Seek(first);
        DecodeUntil(end);
        for (int64_t s = start; s < end; ++s) {
            const int64_t at = s - start_;
            out[s - start] = (s >= 0 && at >= 0 && at < static_cast<int64_t>(samples_.size())) ? samples_[at] : 0.0f;
        }
        // Keep only the tail, so memory stays bounded.
        const int64_t drop = static_cast<int64_t>(samples_.size()) - kKeep;
        if (drop > 0) {
            samples_.erase(samples_.begin(), samples_.begin() + drop);
            start_ += drop;
        }
    }

    // Extends the frame index towards `frame` in steps until `deadline`.
    // True when the index then reaches it (or the end of the track).
    bool Walk(int64_t frame, Clock::time_point deadline)
    {
        frame = std::min(frame, totalFrames_);
        bool moved = false;
        while (framesReached_ < frame) {
            if (Clock::now() >= deadline)
                break;
            const int64_t target = std::min(frame, framesReached_ + kWalkStep);
            const off_t result = mpg123_seek_frame(handle_, target, SEEK_SET);
            moved = true;
            const off_t at = mpg123_tellframe(handle_);
            if (result < 0 || at < target)
                totalFrames_ = std::max<int64_t>(at, 0); // the track ends earlier than thought
            framesReached_ = std::max<int64_t>(framesReached_, at);
            frame = std::min(frame, totalFrames_);
        }
        if (moved) {
            // The walk leaves the handle on a frame it has not decoded, and
            // a seek that lands just behind such a frame skips the frames
            // the decoder needs first; from frame 0 every seek is exact.
            mpg123_seek_frame(handle_, 0, SEEK_SET);
            positioned_ = false; // the handle no longer continues samples_
        }
        return framesReached_ >= frame;
    }

private:
    int64_t Next() const { return start_ + static_cast<int64_t>(samples_.size()); }

    void Seek(int64_t sample)
    {
        samples_.clear();
        ended_ = false;
        const off_t at = mpg123_seek(handle_, static_cast<off_t>(sample), SEEK_SET);
        start_ = at >= 0 ? at : sample;
        ended_ = at < 0; // past the end: nothing more to decode
        positioned_ = true;
        NoteFrame();
    }

    // Decodes until the run reaches `end` or the track ends.
    void DecodeUntil(int64_t end)
    {
        while (!ended_ && Next() < end) {
            size_t bytes = 0;
            const int result = mpg123_read(handle_, reinterpret_cast<unsigned char *>(scratch_), sizeof scratch_, &bytes);
            const size_t frames = bytes / (sizeof(float) * channels_);
            for (size_t i = 0; i < frames; ++i)
                samples_.push_back(channels_ == 2 ? 0.5f * (scratch_[2 * i] + scratch_[2 * i + 1]) : scratch_[i]);
            if (result == MPG123_NEW_FORMAT) {
                int encoding = 0;
                if (mpg123_getformat(handle_, &rate_, &channels_, &encoding) != MPG123_OK || channels_ < 1 || channels_ > 2)
                    ended_ = true;
            } else if (result != MPG123_OK) {
                ended_ = true; // MPG123_DONE or a damaged stream
            }
        }
        NoteFrame();
    }

    // Every frame the handle has passed is in its index.
    void NoteFrame() { framesReached_ = std::max<int64_t>(framesReached_, mpg123_tellframe(handle_)); }

    mpg123_handle *handle_ = nullptr;
    long rate_ = 0;
    int channels_ = 0;
    int samplesPerFrame_ = 1152;
    std::vector<float> samples_; // mono, from sample start_
    int64_t start_ = 0;
    bool positioned_ = true; // the handle continues samples_
    bool ended_ = false;
    int64_t framesReached_ = 0;
    int64_t totalFrames_ = INT64_MAX; // frames in the track, from the file's tag or size
    float scratch_[2 * 1152 * 2] = {}; // two stereo frames of floats per read
};

// ---------------------------------------------------------------------------
// MusicAnalysis

MusicAnalysis::MusicAnalysis(const std::string &fileName) : fileName_(fileName)
{
    static const bool initialised = (mpg123_init() == MPG123_OK); // no-op on current versions
    (void)initialised;
    accurate_ = std::make_unique<Decoder>(fileName, false);
    if (!accurate_->IsOpen())
        accurate_.reset();
    else
        Fft(); // the plan, made once for the process (about 1 ms)
}

MusicAnalysis::~MusicAnalysis() = default;

bool MusicAnalysis::IsOpen() const
{
    return accurate_ != nullptr;
}

long MusicAnalysis::SampleRate() const
{
    return accurate_ ? accurate_->Rate() : 0;
}

bool MusicAnalysis::IndexComplete() const
{
    return accurate_ && accurate_->IndexComplete();
}

void MusicAnalysis::ReadWindow(int64_t end, float *out, Clock::time_point begin)
{
    const int64_t start = end - kSpectrumWindow;
    Decoder &decoder = *accurate_;
    if (decoder.Follows(start, end) ||
        decoder.Walk(decoder.FrameOf(std::max<int64_t>(start, 0)), begin + kSeekWalkBudget)) {
        decoder.Read(start, end, out);
    } else {
        // The index is still too short: answer approximately this once.
        if (!fuzzy_)
            fuzzy_ = std::make_unique<Decoder>(fileName_, true);
        if (fuzzy_->IsOpen())
            fuzzy_->Read(start, end, out);
        else
            std::fill(out, out + kSpectrumWindow, 0.0f);
    }
    // Build the index ahead a little, so later seeks are accurate and quick;
    // once it is complete the approximate decoder is not needed again.
    if (!decoder.IndexComplete())
        decoder.Walk(INT64_MAX, begin + kBackgroundWalkBudget);
    else
        fuzzy_.reset();
}

void MusicAnalysis::Analyse(int ms, Clock::time_point callStart)
{
    // Window end in samples: the sample at the music time (ms * rate / 1000).
    const int64_t end = static_cast<int64_t>(std::max(ms, 0)) * accurate_->Rate() / 1000;
    if (end == analysedEnd_)
        return;
    SharedFft &fft = Fft();
    ReadWindow(end, fft.in, callStart);
    double squares = 0.0;
    for (int i = 0; i < kSpectrumWindow; ++i) {
        squares += static_cast<double>(fft.in[i]) * fft.in[i];
        fft.in[i] *= fft.hann[i];
    }
    level_ = std::min(1.0f, static_cast<float>(std::sqrt(squares / kSpectrumWindow)));
    fftwf_execute(fft.plan);
    for (int k = 0; k < kBins; ++k)
        magnitudes_[k] = std::hypot(fft.out[k][0], fft.out[k][1]) * fft.scale;
    analysedEnd_ = end;
}

void MusicAnalysis::Spectrum(int ms, int bands, float *values, Clock::time_point callStart)
{
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    if (!IsOpen()) {
        std::fill(values, values + bands, 0.0f);
        return;
    }
    Analyse(ms, callStart);
    GatherSpectrumBands(magnitudes_, kBins, static_cast<double>(accurate_->Rate()) / kSpectrumWindow, bands, values);
}

float MusicAnalysis::Level(int ms, Clock::time_point callStart)
{
    if (!IsOpen())
        return 0.0f;
    Analyse(ms, callStart);
    return level_;
}

// ---------------------------------------------------------------------------
// The analysis kept for the last stream asked about.

namespace {

struct KeptAnalysis
{
    FSOUND_STREAM *stream = nullptr;
    // Identity of the file analysed, so that a new file under the same
    // name (or a handle reused for another file) is noticed.
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    std::unique_ptr<MusicAnalysis> analysis;
};

KeptAnalysis gKept;

MusicAnalysis *AnalysisOf(FSOUND_STREAM *stream)
{
    const char *name = FSOUND_Stream_GetName(stream);
    if (!*name)
        return nullptr;
    struct stat info {};
    const bool found = stat(name, &info) == 0;
    const bool same = gKept.analysis && gKept.stream == stream && gKept.analysis->FileName() == name &&
                      (!found || (info.st_dev == gKept.device && info.st_ino == gKept.inode &&
                                  info.st_size == gKept.size && info.st_mtim.tv_sec == gKept.modified.tv_sec &&
                                  info.st_mtim.tv_nsec == gKept.modified.tv_nsec));
    if (!same) {
        gKept = KeptAnalysis{};
        gKept.analysis = std::make_unique<MusicAnalysis>(name);
        gKept.stream = stream;
        if (found) {
            gKept.device = info.st_dev;
            gKept.inode = info.st_ino;
            gKept.size = info.st_size;
            gKept.modified = info.st_mtim;
        }
    }
    return gKept.analysis->IsOpen() ? gKept.analysis.get() : nullptr;
}

} // namespace

void StreamSpectrum(FSOUND_STREAM *stream, int bands, float *values)
{
    const Clock::time_point start = Clock::now(); // before a first call opens the analysis
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    if (MusicAnalysis *analysis = AnalysisOf(stream))
        analysis->Spectrum(FSOUND_Stream_GetTime(stream), bands, values, start);
    else
        std::fill(values, values + bands, 0.0f);
}

float StreamLevel(FSOUND_STREAM *stream)
{
    const Clock::time_point start = Clock::now();
    MusicAnalysis *analysis = AnalysisOf(stream);
    return analysis ? analysis->Level(FSOUND_Stream_GetTime(stream), start) : 0.0f;
}

void ReleaseStreamAnalysis()
{
    gKept = KeptAnalysis{};
}
