// Timeline: the frame's time from the music or the own clock, and the
// transport (play, pause, seek, beat steps, the loop).
#include "Timeline.h"

#include "FSound.h"
#include "Music.h"
#include "SyncTracks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Rows reached by a seek lie up to a millisecond off their exact time.
const double kRowSlack = 1e-3;

} // namespace

Timeline::Timeline()
    : beatsPerMinute(SyncTracks::kDefaultBpm)
    , rowsPerBeatOfGrid(SyncTracks::kDefaultRowsPerBeat)
    , fileBpm(SyncTracks::kDefaultBpm)
    , ownAnchor(std::chrono::steady_clock::now())
{
}

void Timeline::setTempo(double bpm, int rowsPerBeat)
{
    if (rowsPerBeat > 0)
        rowsPerBeatOfGrid = rowsPerBeat;
    if (!(bpm > 0.0 && std::isfinite(bpm)) || (tappedTempo && bpm == fileBpm))
        return;
    fileBpm = bpm;
    if (tappedTempo && bpm == beatsPerMinute) {
        tappedTempo = false; // kept in the file: the tapped beat stays
        return;
    }
    tappedTempo = false;
    beatOrigin = 0.0;
    beatsPerMinute = bpm;
}

double Timeline::timeNow() const
{
    return hasMusic() ? FSOUND_Stream_GetTime(gMusicStream) / 1000.0 : ownClockNow();
}

bool Timeline::tap(double seconds, double at)
{
    if (!std::isfinite(seconds) || !std::isfinite(at))
        return false;
    if (!tapTimes.empty() && (seconds - tapTimes.back() > kTapGap || seconds <= tapTimes.back()))
        tapTimes.clear();
    tapTimes.push_back(seconds);
    if (tapTimes.size() > static_cast<size_t>(kMaxTaps))
        tapTimes.erase(tapTimes.begin());
    if (taps() < kTapsForTempo)
        return false;
    const double interval = (tapTimes.back() - tapTimes.front()) / (taps() - 1);
    const double bpm = std::round(600.0 / interval) / 10.0;
    if (!SyncTracks::IsBpm(bpm))
        return false;
    const double beatAtTap = std::round((at - beatOrigin) * beatsPerMinute / 60.0);
    beatsPerMinute = bpm;
    beatOrigin = at - beatAtTap * 60.0 / bpm;
    tappedTempo = true;
    return true;
}

bool Timeline::hasMusic() const
{
    return gMusicStream != nullptr;
}

double Timeline::ownClockNow() const
{
    if (!ownRunning)
        return ownBase;
    if (virtualClock)
        return ownBase + (virtualNow - virtualAnchor);
    return ownBase + std::chrono::duration<double>(std::chrono::steady_clock::now() - ownAnchor).count();
}

void Timeline::beginFrame()
{
    if (!started) {
        // The own clock counts from the first frame, not from start-up.
        started = true;
        ownAnchor = std::chrono::steady_clock::now();
        virtualAnchor = virtualNow;
    }
    frameTime = timeNow();

    const bool nowPlaying = playing();
    if (looping()) {
        const double end = secondsOfRow(loopOutRow);
        // Music that ran out inside the loop (its end before the loop's)
        // stopped by itself: that too goes round.
        const bool ranOut = hasMusic() && wasPlaying && !nowPlaying &&
                            FSOUND_Stream_GetTime(gMusicStream) >= FSOUND_Stream_GetLengthMs(gMusicStream);
        if ((nowPlaying || ranOut) && frameTime >= end - 1e-9) {
            seekRow(loopInRow);
            if (ranOut)
                play();
        }
    }
    wasPlaying = playing();
    if (wasPlaying)
        held = false;
}

void Timeline::followMusic()
{
    if (hasMusic())
        frameTime = FSOUND_Stream_GetTime(gMusicStream) / 1000.0;
}

int Timeline::wholeRow() const
{
    return static_cast<int>(std::floor(row() + kRowSlack));
}

bool Timeline::heldByTransport() const
{
    return held && hasMusic() && !MusicIsPlaying();
}

bool Timeline::playing() const
{
    return hasMusic() ? MusicIsPlaying() : ownRunning;
}

void Timeline::togglePlay()
{
    if (playing())
        pause();
    else
        play();
}

void Timeline::pause()
{
    if (hasMusic()) {
        if (!MusicIsPlaying())
            return;
        // Stopping rewinds to 0; the position set while stopped is where
        // the next play starts.
        const int ms = FSOUND_Stream_GetTime(gMusicStream);
        FSOUND_Stream_Stop(gMusicStream);
        FSOUND_Stream_SetTime(gMusicStream, ms);
        frameTime = ms / 1000.0;
        held = true;
        return;
    }
    frameTime = ownClockNow();
    ownBase = frameTime;
    ownRunning = false;
}

void Timeline::play()
{
    if (hasMusic()) {
        if (!MusicIsPlaying())
            gMusicChannel = FSOUND_Stream_Play(FSOUND_FREE, gMusicStream);
        wasPlaying = MusicIsPlaying();
        held = false;
        return;
    }
    if (ownRunning)
        return;
    ownRunning = true;
    ownAnchor = std::chrono::steady_clock::now();
    virtualAnchor = virtualNow;
}

void Timeline::seek(double seconds)
{
    if (!(seconds > 0.0))
        seconds = 0.0;
    if (hasMusic()) {
        // Whole milliseconds, rounded up so a row's time reads as that row.
        const int length = FSOUND_Stream_GetLengthMs(gMusicStream);
        const int ms = static_cast<int>(std::min(std::ceil(seconds * 1000.0 - 1e-6), double(length)));
        FSOUND_Stream_SetTime(gMusicStream, ms);
        frameTime = ms / 1000.0;
        return;
    }
    ownBase = seconds;
    ownAnchor = std::chrono::steady_clock::now();
    virtualAnchor = virtualNow;
    frameTime = seconds;
}

void Timeline::stepBeats(int beats)
{
    const double now = beat();
    double target;
    if (beats > 0)
        target = std::floor(now + kRowSlack / rowsPerBeatOfGrid) + beats;
    else
        target = std::ceil(now - kRowSlack / rowsPerBeatOfGrid) + beats;
    seek(beatOrigin + target * 60.0 / beatsPerMinute);
}

void Timeline::useVirtualClock(double seconds)
{
    virtualClock = true;
    virtualNow = virtualAnchor = 0.0;
    ownBase = frameTime = std::max(seconds, 0.0);
}

void Timeline::advanceVirtualClock(double seconds)
{
    virtualNow += seconds;
}

std::string Timeline::status() const
{
    const double seconds = std::max(frameTime, 0.0);
    const int minutes = static_cast<int>(seconds / 60.0);
    const int wholeBeat = static_cast<int>(std::floor(beat() + kRowSlack / rowsPerBeatOfGrid));
    char loop[64] = "";
    if (loopInRow >= 0 || loopOutRow >= 0) {
        char in[16] = "?", out[16] = "?";
        if (loopInRow >= 0)
            std::snprintf(in, sizeof(in), "%d", loopInRow);
        if (loopOutRow >= 0)
            std::snprintf(out, sizeof(out), "%d", loopOutRow);
        std::snprintf(loop, sizeof(loop), "  loop %s-%s%s", in, out,
                      loopInRow >= 0 && loopOutRow >= 0 && !looping() ? " (off: end not after start)" : "");
    }
    char tempo[48] = "";
    if (tappedTempo)
        std::snprintf(tempo, sizeof(tempo), "  %.1f bpm tapped", beatsPerMinute);
    else if (!tapTimes.empty() && taps() < kTapsForTempo)
        std::snprintf(tempo, sizeof(tempo), "  tap %d", taps());
    char text[208];
    std::snprintf(text, sizeof(text), "%d:%06.3f  bar %d.%d  row %d  %s%s%s", minutes, seconds - minutes * 60.0,
                  wholeBeat / kBeatsPerBar + 1, wholeBeat % kBeatsPerBar + 1, wholeRow(),
                  playing() ? "playing" : "paused", loop, tempo);
    return text;
}
