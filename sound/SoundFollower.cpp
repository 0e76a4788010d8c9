// SoundFollower: smoothing of the bins and onsets from the flux.
#include "SoundFollower.h"

#include <algorithm>
#include <cmath>

void SoundFollower::take(long long frame, const SpectrumWindow *window, double ms, float smoothing)
{
    if (frame != frameTaken) {
        if (frameTaken >= 0)
            before = now;
        frameTaken = frame;
    }
    const float s = std::isnan(smoothing) ? 0.0f : std::clamp(smoothing, 0.0f, kMaxSmoothing);
    now.smoothed.binHz = window ? window->binHz : before.smoothed.binHz;
    now.smoothed.level = now.level = window ? window->level : 0.0f;
    for (int k = 0; k < kSpectrumBins; ++k) {
        const float heard = window ? window->magnitudes[k] : 0.0f;
        now.smoothed.magnitudes[k] = s > 0.0f ? s * before.smoothed.magnitudes[k] + (1.0f - s) * heard : heard;
    }

    // The flux: how much the bands rose since the frame before, unsmoothed.
    if (window)
        GatherSpectrumBands(window->magnitudes, kSpectrumBins, window->binHz, kOnsetBands, now.bands);
    else
        std::fill(now.bands, now.bands + kOnsetBands, 0.0f);
    float flux = 0.0f;
    for (int i = 0; i < kOnsetBands; ++i)
        flux += std::max(0.0f, now.bands[i] - before.bands[i]);
    flux /= kOnsetBands;
    // A time that went back (a seek, a loop) is no reason to wait.
    const bool rested = ms < before.lastOnsetMs || ms - before.lastOnsetMs >= kOnsetGapMs;
    now.onset = flux > kOnsetFloor && rested;
    now.lastOnsetMs = now.onset ? ms : before.lastOnsetMs;
}

void SoundFollower::spectrum(int bands, float *values) const
{
    GatherSpectrumBands(now.smoothed.magnitudes, kSpectrumBins, now.smoothed.binHz, bands, values);
}
