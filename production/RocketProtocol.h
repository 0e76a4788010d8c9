// RocketProtocol: the byte stream between a running production and a
// Rocket-protocol sync editor, as pure logic (bytes in, bytes and changes
// out; no sockets). The production is the client: it greets, asks for each
// of its tracks by name (their indices count from 0 in the order asked, on
// each connection anew), and takes the editor's keys, row, pause and save
// commands. Every integer is big-endian; a value is the bit pattern of an
// IEEE-754 float.
#pragma once

#include "SyncTracks.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// What the editor asked for beyond key changes, in one batch of bytes.
struct RocketRequests
{
    int seekRow = -1;   // the last SET_ROW's row, -1 when none came
    int pause = -1;     // the last PAUSE: 1 pause, 0 play, -1 none came
    bool save = false;  // SAVE_TRACKS came
};

class RocketSession
{
public:
    static constexpr std::string_view kClientGreeting = "hello, synctracker!";
    static constexpr std::string_view kEditorGreeting = "hello, demo!";
    // The longest track name asked for; a longer one is never requested.
    static constexpr std::size_t kMaxNameBytes = 1u << 20;

    // A new connection: forgets the tracks asked for on the last one and
    // returns the greeting to send.
    std::string connected();
    // The requests to send for the tracks of `tracks` not yet asked for on
    // this connection (empty before the editor's greeting came). Each
    // track asked for loses its keys: the editor answers with all it has.
    std::string requestTracks(SyncTracks &tracks);
    // SET_ROW for `row`, to send while playing when the row changes.
    static std::string SetRow(int row);

    // Takes in bytes from the editor. Whole commands are applied to
    // `tracks` and noted in `requests`; a command cut short waits for the
    // next bytes. False when the stream is broken (no greeting, an unknown
    // command, a track never asked for, a row beyond 2^31 - 1, a value
    // that is no number, an interpolation beyond 3): then nothing of these
    // bytes is applied, error() says what, and the connection must end.
    bool received(std::string_view bytes, SyncTracks &tracks, RocketRequests &requests);
    const std::string &error() const { return problem; }

    // Tracks asked for on this connection, in order (their indices).
    const std::vector<std::string> &requested() const { return names; }
    bool greeted() const { return greetingSeen; }

private:
    struct Command
    {
        std::uint8_t kind = 0;
        std::uint32_t track = 0, row = 0;
        float value = 0.0f;
        std::uint8_t interpolation = 0, paused = 0;
    };
    // Takes one whole command off the front of `stream` into `command`;
    // false when it is cut short (nothing taken) or broken (problem set).
    bool take(std::string_view &stream, Command &command);

    std::string pending;             // bytes of a command cut short (at most one command's)
    std::vector<std::string> names;  // tracks asked for, by index
    std::unordered_set<std::string> asked; // the same names, to look up
    bool greetingSeen = false;
    std::string problem;
};
