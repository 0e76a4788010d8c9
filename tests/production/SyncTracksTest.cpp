// Sync tracks: the interpolation rules, the file's round trip and every kind
// of malformed file (its line number, the last good tracks kept).
#include "SyncBlock.h"
#include "SyncFile.h"
#include "SyncLayout.h"
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
    SyncBlock block;
    ASSERT_TRUE(ParseSyncBlock("#rows 3\ntrack x\n0 5 linear\n2 6 step\ntrack y\n1 1 ramp\n", block, error));
    const std::vector<std::string> ab{"a", "b"};
    const std::function<bool()> edits[] = {
        [&] { return sync.setKey("a", 4, 2.5); }, [&] { return sync.cycleInterpolation("a", 4); },
        [&] { return sync.setKey("c", 0, -1); }, [&] { return sync.toggleBookmark(8); },
        [&] { return sync.removeKey("a", 4); }, [&] { return sync.setKey("a", 2, 7); },
        [&] { return sync.toggleBookmark(8); }, [&] { return sync.paste(block, ab, 1); },
        [&] { return sync.insertRows(ab, 2, 3); }, [&] { return sync.deleteRows({"a"}, 0, 2); },
        [&] { return sync.bias(ab, 2, 9, 0.1); }, [&] { return sync.renameTrack("b", "g:b"); },
        [&] { return sync.toggleMute("a", 4.5); }, [&] { return sync.addTrack("new", 1); },
        [&] { return sync.clearRows({"g:b"}, 0, 6); }, [&] { return sync.removeTrack("a"); },
        [&] { return sync.deleteRows({"c"}, 0, 1); }};
    std::vector<QByteArray> states{contents()};
    for (const auto &edit : edits) {
        ASSERT_TRUE(edit());
        states.push_back(contents());
        EXPECT_NE(states.back(), states[states.size() - 2]) << "edit " << states.size() - 1;
    }
    EXPECT_EQ(states[8].toStdString(), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\n1 5 linear\n3 6 step\n"
                                       "track b\n2 1 ramp\ntrack c\n0 -1 step\n")
        << "the block's top on row 1, the rows it covers cleared";
    EXPECT_EQ(states[11].toStdString(), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\n4 6.1 step\n"
                                        "track b\n5 1.1 ramp\ntrack c\n0 -1 step\n");
    EXPECT_EQ(states.back().toStdString(), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack new\ntrack g:b\n"
                                           "track c\n");
    EXPECT_FALSE(sync.renameTrack("c", "new") || sync.paste(block, {"new"}, 2147483646))
        << "a taken name; keys beyond the last row";
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

// A muted track holds its value; the mute line is one an older reader skips.
TEST(SyncTracks, MuteHoldsTheValue)
{
    SyncTracks tracks = Parsed("velkaro-sync 1\n#mute t 0.5\ntrack t\n0 0 linear\n8 8 step\n");
    EXPECT_EQ(tracks.value("t", 4), 0.5);
    tracks.find("t")->hold(std::nullopt);
    EXPECT_EQ(tracks.value("t", 4), 4);
    std::string error;
    EXPECT_FALSE(ParseSyncText("velkaro-sync 1\ntrack t\n#mute u 1\n", tracks, error));
    EXPECT_EQ(error, "line 3: track 'u' is muted but the file has no such track");
}

// A block copied, through its text and back, pastes the same keys at another
// row; text from a whole sync file or typed keys paste too; other text is refused.
TEST(SyncTracks, ClipboardRoundTrip)
{
    const SyncTracks tracks = Parsed("velkaro-sync 1\ntrack a\n3 1 step\n5 2.5 smooth\n9 4 step\n"
                                     "track b\n4 -1 ramp\n");
    const SyncBlock block = CopySyncBlock(tracks, {"a", "b"}, 4, 4);
    const std::string text = FormatSyncBlock(block);
    EXPECT_EQ(text, "#rows 4\ntrack a\n1 2.5 smooth\ntrack b\n0 -1 ramp\n");
    SyncBlock read;
    std::string error;
    ASSERT_TRUE(ParseSyncBlock(text, read, error)) << error;
    EXPECT_EQ(FormatSyncBlock(read), text);
    const struct { const char *text, *block; } cases[] = {
        {"velkaro-sync 1\nbpm 90\n#bookmark 2\ntrack z\n16 1 step\n20 2 linear\n",
         "#rows 5\ntrack z\n0 1 step\n4 2 linear\n"},
        {"  8 1 step\r\n\n10 +2 ramp", "#rows 3\n0 1 step\n2 2 ramp\n"},
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(ParseSyncBlock(c.text, read, error)) << error;
        EXPECT_EQ(FormatSyncBlock(read), c.block);
    }
    const struct { const char *text, *error; } bad[] = {
        {"hello world", "line 1: a key is"},        {"", "there are no keys in it"},
        {"track a\n4 1 step\n2 1 step\n", "line 3: row 2 is not after"},
        {"#rows x\n", "line 1: #rows must be"}, {"track a b\n", "line 1: a track line is"},
    };
    for (const auto &c : bad) {
        EXPECT_FALSE(ParseSyncBlock(c.text, read, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
    }
    EXPECT_EQ(FormatSyncBlock(read), "#rows 3\n0 1 step\n2 2 ramp\n") << "kept as it was";
}

// Groups fold into one column, columns keep the layout's order, and as
// many as fit are shown around the cursor; the layout's file reads back.
TEST(SyncTracks, LayoutColumns)
{
    const SyncTracks tracks = Parsed("velkaro-sync 1\ntrack cam:x\n0 1000.25 step\ntrack fade\n"
                                     "track cam:y\ntrack a-rather-long-name-for-a-track\n");
    SyncLayout layout;
    layout.order = {"fade", "gone", "cam:y"};
    const auto shown = [&] {
        std::string text;
        for (const SyncColumn &c : layout.columns(tracks))
            text += (c.folded ? "[" + c.group + "]" : tracks.track(c.tracks[0]).name()) + "=" +
                    std::to_string(SyncLayout::Chars(tracks, c)) + " ";
        return text;
    };
    EXPECT_EQ(shown(), "fade=8 cam:y=8 cam:x=12 a-rather-long-name-for-a-track=28 ");
    layout.toggleFold("cam");
    EXPECT_EQ(shown(), "fade=8 [cam]=8 a-rather-long-name-for-a-track=28 ");
    EXPECT_EQ(SyncLayout::Names(tracks, layout.columns(tracks), 1, 5), (std::vector<std::string>{"cam:y", "cam:x", "a-rather-long-name-for-a-track"}));
    EXPECT_EQ(layout.move(tracks, 1, -1), 0);
    layout.toggleFold("cam");
    EXPECT_EQ(shown(), "cam:y=8 cam:x=12 fade=8 a-rather-long-name-for-a-track=28 ");

    const std::vector<int> chars{8, 12, 8, 28};
    const struct { int first, cursor, room, scrolled, fit; } cases[] = {
        {0, 0, 30, 0, 3}, {0, 3, 30, 3, 1}, {0, 3, 36, 2, 2}, {3, 1, 30, 1, 2}, {0, 0, 5, 0, 1}};
    for (const auto &c : cases) {
        const int first = SyncLayout::Scroll(chars, c.first, c.cursor, c.room);
        EXPECT_EQ(first, c.scrolled) << "cursor " << c.cursor << " room " << c.room;
        EXPECT_EQ(SyncLayout::Fit(chars, first, c.room), c.fit) << "cursor " << c.cursor << " room " << c.room;
    }

    layout.width = 640;
    layout.detached = true;
    layout.toggleFold("cam");
    const std::string text = FormatSyncLayout(layout);
    EXPECT_EQ(text, "velkaro-sync-layout 1\nwidth 640\ndetached\nfold cam\ncolumn cam:y\ncolumn cam:x\n"
                    "column fade\ncolumn a-rather-long-name-for-a-track\n");
    SyncLayout read;
    std::string error;
    ASSERT_TRUE(ParseSyncLayout(text, read, error)) << error;
    EXPECT_EQ(FormatSyncLayout(read), text);
    EXPECT_FALSE(ParseSyncLayout("velkaro-sync-layout 1\nwidth -3\n", read, error));
    EXPECT_EQ(error, "line 2: width must be a whole number of pixels from 0 to 100000");
    EXPECT_EQ(FormatSyncLayout(read), text) << "kept as it was";
}

} // namespace
