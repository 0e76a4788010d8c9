// The one music decoder: a libmpg123 handle on an MPEG audio file (MPEG-1,
// 2 and 2.5, Layers I to III, any bit rate, tags skipped) with the settings
// that every reader of the music shares, so that playback, the position,
// the spectrum and the export's soundtrack all see the same samples:
//  - float stereo at the file's own sample rate (mono is doubled);
//  - gapless: the encoder's delay and padding are trimmed when the file's
//    info tag gives them;
//  - one full scan at open, which gives the exact length in samples and an
//    index of every frame, so a seek lands on its sample exactly, anywhere;
//  - resync past any amount of garbage, and one fixed synthesis routine (not
//    the one the CPU's features would pick), so the same file decodes to the
//    same floats on every machine of an architecture.
// A decoder is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <sys/types.h> // off_t, as libmpg123 takes it

struct mpg123_handle_struct;
struct Mp3File;

class Mp3Decoder
{
public:
    // Opens `name` and scans it. Null on failure, with `error` set to
    // FMOD_ERR_FILE_NOTFOUND (missing or unreadable), FMOD_ERR_FILE_FORMAT
    // (no decodable frame) or FMOD_ERR_MEMORY.
    static std::unique_ptr<Mp3Decoder> Open(const char *name, int &error);
    // A second decoder on the same file at sample 0, opened and scanned the
    // same way, so it gives the same samples. Null when the file cannot be
    // opened again or is no longer the same.
    std::unique_ptr<Mp3Decoder> twin() const;
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder &) = delete;
    Mp3Decoder &operator=(const Mp3Decoder &) = delete;

    long rate() const { return sampleRate; }        // samples per second
    int64_t length() const { return sampleCount; } // samples (per channel), > 0
    int64_t position() const { return samplePosition; }

    // Moves to `sample`, clamped into 0..length(); the next Read starts there.
    void seek(int64_t sample);
    // Decodes the next `frames` samples as interleaved stereo into `out`
    // (2 * frames floats) and returns how many of them lie before the end;
    // the rest, and anything the file fails to deliver before its scanned
    // length, is silence.
    int read(float *out, int frames);

private:
    Mp3Decoder() = default;
    bool openHandle(const char *name, long rate);
    int preframesFor(int64_t frame) const;
    int reservoirFrames(int64_t frame) const;

    std::unique_ptr<Mp3File> file; // what the handle reads through
    mpg123_handle_struct *handle = nullptr;
    std::vector<char> fileName;
    long step = 1; // frames per index entry
    std::vector<off_t> frameIndex; // byte offset of every step-th frame
    int samplesPerFrame = 1152;
    long sampleRate = 0;
    int64_t sampleCount = 0;
    int64_t samplePosition = 0;
    bool exhausted = false; // the handle delivers nothing more until a seek
};
