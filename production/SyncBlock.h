// SyncBlock: a block of rows across tracks, as the sync pane copies, cuts
// and pastes it, and its text on the clipboard. The text is the sync
// file's own key lines: a "#rows N" line with the block's height, then
// "track NAME" and the keys of each track, rows counted from the block's
// top. So a block pasted into a text editor reads like sync.txt, and keys
// copied from sync.txt (or typed) paste back. Pure logic: no Qt.
#pragma once

#include "SyncTracks.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SyncBlock
{
    // Clipboard text beyond this is refused before it is read.
    static constexpr size_t kMaxTextBytes = 16u << 20;

    int rows = 0; // the block's height
    // Each track of the block: its name ("" for keys given without a
    // track line) and its keys, rows from 0 at the block's top.
    std::vector<std::pair<std::string, std::vector<SyncKey>>> tracks;

    int keyCount() const;
};

// The keys of the named tracks on rows [from, from + rows).
SyncBlock CopySyncBlock(const SyncTracks &tracks, const std::vector<std::string> &names, int from, int rows);

std::string FormatSyncBlock(const SyncBlock &block);

// Reads clipboard text into `block`. Lines of a whole sync file that are
// not keys (its header, bpm, rows-per-beat, comments) are passed over.
// Without a "#rows" line the block starts at the first key's row and ends
// after the last. False with `error` ("line N: ...", or why there are no
// keys) for text that is not keys; `block` is then left as it was.
bool ParseSyncBlock(std::string_view text, SyncBlock &block, std::string &error);
