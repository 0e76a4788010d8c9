// Timeline: the production's time and its transport. With a music stream
// the time is the music's position and the transport plays, pauses and
// seeks the music; without one it is a clock of its own that starts at 0
// with the first frame and runs in real time (or, in the export, on a
// virtual clock moved on by exactly one frame per frame).
//
// The time is taken once as each frame starts, so update(), render() and
// every sync() of one frame see the same moment; a transport key or a seek
// from here takes effect at once.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class Timeline
{
public:
    Timeline();

    // --- Tempo (from the sync file, or tapped).
    // The sync file's tempo. A tapped tempo stays while the file's bpm
    // stays what it was; a file that now says the tapped bpm (it was
    // saved) keeps the tapped beat; any other bpm of the file takes over,
    // with beat 0 at time 0 again.
    void setTempo(double beatsPerMinute, int rowsPerBeatOfGrid);
    double bpm() const { return beatsPerMinute; }
    int rowsPerBeat() const { return rowsPerBeatOfGrid; }
    static const int kBeatsPerBar = 4;

    // --- The frame's time.

    // Takes the frame's time: starts the own clock on the first call, and
    // wraps a playing loop that has passed its end.
    void beginFrame();
    // After the script moved the music itself (seek, stop, play): the
    // frame's time is the music's position again.
    void followMusic();
    // Seconds; beats = (seconds - beatOrigin) * bpm / 60 (the origin is 0
    // until a tap moves the beat); rows = beats * rowsPerBeat.
    double time() const { return frameTime; }
    double beat() const { return (frameTime - beatOrigin) * beatsPerMinute / 60.0; }
    double row() const { return beat() * rowsPerBeatOfGrid; }
    // The whole row the time is on (a row reached by a seek counts as that
    // row, though the music keeps whole milliseconds).
    int wholeRow() const;
    double secondsOfRow(double row) const { return beatOrigin + row * 60.0 / (beatsPerMinute * rowsPerBeatOfGrid); }
    // The time now, between frames too: the music's position or the own clock.
    double timeNow() const;

    // --- Tap tempo.
    static constexpr int kTapsForTempo = 4;
    static constexpr double kTapGap = 2.0; // seconds between taps that start over
    static constexpr int kMaxTaps = 32;    // the newest taps the mean is taken over
    // A tap at `seconds` on a steady clock of the caller's (a key's own
    // time), heard at timeline time `at`. Taps more than kTapGap apart (or
    // out of order) start over. From the kTapsForTempo-th tap on, the bpm
    // is 60 / the taps' mean interval, rounded to 0.1, and the beat moves
    // so that a whole beat (the one nearest to where it was) falls on the
    // last tap. True when this tap set the tempo.
    bool tap(double seconds, double at);
    // Taps in the current run of taps (0 after kTapGap without one is not
    // noticed until the next tap).
    int taps() const { return static_cast<int>(tapTimes.size()); }
    // The bpm in force was tapped (and not yet kept in the sync file).
    bool tapped() const { return tappedTempo; }

    // --- Transport.

    bool playing() const;
    // True while music paused by the transport waits where it was (as
    // opposed to music the script stopped, or that ran to its end): the
    // frame then still hears the music at its time.
    bool heldByTransport() const;
    // Pauses where it is, or plays on from there.
    void togglePlay();
    void pause();
    void play();
    // Moves the time (clamped at 0; the music clamps into its length).
    void seek(double seconds);
    void seekRow(double row) { seek(secondsOfRow(row)); }
    // To the next (positive) or previous (negative) beat of the grid, `beats`
    // times: from between two beats, one step lands on the nearer one in
    // that direction.
    void stepBeats(int beats);

    // The loop: rows marked as its start and end at the current row. While
    // both are marked and the end is after the start, playing past the end
    // jumps to the start.
    void markLoopIn() { loopInRow = wholeRow(); }
    void markLoopOut() { loopOutRow = wholeRow(); }
    void clearLoop() { loopInRow = loopOutRow = -1; }
    int loopIn() const { return loopInRow; }   // -1: not marked
    int loopOut() const { return loopOutRow; } // -1: not marked
    bool looping() const { return loopInRow >= 0 && loopOutRow > loopInRow; }

    // One line: time, bar.beat, row, playing or paused, the loop; while
    // tapping the taps so far, and a tapped bpm.
    std::string status() const;

    // --- The export's clock (used without music): starts at `seconds` and
    // moves only by advanceVirtualClock.
    void useVirtualClock(double seconds);
    void advanceVirtualClock(double seconds);

private:
    bool hasMusic() const;
    // Seconds of the own clock now.
    double ownClockNow() const;

    double beatsPerMinute;
    int rowsPerBeatOfGrid;
    double fileBpm;            // the sync file's bpm as last set
    double beatOrigin = 0.0;   // the time of beat 0
    bool tappedTempo = false;
    std::vector<double> tapTimes; // the current run of taps, on the caller's clock
    double frameTime = 0.0;
    bool started = false;       // the first frame has begun
    bool wasPlaying = false;    // at the last beginFrame
    bool held = false;          // the transport paused the music
    int loopInRow = -1;
    int loopOutRow = -1;

    // The own clock: `ownBase` seconds at `ownAnchor` (real time) or at the
    // virtual clock's `virtualNow`, running or paused.
    bool ownRunning = true;
    double ownBase = 0.0;
    std::chrono::steady_clock::time_point ownAnchor;
    bool virtualClock = false;
    double virtualNow = 0.0;
    double virtualAnchor = 0.0;
};
