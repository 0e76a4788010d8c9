// SyncFile: reading, watching and atomically writing the sync file.
#include "SyncFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <limits>

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

bool SyncFile::takeDiskChange()
{
    if (watch.changedOnDisk())
        read();
    return !diskBad;
}

template <class Edit> bool SyncFile::edit(Edit change)
{
    if (!takeDiskChange())
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
            step.added.emplace_back(track, syncTracks.indexOf(track));
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

bool SyncFile::setBpm(double bpm)
{
    if (!takeDiskChange() || !SyncTracks::IsBpm(bpm))
        return false;
    syncTracks.bpm = bpm;
    return write();
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

template <class Change> bool SyncFile::editTracks(const std::vector<std::string> &names, Change change)
{
    return edit([&](SyncStep &step) {
        std::vector<SyncTrack *> edited;
        std::vector<std::vector<SyncKey>> before;
        for (const std::string &name : names) {
            if (SyncTrack *track = syncTracks.find(name)) {
                edited.push_back(track);
                before.push_back(track->keys());
            }
        }
        for (size_t i = 0; i < edited.size(); ++i) {
            if (!change(*edited[i], i)) {
                for (size_t j = 0; j <= i; ++j)
                    edited[j]->restoreKeys(std::move(before[j]));
                return false;
            }
        }
        for (size_t i = 0; i < edited.size(); ++i)
            SyncHistory::Changed(step, edited[i]->name(), before[i], edited[i]->keys());
        return !edited.empty();
    });
}

namespace {

// Whether rows [from, from + rows) are rows there are.
bool IsRowSpan(int from, int rows)
{
    return from >= 0 && rows >= 0 && static_cast<long long>(from) + rows <= std::numeric_limits<int>::max();
}

} // namespace

bool SyncFile::paste(const SyncBlock &block, const std::vector<std::string> &targets, int row)
{
    if (!IsRowSpan(row, block.rows))
        return false;
    const size_t n = std::min(targets.size(), block.tracks.size());
    const std::vector<std::string> names(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(n));
    return editTracks(names, [&](SyncTrack &track, size_t i) {
        std::vector<SyncKey> keys = block.tracks[i].second;
        for (SyncKey &key : keys)
            key.row += row;
        track.replaceRows(row, row + block.rows, keys);
        return true;
    });
}

bool SyncFile::clearRows(const std::vector<std::string> &names, int from, int rows)
{
    return IsRowSpan(from, rows) && editTracks(names, [&](SyncTrack &track, size_t) {
               track.replaceRows(from, from + rows, {});
               return true;
           });
}

bool SyncFile::insertRows(const std::vector<std::string> &names, int row, int rows)
{
    return IsRowSpan(row, rows) && editTracks(names, [&](SyncTrack &track, size_t) { return track.shiftRows(row, rows); });
}

bool SyncFile::deleteRows(const std::vector<std::string> &names, int row, int rows)
{
    return IsRowSpan(row, rows) &&
           editTracks(names, [&](SyncTrack &track, size_t) { return track.shiftRows(row + rows, -rows); });
}

bool SyncFile::bias(const std::vector<std::string> &names, int from, int rows, double by)
{
    return IsRowSpan(from, rows) && editTracks(names, [&](SyncTrack &track, size_t) {
               const long long end = static_cast<long long>(from) + rows;
               std::vector<SyncKey> keys;
               for (const SyncKey &key : track.keys()) {
                   if (key.row >= from && key.row < end)
                       keys.push_back(SyncKey{key.row, RoundToFile(key.value + by), key.interpolation});
               }
               track.replaceRows(from, from + rows, keys);
               return true;
           });
}

bool SyncFile::addTrack(const std::string &name, int position)
{
    return edit([&](SyncStep &step) {
        if (!syncTracks.insertTrack(name, position))
            return false;
        step.added.emplace_back(name, syncTracks.indexOf(name));
        return true;
    });
}

bool SyncFile::renameTrack(const std::string &from, const std::string &to)
{
    return edit([&](SyncStep &step) {
        if (!syncTracks.renameTrack(from, to))
            return false;
        step.renamed.emplace_back(from, to);
        return true;
    });
}

bool SyncFile::removeTrack(const std::string &name)
{
    return edit([&](SyncStep &step) {
        SyncTrack *track = syncTracks.find(name);
        if (!track)
            return false;
        SyncHistory::Changed(step, name, track->keys(), {});
        if (track->held())
            step.mutes.push_back(SyncMuteChange{name, track->held(), std::nullopt});
        step.removed.emplace_back(name, syncTracks.indexOf(name));
        syncTracks.removeTrack(name);
        return true;
    });
}

bool SyncFile::toggleMute(const std::string &name, double value)
{
    return edit([&](SyncStep &step) {
        SyncTrack *track = syncTracks.find(name);
        if (!track)
            return false;
        const std::optional<double> before = track->held();
        track->hold(before ? std::nullopt : std::optional<double>(RoundToFile(value)));
        step.mutes.push_back(SyncMuteChange{name, before, track->held()});
        return true;
    });
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
        pass.added.emplace_back(track, syncTracks.indexOf(track));
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
