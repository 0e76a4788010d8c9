// OscDecode: bundles split here, messages read by liblo.
#include "OscDecode.h"

#include <lo/lo.h>

#include <cstring>

namespace {

const int kMaxBundleDepth = 8;

std::uint32_t BigEndian32(const char *bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

// A value of type T at `bytes`, however they are aligned.
template <class T> T Read(const char *bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

// Copies `length` bytes of text and a zero into the message's text at
// `used`; false when it does not fit.
bool AddText(ControlMessage &message, std::size_t &used, const char *text, std::size_t length)
{
    if (length + 1 > ControlMessage::kTextBytes - used)
        return false;
    std::memcpy(message.text + used, text, length);
    message.text[used + length] = '\0';
    used += length + 1;
    return true;
}

// One message: its path (the first OSC string) read here, its arguments by liblo.
void DecodeMessage(char *data, std::size_t size, void (*emit)(const ControlMessage &, void *), void *context,
                   OscDecodeResult &result)
{
    const void *end = std::memchr(data, '\0', size);
    if (size == 0 || data[0] != '/' || !end) {
        ++result.malformed;
        return;
    }
    const std::size_t pathLength = static_cast<std::size_t>(static_cast<const char *>(end) - data);
    int status = 0;
    lo_message parsed = lo_message_deserialise(data, size, &status);
    if (!parsed) {
        ++result.malformed;
        return;
    }
    ControlMessage message;
    message.kind = ControlMessage::Osc;
    std::size_t used = 0;
    bool fits = AddText(message, used, data, pathLength);
    const char *types = lo_message_get_types(parsed);
    lo_arg **argv = lo_message_get_argv(parsed);
    const int argc = lo_message_get_argc(parsed);
    for (int i = 0; fits && i < argc && i < ControlMessage::kMaxArgs; ++i) {
        // liblo's arguments point into the packed message (4-byte aligned at
        // best), and at nothing for the types that carry no data: copied out.
        const char *raw = reinterpret_cast<const char *>(argv[i]);
        char type = 'n';
        double number = 0.0;
        switch (types[i]) {
        case LO_INT32: number = Read<std::int32_t>(raw); break;
        case LO_INT64: number = static_cast<double>(Read<std::int64_t>(raw)); break;
        case LO_FLOAT: number = Read<float>(raw); break;
        case LO_DOUBLE: number = Read<double>(raw); break;
        case LO_TRUE: number = 1.0; break;
        case LO_FALSE: number = 0.0; break;
        case LO_STRING:
        case LO_SYMBOL:
            type = 's';
            message.stringAt[i] = static_cast<std::uint16_t>(used);
            fits = AddText(message, used, raw, std::strlen(raw));
            break;
        case LO_CHAR: {
            type = 's';
            const char c = static_cast<char>(Read<std::int32_t>(raw));
            message.stringAt[i] = static_cast<std::uint16_t>(used);
            fits = AddText(message, used, &c, c ? 1 : 0);
            break;
        }
        default: type = '-'; break;
        }
        message.type[i] = type;
        message.number[i] = number;
        message.argCount = static_cast<std::uint8_t>(i + 1);
    }
    lo_message_free(parsed);
    if (!fits) {
        ++result.tooLong;
        return;
    }
    ++result.messages;
    emit(message, context);
}

void DecodeElement(char *data, std::size_t size, int depth, void (*emit)(const ControlMessage &, void *),
                   void *context, OscDecodeResult &result)
{
    static const char kBundle[] = "#bundle"; // with its zero: 8 bytes
    if (size < sizeof(kBundle) || std::memcmp(data, kBundle, sizeof(kBundle)) != 0) {
        DecodeMessage(data, size, emit, context, result);
        return;
    }
    // "#bundle", an 8-byte time tag, then elements, each a 4-byte size first.
    if (depth >= kMaxBundleDepth || size < 16) {
        ++result.malformed;
        return;
    }
    std::size_t at = 16;
    while (at < size) {
        if (size - at < 4) {
            ++result.malformed;
            return;
        }
        const std::uint32_t length = BigEndian32(data + at);
        at += 4;
        if (length > size - at || length % 4 != 0) {
            ++result.malformed;
            return;
        }
        DecodeElement(data + at, length, depth + 1, emit, context, result);
        at += length;
    }
}

} // namespace

OscDecodeResult DecodeOscPacket(char *data, std::size_t size, void (*emit)(const ControlMessage &, void *),
                                void *context)
{
    OscDecodeResult result;
    if (size > kMaxOscDatagram)
        ++result.tooLong;
    else if (size % 4 != 0)
        ++result.malformed;
    else
        DecodeElement(data, size, 0, emit, context, result);
    return result;
}
