// SyncFile: reading, watching and atomically writing the sync file.
#include "SyncFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>


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
    if (!diskBad) {
        history.clear(); // its steps were of the tracks read over
        pass = SyncStep();
    }
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
    SyncStep step;
    if (!change(step))
        return false;
    history.record(std::move(step));
    return write();
}

template <class Change> bool SyncFile::editKey(const std::string &track, int row, Change change)
{
    return edit([&](SyncStep &step) {
        const bool made = !syncTracks.find(track);
        const std::optional<SyncKey> before = SyncHistory::Slot(syncTracks, track, row);
        if (!change())
            return false;
        SyncHistory::Changed(step, syncTracks, track, row, before);
        if (made && syncTracks.find(track))
            step.added.push_back(track);
        return true;
    });
}

bool SyncFile::setKey(const std::string &track, int row, double value)
{
    return editKey(track, row, [&] {
        SyncTrack *t = syncTracks.findOrAdd(track);
        return t && t->setKey(row, value);
    });
}

bool SyncFile::cycleInterpolation(const std::string &track, int row)
{
    return editKey(track, row, [&] {
        SyncTrack *t = syncTracks.find(track);
        return t && t->cycleInterpolation(row);
    });
}

bool SyncFile::removeKey(const std::string &track, int row)
{
    return editKey(track, row, [&] {
        SyncTrack *t = syncTracks.find(track);
        return t && t->removeKey(row);
    });
}

bool SyncFile::toggleBookmark(int row)
{
    return edit([&](SyncStep &step) {
        if (!syncTracks.toggleBookmark(row))
            return false;
        step.bookmarks.push_back(row);
        return true;
    });
}

bool SyncFile::undo()
{
    if (inPass())
        endPass(); // a pass under way is the step taken back
    return edit([&](SyncStep &) { return history.undo(syncTracks); });
}

bool SyncFile::redo()
{
    return edit([&](SyncStep &) { return history.redo(syncTracks); });
}

bool SyncFile::bind(const std::string &track, const ControlBinding &binding)
{
    return edit([&](SyncStep &) { return syncTracks.bind(track, binding); });
}

bool SyncFile::recordKey(const std::string &track, int row, double value)
{
    if (watch.changedOnDisk())
        read();
    if (diskBad)
        return false;
    const bool made = !syncTracks.find(track);
    const std::optional<SyncKey> before = SyncHistory::Slot(syncTracks, track, row);
    SyncTrack *t = syncTracks.findOrAdd(track);
    if (!t || !t->setKey(row, value, Interpolation::Linear))
        return false;
    if (made)
        pass.added.push_back(track);
    // The slot's state before the pass is the one undo puts back.
    const auto known = std::find_if(pass.keys.begin(), pass.keys.end(), [&](const SyncKeyChange &change) {
        return change.row == row && change.track == track;
    });
    if (known != pass.keys.end())
        known->after = SyncHistory::Slot(syncTracks, track, row);
    else
        SyncHistory::Changed(pass, syncTracks, track, row, before);
    return write();
}

void SyncFile::endPass()
{
    history.record(std::move(pass));
    pass = SyncStep();
}
