// Sync tracks: the interpolation rules, the file's round trip and every kind
// of malformed file (its line number, the last good tracks kept).
#include "SyncFile.h"
#include "SyncTracks.h"

#include "Files.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

SyncTracks Parsed(const std::string &text)
{
    SyncTracks tracks;
    std::string error;
    EXPECT_TRUE(ParseSyncText(text, tracks, error)) << error;
    return tracks;
}

// Keys 2 at row 10 (with the interpolation) and 6 at row 14. A long track read
// at random rows (the remembered segment) agrees with a plain scan of its keys.
TEST(SyncTracks, InterpolationRules)
{
    const double rows[] = {3, 10, 11, 12, 14, 20};
    const struct { const char *interpolation; double values[6]; } cases[] = {
        {"step", {2, 2, 2, 2, 6, 6}},
        {"linear", {2, 2, 3, 4, 6, 6}},
        {"smooth", {2, 2, 2.625, 4, 6, 6}},
        {"ramp", {2, 2, 2.25, 3, 6, 6}},
    };
    for (const auto &c : cases) {
        SyncTracks tracks = Parsed(std::string("velkaro-sync 1\ntrack t\n10 2 ") + c.interpolation + "\n14 6 step\n");
        for (int i = 0; i < 6; ++i)
            EXPECT_DOUBLE_EQ(tracks.value("t", rows[i]), c.values[i]) << c.interpolation << " row " << rows[i];
    }
    SyncTracks tracks;
    EXPECT_EQ(tracks.value("empty", 7.5), 0.0);
    EXPECT_EQ(tracks.count(), 1) << "a new name makes an empty track";
    EXPECT_EQ(tracks.value("two words", 0), 0.0);
    EXPECT_EQ(tracks.value("", 0), 0.0);
    EXPECT_EQ(tracks.count(), 1) << "names the file cannot hold make no track";

    SyncTrack &track = *tracks.findOrAdd("long");
    std::mt19937 random(5);
    for (int row = 0; row < 4000; row += 1 + random() % 7)
        track.setKey(row, random() % 1000 / 10.0);
    for (int n = 0; n < 2000; ++n) {
        const double row = random() % 400000 / 100.0;
        size_t k = 0;
        while (k + 1 < track.keys().size() && track.keys()[k + 1].row <= row)
            ++k;
        EXPECT_DOUBLE_EQ(track.valueAt(row), track.keys()[k].value) << "row " << row;
    }
}

// Read, write, read: the written text is the canonical form (comments and
// blank lines gone, 6 significant digits), and reads back to itself.
TEST(SyncTracks, FileRoundTrip)
{
    const SyncTracks tracks = Parsed("velkaro-sync 1\r\n# tempo\nbpm 128.5\n\nrows-per-beat 8\ntrack camera.x\n"
                                     "0 10 linear\n16 20 smooth\n32 -5.123456789 step\ntrack fade\n0 +0 ramp\n"
                                     "64 1e3 step\ntrack empty\n");
    const std::string written = FormatSyncText(tracks);
    EXPECT_EQ(written, "velkaro-sync 1\nbpm 128.5\nrows-per-beat 8\ntrack camera.x\n0 10 linear\n16 20 smooth\n"
                       "32 -5.12346 step\ntrack fade\n0 0 ramp\n64 1000 step\ntrack empty\n");
    EXPECT_EQ(FormatSyncText(Parsed(written)), written);
    EXPECT_EQ(FormatSyncText(Parsed("velkaro-sync 1")), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n");
    // Bound tracks: one "#control" line each, by name, after the bookmarks.
    const std::string bound = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#bookmark 4\n#control b osc /fader/1\n"
                              "#control fade midi-cc 16 127\ntrack fade\n";
    EXPECT_EQ(FormatSyncText(Parsed("velkaro-sync 1\n#control fade midi-cc 3 1\ntrack fade\n#bookmark 4\n"
                                    "#control fade midi-cc 16 127\n#control b osc /fader/1\n")), bound);
    // A byte-order mark before the header is not part of it.
    EXPECT_EQ(FormatSyncText(Parsed("\xEF\xBB\xBFvelkaro-sync 1\nbpm 90\n")), "velkaro-sync 1\nbpm 90\nrows-per-beat 4\n");
}

// A repeated row is one bookmark; other "#" lines stay comments.
TEST(SyncTracks, Bookmarks)
{
    SyncTracks tracks = Parsed("velkaro-sync 1\n#bookmark 32\ntrack a\n#bookmark 8\n#bookmark 8\n# bookmark 5\n"
                               "#bookmark x\n#bookmark 4 5\n0 1 step\n");
    EXPECT_EQ(tracks.bookmarks(), (std::vector<int>{8, 32}));
    const std::string written = FormatSyncText(tracks);
    EXPECT_EQ(written, "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#bookmark 8\n#bookmark 32\ntrack a\n0 1 step\n");
    EXPECT_EQ(FormatSyncText(Parsed(written)), written);

    EXPECT_FALSE(tracks.toggleBookmark(-1));
    EXPECT_TRUE(tracks.toggleBookmark(20));
    EXPECT_TRUE(tracks.toggleBookmark(8));
    EXPECT_EQ(tracks.bookmarks(), (std::vector<int>{20, 32}));
    const struct { int row, next, previous; } cases[] = {
        {0, 20, -1}, {20, 32, -1}, {21, 32, 20}, {32, -1, 20}, {40, -1, 32}};
    for (const auto &c : cases) {
        EXPECT_EQ(tracks.nextBookmark(c.row), c.next) << "from row " << c.row;
        EXPECT_EQ(tracks.previousBookmark(c.row), c.previous) << "from row " << c.row;
    }
}

// Each error names its line; the tracks read before stay as they were.
TEST(SyncTracks, MalformedFilesKeepTheLastGoodTracks)
{
    const struct { const char *text, *error; } cases[] = {
        {"", "line 1: the file is empty"},
        {"velkaro-sync 2\n", "line 1: version 2 of the sync format"},
        {"# velkaro-sync 1\n", "line 1: not a sync file"},
        {"velkaro-sync 1\nbpm 0\n", "line 2: bpm must be"},
        {"velkaro-sync 1\nbpm 1e9\n", "line 2: bpm must be one number above 0 and at most 100000"},
        {"\xEF\xBB\xBF\xEF\xBB\xBFvelkaro-sync 1\n", "line 1: not a sync file"},
        {"velkaro-sync 1\n\nrows-per-beat 2.5\n", "line 3: rows-per-beat must be"},
        {"velkaro-sync 1\n0 1 step\n", "line 2: a key before the first track"},
        {"velkaro-sync 1\ntrack a b\n", "line 2: a track line is"},
        {"velkaro-sync 1\ntrack a\n# x\ntrack a\n", "line 4: track 'a' is given twice"},
        {"velkaro-sync 1\ntrack a\n0 1,5 step\n", "line 3: value '1,5' is not a number"},
        {"velkaro-sync 1\ntrack a\n0 nan step\n", "line 3: value 'nan' is not a number"},
        {"velkaro-sync 1\ntrack a\n0 1 smoth\n", "line 3: interpolation 'smoth' is not"},
        {"velkaro-sync 1\ntrack a\n-1 1 step\n", "line 3: row '-1' is not a whole number"},
        {"velkaro-sync 1\ntrack a\n0 1 step extra\n", "line 3: a key is"},
        {"velkaro-sync 1\ntrack a\n4 1 step\n\n4 2 step\n", "line 5: row 4 is not after the key before it"},
        {"velkaro-sync 1\nfrobnicate 3\n", "line 2: unknown line 'frobnicate 3'"},
        {"velkaro-sync 1\n#control a midi-cc 17 1\n", "line 2: a control line is"},
        {"velkaro-sync 1\n#control a midi-cc 1 128\n", "line 2: a control line is"},
        {"velkaro-sync 1\n#control a osc fader\n", "line 2: a control line is"},
        {"velkaro-sync 1\n#control a knob 1\n", "line 2: a control line is"},
    };
    const std::string good = "velkaro-sync 1\nbpm 90\nrows-per-beat 4\ntrack x\n3 1.5 smooth\n";
    SyncTracks tracks = Parsed(good);
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(ParseSyncText(c.text, tracks, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
        EXPECT_EQ(FormatSyncText(tracks), good) << c.text;
    }
}

// Each edit undone gives back the earlier sync.txt byte for byte, redone the later one.
TEST(SyncTracks, UndoAndRedo)
{
    ScratchDir scratch;
    const auto contents = [] { return ReadFile("sync.txt"); };
    SyncFile sync;
    std::string error;
    ASSERT_TRUE(ParseSyncText("velkaro-sync 1\ntrack a\n4 1 smooth\ntrack b\n", sync.tracks(), error));
    ASSERT_TRUE(sync.write());
    const std::function<bool()> edits[] = {
        [&] { return sync.setKey("a", 4, 2.5); }, [&] { return sync.cycleInterpolation("a", 4); },
        [&] { return sync.setKey("c", 0, -1); }, [&] { return sync.toggleBookmark(8); },
        [&] { return sync.removeKey("a", 4); }, [&] { return sync.setKey("a", 2, 7); },
        [&] { return sync.toggleBookmark(8); }};
    std::vector<QByteArray> states{contents()};
    for (const auto &edit : edits) {
        ASSERT_TRUE(edit());
        states.push_back(contents());
    }
    for (size_t i = states.size() - 1; i-- > 0;) {
        ASSERT_TRUE(sync.undo());
        EXPECT_EQ(contents().toStdString(), states[i].toStdString()) << "undo to step " << i;
    }
    EXPECT_FALSE(sync.undo());
    for (size_t i = 1; i < states.size(); ++i) {
        ASSERT_TRUE(sync.redo());
        EXPECT_EQ(contents().toStdString(), states[i].toStdString()) << "redo to step " << i;
    }
    EXPECT_FALSE(sync.redo());
    ASSERT_TRUE(sync.undo() && sync.undo() && sync.setKey("b", 1, 1));
    EXPECT_FALSE(sync.redo()) << "a new edit forgets what could be redone";
    ASSERT_TRUE(sync.read());
    EXPECT_FALSE(sync.undo()) << "the tracks were read over";

    SyncTracks tracks;
    SyncHistory history;
    for (int row = 0; row <= int(SyncHistory::kMaxSteps); ++row) {
        SyncStep step;
        tracks.findOrAdd("t")->setKey(row, row);
        SyncHistory::Changed(step, tracks, "t", row, std::nullopt);
        history.record(step);
    }
    int undone = 0;
    while (history.undo(tracks))
        ++undone;
    EXPECT_EQ(undone, int(SyncHistory::kMaxSteps));
    EXPECT_EQ(FormatSyncText(tracks), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack t\n0 0 step\n");
}

} // namespace
