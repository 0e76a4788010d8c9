// The watched-file rule, on the file system's own times with the clocks
// given by the test.
#include "WatchedFile.h"

#include "ScratchDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Clock = WatchedFile::Clock;
using std::chrono::milliseconds;

bool Write(const char *path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The ways a file is saved: written in place, written aside and renamed
// over the name, deleted and made again.
enum class Save { InPlace, RenameOver, DeleteAndCreate };

bool SaveAs(Save style, const char *path, const QByteArray &bytes)
{
    switch (style) {
    case Save::InPlace:
        return Write(path, bytes);
    case Save::RenameOver:
        return Write("aside.tmp", bytes) && std::rename("aside.tmp", path) == 0;
    case Save::DeleteAndCreate:
        return std::remove(path) == 0 && Write(path, bytes);
    }
    return false;
}

// Wall time `ms` after the file's last change.
long long After(const char *path, int ms)
{
    const FileStamp stamp = FileStamp::Of(path);
    return std::max(stamp.modifiedNs, stamp.changedNs) + ms * 1000000LL;
}

TEST(WatchedFile, EverySaveStyleCountsOnceWhenSettledAndABurstCountsOnce)
{
    const ScratchDir scratch;
    for (const Save style : {Save::InPlace, Save::RenameOver, Save::DeleteAndCreate}) {
        const char *name = "watched.txt";
        ASSERT_TRUE(Write(name, "one"));
        WatchedFile file(name);
        const Clock::time_point t0 = Clock::now();
        EXPECT_FALSE(file.poll(t0, After(name, 500))) << "the version watched from the start is taken";

        // A save seen at once is not taken until it has been still for the
        // settle time, on either clock; then once.
        ASSERT_TRUE(SaveAs(style, name, "two, longer"));
        EXPECT_TRUE(file.changedOnDisk());
        EXPECT_FALSE(file.poll(t0, After(name, 10))) << int(style);
        EXPECT_FALSE(file.poll(t0 + milliseconds(50), After(name, 60))) << int(style);
        EXPECT_TRUE(file.poll(t0 + milliseconds(110), After(name, 60))) << int(style) << ": still by the run's clock";
        EXPECT_FALSE(file.poll(t0 + milliseconds(500), After(name, 500))) << int(style) << ": counted once";
        EXPECT_FALSE(file.changedOnDisk());

        // Two saves within the settle time: one change, the last version.
        ASSERT_TRUE(SaveAs(style, name, "three"));
        EXPECT_FALSE(file.poll(t0 + milliseconds(600), After(name, 20)));
        ASSERT_TRUE(SaveAs(style, name, "four!!"));
        EXPECT_FALSE(file.poll(t0 + milliseconds(650), After(name, 30))) << int(style) << ": the second save restarts the wait";
        EXPECT_TRUE(file.poll(t0 + milliseconds(660), After(name, 100))) << int(style) << ": still by the file's own time";
        EXPECT_FALSE(file.poll(t0 + milliseconds(900), After(name, 400)));

        // Deleted: no change, the last version stays; back again: a change.
        ASSERT_EQ(std::remove(name), 0);
        EXPECT_FALSE(file.poll(t0 + milliseconds(1000), WatchedFile::WallNs() + 1000000000LL));
        EXPECT_FALSE(file.exists());
        ASSERT_TRUE(Write(name, "five"));
        EXPECT_TRUE(file.poll(t0 + milliseconds(1000), After(name, 150))) << int(style) << ": a save made while the run was busy";
    }
}

} // namespace
