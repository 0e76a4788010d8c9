// ControlValues: what the controllers say as of this frame, for midiCC,
// midiNote and oscValue and for the tracks bound to a control: the last
// value of each MIDI control change and note per channel, and the last
// message at each OSC path. Updated from the frame's messages in arrival
// order. Pure logic: no Lua, no devices.
//
// A control change is 0..1 (value / 127). Controllers 0..31 pair with
// 32..63 as the most and least significant 7 bits of a 14-bit value, where
// the controller sends them so: a control change 32..63 that comes straight
// after the one 32 below it on the same channel is that one's low half, and
// the pair reads (high * 128 + low) / 16383 (a new high half alone reads
// high * 128 / 16383). Otherwise 32..63 are controls of their own (buttons
// on many controllers).
#pragma once

#include "ControlMessage.h"
#include "SyncTracks.h"

#include <string>
#include <string_view>
#include <unordered_map>

class ControlValues
{
public:
    // Paths kept; messages at further new paths are not kept (counted).
    static constexpr std::size_t kMaxPaths = 4096;

    // Takes in a message; true when it moved a control, which `moved` then
    // names (a control change, the pair for a low half; an OSC message whose
    // first argument is a number).
    bool apply(const ControlMessage &message, ControlBinding &moved);
    // Channel 1..16, controller or note 0..127; 0 outside those.
    double cc(int channel, int controller) const;
    double note(int channel, int note) const;
    // The last message at `path`, or null.
    const ControlMessage *osc(std::string_view path) const;
    std::size_t pathsRefused() const { return refused; }

    // The bound control's value: the control change's, or the first
    // argument at the OSC path (0 before any).
    double value(const ControlBinding &binding) const;

private:
    double controls[16][128] = {};
    unsigned char high[16][32] = {};
    bool paired[16][32] = {};
    int lastControl[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    double notes[16][128] = {};
    std::unordered_map<std::string, ControlMessage> paths;
    std::size_t refused = 0;
};
