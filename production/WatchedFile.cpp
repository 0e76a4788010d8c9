// WatchedFile: the settle rule over the file's identity stamp.
#include "WatchedFile.h"

#include <algorithm>

#include <time.h>

long long WatchedFile::WallNs()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

WatchedFile::WatchedFile(const QString &path) : name(path)
{
    take();
}

void WatchedFile::take()
{
    taken = seen = FileStamp::Of(name);
}

bool WatchedFile::poll(Clock::time_point now, long long wallNs)
{
    const FileStamp stamp = FileStamp::Of(name);
    if (stamp == taken || stamp.inode == 0) {
        seen = stamp;
        return false;
    }
    const long long settleNs = kSettleMs * 1000000LL;
    const bool stillOnDisk = wallNs - std::max(stamp.modifiedNs, stamp.changedNs) >= settleNs;
    if (stamp != seen) {
        seen = stamp;
        seenAt = now;
        if (!stillOnDisk)
            return false;
    } else if (!stillOnDisk && now - seenAt < std::chrono::milliseconds(kSettleMs)) {
        return false;
    }
    taken = stamp;
    return true;
}
