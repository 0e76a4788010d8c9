// FrameInputs: what one frame of a run sees of the world outside the
// script, taken once as the tick starts and read by everything of ours in
// that frame: getTime, getBeat, getRow and sync, the sound's level,
// spectrum and onsets, the shaders' automatic uniforms, the export.
//
// The time is the timeline's frame time (the music's position, or the
// production's own clock without music). The music's level and spectrum
// are those of the music at that time whenever the music is heard there:
// while it plays, and while the transport holds it paused, so a paused or
// scrubbed frame shows what the export writes at that time. Music stopped
// by the script, or ended, is silence.
//
// The sound the frame follows (level(), spectrum(), onset(), and so the
// shaders' `level` and `spectrum`) is the music, or a live input once one
// is chosen: its newest samples, taken once per frame. Both are smoothed
// alike (setSmoothing). A source is analysed when first asked for in a
// frame, and from then on at every tick, so the smoothing and the onsets
// run frame by frame whether or not a frame asks.
// The controllers' messages that arrived since the last tick are taken too
// (in arrival order), with the values they leave (ControlValues).
#pragma once

#include "ControlValues.h"
#include "SoundFollower.h"

#include <memory>
#include <string>
#include <vector>

class Controllers;
class SoundInput;
class Timeline;

class FrameInputs
{
public:
    explicit FrameInputs(const Timeline &clock);
    ~FrameInputs();

    // Takes the frame's inputs: the time (already taken by the timeline),
    // the mouse cursor in view pixels, y up, and the sound of the sources
    // in use; looks after the live input's device.
    void take(float mouseX, float mouseY);
    // A new frame: every cached analysis is stale.
    long long frame() const { return frameNumber; }

    double time() const;
    double beat() const;
    double row() const;
    const float *mouse() const { return cursor; }

    // --- The sound the frame follows: the live input if one is chosen,
    // else the music.
    // RMS level, 0..1; 0 while silent.
    float level() const;
    // `bands` (1..256) logarithmic bands, 0..1 each; zeros while silent.
    void spectrum(int bands, float *values) const;
    // True in the frame an onset was heard.
    bool onset() const;

    // --- The music's own, whatever the frame follows.
    float musicLevel() const;
    void musicSpectrum(int bands, float *values) const;
    // The music position analysed, in ms; -1 while the music is silent.
    int musicMs() const;

    // Smoothing of the spectrum, 0 (none) .. 0.99, per frame, for the
    // music and the input alike.
    void setSmoothing(float smoothing);
    float smoothing() const { return smoothingFactor; }

    // --- The live input.
    // Follows the capture device whose name contains `name` (any case).
    // True when it captures now; otherwise inputProblem() says why, the
    // frame hears silence and the device is looked for again each second.
    bool useInput(const std::string &name);
    // The music again; the device is closed.
    void useMusic();
    bool followsInput() const { return input != nullptr; }
    // The capture devices' names.
    std::vector<std::string> inputNames() const;
    // Why the chosen input is silent; "" when it captures or none is chosen.
    std::string inputProblem() const;
    // The device captured from ("" when none).
    std::string inputDevice() const;

    // Takes the controllers' messages that arrived since the last take into
    // this frame's list and the values; `moved` receives the controls they
    // moved, in order.
    void takeControls(Controllers &controllers, std::vector<ControlBinding> &moved);
    const std::vector<ControlMessage> &controlMessages() const { return messages; }
    const ControlValues &controls() const { return values; }

private:
    // The source's follower, brought up to this frame.
    const SoundFollower &musicFollowed() const;
    const SoundFollower &inputFollowed() const;
    const SoundFollower &followed() const;

    const Timeline &clock;
    long long frameNumber = 0;
    float cursor[2] = {0.0f, 0.0f};
    float smoothingFactor = 0.0f;
    std::unique_ptr<SoundInput> input;
    // Analysed lazily by the const readers; `musicAt` is the music time of
    // the music's last take (the script may move the music within a frame).
    mutable SoundFollower music;
    mutable SoundFollower live;
    mutable int musicAt = -2;
    mutable bool musicUsed = false;
    mutable bool liveUsed = false;
    std::vector<ControlMessage> messages;
    ControlValues values;
};
