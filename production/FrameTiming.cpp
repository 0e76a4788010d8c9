#include "FrameTiming.h"

#include <QtGlobal>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const kPartNames[] = {"update()", "clear", "grid", "render()", "floor", "pick read-back",
                                  "marker", "error band", "composition and swap"};
static_assert(sizeof(kPartNames) / sizeof(kPartNames[0]) == static_cast<int>(FramePart::Count),
              "one name per part");

double Milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> &values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

FrameTiming::FrameTiming()
{
    const char *value = std::getenv("VELKARO_FRAME_TIMING");
    if (value && *value) {
        const long n = std::strtol(value, nullptr, 10);
        framesPerSummary = n > 0 && n <= 100000 ? static_cast<int>(n) : 100;
        splitParts = qEnvironmentVariableIsEmpty("VELKARO_FRAME_TIMING_WHOLE");
    }
}

void FrameTiming::beginFrame(double periodMs)
{
    if (!isOn())
        return;
    const Clock::time_point now = Clock::now();
    if (started)
        beyondMs.push_back(Milliseconds(now - frameStart) - timerMs);
    timerMs = periodMs;
    started = true;
    inFrame = true;
    frameStart = partStart = now;
}

void FrameTiming::partDone(FramePart part)
{
    if (!inFrame || !splitParts)
        return;
    glFinish();
    const Clock::time_point now = Clock::now();
    partMs[static_cast<int>(part)] += Milliseconds(now - partStart);
    partStart = now;
}

void FrameTiming::endFrame()
{
    if (!inFrame)
        return;
    inFrame = false;
    const double work = Milliseconds(Clock::now() - frameStart);
    workMs += work;
    workMedian.push_back(work);
    if (++frames < framesPerSummary || beyondMs.empty())
        return;
    char line[640];
    int used = std::snprintf(line, sizeof line,
                             "frame timing over %d frames: beyond timer %.2f ms (median), work %.2f ms (median), "
                             "mean work %.2f ms",
                             frames, Median(beyondMs), Median(workMedian), workMs / frames);
    for (int i = 0; i < static_cast<int>(FramePart::Count) && used > 0 && used < int(sizeof line); ++i)
        used += std::snprintf(line + used, sizeof line - used, ", %s %.2f ms", kPartNames[i], partMs[i] / frames);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
    std::fill(std::begin(partMs), std::end(partMs), 0.0);
    workMs = 0.0;
    frames = 0;
    beyondMs.clear();
    workMedian.clear();
}
