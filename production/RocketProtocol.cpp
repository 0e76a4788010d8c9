// RocketProtocol: the client's side of the editor's byte stream.
#include "RocketProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

enum : std::uint8_t { kSetKey = 0, kDeleteKey = 1, kGetTrack = 2, kSetRow = 3, kPause = 4, kSaveTracks = 5 };

// The bytes a command takes after its command byte; -1 for one the editor
// does not send.
int PayloadSize(std::uint8_t kind)
{
    switch (kind) {
    case kSetKey: return 4 + 4 + 4 + 1;
    case kDeleteKey: return 4 + 4;
    case kSetRow: return 4;
    case kPause: return 1;
    case kSaveTracks: return 0;
    default: return -1;
    }
}

std::uint32_t ReadU32(const char *bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

void AppendU32(std::string &out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

const std::uint32_t kMaxRow = std::numeric_limits<int>::max();

} // namespace

std::string RocketSession::connected()
{
    pending.clear();
    names.clear();
    asked.clear();
    greetingSeen = false;
    problem.clear();
    return std::string(kClientGreeting);
}

std::string RocketSession::SetRow(int row)
{
    std::string out(1, static_cast<char>(kSetRow));
    AppendU32(out, static_cast<std::uint32_t>(row < 0 ? 0 : row));
    return out;
}

std::string RocketSession::requestTracks(SyncTracks &tracks)
{
    std::string out;
    if (!greetingSeen || !problem.empty())
        return out;
    // Tracks are only ever added at the end, so those past the count asked
    // for are new; a reloaded file may have changed them all, so check.
    for (int i = 0; i < tracks.count(); ++i) {
        SyncTrack &track = tracks.track(i);
        const std::string &name = track.name();
        if (name.size() > kMaxNameBytes || asked.count(name))
            continue;
        asked.insert(name);
        names.push_back(name);
        track.clearKeys();
        out += static_cast<char>(kGetTrack);
        AppendU32(out, static_cast<std::uint32_t>(name.size()));
        out += name;
    }
    return out;
}

bool RocketSession::take(std::string_view &stream, Command &command)
{
    if (stream.empty())
        return false;
    command = Command();
    command.kind = static_cast<std::uint8_t>(stream[0]);
    const int size = PayloadSize(command.kind);
    if (size < 0) {
        problem = "the editor sent an unknown command (byte " + std::to_string(command.kind) + ")";
        return false;
    }
    if (stream.size() < static_cast<size_t>(1 + size))
        return false;
    const char *p = stream.data() + 1;
    switch (command.kind) {
    case kSetKey: {
        const std::uint32_t bits = ReadU32(p + 8);
        std::memcpy(&command.value, &bits, sizeof(bits));
        command.interpolation = static_cast<std::uint8_t>(p[12]);
        if (!std::isfinite(command.value))
            problem = "the editor sent a key value that is not a number";
        else if (command.interpolation > 3)
            problem = "the editor sent interpolation " + std::to_string(command.interpolation) +
                      " (0 to 3 are known)";
    }
        [[fallthrough]];
    case kDeleteKey:
        command.track = ReadU32(p);
        command.row = ReadU32(p + 4);
        if (command.track >= names.size())
            problem = "the editor sent a key for track " + std::to_string(command.track) + ", which was never asked for";
        break;
    case kSetRow:
        command.row = ReadU32(p);
        break;
    case kPause:
        command.paused = static_cast<std::uint8_t>(p[0]);
        break;
    }
    if (command.row > kMaxRow && problem.empty())
        problem = "the editor sent row " + std::to_string(command.row) + ", beyond the largest row " +
                  std::to_string(kMaxRow);
    if (!problem.empty())
        return false;
    stream.remove_prefix(static_cast<size_t>(1 + size));
    return true;
}

bool RocketSession::received(std::string_view bytes, SyncTracks &tracks, RocketRequests &requests)
{
    if (!problem.empty())
        return false;
    pending.append(bytes.data(), bytes.size());
    std::string_view stream = pending;
    if (!greetingSeen) {
        const size_t have = std::min(stream.size(), kEditorGreeting.size());
        if (stream.substr(0, have) != kEditorGreeting.substr(0, have)) {
            problem = "the other end is not a sync editor: it did not answer \"hello, demo!\"";
            return false;
        }
        if (have < kEditorGreeting.size())
            return true;
        stream.remove_prefix(have);
    }
    // Every command is checked before any is applied.
    std::vector<Command> commands;
    Command command;
    while (take(stream, command))
        commands.push_back(command);
    if (!problem.empty())
        return false;
    greetingSeen = true;
    for (const Command &c : commands) {
        const int row = static_cast<int>(c.row);
        if (c.kind == kSetKey || c.kind == kDeleteKey) {
            SyncTrack *track = tracks.findOrAdd(names[c.track]);
            if (!track)
                continue;
            if (c.kind == kSetKey)
                track->setKey(row, c.value, static_cast<Interpolation>(c.interpolation));
            else
                track->removeKey(row);
        } else if (c.kind == kSetRow) {
            requests.seekRow = row;
        } else if (c.kind == kPause) {
            requests.pause = c.paused ? 1 : 0;
        } else if (c.kind == kSaveTracks) {
            requests.save = true;
        }
    }
    pending.erase(0, pending.size() - stream.size());
    return true;
}
