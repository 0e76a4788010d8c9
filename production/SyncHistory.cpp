// SyncHistory: steps recorded as key slots before and after.
#include "SyncHistory.h"

namespace {

bool Same(const std::optional<SyncKey> &a, const std::optional<SyncKey> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->row == b->row && a->value == b->value && a->interpolation == b->interpolation;
}

} // namespace

std::optional<SyncKey> SyncHistory::Slot(const SyncTracks &tracks, const std::string &track, int row)
{
    const SyncTrack *t = tracks.find(track);
    const SyncKey *key = t ? t->keyAt(row) : nullptr;
    return key ? std::optional<SyncKey>(*key) : std::nullopt;
}

void SyncHistory::Changed(SyncStep &step, const SyncTracks &tracks, const std::string &track, int row,
                          const std::optional<SyncKey> &before)
{
    std::optional<SyncKey> after = Slot(tracks, track, row);
    if (!Same(before, after))
        step.keys.push_back(SyncKeyChange{track, row, before, std::move(after)});
}

void SyncHistory::record(SyncStep step)
{
    if (step.empty())
        return;
    undone.clear();
    done.push_back(std::move(step));
    if (done.size() > kMaxSteps)
        done.pop_front();
}

void SyncHistory::Apply(const SyncStep &step, bool backwards, SyncTracks &tracks)
{
    if (!backwards) {
        for (const std::string &name : step.added)
            tracks.findOrAdd(name);
    }
    for (size_t i = 0; i < step.keys.size(); ++i) {
        const SyncKeyChange &change = step.keys[backwards ? step.keys.size() - 1 - i : i];
        const std::optional<SyncKey> &state = backwards ? change.before : change.after;
        SyncTrack *track = tracks.findOrAdd(change.track);
        if (!track)
            continue;
        if (state)
            track->setKey(change.row, state->value, state->interpolation);
        else
            track->removeKey(change.row);
    }
    for (int row : step.bookmarks)
        tracks.toggleBookmark(row);
    if (backwards) {
        for (auto name = step.added.rbegin(); name != step.added.rend(); ++name)
            tracks.removeTrack(*name);
    }
}

bool SyncHistory::undo(SyncTracks &tracks)
{
    if (done.empty())
        return false;
    Apply(done.back(), true, tracks);
    undone.push_back(std::move(done.back()));
    done.pop_back();
    return true;
}

bool SyncHistory::redo(SyncTracks &tracks)
{
    if (undone.empty())
        return false;
    Apply(undone.back(), false, tracks);
    done.push_back(std::move(undone.back()));
    undone.pop_back();
    return true;
}

void SyncHistory::clear()
{
    done.clear();
    undone.clear();
}
