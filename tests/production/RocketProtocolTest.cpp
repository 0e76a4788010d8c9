// The editor's byte stream: the greeting and track requests sent, each
// command applied (big-endian, split anywhere), broken streams refused with
// the tracks as they were, and random bytes from a fixed seed.
#include "RocketProtocol.h"

#include "FuzzSeed.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string U32(std::uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string SetKey(std::uint32_t track, std::uint32_t row, float value, int interpolation)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return '\0' + U32(track) + U32(row) + U32(bits) + char(interpolation);
}
std::string DeleteKey(std::uint32_t track, std::uint32_t row) { return '\1' + U32(track) + U32(row); }
std::string SetRow(std::uint32_t row) { return '\3' + U32(row); }
const std::string kHello = "hello, demo!";

// A session that has greeted and asked for "a" (index 0) and "b:c" (1).
struct Connected
{
    Connected()
    {
        std::string error;
        EXPECT_TRUE(ParseSyncText("velkaro-sync 1\ntrack a\n0 9 step\ntrack b:c\n", tracks, error));
        EXPECT_EQ(session.connected(), "hello, synctracker!");
        EXPECT_EQ(session.requestTracks(tracks), "") << "nothing asked before the editor greets";
        EXPECT_TRUE(session.received(kHello, tracks, requests));
        EXPECT_EQ(session.requestTracks(tracks), '\2' + U32(1) + "a" + '\2' + U32(3) + "b:c");
        EXPECT_EQ(session.requestTracks(tracks), "") << "each track asked once";
    }
    SyncTracks tracks;
    RocketSession session;
    RocketRequests requests;
};

TEST(RocketProtocol, CommandsApplied)
{
    const struct { const char *what; std::string bytes; const char *sync; int seek, pause; bool save; } cases[] = {
        {"keys, every interpolation", SetKey(0, 4, 1.5f, 1) + SetKey(0, 0, -2, 0) + SetKey(1, 70000, 0.25f, 2) +
         SetKey(1, 2, 3, 3), "track a\n0 -2 step\n4 1.5 linear\ntrack b:c\n2 3 ramp\n70000 0.25 smooth\n", -1, -1, false},
        {"a key replaced, one deleted", SetKey(0, 4, 1, 0) + SetKey(0, 4, 2, 3) + SetKey(0, 8, 5, 0) + DeleteKey(0, 8) +
         DeleteKey(1, 99), "track a\n4 2 ramp\ntrack b:c\n", -1, -1, false},
        {"row, pause, play, save", SetRow(16909060) + std::string("\4\1", 2) + SetRow(7) + std::string("\4\0\5", 3),
         "track a\ntrack b:c\n", 7, 0, true},
    };
    for (const auto &c : cases) {
        for (size_t split : {size_t(0), size_t(1), size_t(6), c.bytes.size() - 1}) {
            Connected run;
            EXPECT_TRUE(run.session.received(c.bytes.substr(0, split), run.tracks, run.requests)) << c.what;
            EXPECT_TRUE(run.session.received(c.bytes.substr(split), run.tracks, run.requests)) << c.what;
            EXPECT_EQ(FormatSyncText(run.tracks), std::string("velkaro-sync 1\nbpm 120\nrows-per-beat 4\n") + c.sync)
                << c.what << " split at " << split;
            EXPECT_EQ(run.requests.seekRow, c.seek) << c.what;
            EXPECT_EQ(run.requests.pause, c.pause) << c.what;
            EXPECT_EQ(run.requests.save, c.save) << c.what;
        }
    }
    EXPECT_EQ(RocketSession::SetRow(0x01020304), std::string("\3\1\2\3\4"));
}

TEST(RocketProtocol, BrokenStreamsKeepTheTracks)
{
    const struct { std::string bytes; const char *error; } cases[] = {
        {std::string("\x09", 1), "unknown command (byte 9)"},
        {std::string("\2", 1) + U32(1) + "a", "unknown command (byte 2)"},
        {SetKey(2, 0, 1, 0), "track 2, which was never asked for"},
        {DeleteKey(0x02000000, 0), "never asked for"},
        {SetKey(0, 0x80000000u, 1, 0), "row 2147483648, beyond"},
        {SetRow(0xffffffffu), "row 4294967295, beyond"},
        {SetKey(0, 1, 1, 4), "interpolation 4"},
        {SetKey(0, 1, NAN, 0), "not a number"},
    };
    for (const auto &c : cases) {
        Connected run;
        EXPECT_FALSE(run.session.received(SetKey(0, 1, 5, 0) + c.bytes, run.tracks, run.requests)) << c.error;
        EXPECT_NE(run.session.error().find(c.error), std::string::npos) << run.session.error();
        EXPECT_EQ(FormatSyncText(run.tracks), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\ntrack b:c\n");
        EXPECT_FALSE(run.session.received(SetKey(0, 1, 5, 0), run.tracks, run.requests)) << "until reconnected";
    }
    SyncTracks tracks;
    RocketSession session;
    RocketRequests requests;
    session.connected();
    EXPECT_TRUE(session.received("hello, d", tracks, requests));
    EXPECT_FALSE(session.received("rone!", tracks, requests));
    EXPECT_NE(session.error().find("not a sync editor"), std::string::npos);
}

// A reconnection asks for every track again from index 0; the keys it
// had are replaced by what the editor sends.
TEST(RocketProtocol, ReconnectAsksAgain)
{
    Connected run;
    ASSERT_TRUE(run.session.received(SetKey(1, 3, 4, 0), run.tracks, run.requests));
    run.tracks.findOrAdd("new");
    EXPECT_EQ(run.session.requestTracks(run.tracks), '\2' + U32(3) + "new");
    run.session.connected();
    ASSERT_TRUE(run.session.received(kHello, run.tracks, run.requests));
    EXPECT_EQ(run.session.requestTracks(run.tracks), '\2' + U32(1) + "a" + '\2' + U32(3) + "b:c" + '\2' + U32(3) + "new");
    ASSERT_TRUE(run.session.received(SetKey(1, 5, 6, 0), run.tracks, run.requests));
    EXPECT_EQ(FormatSyncText(run.tracks), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\ntrack b:c\n5 6 step\ntrack new\n");
}

// Random bytes, and random commands cut at random places: never a crash;
// a refused batch leaves the tracks as they were before it.
TEST(RocketProtocol, Fuzz)
{
    FuzzRandom random(33);
    for (int round = 0; round < 2000; ++round) {
        Connected run;
        std::string stream;
        const size_t commands = random.Below(20);
        for (size_t i = 0; i < commands; ++i) {
            if (random.OneIn(4))
                stream += random.Byte();
            else if (random.OneIn(2))
                stream += SetKey(std::uint32_t(random.Below(3)), std::uint32_t(random.Below(50)), float(random.Below(100)),
                                 int(random.Below(4)));
            else
                stream += random.OneIn(2) ? DeleteKey(std::uint32_t(random.Below(3)), std::uint32_t(random.Below(50)))
                                          : SetRow(std::uint32_t(random.Below(1000)));
        }
        size_t at = 0;
        while (at < stream.size()) {
            const size_t size = 1 + random.Below(16);
            const std::string before = FormatSyncText(run.tracks);
            if (!run.session.received(std::string_view(stream).substr(at, size), run.tracks, run.requests)) {
                EXPECT_FALSE(run.session.error().empty()) << random.Trace();
                EXPECT_EQ(FormatSyncText(run.tracks), before) << random.Trace();
                break;
            }
            at += size;
        }
    }
}

} // namespace
