// FileStamp: what identifies one version of a file on disk (its inode, size
// and change times), so a watcher can tell a save, a file renamed over the
// name, or a delete and create from no change at all. All zero while the
// name names nothing.
#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>

struct FileStamp
{
    unsigned long long inode = 0;
    long long size = 0, modifiedNs = 0, changedNs = 0;

    bool operator==(const FileStamp &o) const
    {
        return inode == o.inode && size == o.size && modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
    bool operator!=(const FileStamp &o) const { return !(*this == o); }

    static FileStamp Of(const QString &path)
    {
        FileStamp stamp;
        struct stat info;
        if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
            stamp.inode = static_cast<unsigned long long>(info.st_ino);
            stamp.size = static_cast<long long>(info.st_size);
            stamp.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
            stamp.changedNs = static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
        }
        return stamp;
    }
};
