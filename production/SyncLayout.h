// SyncLayout: how the sync pane lays the tracks out, kept beside sync.txt
// in its own file ("sync-layout.txt") so the tracks' file stays the same
// whoever looks at it: the pane's width, whether it is detached into its
// own window, the groups folded and the columns' order. A track named
// "group:name" belongs to "group"; a folded group is one column. Also
// which columns fit the width, and the block of cells selected. Pure
// logic: no Qt.
#pragma once

#include "SyncTracks.h"

#include <string>
#include <string_view>
#include <vector>

struct SyncColumn
{
    std::string group;       // "" for a track outside groups
    std::vector<int> tracks; // the track, or a folded group's members
    bool folded = false;
};

// A block of cells: columns and rows, first to last, both included.
struct SyncRange
{
    int firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
    // The block between two corners, in whichever order.
    static SyncRange Between(int column, int row, int otherColumn, int otherRow);
    bool contains(int column, int row) const
    {
        return column >= firstColumn && column <= lastColumn && row >= firstRow && row <= lastRow;
    }
    int rows() const { return lastRow - firstRow + 1; }
};

class SyncLayout
{
public:
    static constexpr int kMinColumnChars = 8;
    static constexpr int kMaxColumnChars = 28; // longer names are cut (whole on hover)
    static constexpr size_t kMaxFileBytes = 1u << 20;

    int width = 0; // the pane's width in pixels, 0 before it was set
    bool detached = false;
    std::vector<std::string> order;  // tracks by name, in column order
    std::vector<std::string> folded; // groups shown as one column

    // The group of a track name: what comes before its first ':' ("" for
    // none).
    static std::string_view GroupOf(std::string_view name);

    bool isFolded(std::string_view group) const;
    void toggleFold(const std::string &group);

    // The columns: the tracks in `order`, the others after them in file
    // order; a folded group's tracks are one column where its first track
    // would be.
    std::vector<SyncColumn> columns(const SyncTracks &tracks) const;
    // Moves a column one place left (by -1) or right (+1), a folded group
    // whole; returns where it is now.
    int move(const SyncTracks &tracks, int column, int by);
    // A track's new name takes its old one's place.
    void renamed(const std::string &from, const std::string &to);

    // A column's width in characters: its name (a folded group's with its
    // count) and its widest value with the interpolation's tag.
    static int Chars(const SyncTracks &tracks, const SyncColumn &column);
    // The names of the tracks in columns first to last.
    static std::vector<std::string> Names(const SyncTracks &tracks, const std::vector<SyncColumn> &columns,
                                          int first, int last);
    // How many columns of `chars` from `first` fit in `room` characters
    // (at least one, when there is one).
    static int Fit(const std::vector<int> &chars, int first, int room);
    // The first column to show so that `cursor` is shown: `first` when it
    // already is, else scrolled just far enough.
    static int Scroll(const std::vector<int> &chars, int first, int cursor, int room);
};

// The layout file's text, and reading it back: false with "line N: ..."
// (the layout left as it was) for text that is not a layout.
std::string FormatSyncLayout(const SyncLayout &layout);
bool ParseSyncLayout(std::string_view text, SyncLayout &layout, std::string &error);
