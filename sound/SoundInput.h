// SoundInput: a live sound input (a capture device through SDL) whose
// newest samples the analysis takes, for productions that follow the
// room's sound instead of the music.
//
// The device is asked for a small buffer (kCaptureFrames), so what the
// analysis sees is at most that much older than the sound. Its samples go
// into a ring under a lock (the capture runs on SDL's audio thread); the
// GUI thread copies the newest window out of it.
//
// A device that cannot be found or opened, or that goes away, leaves the
// input silent with a problem() that says so, and poll() looks for it
// again once a second until it is back.
#pragma once

#include "MusicAnalysis.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

class SoundInput
{
public:
    static constexpr int kCaptureFrames = 256; // the device's buffer: 5.8 ms at 44.1 kHz
    static constexpr int kRingSamples = 4 * kSpectrumWindow;

    // Takes SDL's audio subsystem (shared with the output) for its lifetime.
    SoundInput();
    // Closes the device (waiting for a capture that runs) and lets the
    // subsystem go.
    ~SoundInput();
    SoundInput(const SoundInput &) = delete;
    SoundInput &operator=(const SoundInput &) = delete;

    // The capture devices' names now (none on SDL's silent stand-in driver,
    // whose one "device" hears nothing).
    std::vector<std::string> names() const;

    // Follows the first capture device whose name contains `wanted` (in
    // any case; "" takes the first device). True when it captures now;
    // otherwise problem() says why and poll() keeps looking.
    bool follow(const std::string &wanted);
    // Notices a device that went away, and looks for the wanted one again
    // (at most once a second) while none captures.
    void poll();

    const std::string &wanted() const { return wantedName; }
    // The device captured from ("" while none is open).
    const std::string &device() const { return deviceName; }
    bool isOpen() const { return deviceId != 0; }
    // Why the input is silent: "" while it captures; one line otherwise.
    const std::string &problem() const { return why; }

    // Copies the newest kSpectrumWindow samples (mono, -1..1; silence
    // where none came yet) into `window`. Returns the device's rate in Hz.
    double newest(float *window);
    // Milliseconds of sound captured since the device opened: the input's
    // own clock, which the onsets' spacing is measured on.
    double capturedMs();

    // The capture callback's work (SDL's audio thread): stores `count`
    // mono float samples, clipped into -1..1.
    void store(const float *samples, int count);

private:
    // Opens the device named `name`; false with `why` set.
    bool open(const std::string &name);
    void close();

    std::string wantedName;
    std::string deviceName;
    std::string why;
    unsigned int deviceId = 0; // SDL's id; 0: none open
    double rate = 44100.0;
    std::chrono::steady_clock::time_point lastLook;

    // --- Shared with the audio thread: only under `lock`.
    std::mutex lock;
    float ring[kRingSamples] = {};
    long long written = 0; // samples stored since the device opened
};
