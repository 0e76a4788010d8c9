// The FSOUND_ sound layer: one music stream at a time. Its calls, constants
// and error codes are the ones the start-up sequence and the music functions
// use; nothing outside sound/ sees SDL or the decoder.
//
// One decoder (Mp3Decoder: libmpg123, scanned at open) gives everything the
// music is: the samples played, resampled to the output's rate; the position
// and the length, counted in decoded samples; the spectrum and level; and
// the soundtrack of an offline render.
//
// All calls are made from the GUI thread. The output plays on SDL's audio
// thread, which takes the playing stream's samples from its decoder under
// the stream's lock; nothing else is shared with it.
#pragma once

struct FSOUND_STREAM; // opaque: an opened music file with its play state

// Channel argument of FSOUND_Stream_Play: let the library pick a channel.
constexpr int FSOUND_FREE = -1;
// Stream mode: measure the length with the decoder's accurate scan.
constexpr unsigned int FSOUND_MPEGACCURATE = 0x20000;

#include "FSoundErrors.h" // FSOUND_ERRORS, the codes FSOUND_GetError returns

// Opens the output at `mixrate` Hz (or the rate the device offers),
// 16-bit stereo, 1024-frame buffer; falls back to the silent driver when no
// device opens. `maxsoftwarechannels` and
// `flags` are accepted and unused (there is one music channel). True on
// success; false with FMOD_ERR_INIT when no output opens, FMOD_ERR_BUSY when
// already initialised, FMOD_ERR_INVALID_PARAM for a rate <= 0.
signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);

// Stops the music, releases every stream's decoder and closes the output.
// Streams still open stay valid handles that only FSOUND_Stream_Close
// accepts. Harmless without a successful FSOUND_Init.
void FSOUND_Close();

// Code of the last failure (FSOUND_ERRORS). Init, Open, Close, Play, Stop
// and SetTime set it (FMOD_ERR_NONE when they succeed); the getters leave it.
int FSOUND_GetError();

// Opens an MPEG audio file, stopped at 0 ms, and scans it whole: the length
// is the count of decoded samples and every seek lands on its sample (what
// FSOUND_MPEGACCURATE asks for; `mode`, `offset` and `length` are accepted
// and unused). Damaged files play what decodes. Null on failure:
// FMOD_ERR_FILE_NOTFOUND for a missing or unreadable file,
// FMOD_ERR_FILE_FORMAT for one without a decodable frame, FMOD_ERR_MEMORY,
// FMOD_ERR_UNINITIALIZED before FSOUND_Init. Several streams may be open;
// only one plays at a time.
FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int mode, int offset, int length);

// Halts the stream if it plays and frees it. Null (or a handle that is not
// open) is harmless and returns false.
signed char FSOUND_Stream_Close(FSOUND_STREAM *stream);

// Starts the stream from its position (from 0 after it ran to its end) and
// returns channel 0. While it plays: changes nothing, returns 0. Starting
// one stream stops any other that plays. -1 on failure.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream);

// Halts the stream and rewinds it to 0 ms. Also valid while stopped.
signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream);

// Position in ms, 0..length. While playing it is interpolated with a
// monotonic clock between the output's per-buffer reports of the decoded
// samples played: it never runs backwards and stays within one buffer of
// them. After the end of the track it reads the length until the next seek
// or play. 0 for null.
int FSOUND_Stream_GetTime(FSOUND_STREAM *stream);

// Moves the position to `ms`, clamped into 0..length. While stopped it sets
// where the next play starts; a seek to the length while playing ends the
// track.
signed char FSOUND_Stream_SetTime(FSOUND_STREAM *stream, int ms);

// Length of the track in ms (0 for null).
int FSOUND_Stream_GetLengthMs(FSOUND_STREAM *stream);

// Spectrum (`bands` values, 1..kMaxSpectrumBands) and level of the stream's
// music at its position (FSOUND_Stream_GetTime), from the stream's own
// analysis: the same decoder, opened a second time on the file; see
// MusicAnalysis.h. Zeros for a null or closed stream.
void StreamSpectrum(FSOUND_STREAM *stream, int bands, float *values);
float StreamLevel(FSOUND_STREAM *stream);
// The same at music time `ms`, wherever the stream stands (a paused or
// scrubbed frame analyses the music at its time).
void StreamSpectrumAt(FSOUND_STREAM *stream, int ms, int bands, float *values);
float StreamLevelAt(FSOUND_STREAM *stream, int ms);
// The whole analysed window at music time `ms` (bins and level, for those
// who follow the spectrum frame by frame); null for a null or closed stream.
// Valid until the stream's next analysis.
struct SpectrumWindow;
const SpectrumWindow *StreamWindowAt(FSOUND_STREAM *stream, int ms);

// True only while a stream plays on `channel` (the music channel is 0).
signed char FSOUND_IsPlaying(int channel);

// --- Virtual music clock (offline rendering) ---------------------------------
// With the virtual clock on, the mixer never plays: no sound is made, and
// every stream call above (play, stop, seek, time, length, the end of the
// track, IsPlaying) works as described but on a position that moves only
// when FSOUND_AdvanceVirtualClock is called. Turn it on before FSOUND_Init
// (the output then opens straight on the silent driver) and leave it on.
void FSOUND_SetVirtualClock(bool on);

// Moves the playing stream on by `ms` milliseconds (fractions are kept, so
// steps of 1000/60 ms add up exactly to whole frames). Reaching the length
// ends the track as it does live. Does nothing while no stream plays.
// With `audio`, it first writes there the `frames` stereo frames (float,
// interleaved, at FSOUND_GetOutputRate) heard during the step: the decoded
// music from the position at the step's start, resampled as live and
// continuing the previous step's unless the position moved (a seek);
// silence while nothing plays and after the end of the track.
void FSOUND_AdvanceVirtualClock(double ms, float *audio = nullptr, int frames = 0);

// The output's rate in Hz (0 while it is closed).
int FSOUND_GetOutputRate();
