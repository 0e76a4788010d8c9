// velkaro --import-rocket / --export-rocket: which arguments ask for them,
// and the files they write (or refuse to write) in a scratch folder.
#include "RocketCommand.h"

#include "ScratchDir.h"

#include <QFile>

#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;

QByteArray Contents(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void Write(const QString &name, const QByteArray &text)
{
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(RocketCommand, Arguments)
{
    EXPECT_EQ(ParseRocketCommandLine({"--export", "a.mp4"}).action, RocketAction::None);
    EXPECT_EQ(ParseRocketCommandLine({"--import-rocket", "p.rocket", "--help"}).action, RocketAction::None);
    const RocketCommandLine import = ParseRocketCommandLine({"--import-rocket", "p.rocket"});
    EXPECT_EQ(import.action, RocketAction::Import);
    EXPECT_EQ(import.file, "p.rocket");
    EXPECT_EQ(ParseRocketCommandLine({"--export-rocket=q.rocket"}).file, "q.rocket");
    const std::pair<std::vector<std::string>, const char *> refusals[] = {
        {{"--import-rocket"}, "needs a file"}, {{"--export-rocket="}, "needs a file"},
        {{"--import-rocket", "a", "--size", "9x9"}, "takes no other argument"},
        {{"--import-rocket", "a", "--export-rocket", "b"}, "takes no other argument"}};
    for (const auto &[arguments, reason] : refusals) {
        const RocketCommandLine line = ParseRocketCommandLine(arguments);
        EXPECT_EQ(line.action, RocketAction::Refuse) << reason;
        EXPECT_THAT(line.error, HasSubstr(reason));
    }
}

// Export, import elsewhere, the same sync.txt; an existing sync.txt and a
// damaged project are refused with nothing written.
TEST(RocketCommand, ImportAndExportFiles)
{
    ScratchDir scratch;
    const QByteArray sync = "velkaro-sync 1\nbpm 100\nrows-per-beat 8\n#bookmark 4\ntrack a\n0 1 linear\n8 2.5 ramp\n";
    Write("sync.txt", sync);
    const auto run = [](RocketAction action, const char *file) {
        RocketCommandLine line;
        line.action = action;
        line.file = file;
        return RunRocketCommand(line, QStringLiteral("sync.txt"));
    };
    ASSERT_EQ(run(RocketAction::Export, "p.rocket"), 0);
    EXPECT_EQ(run(RocketAction::Import, "p.rocket"), 2) << "sync.txt exists";
    EXPECT_EQ(Contents("sync.txt"), sync);
    ASSERT_TRUE(QFile::rename("sync.txt", "old.txt"));
    ASSERT_EQ(run(RocketAction::Import, "p.rocket"), 0);
    EXPECT_EQ(Contents("sync.txt"), sync);

    ASSERT_TRUE(QFile::remove("sync.txt"));
    Write("bad.rocket", "<tracks><track name=\"a\"><key row=\"x\" value=\"1\"/></track></tracks>");
    EXPECT_EQ(run(RocketAction::Import, "bad.rocket"), 2);
    EXPECT_EQ(run(RocketAction::Import, "none.rocket"), 2);
    EXPECT_EQ(run(RocketAction::Import, "."), 2) << "a folder";
    EXPECT_FALSE(QFile::exists("sync.txt"));
    EXPECT_EQ(run(RocketAction::Export, "q.rocket"), 2) << "no sync.txt";
    Write("sync.txt", "velkaro-sync 1\ntrack a b\n");
    EXPECT_EQ(run(RocketAction::Export, "q.rocket"), 2) << "sync.txt does not parse";
    EXPECT_FALSE(QFile::exists("q.rocket"));
}

} // namespace
