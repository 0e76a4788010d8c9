// SyncHistory: the undo and redo of edits to sync tracks. A step records
// each key slot it changed (a track's row, with the key before and after,
// or none), each bookmark it toggled, the tracks it made, renamed, muted
// or removed, so undoing puts back exactly what was there and redoing does
// the step again. Pure logic, no files.
#pragma once

#include "SyncTracks.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct SyncKeyChange
{
    std::string track;
    int row = 0;
    std::optional<SyncKey> before, after; // none: no key on the row
};

struct SyncMuteChange
{
    std::string track;
    std::optional<double> before, after; // the value held, none: not muted
};

struct SyncStep
{
    std::vector<SyncKeyChange> keys;
    std::vector<int> bookmarks;        // rows whose bookmark was toggled
    // Tracks the step made, with their positions.
    std::vector<std::pair<std::string, int>> added;
    std::vector<std::pair<std::string, std::string>> renamed; // from, to
    std::vector<SyncMuteChange> mutes;
    // Tracks the step removed, with their positions; their keys and mutes
    // are noted as changes to none before.
    std::vector<std::pair<std::string, int>> removed;
    bool empty() const
    {
        return keys.empty() && bookmarks.empty() && added.empty() && renamed.empty() && mutes.empty() &&
               removed.empty();
    }
};

class SyncHistory
{
public:
    // Steps kept for undo; the oldest go beyond it.
    static constexpr std::size_t kMaxSteps = 10000;

    // The key slot (`track`, `row`) as it is now, to pass to changed()
    // after the edit.
    static std::optional<SyncKey> Slot(const SyncTracks &tracks, const std::string &track, int row);
    // Notes a changed key slot in the step being built (nothing when it did
    // not change).
    static void Changed(SyncStep &step, const SyncTracks &tracks, const std::string &track, int row,
                        const std::optional<SyncKey> &before);
    // Notes every key slot of `track` that differs between its keys
    // `before` and `after` (both ascending). One pass over both.
    static void Changed(SyncStep &step, const std::string &track, const std::vector<SyncKey> &before,
                        const std::vector<SyncKey> &after);

    // Keeps a done step for undo and forgets what could be redone.
    void record(SyncStep step);
    // Undoes the last step / redoes the last undone one on `tracks`; false
    // when there is none.
    bool undo(SyncTracks &tracks);
    bool redo(SyncTracks &tracks);
    bool canUndo() const { return !done.empty(); }
    bool canRedo() const { return !undone.empty(); }
    void clear();

private:
    // Puts each slot of `step` to its `before` (undo) or `after` state,
    // a track at a time in one pass; toggles its bookmarks back, and
    // removes (undo) or makes the tracks it made, renames, mutes and
    // removes them again (or back).
    static void Apply(const SyncStep &step, bool backwards, SyncTracks &tracks);

    std::deque<SyncStep> done;
    std::vector<SyncStep> undone;
};
