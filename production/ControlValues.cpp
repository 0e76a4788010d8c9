// ControlValues: the tables of control changes and notes, the OSC paths.
#include "ControlValues.h"

namespace {

bool InRange(int channel, int number)
{
    return channel >= 1 && channel <= 16 && number >= 0 && number <= 127;
}

} // namespace

bool ControlValues::apply(const ControlMessage &message, ControlBinding &moved)
{
    if (message.kind == ControlMessage::Osc) {
        auto known = paths.find(message.path());
        if (known != paths.end())
            known->second = message;
        else if (paths.size() < kMaxPaths)
            paths.emplace(message.path(), message);
        else
            ++refused;
        if (message.argCount == 0 || message.type[0] != 'n')
            return false;
        moved.kind = ControlBinding::Osc;
        moved.path = message.path();
        return SyncTracks::IsBinding(moved);
    }
    const int channel = message.status & 0x0F;
    const int number = message.data1 & 0x7F;
    const int value = message.data2 & 0x7F;
    const int last = lastControl[channel];
    lastControl[channel] = -1;
    switch (message.status & 0xF0) {
    case 0x90: // note on; velocity 0 is a note off
        notes[channel][number] = value / 127.0;
        return false;
    case 0x80:
        notes[channel][number] = 0.0;
        return false;
    case 0xB0:
        break;
    default:
        return false;
    }
    lastControl[channel] = number;
    moved.kind = ControlBinding::MidiCC;
    moved.channel = channel + 1;
    moved.controller = number;
    controls[channel][number] = value / 127.0;
    if (number < 32) {
        high[channel][number] = static_cast<unsigned char>(value);
        if (paired[channel][number])
            controls[channel][number] = (value * 128) / 16383.0;
    } else if (number < 64 && last == number - 32) {
        const int pair = number - 32;
        paired[channel][pair] = true;
        controls[channel][pair] = (high[channel][pair] * 128 + value) / 16383.0;
        moved.controller = pair;
    }
    return true;
}

double ControlValues::cc(int channel, int controller) const
{
    return InRange(channel, controller) ? controls[channel - 1][controller] : 0.0;
}

double ControlValues::note(int channel, int number) const
{
    return InRange(channel, number) ? notes[channel - 1][number] : 0.0;
}

const ControlMessage *ControlValues::osc(std::string_view path) const
{
    const auto known = paths.find(std::string(path));
    return known != paths.end() ? &known->second : nullptr;
}

double ControlValues::value(const ControlBinding &binding) const
{
    if (binding.kind == ControlBinding::MidiCC)
        return cc(binding.channel, binding.controller);
    const ControlMessage *last = osc(binding.path);
    return last && last->argCount > 0 && last->type[0] == 'n' ? last->number[0] : 0.0;
}
