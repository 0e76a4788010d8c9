// FrameInputs: the frame's time from the timeline, the music's analysis at
// that time, the mouse.
#include "FrameInputs.h"

#include "Controllers.h"

#include "FSound.h"
#include "Music.h"
#include "MusicAnalysis.h"
#include "Timeline.h"

#include <algorithm>
#include <cmath>

void FrameInputs::take(float mouseX, float mouseY)
{
    ++frameNumber;
    cursor[0] = mouseX;
    cursor[1] = mouseY;
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

float FrameInputs::level() const
{
    const int ms = musicMs();
    return ms < 0 ? 0.0f : StreamLevelAt(gMusicStream, ms);
}

void FrameInputs::spectrum(int bands, float *values) const
{
    bands = std::clamp(bands, 1, kMaxSpectrumBands);
    const int ms = musicMs();
    if (ms < 0)
        std::fill(values, values + bands, 0.0f);
    else
        StreamSpectrumAt(gMusicStream, ms, bands, values);
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
