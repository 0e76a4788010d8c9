// MidiInputs: the MIDI input ports opened through RtMidi (ALSA and JACK).
// Ports are chosen by a part of their name (every port when it is empty);
// rescan() opens matching ports that have appeared and closes those that
// have gone. Each open port's messages arrive on RtMidi's thread and go onto
// the queue: channel messages only (SysEx, clock and sensing are ignored).
#pragma once

#include "ControlQueue.h"

#include <memory>
#include <string>
#include <vector>

class RtMidiIn;

class MidiInputs
{
public:
    explicit MidiInputs(ControlQueue &queue);
    ~MidiInputs();
    MidiInputs(const MidiInputs &) = delete;
    MidiInputs &operator=(const MidiInputs &) = delete;

    // The names of the input ports there are now, of every API.
    std::vector<std::string> list();
    // Wants the ports whose name contains `part` ("" for all) and opens
    // those there are (their lines kept for takeNotes); the others open
    // when they appear (rescan). Returns "" or, when no port matches now, a
    // message listing the ports.
    std::string want(const std::string &part);
    bool wanted() const { return wanting; }
    // Opens the wanted ports that have appeared and closes the open ones
    // that are gone; each change adds a line to `notes`.
    void rescan(std::vector<std::string> &notes);
    // Moves the lines of the ports that want() opened to `notes`.
    void takeNotes(std::vector<std::string> &notes);
    // The names of the open ports.
    std::vector<std::string> open() const;

private:
    struct Port;
    struct Lister;
    // The port names of every API, with the API each comes from.
    std::vector<std::pair<int, std::string>> ports();

    ControlQueue &queue;
    bool wanting = false;
    std::string part;
    bool listersMade = false;
    std::vector<std::unique_ptr<Lister>> listers; // one per API that runs here
    std::vector<std::unique_ptr<Port>> openPorts;
    std::vector<std::string> refused; // failed to open; not tried while they stay
    std::vector<std::string> held;    // want()'s lines, until taken
};
