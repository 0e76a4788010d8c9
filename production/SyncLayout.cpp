// SyncLayout: the pane's columns, their widths and the layout file.
#include "SyncLayout.h"

#include <algorithm>

namespace {

const char kHeader[] = "velkaro-sync-layout 1";

} // namespace

SyncRange SyncRange::Between(int column, int row, int otherColumn, int otherRow)
{
    return SyncRange{std::min(column, otherColumn), std::max(column, otherColumn), std::min(row, otherRow),
                     std::max(row, otherRow)};
}

std::string_view SyncLayout::GroupOf(std::string_view name)
{
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

bool SyncLayout::isFolded(std::string_view group) const
{
    return !group.empty() && std::find(folded.begin(), folded.end(), group) != folded.end();
}

void SyncLayout::toggleFold(const std::string &group)
{
    const auto at = std::find(folded.begin(), folded.end(), group);
    if (at != folded.end())
        folded.erase(at);
    else if (!group.empty())
        folded.push_back(group);
}

std::vector<SyncColumn> SyncLayout::columns(const SyncTracks &tracks) const
{
    std::vector<int> ordered;
    std::vector<bool> placed(static_cast<size_t>(tracks.count()), false);
    for (const std::string &name : order) {
        const int index = tracks.indexOf(name);
        if (index >= 0 && !placed[index]) {
            placed[index] = true;
            ordered.push_back(index);
        }
    }
    for (int i = 0; i < tracks.count(); ++i) {
        if (!placed[i])
            ordered.push_back(i);
    }
    std::vector<SyncColumn> result;
    for (int index : ordered) {
        const std::string_view group = GroupOf(tracks.track(index).name());
        if (isFolded(group)) {
            const auto same = std::find_if(result.begin(), result.end(),
                                           [&](const SyncColumn &c) { return c.folded && c.group == group; });
            if (same != result.end()) {
                same->tracks.push_back(index);
                continue;
            }
        }
        result.push_back(SyncColumn{std::string(group), {index}, isFolded(group)});
    }
    return result;
}

int SyncLayout::move(const SyncTracks &tracks, int column, int by)
{
    std::vector<SyncColumn> all = columns(tracks);
    const int to = column + by;
    if (column < 0 || column >= static_cast<int>(all.size()) || to < 0 || to >= static_cast<int>(all.size()))
        return column;
    std::swap(all[column], all[to]);
    order.clear();
    for (const SyncColumn &c : all) {
        for (int index : c.tracks)
            order.push_back(tracks.track(index).name());
    }
    return to;
}

void SyncLayout::renamed(const std::string &from, const std::string &to)
{
    std::replace(order.begin(), order.end(), from, to);
}

int SyncLayout::Chars(const SyncTracks &tracks, const SyncColumn &column)
{
    int chars = 0;
    if (column.folded) {
        chars = static_cast<int>(column.group.size() + 4 + std::to_string(column.tracks.size()).size());
    } else {
        const SyncTrack &track = tracks.track(column.tracks.front());
        // The value, a space, the three letters of the interpolation, a gap.
        chars = std::max(static_cast<int>(track.name().size()) + 1, track.valueChars() + 5);
    }
    return std::max(kMinColumnChars, std::min(chars, kMaxColumnChars));
}

std::vector<std::string> SyncLayout::Names(const SyncTracks &tracks, const std::vector<SyncColumn> &columns,
                                           int first, int last)
{
    std::vector<std::string> names;
    for (int c = std::max(0, first); c <= last && c < static_cast<int>(columns.size()); ++c) {
        for (int index : columns[c].tracks)
            names.push_back(tracks.track(index).name());
    }
    return names;
}

int SyncLayout::Fit(const std::vector<int> &chars, int first, int room)
{
    int n = 0;
    for (int c = first; c < static_cast<int>(chars.size()) && (room >= chars[c] || n == 0); ++c) {
        room -= chars[c];
        ++n;
    }
    return n;
}

int SyncLayout::Scroll(const std::vector<int> &chars, int first, int cursor, int room)
{
    if (cursor < first)
        return std::max(0, cursor);
    while (first < cursor && cursor >= first + Fit(chars, first, room))
        ++first;
    return first;
}

std::string FormatSyncLayout(const SyncLayout &layout)
{
    std::string text = std::string(kHeader) + "\n";
    if (layout.width > 0)
        text += "width " + std::to_string(layout.width) + "\n";
    if (layout.detached)
        text += "detached\n";
    for (const std::string &group : layout.folded)
        text += "fold " + group + "\n";
    for (const std::string &name : layout.order)
        text += "column " + name + "\n";
    return text;
}

bool ParseSyncLayout(std::string_view text, SyncLayout &layout, std::string &error)
{
    SyncLayout read;
    int lineNumber = 0;
    std::string problem;
    if (text.size() > SyncLayout::kMaxFileBytes)
        problem = "the file is larger than " + std::to_string(SyncLayout::kMaxFileBytes >> 20) + " MB";
    for (size_t at = 0; problem.empty() && at <= text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string_view> words = FileWords(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (lineNumber == 1) {
            if (words.size() != 2 || words[0] != "velkaro-sync-layout" || words[1] != "1")
                problem = std::string("the first line must be \"") + kHeader + "\"";
        } else if (words.empty()) {
        } else if (words[0] == "width" && words.size() == 2) {
            if (!ReadFileRow(words[1], read.width) || read.width > 100000)
                problem = "width must be a whole number of pixels from 0 to 100000";
        } else if (words[0] == "detached" && words.size() == 1) {
            read.detached = true;
        } else if ((words[0] == "fold" || words[0] == "column") && words.size() == 2) {
            (words[0] == "fold" ? read.folded : read.order).emplace_back(words[1]);
        } else {
            problem = "expected \"width N\", \"detached\", \"fold GROUP\" or \"column TRACK\"";
        }
    }
    if (!problem.empty()) {
        error = "line " + std::to_string(std::max(1, lineNumber)) + ": " + problem;
        return false;
    }
    layout = std::move(read);
    error.clear();
    return true;
}
