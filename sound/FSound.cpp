// The FSOUND_ sound layer on SDL2_mixer: output set-up with the silent
// fallback, opening and measuring music files, the one music channel, and
// the smooth music clock.
//
// SDL_mixer plays one "music" at a time on its audio thread. This layer
// keeps the play state of every open stream on the GUI thread and learns
// that a track ran out by polling Mix_PlayingMusic (which takes the mixer's
// lock) whenever a stream is asked about, so no callback from the audio
// thread touches our data.
#include "FSound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

struct FSOUND_STREAM
{
    Mix_Music *music = nullptr; // null once FSOUND_Close released the decoder
    std::string name;           // the file name as opened
    int lengthMs = 0;
    bool playing = false;
    bool ended = false;   // stopped by reaching the end of the track
    int positionMs = 0;   // the position while stopped

    // Music clock while playing, all in ms: the clock runs from
    // (anchorMs at anchorTime) with the wall clock, held within one buffer
    // of the mixer's report and never below the last value handed out.
    double anchorMs = 0.0;
    Clock::time_point anchorTime;
    double lastReadMs = 0.0;

    // Position while playing on the virtual clock, in ms (fractions kept).
    double virtualMs = 0.0;
};

namespace {

constexpr int kBufferFrames = 1024; // below this the silent driver runs fast

bool gOutputOpen = false;
int gLastError = FMOD_ERR_NONE;
double gBufferMs = 1000.0 * kBufferFrames / 44100.0;
std::vector<FSOUND_STREAM *> gStreams; // every stream opened and not closed
FSOUND_STREAM *gPlaying = nullptr;     // the stream that holds the mixer
bool gVirtualClock = false;            // the export drives the clock; no sound

bool IsOpenStream(const FSOUND_STREAM *stream)
{
    return stream && std::find(gStreams.begin(), gStreams.end(), stream) != gStreams.end();
}

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

// Notices that the playing stream's track ran out (or that the mixer was
// taken away): the stream is then stopped at its length.
void Refresh(FSOUND_STREAM *stream)
{
    if (!stream->playing || gVirtualClock) // the virtual clock ends tracks itself
        return;
    if (gPlaying == stream && Mix_PlayingMusic())
        return;
    stream->playing = false;
    stream->ended = true;
    stream->positionMs = stream->lengthMs;
    if (gPlaying == stream)
        gPlaying = nullptr;
}

// Halts a playing stream and rewinds it to 0 ms.
void Halt(FSOUND_STREAM *stream)
{
    if (gPlaying == stream) {
        if (!gVirtualClock)
            Mix_HaltMusic();
        gPlaying = nullptr;
    }
    stream->playing = false;
    stream->ended = false;
    stream->positionMs = 0;
}

void Anchor(FSOUND_STREAM *stream, double ms, Clock::time_point now)
{
    stream->anchorMs = ms;
    stream->anchorTime = now;
}

// The music clock of a playing stream in ms. The mixer reports its
// position once per buffer; between reports the clock follows the steady
// clock, but never falls below the report, never runs more than one buffer
// ahead of it, and never goes below what it returned before.
double ClockMs(FSOUND_STREAM *stream)
{
    const Clock::time_point now = Clock::now();
    const double reported = Mix_GetMusicPosition(stream->music);
    double ms = stream->anchorMs +
                std::chrono::duration<double, std::milli>(now - stream->anchorTime).count();
    if (reported >= 0.0) {
        const double reportedMs = reported * 1000.0;
        if (ms < reportedMs) {
            ms = reportedMs;
            Anchor(stream, ms, now);
        } else if (ms > reportedMs + gBufferMs) {
            ms = reportedMs + gBufferMs;
            Anchor(stream, ms, now);
        }
    }
    ms = std::min(std::max(ms, stream->lastReadMs), static_cast<double>(stream->lengthMs));
    stream->lastReadMs = ms;
    return ms;
}

// Starts the mixer on `stream` at `ms`, taking it from any other stream.
bool Start(FSOUND_STREAM *stream, int ms)
{
    if (gPlaying && gPlaying != stream)
        Halt(gPlaying);
    if (!gVirtualClock && Mix_FadeInMusicPos(stream->music, 0, 0, ms / 1000.0) != 0)
        return false;
    stream->virtualMs = ms;
    const Clock::time_point now = Clock::now();
    stream->playing = true;
    stream->ended = false;
    Anchor(stream, ms, now);
    stream->lastReadMs = ms;
    gPlaying = stream;
    return true;
}

// True when the file exists and its first byte can be read (a folder or a
// file without read permission cannot).
bool IsReadableFile(const char *name)
{
    std::FILE *file = std::fopen(name, "rb");
    if (!file)
        return false;
    std::fgetc(file);
    const bool readable = !std::ferror(file);
    std::fclose(file);
    return readable;
}

// The playing stream ran out on the virtual clock: stopped at its length.
void EndVirtualTrack(FSOUND_STREAM *stream)
{
    stream->playing = false;
    stream->ended = true;
    stream->positionMs = stream->lengthMs;
    if (gPlaying == stream)
        gPlaying = nullptr;
}

int Fail(int code)
{
    gLastError = code;
    return code;
}

} // namespace

signed char FSOUND_Init(int mixrate, int, unsigned int)
{
    if (gOutputOpen)
        return Fail(FMOD_ERR_BUSY), 0;
    if (mixrate <= 0)
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    gLastError = FMOD_ERR_NONE;

    // SDL would otherwise turn SIGINT/SIGTERM into events nobody reads.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    // The virtual clock plays nothing: do not take the sound device.
    if (gVirtualClock)
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
    Mix_Init(MIX_INIT_MP3); // without it Mix_LoadMUS loads the decoder on demand

    int frequency = mixrate;
    Uint16 format = 0;
    int channels = 0;
    if (Mix_QuerySpec(&frequency, &format, &channels) && frequency > 0)
        gBufferMs = 1000.0 * kBufferFrames / frequency;
    gOutputOpen = true;
    return 1;
}

void FSOUND_Close()
{
    if (!gOutputOpen)
        return;
    Mix_HaltMusic();
    gPlaying = nullptr;
    for (FSOUND_STREAM *stream : gStreams) {
        Mix_FreeMusic(stream->music);
        stream->music = nullptr;
        stream->playing = false;
    }
    Mix_CloseAudio();
    Mix_Quit();
    SDL_Quit(); // also clears the hints, so the next init tries a device again
    gOutputOpen = false;
}

int FSOUND_GetError()
{
    return gLastError;
}

FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int, int, int)
{
    if (!gOutputOpen)
        return Fail(FMOD_ERR_UNINITIALIZED), nullptr;
    if (!name)
        return Fail(FMOD_ERR_INVALID_PARAM), nullptr;
    if (!IsReadableFile(name))
        return Fail(FMOD_ERR_FILE_NOTFOUND), nullptr;
    Mix_Music *music = Mix_LoadMUS(name);
    if (!music)
        return Fail(FMOD_ERR_FILE_FORMAT), nullptr;
    const double seconds = Mix_MusicDuration(music); // the decoder's full scan
    if (!(seconds > 0.0)) {
        Mix_FreeMusic(music);
        return Fail(FMOD_ERR_FILE_FORMAT), nullptr;
    }
    FSOUND_STREAM *stream = new FSOUND_STREAM;
    stream->music = music;
    stream->name = name;
    stream->lengthMs = static_cast<int>(seconds * 1000.0 + 0.5);
    gStreams.push_back(stream);
    gLastError = FMOD_ERR_NONE;
    return stream;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    if (stream->music) {
        Halt(stream);
        Mix_FreeMusic(stream->music);
    }
    gStreams.erase(std::find(gStreams.begin(), gStreams.end(), stream));
    delete stream;
    gLastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_Play(int, FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), -1;
    if (!stream->music)
        return Fail(FMOD_ERR_UNINITIALIZED), -1;
    Refresh(stream);
    if (!stream->playing) {
        const int from = stream->ended ? 0 : stream->positionMs;
        if (!Start(stream, from))
            return Fail(FMOD_ERR_PLAY), -1;
    }
    gLastError = FMOD_ERR_NONE;
    return 0;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    if (!stream->music)
        return Fail(FMOD_ERR_UNINITIALIZED), 0;
    Halt(stream);
    gLastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream) || !stream->music)
        return 0;
    Refresh(stream);
    if (!stream->playing)
        return stream->positionMs;
    if (gVirtualClock) // the epsilon keeps sums of 1000/fps steps on whole ms
        return std::min(static_cast<int>(std::floor(stream->virtualMs + 1e-6)), stream->lengthMs);
    return static_cast<int>(ClockMs(stream));
}

signed char FSOUND_Stream_SetTime(FSOUND_STREAM *stream, int ms)
{
    if (!IsOpenStream(stream))
        return Fail(FMOD_ERR_INVALID_PARAM), 0;
    if (!stream->music)
        return Fail(FMOD_ERR_UNINITIALIZED), 0;
    // Clamp first: the mixer accepts a seek past the end and then reports
    // the requested time.
    ms = std::min(std::max(ms, 0), stream->lengthMs);
    Refresh(stream);
    stream->ended = false;
    if (stream->playing && gVirtualClock) {
        // As live: a seek to the length ends the track.
        stream->virtualMs = ms;
        if (ms >= stream->lengthMs)
            EndVirtualTrack(stream);
    } else if (stream->playing) {
        if (Mix_SetMusicPosition(ms / 1000.0) != 0) // seconds; stops at the end
            return Fail(FMOD_ERR_PLAY), 0;
        Anchor(stream, ms, Clock::now());
        stream->lastReadMs = ms;
    } else {
        stream->positionMs = ms;
    }
    gLastError = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_Stream_GetLengthMs(FSOUND_STREAM *stream)
{
    if (!IsOpenStream(stream))
        return 0;
    return stream->lengthMs;
}

const char *FSOUND_Stream_GetName(FSOUND_STREAM *stream)
{
    return IsOpenStream(stream) ? stream->name.c_str() : "";
}

signed char FSOUND_IsPlaying(int channel)
{
    if (channel != 0 || !gPlaying)
        return 0;
    Refresh(gPlaying);
    return gPlaying ? 1 : 0;
}

// --- Virtual music clock ------------------------------------------------------

void FSOUND_SetVirtualClock(bool on)
{
    gVirtualClock = on;
}

void FSOUND_AdvanceVirtualClock(double ms)
{
    if (!gVirtualClock || !gPlaying || !(ms > 0.0))
        return;
    gPlaying->virtualMs += ms;
    if (gPlaying->virtualMs + 1e-6 >= gPlaying->lengthMs)
        EndVirtualTrack(gPlaying);
}
