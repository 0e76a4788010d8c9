// Controllers: the shared queue, the rescans and the drop counts.
#include "Controllers.h"

#include "OscDecode.h"

Controllers::Controllers(std::size_t queueCapacity)
    : messages(queueCapacity)
    , midiInputs(messages)
    , oscInput(messages)
{
}

void Controllers::take(std::vector<ControlMessage> &into)
{
    ControlMessage message;
    while (messages.take(message))
        into.push_back(message);
}

void Controllers::poll(Clock::time_point now, std::vector<std::string> &notes)
{
    midiInputs.takeNotes(notes);
    if (midiInputs.wanted() && now - lastRescan >= kRescanInterval) {
        lastRescan = now;
        midiInputs.rescan(notes);
    }
    const std::size_t dropped = messages.dropped();
    if (dropped != droppedSeen) {
        notes.push_back(std::to_string(dropped - droppedSeen) + " controller messages dropped: more came in than " +
                        std::to_string(messages.capacity()) + " between two frames");
        droppedSeen = dropped;
    }
    const long malformed = oscInput.malformed();
    if (malformed != malformedSeen) {
        notes.push_back(std::to_string(malformed - malformedSeen) + " OSC datagrams dropped: not OSC");
        malformedSeen = malformed;
    }
    const long tooLong = oscInput.tooLong();
    if (tooLong != tooLongSeen) {
        notes.push_back(std::to_string(tooLong - tooLongSeen) + " OSC messages dropped: longer than " +
                        std::to_string(kMaxOscDatagram) + " bytes, or strings longer than " +
                        std::to_string(ControlMessage::kTextBytes - 1) + " bytes together");
        tooLongSeen = tooLong;
    }
}
