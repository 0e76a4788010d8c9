// FrameInputs: what one frame of a run sees of the world outside the
// script, taken once as the tick starts and read by everything of ours in
// that frame: getTime, getBeat, getRow and sync, the music's level and
// spectrum, the shaders' automatic uniforms, the export.
//
// The time is the timeline's frame time (the music's position, or the
// production's own clock without music). The level and the spectrum are
// those of the music at that time whenever the music is heard there:
// while it plays, and while the transport holds it paused, so a paused or
// scrubbed frame shows what the export writes at that time. Music stopped
// by the script, or ended, is silence.
//
// The controllers' messages that arrived since the last tick are taken too
// (in arrival order), with the values they leave (ControlValues).
#pragma once

#include "ControlValues.h"

#include <vector>

class Controllers;
class Timeline;

class FrameInputs
{
public:
    explicit FrameInputs(const Timeline &clock) : clock(clock) {}

    // Takes the frame's inputs: the time (already taken by the timeline)
    // and the mouse cursor in view pixels, y up.
    void take(float mouseX, float mouseY);
    // A new frame: every cached analysis is stale.
    long long frame() const { return frameNumber; }

    double time() const;
    double beat() const;
    double row() const;
    // The music's RMS level, 0..1; 0 without music or while it is silent.
    float level() const;
    // `bands` (1..256) logarithmic bands, 0..1 each; zeros while silent.
    void spectrum(int bands, float *values) const;
    // The music position analysed, in ms; -1 while the music is silent.
    int musicMs() const;
    const float *mouse() const { return cursor; }

    // Takes the controllers' messages that arrived since the last take into
    // this frame's list and the values; `moved` receives the controls they
    // moved, in order.
    void takeControls(Controllers &controllers, std::vector<ControlBinding> &moved);
    const std::vector<ControlMessage> &controlMessages() const { return messages; }
    const ControlValues &controls() const { return values; }

private:
    const Timeline &clock;
    long long frameNumber = 0;
    float cursor[2] = {0.0f, 0.0f};
    std::vector<ControlMessage> messages;
    ControlValues values;
};
