// FrameTiming: the split of the window's frame cost, for the frame
// benchmark. On only when the environment variable VELKARO_FRAME_TIMING is
// set (its value: frames per summary, 100 when not a number); then every
// part of a frame ends with glFinish, so the GL work of a part is counted in
// that part, and every so many frames one line goes to standard error:
//   frame timing over 100 frames: beyond timer 1.23 ms (median), work
//   1.10 ms (median), mean work 1.15 ms, update() 0.01 ms, clear 0.05 ms,
//   ... composition and swap 0.40 ms
// "beyond timer" is the time from one frame's start to the next's, less the
// timer's period; "work" the view's frame (UpdateFrame); the parts are
// means per frame, adding up to the mean work. With
// VELKARO_FRAME_TIMING_WHOLE also set, the parts are neither finished nor
// counted (they read 0), so the frame runs as it does untimed and "beyond
// timer" and "work" are its true cost. Off, it costs nothing.
#pragma once

#include "FrameProbe.h"

#include <chrono>
#include <vector>

class FrameTiming : public FrameProbe
{
public:
    // Reads VELKARO_FRAME_TIMING.
    FrameTiming();

    bool isOn() const { return framesPerSummary > 0; }
    // A frame starts: the view's timer, of `timerMs`, fired.
    void beginFrame(double timerMs);
    // A part ended: finished on the GL side, then its time counted.
    void partDone(FramePart part) override;
    // The frame ended; every framesPerSummary frames, the summary line.
    void endFrame();

private:
    using Clock = std::chrono::steady_clock;
    int framesPerSummary = 0;
    bool splitParts = true;
    double timerMs = 0.0;
    bool inFrame = false;
    bool started = false;
    Clock::time_point frameStart, partStart;
    double partMs[static_cast<int>(FramePart::Count)] = {};
    double workMs = 0.0;
    int frames = 0;
    std::vector<double> beyondMs;   // per frame of this summary
    std::vector<double> workMedian; // per frame of this summary
};
