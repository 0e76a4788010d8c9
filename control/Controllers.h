// Controllers: a run's MIDI inputs and OSC port and the one queue they
// share. Nothing is opened until asked for. The frame takes the messages
// that arrived since the last take, in arrival order; poll() looks for
// MIDI ports coming and going about once a second and gathers what the
// performer should read (ports opened and gone, messages dropped).
#pragma once

#include "ControlQueue.h"
#include "MidiInputs.h"
#include "OscInput.h"

#include <chrono>
#include <string>
#include <vector>

class Controllers
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRescanInterval{1000};

    explicit Controllers(std::size_t queueCapacity = ControlQueue::kDefaultCapacity);

    MidiInputs &midi() { return midiInputs; }
    OscInput &osc() { return oscInput; }
    ControlQueue &queue() { return messages; }

    // Appends the messages that arrived since the last take, oldest first.
    void take(std::vector<ControlMessage> &into);
    // Rescans the MIDI ports when kRescanInterval has passed, and adds to
    // `notes` a line for each port opened or gone and, once per new count,
    // the messages dropped since the last poll.
    void poll(Clock::time_point now, std::vector<std::string> &notes);

private:
    ControlQueue messages;
    MidiInputs midiInputs;
    OscInput oscInput;
    Clock::time_point lastRescan{};
    std::size_t droppedSeen = 0;
    long malformedSeen = 0;
    long tooLongSeen = 0;
};
