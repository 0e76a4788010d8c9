// FrameInputs: the frame's time from the timeline, the sound it follows
// (the music at that time, or the live input's newest samples), the mouse.
#include "FrameInputs.h"

#include "Controllers.h"

#include "FSound.h"
#include "Music.h"
#include "SoundInput.h"
#include "Timeline.h"

#include <algorithm>
#include <cmath>

FrameInputs::FrameInputs(const Timeline &clock) : clock(clock) {}

FrameInputs::~FrameInputs() = default;

void FrameInputs::take(float mouseX, float mouseY)
{
    ++frameNumber;
    cursor[0] = mouseX;
    cursor[1] = mouseY;
    if (input)
        input->poll();
    // Sources in use are followed at every tick.
    if (musicUsed)
        musicFollowed();
    if (liveUsed && input)
        inputFollowed();
}

double FrameInputs::time() const
{
    return clock.time();
}

double FrameInputs::beat() const
{
    return clock.beat();
}

double FrameInputs::row() const
{
    return clock.row();
}

int FrameInputs::musicMs() const
{
    if (!gMusicStream || !(MusicIsPlaying() || clock.heldByTransport()))
        return -1;
    return static_cast<int>(std::lround(clock.time() * 1000.0));
}

const SoundFollower &FrameInputs::musicFollowed() const
{
    musicUsed = true;
    const int ms = musicMs();
    if (music.frame() != frameNumber || ms != musicAt) {
        musicAt = ms;
        music.take(frameNumber, ms < 0 ? nullptr : StreamWindowAt(gMusicStream, ms), ms, smoothingFactor);
    }
    return music;
}

const SoundFollower &FrameInputs::inputFollowed() const
{
    liveUsed = true;
    if (live.frame() != frameNumber) {
        // The newest samples, once per frame: every reader of the frame
        // hears the same moment.
        SpectrumWindow window;
        if (input->isOpen()) {
            float samples[kSpectrumWindow];
            const double rate = input->newest(samples);
            AnalyseWindow(samples, rate, window);
        }
        live.take(frameNumber, input->isOpen() ? &window : nullptr, input->capturedMs(), smoothingFactor);
    }
    return live;
}

const SoundFollower &FrameInputs::followed() const
{
    return input ? inputFollowed() : musicFollowed();
}

float FrameInputs::level() const
{
    return followed().level();
}

void FrameInputs::spectrum(int bands, float *values) const
{
    followed().spectrum(std::clamp(bands, 1, kMaxSpectrumBands), values);
}

bool FrameInputs::onset() const
{
    return followed().onset();
}

float FrameInputs::musicLevel() const
{
    return musicFollowed().level();
}

void FrameInputs::musicSpectrum(int bands, float *values) const
{
    musicFollowed().spectrum(std::clamp(bands, 1, kMaxSpectrumBands), values);
}

void FrameInputs::setSmoothing(float smoothing)
{
    smoothingFactor = std::isnan(smoothing) ? 0.0f : std::clamp(smoothing, 0.0f, SoundFollower::kMaxSmoothing);
}

bool FrameInputs::useInput(const std::string &name)
{
    if (!input)
        input = std::make_unique<SoundInput>();
    live = SoundFollower(); // a new device starts from silence
    return input->follow(name);
}

void FrameInputs::useMusic()
{
    input.reset();
    liveUsed = false;
}

std::vector<std::string> FrameInputs::inputNames() const
{
    if (input)
        return input->names();
    SoundInput lookup; // only for the list: no device is opened
    return lookup.names();
}

std::string FrameInputs::inputProblem() const
{
    return input ? input->problem() : std::string();
}

std::string FrameInputs::inputDevice() const
{
    return input ? input->device() : std::string();
}

void FrameInputs::takeControls(Controllers &controllers, std::vector<ControlBinding> &moved)
{
    messages.clear();
    moved.clear();
    controllers.take(messages);
    ControlBinding binding;
    for (const ControlMessage &message : messages)
        if (values.apply(message, binding))
            moved.push_back(binding);
}
