// The editor's byte stream as pure logic.
#include "RocketProtocol.h"

#include "FuzzSeed.h"
#include "RocketBytes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace rocket;

// A session that has greeted and asked for "a" (index 0) and "b:c" (1).
struct Connected
{
    Connected()
    {
        std::string error;
        EXPECT_TRUE(ParseSyncText("velkaro-sync 1\ntrack a\n0 9 step\ntrack b:c\n", tracks, error));
        session.connected();
        EXPECT_EQ(session.requestTracks(tracks), "") << "nothing asked before the editor greets";
        EXPECT_TRUE(session.received("hello, demo!", tracks, requests));
        EXPECT_EQ(session.requestTracks(tracks), GetTrack("a") + GetTrack("b:c"));
    }
    SyncTracks tracks;
    RocketSession session;
    RocketRequests requests;
};

TEST(RocketProtocol, BrokenStreamsKeepTheTracks)
{
    const struct { std::string bytes; const char *error; } cases[] = {
        {std::string("\x09", 1), "unknown command (byte 9)"}, {GetTrack("a"), "unknown command (byte 2)"},
        {SetKey(2, 0, 1, 0), "track 2, which was never asked for"}, {DeleteKey(0x02000000, 0), "never asked for"},
        {SetKey(0, 0x80000000u, 1, 0), "row 2147483648, beyond"}, {SetRow(0xffffffffu), "row 4294967295, beyond"},
        {SetKey(0, 1, 1, 4), "interpolation 4"}, {SetKey(0, 1, NAN, 0), "not a number"}};
    for (const auto &c : cases) {
        Connected run;
        EXPECT_FALSE(run.session.received(SetKey(0, 1, 5, 0) + c.bytes, run.tracks, run.requests)) << c.error;
        EXPECT_NE(run.session.error().find(c.error), std::string::npos) << run.session.error();
        EXPECT_EQ(FormatSyncText(run.tracks), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\ntrack b:c\n");
        EXPECT_FALSE(run.session.received(SetKey(0, 1, 5, 0), run.tracks, run.requests)) << "until reconnected";
    }
    Connected run;
    run.session.connected();
    EXPECT_TRUE(run.session.received("hello, d", run.tracks, run.requests));
    EXPECT_FALSE(run.session.received("rone!", run.tracks, run.requests));
    EXPECT_NE(run.session.error().find("not a sync editor"), std::string::npos);
}

// Random streams fed in random pieces read as they read whole; a refused
// piece leaves the tracks as they were before it.
TEST(RocketProtocol, Fuzz)
{
    FuzzRandom random(33);
    for (int round = 0; round < 2000; ++round) {
        std::string stream;
        for (size_t i = random.Below(20); i > 0; --i) {
            const std::uint32_t row = std::uint32_t(random.Below(4)) << (8 * random.Below(4));
            switch (random.Below(random.OneIn(10) ? 6 : 5)) {
            case 0: stream += SetKey(std::uint32_t(random.Below(3)), row, float(random.Below(100)) / 4, int(random.Below(4))); break;
            case 1: stream += DeleteKey(std::uint32_t(random.Below(3)), row); break;
            case 2: stream += SetRow(row); break;
            case 3: stream += Pause(random.OneIn(2)); break;
            case 4: stream += '\5'; break;
            default: stream += random.Byte();
            }
        }
        Connected whole, pieces;
        const bool good = whole.session.received(stream, whole.tracks, whole.requests);
        bool piecesGood = true;
        for (size_t at = 0, size = 0; at < stream.size() && piecesGood; at += size) {
            size = 1 + random.Below(16);
            const std::string before = FormatSyncText(pieces.tracks);
            piecesGood = pieces.session.received(std::string_view(stream).substr(at, size), pieces.tracks,
                                                 pieces.requests);
            EXPECT_TRUE(piecesGood || FormatSyncText(pieces.tracks) == before) << random.Trace();
        }
        EXPECT_EQ(piecesGood, good) << random.Trace();
        if (good) {
            EXPECT_EQ(FormatSyncText(pieces.tracks), FormatSyncText(whole.tracks)) << random.Trace();
            EXPECT_EQ(pieces.requests.seekRow, whole.requests.seekRow) << random.Trace();
            EXPECT_EQ(pieces.requests.pause, whole.requests.pause) << random.Trace();
            EXPECT_EQ(pieces.requests.save, whole.requests.save) << random.Trace();
        }
    }
}

} // namespace
