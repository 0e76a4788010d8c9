// SyncControl: sync tracks driven by controllers. Learning binds the next
// control moved (a MIDI control change, or an OSC path with a number) to a
// track. A bound track follows its control live once the control has moved
// since the transport last started, and while the transport is not
// recording; with record on and the transport playing, the control's
// movements become linear keys of the track at the current row (one per
// row, the latest value; none where the track already plays the control's
// value, so a steady control writes nothing), one undo step per pass. Pure logic over the sync file: no devices, no Lua.
#pragma once

#include "ControlValues.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

class SyncFile;
class Timeline;

class SyncControl
{
public:
    // Learns onto `track` ("" stops learning).
    void learn(const std::string &track) { learnTrack = track; }
    const std::string &learning() const { return learnTrack; }
    void setRecording(bool on) { record = on; }
    bool recording() const { return record; }

    // The frame, after the frame's inputs took its messages: `moved` are
    // the controls its messages moved, in arrival order. Binds, records or
    // marks tracks live; each binding made adds a line to `notes`.
    void frame(const std::vector<ControlBinding> &moved, const ControlValues &values, const Timeline &clock,
               SyncFile &file, std::vector<std::string> &notes);
    // The value `track` follows live now, when it does.
    bool liveValue(std::string_view track, const ControlValues &values, const SyncTracks &tracks,
                   double &value) const;

private:
    std::string learnTrack;
    bool record = false;
    bool wasPlaying = false;
    std::set<std::string, std::less<>> live; // tracks whose control moved since the transport started
};
