// ControlMessage: one message from a controller, MIDI or OSC, as it travels
// from the device's thread to the frame: a fixed-size record, so the queue
// that carries it allocates nothing after it is made.
#pragma once

#include <cstddef>
#include <cstdint>

struct ControlMessage
{
    enum Kind : std::uint8_t { Midi, Osc };
    // The most arguments an OSC message keeps, and the bytes its path and
    // string arguments share (each with its terminating zero).
    static constexpr int kMaxArgs = 16;
    static constexpr std::size_t kTextBytes = 768;

    Kind kind = Midi;
    // MIDI: the status byte and its two data bytes (0 when absent).
    std::uint8_t status = 0, data1 = 0, data2 = 0;

    // OSC: the path is the text from offset 0; argument i is a number
    // (type 'n'), a string starting at text + stringAt[i] ('s'), or a value
    // that is neither, such as a blob ('-').
    std::uint8_t argCount = 0;
    char type[kMaxArgs] = {};
    std::uint16_t stringAt[kMaxArgs] = {};
    double number[kMaxArgs] = {};
    char text[kTextBytes] = {};

    const char *path() const { return text; }
    const char *string(int i) const { return text + stringAt[i]; }
};
