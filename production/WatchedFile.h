// WatchedFile: the one rule by which a run notices that a file it uses was
// saved (the production and the files its top level read, shader files,
// textures, the sync file). The run polls each watched file once per tick;
// a version counts once it has stayed the same for the settle time, so an
// editor's burst of writes is taken once, whole. The settle time runs from
// the file's own last change, so a version saved while the run was busy
// (a frame call running away) counts at the first poll after it. A version is told by the
// file's identity stamp (inode, size, change times), so a write in place,
// a new file renamed over the name and a delete followed by a create are
// all one kind of change. While the name names nothing, nothing is
// reported: the last version stays in use, and the file's return is the
// next change.
#pragma once

#include "FileStamp.h"

#include <QString>

#include <chrono>

class WatchedFile
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kSettleMs = 100;

    WatchedFile() = default;
    // Watches `path` as it is now: the present version counts as taken.
    explicit WatchedFile(const QString &path);

    const QString &path() const { return name; }

    // True once when a new version has been still for kSettleMs at `now`;
    // from then on that version is the one taken.
    // `wallNs`: the real time now (CLOCK_REALTIME), which the file's change
    // time is measured against.
    bool poll(Clock::time_point now = Clock::now(), long long wallNs = WallNs());
    // True when the file on disk is not the version taken.
    bool changedOnDisk() const { return FileStamp::Of(name) != taken; }
    static long long WallNs();
    // The version on disk now counts as taken (after the run wrote or read
    // the file itself).
    void take();
    // True while the name names a file.
    bool exists() const { return FileStamp::Of(name).inode != 0; }

private:
    QString name;
    FileStamp taken;              // the version in use
    FileStamp seen;               // the version the last poll saw
    Clock::time_point seenAt{};   // when that version was first seen
};
