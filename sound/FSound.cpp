// The FSOUND_ sound layer: output set-up with the silent fallback (SDL and
// SDL_mixer's device handling), opening music files with the one decoder,
// the one music channel fed from SDL_mixer's music hook, the resampler, the
// smooth music clock and the virtual clock of offline rendering.
//
// Threads: the hook runs on SDL's audio thread and touches only the
// playing stream's shared part, under that stream's lock; the GUI thread
// takes the same lock for every read or change of it. The hook is set and
// removed with Mix_HookMusic, which waits for a running callback, and never
// while a stream's lock is held (the audio thread takes SDL's lock first).
#include "FSound.h"

#include "Mp3Decoder.h"
#include "MusicAnalysis.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBufferFrames = 1024; // below this the silent driver runs fast
constexpr int kSourceChunk = 1152;  // decoded samples the resampler takes at a time

} // namespace

struct FSOUND_STREAM
{
    long rate = 0;       // the decoder's samples per second
    int64_t length = 0;  // samples
    int lengthMs = 0;
    bool released = false; // FSOUND_Close took its decoders
    std::unique_ptr<MusicAnalysis> analysis; // null when its decoder could not open

    // --- Shared with the audio thread: only under `lock`.
    std::mutex lock;
    std::unique_ptr<Mp3Decoder> decoder; // null once FSOUND_Close released it
    bool playing = false;
    bool ended = false;  // stopped by reaching the end of the track
    int positionMs = 0;  // the position while stopped
    // The resampler: the output stands between source samples `at` and
    // at + 1, `phase` / output rate of the way. `source` holds decoded
    // samples [sourceStart, sourceStart + sourceCount), stereo.
    int64_t at = 0;
    long phase = 0;
    std::vector<float> source = std::vector<float>(2 * (kSourceChunk + 1));
    int64_t sourceStart = 0;
    int sourceCount = 0;
    int64_t reportedSample = 0; // where the output was at its last buffer

    // --- GUI thread only.
    // Music clock while playing, in ms: it runs from (anchorMs at
    // anchorTime) with the steady clock, held within one buffer of the
    // output's report and never below the last value handed out.
    double anchorMs = 0.0;
    Clock::time_point anchorTime;
    double lastReadMs = 0.0;
    double virtualMs = 0.0; // position while playing on the virtual clock
};

namespace {

// The sound layer's state. The FSOUND_ interface, like the library it
// stands for, is one per process: its calls take no context, and there is
// one audio output for the mixer's hook to feed. So its state is one
// documented record, the only process-wide variable of this file.
struct SoundLayer
{
    bool outputOpen = false;
    int lastError = FMOD_ERR_NONE;
    int outputRate = 0;
    int outputChannels = 2;
    SDL_AudioFormat outputFormat = AUDIO_S16SYS;
    double bufferMs = 1000.0 * kBufferFrames / 44100.0;
    std::vector<FSOUND_STREAM *> streams; // every stream opened and not closed
    FSOUND_STREAM *playing = nullptr;     // the stream the hook feeds from
    bool virtualClock = false;            // the export drives the clock; no sound
};
SoundLayer gSound;

bool IsOpenStream(const FSOUND_STREAM *stream)
{
    return stream && std::find(gSound.streams.begin(), gSound.streams.end(), stream) != gSound.streams.end();
}

// The first sample at or after `ms`; its own time then reads `ms` again.
int64_t SampleAt(const FSOUND_STREAM &stream, double ms)
{
    return static_cast<int64_t>(std::ceil(ms * stream.rate / 1000.0 - 1e-6));
}

double MsAt(const FSOUND_STREAM &stream, int64_t sample)
{
    return 1000.0 * static_cast<double>(sample) / stream.rate;
}

// --- The resampler (the stream's lock held) -----------------------------------

// Puts the resampler on `sample`; the next source read seeks there.
void Reposition(FSOUND_STREAM &stream, int64_t sample)
{
    stream.at = std::clamp<int64_t>(sample, 0, stream.length);
    stream.phase = 0;
    stream.sourceCount = 0;
}

// Source sample `i` (left, right); silence past the end. Reading on from
// the buffer keeps its last sample, so `i - 1` stays at hand.
void SourceAt(FSOUND_STREAM &stream, int64_t i, float &left, float &right)
{
    if (i >= stream.length || i < 0 || !stream.decoder) {
        left = right = 0.0f;
        return;
    }
    if (i < stream.sourceStart || i >= stream.sourceStart + stream.sourceCount) {
        float *buffer = stream.source.data();
        if (stream.sourceCount > 0 && i == stream.sourceStart + stream.sourceCount) {
            std::memcpy(buffer, buffer + 2 * (stream.sourceCount - 1), 2 * sizeof(float));
            stream.sourceStart = i - 1;
            stream.sourceCount = 1;
        } else {
            stream.sourceStart = i;
            stream.sourceCount = 0;
        }
        const int64_t next = stream.sourceStart + stream.sourceCount;
        if (stream.decoder->position() != next)
            stream.decoder->seek(next);
        stream.sourceCount += stream.decoder->read(buffer + 2 * stream.sourceCount, kSourceChunk);
    }
    const float *sample = &stream.source[2 * (i - stream.sourceStart)];
    left = sample[0];
    right = sample[1];
}

// The playing stream reached its end: stopped there.
void EndTrack(FSOUND_STREAM &stream)
{
    stream.playing = false;
    stream.ended = true;
    stream.positionMs = stream.lengthMs;
}

// Writes `frames` stereo frames at `outRate` from the resampler's place on,
// by linear interpolation between source samples, and moves it on. Past the
// end: silence, and with `endTrack` the track ends.
void Render(FSOUND_STREAM &stream, float *out, int frames, int outRate, bool endTrack)
{
    for (int f = 0; f < frames; ++f) {
        if (stream.at >= stream.length) {
            std::fill(out + 2 * f, out + 2 * frames, 0.0f);
            if (endTrack)
                EndTrack(stream);
            return;
        }
        float l0, r0, l1, r1;
        SourceAt(stream, stream.at, l0, r0);
        SourceAt(stream, stream.at + 1, l1, r1);
        const float t = static_cast<float>(stream.phase) / static_cast<float>(outRate);
        out[2 * f] = l0 + (l1 - l0) * t;
        out[2 * f + 1] = r0 + (r1 - r0) * t;
        stream.phase += stream.rate;
        while (stream.phase >= outRate) {
            stream.phase -= outRate;
            ++stream.at;
        }
    }
}

// --- The audio thread -------------------------------------------------------------

// SDL_mixer's music hook: fills one output buffer from the playing stream.
void FeedOutput(void *userdata, Uint8 *bytes, int length)
{
    FSOUND_STREAM &stream = *static_cast<FSOUND_STREAM *>(userdata);
    const int sampleBytes = gSound.outputFormat == AUDIO_F32SYS ? 4 : 2;
    const int frames = length / (sampleBytes * gSound.outputChannels);
    std::memset(bytes, 0, static_cast<size_t>(length));
    std::lock_guard<std::mutex> hold(stream.lock);
    if (!stream.playing)
        return;
    stream.reportedSample = stream.at;
    float mix[2 * 256];
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, 256);
        Render(stream, mix, n, gSound.outputRate, true);
        for (int f = 0; f < n; ++f) {
            const float pair[2] = {mix[2 * f], mix[2 * f + 1]};
            const int channels = std::min(gSound.outputChannels, 2);
            for (int c = 0; c < channels; ++c) {
                const float value = gSound.outputChannels == 1 ? 0.5f * (pair[0] + pair[1]) : pair[c];
                const size_t at = static_cast<size_t>(done + f) * gSound.outputChannels + c;
                if (sampleBytes == 4) {
                    reinterpret_cast<float *>(bytes)[at] = value;
                } else {
                    const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
                    reinterpret_cast<Sint16 *>(bytes)[at] = static_cast<Sint16>(std::lrint(scaled));
                }
            }
        }
        done += n;
    }
}

// --- The GUI thread ----------------------------------------------------------------

// Opens the mixer on whatever driver SDL picks (or SDL_AUDIODRIVER names).
bool OpenMixer(int mixrate)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    if (Mix_OpenAudio(mixrate, AUDIO_S16SYS, 2, kBufferFrames) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

// Notices that the playing stream's track ran out: gSound.playing lets go of it.
// True while `stream` plays.
bool Refresh(FSOUND_STREAM *stream)
{
    bool playing;
    {
        std::lock_guard<std::mutex> hold(stream->lock);
        playing = stream->playing;
    }
    if (!playing && gSound.playing == stream) {
        if (!gSound.virtualClock)
            Mix_HookMusic(nullptr, nullptr);
        gSound.playing = nullptr;
    }
    return playing;
}

// Halts a stream and rewinds it to 0 ms.
void Halt(FSOUND_STREAM *stream)
{
    if (gSound.playing == stream) {
        if (!gSound.virtualClock)
            Mix_HookMusic(nullptr, nullptr); // waits for a callback that runs
        gSound.playing = nullptr;
    }
    std::lock_guard<std::mutex> hold(stream->lock);
    stream->playing = false;
    stream->ended = false;
    stream->positionMs = 0;
}

void Anchor(FSOUND_STREAM *stream, double ms)
{
    stream->anchorMs = ms;
    stream->anchorTime = Clock::now();
    stream->lastReadMs = ms;
}

// The music clock of a playing stream in ms. The output reports its place
// once per buffer; between reports the clock follows the steady clock, but
// never falls below the report, never runs more than one buffer ahead of
// it, and never goes below what it returned before.
double ClockMs(FSOUND_STREAM *stream)
{
    int64_t reportedSample;
    {
        std::lock_guard<std::mutex> hold(stream->lock);
        reportedSample = stream->reportedSample;
    }
    const Clock::time_point now = Clock::now();
    double ms = stream->anchorMs + std::chrono::duration<double, std::milli>(now - stream->anchorTime).count();
    const double reportedMs = MsAt(*stream, reportedSample);
    if (ms < reportedMs || ms > reportedMs + gSound.bufferMs) {
        ms = std::clamp(ms, reportedMs, reportedMs + gSound.bufferMs);
        stream->anchorMs = ms;
        stream->anchorTime = now;
    }
    ms = std::min(std::max(ms, stream->lastReadMs), static_cast<double>(stream->lengthMs));
    stream->lastReadMs = ms;
    return ms;
}

// Starts `stream` at `ms`, taking the output from any other stream.
void Start(FSOUND_STREAM *stream, int ms)
{
    if (gSound.playing && gSound.playing != stream)
        Halt(gSound.playing);
    {
        std::lock_guard<std::mutex> hold(stream->lock);
        Reposition(*stream, SampleAt(*stream, ms));
        stream->playing = true;
        stream->ended = false;
        stream->reportedSample = stream->at;
    }
    stream->virtualMs = ms;
    Anchor(stream, ms);
    gSound.playing = stream;
    if (!gSound.virtualClock)
        Mix_HookMusic(FeedOutput, stream);
}

int Fail(int code)
{
    gSound.lastError = code;
    return code;
}

} // namespace

signed char FSOUND_Init(int mixrate, int, unsigned int)
{
    if (gSound.outputOpen)
        return Fail(FMOD_ERR_BUSY), 0;
    if (mixrate <= 0)
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    gSound.lastError = FMOD_ERR_NONE;

    // SDL would otherwise turn SIGINT/SIGTERM into events nobody reads.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    // The virtual clock plays nothing: do not take the sound device.
    if (gSound.virtualClock)
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    if (!OpenMixer(mixrate)) {
        // No device: the silent driver keeps real time. The override
        // priority beats an SDL_AUDIODRIVER naming a driver that failed.
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        if (!OpenMixer(mixrate)) {
            SDL_Quit();
            return Fail(FMOD_ERR_INIT), 0;
        }
        qDebug("sound: no audio device, music plays silently");
    }

    int frequency = mixrate;
    Uint16 format = AUDIO_S16SYS;
    int channels = 2;
    if (!Mix_QuerySpec(&frequency, &format, &channels) || frequency <= 0 || channels <= 0 ||
        (format != AUDIO_S16SYS && format != AUDIO_F32SYS)) {
        Mix_CloseAudio();
        SDL_Quit();
        return Fail(FMOD_ERR_OUTPUT_FORMAT), 0;
    }
    gSound.outputRate = frequency;
    gSound.outputChannels = channels;
    gSound.outputFormat = format;
    gSound.bufferMs = 1000.0 * kBufferFrames / frequency;
    gSound.outputOpen = true;
    return 1;
}

void FSOUND_Close()
{
    if (!gSound.outputOpen)
        return;
    Mix_HookMusic(nullptr, nullptr);
    gSound.playing = nullptr;
    for (FSOUND_STREAM *stream : gSound.streams) {
        stream->released = true;
        stream->analysis.reset();
        std::lock_guard<std::mutex> hold(stream->lock);
        stream->decoder.reset();
        stream->playing = false;
    }
    Mix_CloseAudio();
    SDL_Quit(); // also clears the hints, so the next init tries a device again
    gSound.outputOpen = false;
    gSound.outputRate = 0;
}

int FSOUND_GetError()
{
    return gSound.lastError;
}

FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int, int, int)
{
    if (!gSound.outputOpen)
        return Fail(FMOD_ERR_UNINITIALIZED), nullptr;
    if (!name)
        return Fail(FMOD_ERR_INVALID_PARAM), nullptr;
    int error = FMOD_ERR_NONE;
    std::unique_ptr<Mp3Decoder> decoder = Mp3Decoder::Open(name, error);
    if (!decoder)
        return Fail(error), nullptr;
    FSOUND_STREAM *stream = new FSOUND_STREAM;
    stream->rate = decoder->rate();
    stream->length = decoder->length();
    stream->lengthMs = static_cast<int>(std::min<int64_t>(stream->length * 1000 / stream->rate, INT32_MAX));
    stream->analysis = std::make_unique<MusicAnalysis>(*decoder);
    stream->decoder = std::move(decoder);
    gSound.streams.push_back(stream);
    gSound.lastError = FMOD_ERR_NONE;
    return stream;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    Halt(stream); // after it the audio thread no longer sees the stream
    gSound.streams.erase(std::find(gSound.streams.begin(), gSound.streams.end(), stream));
    delete stream;
    gSound.lastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_Play(int, FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), -1;
    if (stream->released)
        return Fail(FMOD_ERR_UNINITIALIZED), -1;
    if (!Refresh(stream)) {
        int from;
        {
            std::lock_guard<std::mutex> hold(stream->lock);
            from = stream->ended ? 0 : stream->positionMs;
        }
        Start(stream, from);
    }
    gSound.lastError = FMOD_ERR_NONE;
    return 0;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    if (stream->released)
        return Fail(FMOD_ERR_UNINITIALIZED), 0;
    Halt(stream);
    gSound.lastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream) || stream->released)
        return 0;
    if (!Refresh(stream)) {
        std::lock_guard<std::mutex> hold(stream->lock);
        return stream->positionMs;
    }
    if (gSound.virtualClock) // the epsilon keeps sums of 1000/fps steps on whole ms
        return std::min(static_cast<int>(std::floor(stream->virtualMs + 1e-6)), stream->lengthMs);
    return static_cast<int>(ClockMs(stream));
}

signed char FSOUND_Stream_SetTime(FSOUND_STREAM *stream, int ms)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    if (stream->released)
        return Fail(FMOD_ERR_UNINITIALIZED), 0;
    ms = std::min(std::max(ms, 0), stream->lengthMs);
    const bool playing = Refresh(stream);
    {
        std::lock_guard<std::mutex> hold(stream->lock);
        stream->ended = false;
        if (playing) {
            // Sample-exact: the next buffer starts at the new place.
            Reposition(*stream, SampleAt(*stream, ms));
            stream->reportedSample = stream->at;
            if (ms >= stream->lengthMs)
                EndTrack(*stream); // a seek to the length ends the track
        } else {
            stream->positionMs = ms;
        }
    }
    if (playing) {
        stream->virtualMs = ms;
        Anchor(stream, ms);
        Refresh(stream);
    }
    gSound.lastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_GetLengthMs(FSOUND_STREAM *stream)
{
    return IsOpenStream(stream) ? stream->lengthMs : 0;
}

signed char FSOUND_IsPlaying(int channel)
{
    if (channel != 0 || !gSound.playing)
        return 0;
    return Refresh(gSound.playing) ? 1 : 0;
}

void StreamSpectrumAt(FSOUND_STREAM *stream, int ms, int bands, float *values)
{
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    if (IsOpenStream(stream) && stream->analysis)
        stream->analysis->spectrum(ms, bands, values);
    else
        std::fill(values, values + bands, 0.0f);
}

float StreamLevelAt(FSOUND_STREAM *stream, int ms)
{
    if (!IsOpenStream(stream) || !stream->analysis)
        return 0.0f;
    return stream->analysis->level(ms);
}

const SpectrumWindow *StreamWindowAt(FSOUND_STREAM *stream, int ms)
{
    if (!IsOpenStream(stream) || !stream->analysis)
        return nullptr;
    return &stream->analysis->window(ms);
}

void StreamSpectrum(FSOUND_STREAM *stream, int bands, float *values)
{
    StreamSpectrumAt(stream, IsOpenStream(stream) ? FSOUND_Stream_GetTime(stream) : 0, bands, values);
}

float StreamLevel(FSOUND_STREAM *stream)
{
    return StreamLevelAt(stream, IsOpenStream(stream) ? FSOUND_Stream_GetTime(stream) : 0);
}

// --- Virtual music clock ------------------------------------------------------

void FSOUND_SetVirtualClock(bool on)
{
    gSound.virtualClock = on;
}

void FSOUND_AdvanceVirtualClock(double ms, float *audio, int frames)
{
    if (audio && frames > 0)
        std::fill(audio, audio + 2 * static_cast<size_t>(frames), 0.0f);
    if (!gSound.virtualClock || !gSound.playing || !(ms > 0.0))
        return;
    FSOUND_STREAM &stream = *gSound.playing;
    if (audio && frames > 0 && gSound.outputRate > 0) {
        std::lock_guard<std::mutex> hold(stream.lock);
        // The steps' sum of output frames and of ms differ by a sample at
        // most; a larger difference is a seek.
        const int64_t sample = SampleAt(stream, stream.virtualMs);
        if (std::llabs(stream.at - sample) > 2)
            Reposition(stream, sample);
        Render(stream, audio, frames, gSound.outputRate, false);
    }
    stream.virtualMs += ms;
    if (stream.virtualMs + 1e-6 >= stream.lengthMs) {
        std::lock_guard<std::mutex> hold(stream.lock);
        EndTrack(stream);
    }
    Refresh(&stream);
}

int FSOUND_GetOutputRate()
{
    return gSound.outputRate;
}
