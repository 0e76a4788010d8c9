// SyncFile: reading, watching and atomically writing the sync file.
#include "SyncFile.h"

#include <QFile>
#include <QSaveFile>


SyncFile::SyncFile(const QString &fileName) : name(fileName), watch(fileName) {}

bool SyncFile::read()
{
    watch.take();
    QFile file(name);
    if (!file.exists()) {
        problem.clear();
        diskBad = false;
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "cannot read " + name.toStdString() + ": " + file.errorString().toStdString();
        diskBad = true;
        return false;
    }
    const QByteArray text = file.readAll();
    diskBad = !ParseSyncText(std::string_view(text.constData(), static_cast<size_t>(text.size())), syncTracks,
                             problem);
    return !diskBad;
}

bool SyncFile::readIfChanged(WatchedFile::Clock::time_point now)
{
    if (!watch.poll(now))
        return false;
    read();
    return true;
}

bool SyncFile::write()
{
    QSaveFile file(name);
    const std::string text = FormatSyncText(syncTracks);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) !=
                                                static_cast<qint64>(text.size()) || !file.commit()) {
        problem = "cannot write " + name.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    problem.clear();
    diskBad = false;
    watch.take();
    return true;
}

template <class Edit> bool SyncFile::edit(Edit change)
{
    if (watch.changedOnDisk())
        read();
    if (diskBad)
        return false;
    return change() && write();
}

bool SyncFile::setKey(const std::string &track, int row, double value)
{
    return edit([&] {
        SyncTrack *t = syncTracks.findOrAdd(track);
        return t && t->setKey(row, value);
    });
}

bool SyncFile::cycleInterpolation(const std::string &track, int row)
{
    return edit([&] {
        SyncTrack *t = syncTracks.find(track);
        return t && t->cycleInterpolation(row);
    });
}

bool SyncFile::removeKey(const std::string &track, int row)
{
    return edit([&] {
        SyncTrack *t = syncTracks.find(track);
        return t && t->removeKey(row);
    });
}

bool SyncFile::toggleBookmark(int row)
{
    return edit([&] { return syncTracks.toggleBookmark(row); });
}
