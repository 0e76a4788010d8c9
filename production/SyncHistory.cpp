// SyncHistory: steps recorded as key slots before and after.
#include "SyncHistory.h"

#include <algorithm>
#include <map>

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

void SyncHistory::Changed(SyncStep &step, const std::string &track, const std::vector<SyncKey> &before,
                          const std::vector<SyncKey> &after)
{
    auto a = before.begin();
    auto b = after.begin();
    while (a != before.end() || b != after.end()) {
        if (b == after.end() || (a != before.end() && a->row < b->row)) {
            step.keys.push_back(SyncKeyChange{track, a->row, *a, std::nullopt});
            ++a;
        } else if (a == before.end() || b->row < a->row) {
            step.keys.push_back(SyncKeyChange{track, b->row, std::nullopt, *b});
            ++b;
        } else {
            if (!Same(*a, *b))
                step.keys.push_back(SyncKeyChange{track, a->row, *a, *b});
            ++a;
            ++b;
        }
    }
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
        for (const auto &[name, position] : step.added)
            tracks.insertTrack(name, position);
        for (const auto &[from, to] : step.renamed)
            tracks.renameTrack(from, to);
    } else {
        for (auto removed = step.removed.rbegin(); removed != step.removed.rend(); ++removed)
            tracks.insertTrack(removed->first, removed->second);
    }
    // The slots of each track, ascending, put in one pass.
    std::map<std::string, std::vector<SyncSlot>> slots;
    for (const SyncKeyChange &change : step.keys)
        slots[change.track].emplace_back(change.row, backwards ? change.before : change.after);
    for (auto &[name, states] : slots) {
        SyncTrack *track = tracks.findOrAdd(name);
        if (!track)
            continue;
        std::sort(states.begin(), states.end(),
                  [](const SyncSlot &a, const SyncSlot &b) { return a.first < b.first; });
        track->setSlots(states);
    }
    for (const SyncMuteChange &mute : step.mutes) {
        if (SyncTrack *track = tracks.find(mute.track))
            track->hold(backwards ? mute.before : mute.after);
    }
    for (int row : step.bookmarks)
        tracks.toggleBookmark(row);
    if (backwards) {
        for (auto renamed = step.renamed.rbegin(); renamed != step.renamed.rend(); ++renamed)
            tracks.renameTrack(renamed->second, renamed->first);
        for (auto added = step.added.rbegin(); added != step.added.rend(); ++added)
            tracks.removeTrack(added->first);
    } else {
        for (const auto &removed : step.removed)
            tracks.removeTrack(removed.first);
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
