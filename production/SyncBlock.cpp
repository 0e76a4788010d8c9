// SyncBlock: copying a block of keys and its clipboard text.
#include "SyncBlock.h"

#include <algorithm>
#include <limits>

namespace {

const char kRows[] = "#rows";

} // namespace

int SyncBlock::keyCount() const
{
    int count = 0;
    for (const auto &track : tracks)
        count += static_cast<int>(track.second.size());
    return count;
}

SyncBlock CopySyncBlock(const SyncTracks &tracks, const std::vector<std::string> &names, int from, int rows)
{
    SyncBlock block;
    block.rows = rows;
    const long long end = static_cast<long long>(from) + rows;
    for (const std::string &name : names) {
        std::vector<SyncKey> keys;
        if (const SyncTrack *track = tracks.find(name)) {
            const auto first = std::lower_bound(track->keys().begin(), track->keys().end(), from,
                                                [](const SyncKey &key, int r) { return key.row < r; });
            for (auto key = first; key != track->keys().end() && key->row < end; ++key)
                keys.push_back(SyncKey{key->row - from, key->value, key->interpolation});
        }
        block.tracks.emplace_back(name, std::move(keys));
    }
    return block;
}

std::string FormatSyncBlock(const SyncBlock &block)
{
    std::string text = std::string(kRows) + " " + std::to_string(block.rows) + "\n";
    for (const auto &[name, keys] : block.tracks) {
        if (!name.empty()) // keys that came without a track line
            text += "track " + name + "\n";
        for (const SyncKey &key : keys)
            AppendKeyLine(text, key);
    }
    return text;
}

bool ParseSyncBlock(std::string_view text, SyncBlock &block, std::string &error)
{
    if (text.size() > SyncBlock::kMaxTextBytes) {
        error = "the text is " + std::to_string(text.size() >> 20) + " MB; at most " +
                std::to_string(SyncBlock::kMaxTextBytes >> 20) + " MB of keys are pasted";
        return false;
    }
    SyncBlock read;
    int height = -1;
    int lineNumber = 0;
    std::string problem;
    for (size_t at = 0; problem.empty() && at < text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::vector<std::string_view> words = FileWords(line);
        if (words.empty())
            continue;
        const std::string_view word = words[0];
        if (words.size() == 2 && word == kRows) {
            if (!ReadFileRow(words[1], height))
                problem = "#rows must be a whole number from 0 up";
        } else if (word[0] == '#' || word == "bpm" || word == "rows-per-beat" || word == "velkaro-sync" ||
                   word == "\xEF\xBB\xBFvelkaro-sync") {
            continue; // the rest of a whole sync file
        } else if (word == "track") {
            if (words.size() != 2 || !SyncTracks::IsTrackName(words[1]))
                problem = "a track line is \"track NAME\" with one name without spaces";
            else
                read.tracks.emplace_back(std::string(words[1]), std::vector<SyncKey>());
        } else {
            SyncKey key;
            if (!ReadKeyWords(words, key, problem))
                break;
            if (read.tracks.empty())
                read.tracks.emplace_back(std::string(), std::vector<SyncKey>());
            std::vector<SyncKey> &keys = read.tracks.back().second;
            if (!keys.empty() && key.row <= keys.back().row)
                problem = "row " + std::to_string(key.row) + " is not after the key before it";
            else
                keys.push_back(SyncKey{key.row, RoundToFile(key.value), key.interpolation});
        }
    }
    if (!problem.empty()) {
        error = "line " + std::to_string(lineNumber) + ": " + problem;
        return false;
    }
    if (read.keyCount() == 0 && height < 0) {
        error = "there are no keys in it";
        return false;
    }
    int first = std::numeric_limits<int>::max(), last = 0;
    for (const auto &track : read.tracks) {
        if (!track.second.empty()) {
            first = std::min(first, track.second.front().row);
            last = std::max(last, track.second.back().row);
        }
    }
    if (read.keyCount() > 0 && last == std::numeric_limits<int>::max()) {
        error = "row " + std::to_string(last) + " is the last there is: a block ends after its last key";
        return false;
    }
    if (height < 0) { // the keys' own rows: from the first to the last
        for (auto &track : read.tracks) {
            for (SyncKey &key : track.second)
                key.row -= first;
        }
        height = last - first + 1;
    } else if (read.keyCount() > 0) {
        height = std::max(height, last + 1);
    }
    read.rows = height;
    block = std::move(read);
    error.clear();
    return true;
}
