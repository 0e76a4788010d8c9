// SoundInput: the capture device through SDL, its ring of newest samples,
// and the looking-again after a device that is missing or went away.
#include "SoundInput.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// How often a missing device is looked for again.
constexpr std::chrono::milliseconds kLookAgain(1000);

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Capture(void *input, Uint8 *bytes, int length)
{
    static_cast<SoundInput *>(input)->store(reinterpret_cast<const float *>(bytes), length / static_cast<int>(sizeof(float)));
}

} // namespace

SoundInput::SoundInput()
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        why = std::string("no sound: ") + SDL_GetError();
}

SoundInput::~SoundInput()
{
    close();
    SDL_QuitSubSystem(SDL_INIT_AUDIO); // does nothing when the init failed
}

std::vector<std::string> SoundInput::names() const
{
    std::vector<std::string> list;
    const char *driver = SDL_GetCurrentAudioDriver();
    if (!driver || std::strcmp(driver, "dummy") == 0)
        return list;
    const int count = SDL_GetNumAudioDevices(1);
    for (int i = 0; i < count; ++i)
        if (const char *name = SDL_GetAudioDeviceName(i, 1))
            list.push_back(name);
    return list;
}

bool SoundInput::follow(const std::string &wanted)
{
    close();
    wantedName = wanted;
    lastLook = std::chrono::steady_clock::now();
    const std::vector<std::string> list = names();
    const auto match = std::find_if(list.begin(), list.end(), [&](const std::string &name) {
        return Lower(name).find(Lower(wanted)) != std::string::npos;
    });
    if (match != list.end())
        return open(*match);
    if (list.empty()) {
        why = "there is no sound input; silent until one appears";
        return false;
    }
    why = "no input matches \"" + wanted + "\" (inputs:";
    for (size_t i = 0; i < list.size(); ++i)
        why += (i ? ", \"" : " \"") + list[i] + "\"";
    why += "); silent until one does";
    return false;
}

void SoundInput::poll()
{
    if (deviceId && SDL_GetAudioDeviceStatus(deviceId) == SDL_AUDIO_STOPPED) {
        const std::string gone = deviceName;
        close();
        why = "\"" + gone + "\" went away; silent until it returns";
        lastLook = std::chrono::steady_clock::now();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (deviceId || now - lastLook < kLookAgain)
        return;
    const std::string before = why;
    if (!follow(wantedName) && before.find("went away") != std::string::npos)
        why = before; // still gone: keep saying what happened
}

bool SoundInput::open(const std::string &name)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        std::fill(ring, ring + kRingSamples, 0.0f);
        written = 0;
    }
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = 44100;
    want.format = AUDIO_F32SYS;
    want.channels = 1;
    want.samples = kCaptureFrames;
    want.callback = Capture;
    want.userdata = this;
    // The device's own rate is taken as it is; SDL converts the rest.
    deviceId = SDL_OpenAudioDevice(name.c_str(), 1, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (!deviceId) {
        why = "\"" + name + "\" cannot be opened (" + SDL_GetError() + "); silent until it can";
        return false;
    }
    rate = have.freq > 0 ? have.freq : 44100.0;
    deviceName = name;
    why.clear();
    SDL_PauseAudioDevice(deviceId, 0);
    return true;
}

void SoundInput::close()
{
    if (deviceId)
        SDL_CloseAudioDevice(deviceId); // waits for a capture that runs
    deviceId = 0;
    deviceName.clear();
}

void SoundInput::store(const float *samples, int count)
{
    std::lock_guard<std::mutex> hold(lock);
    for (int i = 0; i < count; ++i) {
        const float s = samples[i];
        ring[written % kRingSamples] = s > 1.0f ? 1.0f : s < -1.0f ? -1.0f : (s == s ? s : 0.0f);
        ++written;
    }
}

double SoundInput::newest(float *window)
{
    std::lock_guard<std::mutex> hold(lock);
    for (int i = 0; i < kSpectrumWindow; ++i) {
        const long long at = written - kSpectrumWindow + i;
        window[i] = at >= 0 ? ring[at % kRingSamples] : 0.0f;
    }
    return rate;
}

double SoundInput::capturedMs()
{
    std::lock_guard<std::mutex> hold(lock);
    return 1000.0 * static_cast<double>(written) / rate;
}
