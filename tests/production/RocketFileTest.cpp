// The editors' XML projects.
#include "RocketFile.h"

#include <gtest/gtest.h>

namespace {

TEST(RocketFile, ReadsTheEditorsForms)
{
    const struct { const char *form, *xml, *sync; } cases[] = {
        {"sync root",
         "<?xml version=\"1.0\"?>\n<sync rows=\"128\">\n <tracks>\n  <track name=\"clear.r\">\n"
         "   <key row=\"16\" value=\"-2\" interpolation=\"3\"/>\n"
         "   <key interpolation=\"1\" value=\"0.5\" row=\"0\"/>\n  </track>\n  <track name=\"empty\"/>\n </tracks>\n"
         " <bookmarks><bookmark row=\"16\"/><bookmark row=\"4\"/></bookmarks>\n</sync>\n",
         "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#bookmark 4\n#bookmark 16\ntrack clear.r\n0 0.5 linear\n"
         "16 -2 ramp\ntrack empty\n"},
        {"tracks root",
         "<tracks rows=\"128\"><track name=\"clearR\"><key row=\"0\" value=\"45.000000\" interpolation=\"0\"/>"
         "<key value=\"1e-3\" row=\"8\" interpolation=\"2\"/></track></tracks>",
         "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack clearR\n0 45 step\n8 0.001 smooth\n"},
        {"root with tempo",
         "<rootElement>\n<bookmark row=\"12\"/> <loopmark row=\"3\"/> <group name=\"grp\"/>\n"
         "<tracks rows=\"1000\" startRow=\"0\" endRow=\"999\" rowsPerBeat=\"8\" beatsPerMin=\"125.5\" "
         "musicFilename=\"x.mp3\">\n<track folded=\"0\" name=\"grp:x\" muteKeyCount=\"0\" color=\"ff00ff00\">"
         "<key row=\"0\" value=\"1\" interpolation=\"0\"/><key row=\"4\" value=\" 2 \"/></track>\n"
         "</tracks>\n</rootElement>",
         "velkaro-sync 1\nbpm 125.5\nrows-per-beat 8\n#bookmark 12\ntrack grp:x\n0 1 step\n4 2 step\n"},
    };
    for (const auto &c : cases) {
        SyncTracks tracks;
        std::string error;
        ASSERT_TRUE(ParseRocketXml(c.xml, tracks, error)) << c.form << ": " << error;
        EXPECT_EQ(FormatSyncText(tracks), c.sync) << c.form;
    }
}

// Every interpolation, negative and fractional values, the tempo and the
// bookmarks survive the way out and back.
TEST(RocketFile, RoundTrip)
{
    SyncTracks tracks;
    std::string error;
    ASSERT_TRUE(ParseSyncText("velkaro-sync 1\nbpm 137.5\nrows-per-beat 6\n#bookmark 0\n#bookmark 2147483647\n"
                              "track cam:rot.y\n0 -1.5 step\n3 0.000123457 linear\n9 123457 smooth\n"
                              "2147483647 -0.5 ramp\ntrack a&<\"'>\n7 1 ramp\ntrack none\n",
                              tracks, error))
        << error;
    const std::string xml = FormatRocketXml(tracks);
    SyncTracks back;
    ASSERT_TRUE(ParseRocketXml(xml, back, error)) << error << "\n" << xml;
    EXPECT_EQ(FormatSyncText(back), FormatSyncText(tracks)) << xml;
}

TEST(RocketFile, RefusesDamagedFilesAndKeepsTheTracks)
{
    std::string manyTracks = "<tracks>";
    for (int i = 0; i <= kMaxRocketTracks; ++i)
        manyTracks += "<track name=\"t" + std::to_string(i) + "\"/>";
    manyTracks += "</tracks>";
    std::string huge = "<tracks>" + std::string(kMaxRocketFileBytes, ' ') + "</tracks>";
    const std::string key = "<tracks><track name=\"a\"><key row=\"1\" ";
    const struct { std::string xml; const char *error; } cases[] = {
        {"", "line 1: not well-formed XML"}, {"<sync><tracks><track name=\"a\"/>", "line 1: not well-formed XML"},
        {"<html><body/></html>", "line 1: not a sync project"}, {key + "value=\"nan\"/></track></tracks>", "line 1: the key on row 1 of track 'a' needs a value"},
        {"<tracks>\n<track name=\"a\"><key row=\"2147483648\" value=\"1\"/></track></tracks>", "line 2: a key in track 'a' needs a row"},
        {key + "value=\"1\" interpolation=\"4\"/></track></tracks>", "line 1: interpolation '4'"},
        {key + "value=\"1\"/>\n<key row=\"1\" value=\"2\"/></track></tracks>", "line 2: track 'a' has two keys on row 1"},
        {"<tracks><track name=\"a\"/>\n<track name=\"a\"/></tracks>", "line 2: track 'a' is given twice"},
        {"<tracks><track name=\"two words\"/></tracks>", "line 1: track name 'two words' cannot be a sync track"},
        {"<tracks><track/></tracks>", "line 1: a <track> without a name"}, {"<tracks><key row=\"1\" value=\"1\"/></tracks>", "line 1: a <key> outside"},
        {"<tracks rows=\"99999999999\"/>", "line 1: rows '99999999999' is not"}, {"<r><tracks beatsPerMin=\"0\"/></r>", "line 1: beatsPerMin '0' must be"},
        {"<r><tracks rowsPerBeat=\"100000\"/></r>", "line 1: rowsPerBeat '100000'"}, {"<r><bookmark row=\"x\"/><tracks/></r>", "line 1: a bookmark needs a row"},
        {manyTracks, "line 1: more than 10000 tracks"}, {huge, "the file is larger than 64 MB"},
        {"<!DOCTYPE t [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
         "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><tracks><track name=\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"/></tracks>", "line 1: not well-formed XML"},
    };
    const std::string good = "velkaro-sync 1\nbpm 90\nrows-per-beat 3\n#bookmark 2\ntrack x\n3 1.5 smooth\n";
    SyncTracks tracks;
    std::string error;
    ASSERT_TRUE(ParseSyncText(good, tracks, error));
    for (const auto &c : cases) {
        EXPECT_FALSE(ParseRocketXml(c.xml, tracks, error)) << c.xml.substr(0, 200);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
        EXPECT_EQ(FormatSyncText(tracks), good) << c.xml.substr(0, 200);
    }
}

} // namespace
