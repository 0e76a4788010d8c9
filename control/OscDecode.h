// OscDecode: an OSC datagram (a message, or a bundle of them, nested)
// turned into ControlMessages. liblo checks and reads each message; this
// splits bundles and keeps what a script can use: numbers (int32, int64,
// float, double, true 1, false 0) and strings (string, symbol, char).
// Anything else (a blob, nil, a time tag, a MIDI word) is kept as "none".
#pragma once

#include "ControlMessage.h"

#include <cstddef>

// The largest datagram read; anything longer is dropped whole.
constexpr std::size_t kMaxOscDatagram = 65536;

struct OscDecodeResult
{
    int messages = 0;   // messages handed on
    int malformed = 0;  // messages or bundles that are not OSC (dropped)
    int tooLong = 0;    // datagrams over kMaxOscDatagram, messages whose path and strings pass kTextBytes (dropped)
};

// Reads `size` bytes at `data` (changed in place: liblo turns byte orders
// around) and calls `emit(message, context)` for each message, in order.
// Bundles nest at most 8 deep; deeper ones count as malformed.
OscDecodeResult DecodeOscPacket(char *data, std::size_t size, void (*emit)(const ControlMessage &, void *),
                                void *context);
