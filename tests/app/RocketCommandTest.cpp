// velkaro --import-rocket / --export-rocket / --rocket: which arguments ask
// for them, and the files written (or refused) in a scratch folder.
#include "RocketCommand.h"

#include "Files.h"
#include "ScratchDir.h"

#include <QFile>

#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;

TEST(RocketCommand, Arguments)
{
    const RocketCommandLine help = ParseRocketCommandLine({"--import-rocket", "p.rocket", "--help"});
    EXPECT_EQ(help.action, RocketAction::None);
    EXPECT_EQ(help.others.size(), 3u) << "all go on to the usage";
    const RocketCommandLine import = ParseRocketCommandLine({"--import-rocket", "p.rocket"});
    EXPECT_EQ(import.action, RocketAction::Import);
    EXPECT_EQ(import.file + ParseRocketCommandLine({"--export-rocket=q.rocket"}).file, "p.rocketq.rocket");
    const RocketCommandLine rocket = ParseRocketCommandLine({"-platform", "xcb", "--rocket", "h:1", "--size", "9x9"});
    EXPECT_EQ(rocket.action, RocketAction::None);
    EXPECT_EQ(rocket.address, "h:1");
    EXPECT_EQ(rocket.others, (std::vector<std::string>{"-platform", "xcb", "--size", "9x9"}));
    EXPECT_EQ(ParseRocketCommandLine({"--rocket", "--size", "9x9"}).address, "");
    const std::pair<std::vector<std::string>, const char *> refusals[] = {
        {{"--import-rocket"}, "needs a file"}, {{"--export-rocket="}, "needs a file"}, {{"--rocket", "--rocket"}, "given twice"},
        {{"--import-rocket", "a", "--size", "9x9"}, "takes no other argument"}, {{"--import-rocket", "a", "--export-rocket", "b"}, "takes no other"}};
    for (const auto &[arguments, reason] : refusals) {
        const RocketCommandLine line = ParseRocketCommandLine(arguments);
        EXPECT_EQ(line.action, RocketAction::Refuse) << reason;
        EXPECT_THAT(line.error, HasSubstr(reason));
    }
}

// Export, import elsewhere: the same sync.txt. An existing sync.txt, a
// damaged, missing or not regular project are refused, nothing written.
TEST(RocketCommand, ImportAndExportFiles)
{
    ScratchDir scratch;
    const auto run = [](RocketAction action, const char *file) {
        RocketCommandLine line;
        line.action = action;
        line.file = file;
        return RunRocketCommand(line);
    };
    const QByteArray sync = "velkaro-sync 1\nbpm 100\nrows-per-beat 8\n#bookmark 4\ntrack a\n0 1 linear\n8 2.5 ramp\n";
    ASSERT_TRUE(WriteFile("sync.txt", sync));
    ASSERT_EQ(run(RocketAction::Export, "p.rocket"), 0);
    EXPECT_EQ(run(RocketAction::Import, "p.rocket"), 2) << "sync.txt exists";
    EXPECT_EQ(ReadFile("sync.txt"), sync);
    ASSERT_TRUE(QFile::rename("sync.txt", "old.txt"));
    ASSERT_EQ(run(RocketAction::Import, "p.rocket"), 0);
    EXPECT_EQ(ReadFile("sync.txt"), sync);

    ASSERT_TRUE(QFile::remove("sync.txt"));
    ASSERT_TRUE(WriteFile("bad.rocket", "<tracks><track name=\"a\"><key row=\"x\" value=\"1\"/></track></tracks>"));
    for (const char *project : {"bad.rocket", "none.rocket", "."})
        EXPECT_EQ(run(RocketAction::Import, project), 2) << project;
    EXPECT_FALSE(QFile::exists("sync.txt"));
    EXPECT_EQ(run(RocketAction::Export, "q.rocket"), 2) << "no sync.txt";
    ASSERT_TRUE(WriteFile("sync.txt", "velkaro-sync 1\ntrack a b\n"));
    EXPECT_EQ(run(RocketAction::Export, "q.rocket"), 2) << "sync.txt does not parse";
    EXPECT_FALSE(QFile::exists("q.rocket"));
}

} // namespace
