// SoundFollower: one source's spectrum frame by frame, for productions
// that react to sound: the exponential smoothing of the bins and the
// onsets (a sharp rise of the spectral flux: the kick, the clap). The same
// for the music and for a live input. Pure logic on analysed windows: no
// device, no decoder.
#pragma once

#include "MusicAnalysis.h"

class SoundFollower
{
public:
    static constexpr float kMaxSmoothing = 0.99f;
    // The flux is measured on this many logarithmic bands, so the bass,
    // which holds few bins, counts as much as the treble.
    static constexpr int kOnsetBands = 64;
    // An onset needs a flux (the mean rise of the bands, 0..1) above this
    // (a steady sound's noise stays below half of it),
    static constexpr float kOnsetFloor = 0.08f;
    // and at least this long after the previous onset (in source time).
    static constexpr double kOnsetGapMs = 100.0;

    // Takes frame `frame`'s window (null: silence), heard at source time
    // `ms`. With `smoothing` s (clamped into 0..kMaxSmoothing) each bin's
    // magnitude is s * the previous frame's + (1 - s) * the new one. A
    // second take in the same frame (the time moved within it) replaces
    // the first: both are measured against the frame before.
    void take(long long frame, const SpectrumWindow *window, double ms, float smoothing);
    // The frame last taken (-1: none yet).
    long long frame() const { return frameTaken; }

    // The frame's RMS level (not smoothed), 0..1.
    float level() const { return now.level; }
    // The smoothed spectrum in `bands` (1..kMaxSpectrumBands) logarithmic
    // bands, 0..1 each, as GatherSpectrumBands gathers them.
    void spectrum(int bands, float *values) const;
    // True in the frame an onset was heard.
    bool onset() const { return now.onset; }

private:
    struct State
    {
        SpectrumWindow smoothed;
        float level = 0.0f;
        float bands[kOnsetBands] = {}; // unsmoothed, for the flux
        double lastOnsetMs = -1e300;
        bool onset = false;
    };
    State before; // the previous frame's
    State now;
    long long frameTaken = -1;
};
