// MidiInputs: RtMidi's inputs, one per open port, and one per API to list.
#include "MidiInputs.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>

namespace {

const char kClientName[] = "Velkaro";

// RtMidi reports problems through this instead of printing them; the last
// text is kept for the message of the step that failed.
void KeepError(RtMidiError::Type, const std::string &text, void *where)
{
    *static_cast<std::string *>(where) = text;
}

// libjack writes each failed connection to stderr, and the rescan tries
// once a second while no JACK server runs; what matters is said by ours.
void Quiet(const char *) {}

void Received(double, std::vector<unsigned char> *bytes, void *queue)
{
    // Channel messages only: note on and off, aftertouch, control change,
    // program change, pitch bend (status 0x80 to 0xEF).
    if (bytes->empty() || (*bytes)[0] < 0x80 || (*bytes)[0] >= 0xF0 || bytes->size() > 3)
        return;
    ControlMessage message;
    message.kind = ControlMessage::Midi;
    message.status = (*bytes)[0];
    message.data1 = bytes->size() > 1 ? (*bytes)[1] : 0;
    message.data2 = bytes->size() > 2 ? (*bytes)[2] : 0;
    static_cast<ControlQueue *>(queue)->push(message);
}

} // namespace

struct MidiInputs::Lister
{
    RtMidi::Api api;
    std::string error;
    std::unique_ptr<RtMidiIn> in;
};

struct MidiInputs::Port
{
    std::string name;
    std::string error;
    std::unique_ptr<RtMidiIn> in;
};

MidiInputs::MidiInputs(ControlQueue &queue) : queue(queue) {}

MidiInputs::~MidiInputs() = default;

std::vector<std::pair<int, std::string>> MidiInputs::ports()
{
    if (!listersMade) {
        listersMade = true;
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        for (RtMidi::Api api : apis) {
            auto lister = std::make_unique<Lister>();
            lister->api = api;
            try {
                lister->in = std::make_unique<RtMidiIn>(api, kClientName);
                lister->in->setErrorCallback(KeepError, &lister->error);
            } catch (const RtMidiError &) {
                continue; // this API cannot run here (no ALSA sequencer, say)
            }
            listers.push_back(std::move(lister));
        }
    }
    std::vector<std::pair<int, std::string>> names;
    for (const std::unique_ptr<Lister> &lister : listers) {
        const unsigned count = lister->in->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            const std::string name = lister->in->getPortName(i);
            if (!name.empty())
                names.emplace_back(static_cast<int>(lister->api), name);
        }
    }
    return names;
}

std::vector<std::string> MidiInputs::list()
{
    std::vector<std::string> names;
    for (const auto &port : ports())
        names.push_back(port.second);
    return names;
}

std::string MidiInputs::want(const std::string &namePart)
{
    wanting = true;
    part = namePart;
    rescan(held);
    const std::vector<std::pair<int, std::string>> now = ports();
    const bool any = std::any_of(now.begin(), now.end(), [&](const auto &port) {
        return port.second.find(part) != std::string::npos;
    });
    if (any)
        return std::string();
    std::string names;
    for (const auto &port : now)
        names += (names.empty() ? "" : ", ") + port.second;
    return (part.empty() ? std::string("no MIDI input yet") : "no MIDI input matches \"" + part + "\"") +
           " (inputs: " + (names.empty() ? "none" : names) + "); it opens when it appears";
}

void MidiInputs::rescan(std::vector<std::string> &notes)
{
    if (!wanting)
        return;
    const std::vector<std::pair<int, std::string>> now = ports();
    // Gone: closed, with one line each.
    for (auto port = openPorts.begin(); port != openPorts.end();) {
        const bool there = std::any_of(now.begin(), now.end(), [&](const auto &p) { return p.second == (*port)->name; });
        if (there) {
            ++port;
            continue;
        }
        notes.push_back("MIDI input \"" + (*port)->name + "\" has gone: closed");
        port = openPorts.erase(port);
    }
    // A port that would not open is tried again once it has gone and come back.
    refused.erase(std::remove_if(refused.begin(), refused.end(),
                                 [&](const std::string &name) {
                                     return std::none_of(now.begin(), now.end(),
                                                         [&](const auto &p) { return p.second == name; });
                                 }),
                  refused.end());
    for (const auto &[api, name] : now) {
        if (name.find(part) == std::string::npos ||
            std::any_of(openPorts.begin(), openPorts.end(), [&](const auto &p) { return p->name == name; }) ||
            std::find(refused.begin(), refused.end(), name) != refused.end())
            continue;
        auto port = std::make_unique<Port>();
        port->name = name;
        try {
            port->in = std::make_unique<RtMidiIn>(static_cast<RtMidi::Api>(api), kClientName);
            port->in->setErrorCallback(KeepError, &port->error);
            // The index can change between the listing and the opening:
            // open the port of that name.
            const unsigned count = port->in->getPortCount();
            unsigned index = count;
            for (unsigned i = 0; i < count && index == count; ++i)
                if (port->in->getPortName(i) == name)
                    index = i;
            if (index < count) {
                port->in->ignoreTypes(true, true, true);
                port->in->setCallback(Received, &queue);
                port->in->openPort(index, "in");
            }
        } catch (const RtMidiError &error) {
            port->error = error.getMessage();
        }
        if (!port->in || !port->in->isPortOpen()) {
            notes.push_back("cannot open MIDI input \"" + name + "\"" +
                            (port->error.empty() ? std::string() : ": " + port->error));
            refused.push_back(name);
            continue;
        }
        notes.push_back("MIDI input \"" + name + "\" opened");
        openPorts.push_back(std::move(port));
    }
}

void MidiInputs::takeNotes(std::vector<std::string> &notes)
{
    notes.insert(notes.end(), held.begin(), held.end());
    held.clear();
}

std::vector<std::string> MidiInputs::open() const
{
    std::vector<std::string> names;
    for (const std::unique_ptr<Port> &port : openPorts)
        names.push_back(port->name);
    return names;
}
