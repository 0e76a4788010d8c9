// SyncTracks: the tracks, the interpolation and the sync file's text.
#include "SyncTracks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

const char *const kNames[] = {"step", "linear", "smooth", "ramp"};
const char kHeader[] = "velkaro-sync 1";
const char kBookmark[] = "#bookmark";
const char kMute[] = "#mute";
const char kControl[] = "#control";

bool ReadInterpolation(std::string_view word, Interpolation &interpolation)
{
    for (int i = 0; i < 4; ++i) {
        if (word == kNames[i]) {
            interpolation = static_cast<Interpolation>(i);
            return true;
        }
    }
    return false;
}

std::string Quoted(std::string_view word)
{
    return "'" + std::string(word) + "'";
}

// Writes `value` with up to 6 significant digits at `at` (room for 32
// characters; the longest is "-1.23457e-308"); returns the end.
char *WriteNumber(char *at, double value)
{
    return std::to_chars(at, at + 32, value, std::chars_format::general, 6).ptr;
}

// "#control TRACK midi-cc CHANNEL CC" or "#control TRACK osc PATH" into `tracks`.
bool ReadBinding(const std::vector<std::string_view> &words, SyncTracks &tracks)
{
    ControlBinding binding;
    if (words.size() == 4 && words[2] == "osc") {
        binding.kind = ControlBinding::Osc;
        binding.path = std::string(words[3]);
    } else if (words.size() == 5 && words[2] == "midi-cc") {
        if (!ReadFileRow(words[3], binding.channel) || !ReadFileRow(words[4], binding.controller))
            return false;
    } else {
        return false;
    }
    return tracks.bind(words[1], binding);
}

} // namespace

std::vector<std::string_view> FileWords(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t')
            ++end;
        if (end > at)
            words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

bool ReadKeyWords(const std::vector<std::string_view> &words, SyncKey &key, std::string &problem)
{
    if (words.size() != 3)
        problem = "a key is \"ROW VALUE INTERPOLATION\"";
    else if (!ReadFileRow(words[0], key.row))
        problem = "row " + Quoted(words[0]) + " is not a whole number from 0 up";
    else if (!ReadFileNumber(words[1], key.value))
        problem = "value " + Quoted(words[1]) + " is not a number (decimals are written with \".\")";
    else if (!ReadInterpolation(words[2], key.interpolation))
        problem = "interpolation " + Quoted(words[2]) + " is not step, linear, smooth or ramp";
    else
        return true;
    return false;
}

void AppendKeyLine(std::string &text, const SyncKey &key)
{
    // Written in place: a long production's file has a million of them.
    char line[64];
    char *end = std::to_chars(line, line + 16, key.row).ptr;
    *end++ = ' ';
    end = WriteNumber(end, key.value);
    *end++ = ' ';
    text.append(line, end);
    text += InterpolationName(key.interpolation);
    text += '\n';
}

std::string ControlBinding::describe() const
{
    return kind == Osc ? "OSC " + path : "CC " + std::to_string(controller) + " on channel " + std::to_string(channel);
}

bool SyncTracks::IsBinding(const ControlBinding &binding)
{
    if (binding.kind == ControlBinding::Osc)
        return !binding.path.empty() && binding.path[0] == '/' && IsTrackName(binding.path);
    return binding.channel >= 1 && binding.channel <= 16 && binding.controller >= 0 && binding.controller <= 127;
}

bool SyncTracks::bind(std::string_view track, const ControlBinding &binding)
{
    if (!IsTrackName(track) || !IsBinding(binding))
        return false;
    controls[std::string(track)] = binding;
    return true;
}

bool ReadFileNumber(std::string_view word, double &value)
{
    if (!word.empty() && word[0] == '+')
        word.remove_prefix(1);
    const char *end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool ReadFileRow(std::string_view word, int &row)
{
    const char *end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, row);
    return !word.empty() && word[0] != '-' && result.ec == std::errc() && result.ptr == end;
}

// --- Interpolation -----------------------------------------------------------

const char *InterpolationName(Interpolation interpolation)
{
    return kNames[static_cast<int>(interpolation)];
}

Interpolation NextInterpolation(Interpolation interpolation)
{
    return static_cast<Interpolation>((static_cast<int>(interpolation) + 1) % 4);
}

double Shape(Interpolation interpolation, double t)
{
    switch (interpolation) {
    case Interpolation::Step:
        return 0.0;
    case Interpolation::Linear:
        return t;
    case Interpolation::Smooth:
        return t * t * (3.0 - 2.0 * t);
    case Interpolation::Ramp:
        return t * t;
    }
    return 0.0;
}

std::string FormatNumber(double value)
{
    char text[32];
    return std::string(text, WriteNumber(text, value));
}

double RoundToFile(double value)
{
    double rounded = value;
    const std::string text = FormatNumber(value);
    std::from_chars(text.data(), text.data() + text.size(), rounded);
    return rounded;
}

// --- One track -----------------------------------------------------------------

double SyncTrack::valueAt(double row) const
{
    if (heldValue)
        return *heldValue;
    const size_t n = keyList.size();
    if (n == 0)
        return 0.0;
    if (!(row > keyList[0].row)) // also NaN
        return keyList[0].value;
    if (row >= keyList[n - 1].row)
        return keyList[n - 1].value;
    // Here n >= 2 and the row lies inside some segment [k, k + 1).
    size_t k = segment;
    const auto inside = [&](size_t i) { return i + 1 < n && keyList[i].row <= row && row < keyList[i + 1].row; };
    if (!inside(k)) {
        if (inside(k + 1)) {
            ++k;
        } else {
            const auto after = std::upper_bound(keyList.begin(), keyList.end(), row,
                                                [](double r, const SyncKey &key) { return r < key.row; });
            k = static_cast<size_t>(after - keyList.begin()) - 1;
        }
        segment = k;
    }
    const SyncKey &a = keyList[k];
    const SyncKey &b = keyList[k + 1];
    const double t = (row - a.row) / (b.row - a.row);
    return a.value + (b.value - a.value) * Shape(a.interpolation, t);
}

const SyncKey *SyncTrack::keyAt(int row) const
{
    const auto at = std::lower_bound(keyList.begin(), keyList.end(), row,
                                     [](const SyncKey &key, int r) { return key.row < r; });
    return at != keyList.end() && at->row == row ? &*at : nullptr;
}

SyncKey *SyncTrack::keyFor(int row, double value)
{
    if (row < 0 || !std::isfinite(value))
        return nullptr;
    const auto at = std::lower_bound(keyList.begin(), keyList.end(), row,
                                     [](const SyncKey &key, int r) { return key.row < r; });
    widest = -1;
    if (at != keyList.end() && at->row == row)
        return &*at;
    segment = 0;
    return &*keyList.insert(at, SyncKey{row, 0.0, Interpolation::Step});
}

int SyncTrack::valueChars() const
{
    if (widest < 0) {
        widest = 0;
        for (const SyncKey &key : keyList)
            widest = std::max(widest, static_cast<int>(FormatNumber(key.value).size()));
    }
    return widest;
}

void SyncTrack::setSlots(const std::vector<SyncSlot> &slots)
{
    std::vector<SyncKey> merged;
    merged.reserve(keyList.size() + slots.size());
    auto key = keyList.begin();
    for (const SyncSlot &slot : slots) {
        while (key != keyList.end() && key->row < slot.first)
            merged.push_back(*key++);
        if (key != keyList.end() && key->row == slot.first)
            ++key;
        if (slot.second)
            merged.push_back(SyncKey{slot.first, slot.second->value, slot.second->interpolation});
    }
    merged.insert(merged.end(), key, keyList.end());
    keyList = std::move(merged);
    changed();
}

void SyncTrack::replaceRows(int from, int to, const std::vector<SyncKey> &keys)
{
    const auto byRow = [](const SyncKey &key, int r) { return key.row < r; };
    const auto first = std::lower_bound(keyList.begin(), keyList.end(), from, byRow);
    const auto last = std::lower_bound(first, keyList.end(), to, byRow);
    const auto at = keyList.erase(first, last);
    keyList.insert(at, keys.begin(), keys.end());
    changed();
}

bool SyncTrack::shiftRows(int from, int by)
{
    const auto byRow = [](const SyncKey &key, int r) { return key.row < r; };
    auto first = std::lower_bound(keyList.begin(), keyList.end(), from, byRow);
    if (by == 0)
        return true;
    if ((first != keyList.end() && static_cast<long long>(keyList.back().row) + by > std::numeric_limits<int>::max()) ||
        static_cast<long long>(from) + by < 0)
        return false;
    if (by < 0) // the rows moved over go
        first = keyList.erase(std::lower_bound(keyList.begin(), first, from + by, byRow), first);
    for (auto key = first; key != keyList.end(); ++key)
        key->row += by;
    changed();
    return true;
}

bool SyncTrack::setKey(int row, double value)
{
    SyncKey *key = keyFor(row, value);
    if (key)
        key->value = RoundToFile(value);
    return key;
}

bool SyncTrack::setKey(int row, double value, Interpolation interpolation)
{
    SyncKey *key = keyFor(row, value);
    if (key)
        *key = SyncKey{row, RoundToFile(value), interpolation};
    return key;
}

bool SyncTrack::cycleInterpolation(int row)
{
    SyncKey *key = const_cast<SyncKey *>(keyAt(row));
    if (!key)
        return false;
    key->interpolation = NextInterpolation(key->interpolation);
    return true;
}

bool SyncTrack::removeKey(int row)
{
    const SyncKey *key = keyAt(row);
    if (!key)
        return false;
    keyList.erase(keyList.begin() + (key - keyList.data()));
    changed();
    return true;
}

bool SyncTrack::appendKey(const SyncKey &key)
{
    if (key.row < 0 || (!keyList.empty() && key.row <= keyList.back().row))
        return false;
    keyList.push_back(SyncKey{key.row, RoundToFile(key.value), key.interpolation});
    widest = -1;
    return true;
}

// --- The set of tracks -------------------------------------------------------------

bool SyncTracks::IsTrackName(std::string_view name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == 0x7f)
            return false;
    }
    return true;
}

SyncTrack *SyncTracks::find(std::string_view name) const
{
    const auto at = index.find(name);
    return at == index.end() ? nullptr : tracks[at->second].get();
}

SyncTrack *SyncTracks::findOrAdd(std::string_view name)
{
    if (SyncTrack *track = find(name))
        return track;
    if (!IsTrackName(name))
        return nullptr;
    tracks.push_back(std::make_unique<SyncTrack>(std::string(name)));
    index.emplace(tracks.back()->name(), count() - 1);
    return tracks.back().get();
}

bool SyncTracks::removeTrack(std::string_view name)
{
    const auto at = index.find(name);
    if (at == index.end())
        return false;
    const int removed = at->second;
    index.erase(at);
    tracks.erase(tracks.begin() + removed);
    for (auto &entry : index) {
        if (entry.second > removed)
            --entry.second;
    }
    return true;
}

SyncTrack *SyncTracks::insertTrack(std::string_view name, int position)
{
    if (find(name) || !IsTrackName(name))
        return nullptr;
    position = std::max(0, std::min(position, count()));
    for (auto &entry : index) {
        if (entry.second >= position)
            ++entry.second;
    }
    tracks.insert(tracks.begin() + position, std::make_unique<SyncTrack>(std::string(name)));
    index.emplace(tracks[position]->name(), position);
    return tracks[position].get();
}

int SyncTracks::indexOf(std::string_view name) const
{
    const auto at = index.find(name);
    return at == index.end() ? -1 : at->second;
}

bool SyncTracks::renameTrack(std::string_view from, std::string_view to)
{
    const auto at = index.find(from);
    if (at == index.end() || find(to) || !IsTrackName(to))
        return false;
    // A control bound to the track stays with it under its new name (moved
    // first: `from` may be the track's own name, which the rename replaces).
    if (const auto bound = controls.find(from); bound != controls.end()) {
        ControlBinding binding = bound->second;
        controls.erase(bound);
        controls[std::string(to)] = binding;
    }
    const int position = at->second;
    index.erase(at);
    tracks[position]->trackName = std::string(to);
    index.emplace(tracks[position]->name(), position);
    return true;
}

double SyncTracks::value(std::string_view name, double row)
{
    const SyncTrack *track = findOrAdd(name);
    return track ? track->valueAt(row) : 0.0;
}

bool SyncTracks::toggleBookmark(int row)
{
    if (row < 0)
        return false;
    const auto at = std::lower_bound(marks.begin(), marks.end(), row);
    if (at != marks.end() && *at == row)
        marks.erase(at);
    else
        marks.insert(at, row);
    return true;
}

int SyncTracks::nextBookmark(int row) const
{
    const auto at = std::upper_bound(marks.begin(), marks.end(), row);
    return at == marks.end() ? -1 : *at;
}

int SyncTracks::previousBookmark(int row) const
{
    const auto at = std::lower_bound(marks.begin(), marks.end(), row);
    return at == marks.begin() ? -1 : *(at - 1);
}

// --- The file's text -----------------------------------------------------------------

bool ParseSyncText(std::string_view text, SyncTracks &tracks, std::string &error)
{
    SyncTracks read;
    SyncTrack *current = nullptr;
    int lineNumber = 0;
    std::string problem;
    // Mutes name tracks the file may give further down: applied at the end.
    struct Mute
    {
        std::string track;
        double value;
        int line;
    };
    std::vector<Mute> mutes;
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    const std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    size_t at = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    while (problem.empty() && at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::vector<std::string_view> words = FileWords(line);

        if (lineNumber == 1) {
            if (words.size() == 2 && words[0] == "velkaro-sync" && words[1] != "1")
                problem = "version " + std::string(words[1]) + " of the sync format is not known (this program reads 1)";
            else if (words.size() != 2 || words[0] != "velkaro-sync")
                problem = std::string("not a sync file: the first line must be \"") + kHeader + "\"";
            continue;
        }
        int row = 0;
        if (words.size() == 2 && words[0] == kBookmark && ReadFileRow(words[1], row)) {
            if (read.nextBookmark(row - 1) != row) // the same row twice is one bookmark
                read.toggleBookmark(row);
            continue;
        }
        double held = 0.0;
        if (words.size() == 3 && words[0] == kMute && ReadFileNumber(words[2], held)) {
            mutes.push_back(Mute{std::string(words[1]), held, lineNumber});
            continue;
        }
        if (!words.empty() && words[0] == kControl) {
            if (!ReadBinding(words, read))
                problem = "a control line is \"#control TRACK midi-cc CHANNEL CC\" (channel 1 to 16, CC 0 to 127) "
                          "or \"#control TRACK osc /PATH\"";
            continue;
        }
        if (words.empty() || words[0][0] == '#')
            continue;

        const std::string_view word = words[0];
        double number = 0.0;
        if (word == "bpm") {
            if (words.size() != 2 || !ReadFileNumber(words[1], number) || !SyncTracks::IsBpm(number))
                problem = "bpm must be one number above 0 and at most " + FormatNumber(SyncTracks::kMaxBpm);
            else
                read.bpm = number;
        } else if (word == "rows-per-beat") {
            int rows = 0;
            if (words.size() != 2 || !ReadFileRow(words[1], rows) || !SyncTracks::IsRowsPerBeat(rows))
                problem = "rows-per-beat must be one whole number from 1 to " +
                          std::to_string(SyncTracks::kMaxRowsPerBeat);
            else
                read.rowsPerBeat = rows;
        } else if (word == "track") {
            if (words.size() != 2)
                problem = "a track line is \"track NAME\" with one name without spaces";
            else if (!SyncTracks::IsTrackName(words[1]))
                problem = "track name " + Quoted(words[1]) + " has a control character in it";
            else if (read.find(words[1]))
                problem = "track " + Quoted(words[1]) + " is given twice";
            else
                current = read.findOrAdd(words[1]);
        } else if (word[0] == '-' || (word[0] >= '0' && word[0] <= '9')) {
            SyncKey key;
            if (!current)
                problem = "a key before the first track line";
            else if (ReadKeyWords(words, key, problem) && !current->appendKey(key))
                problem = "row " + std::to_string(key.row) + " is not after the key before it (row " +
                          std::to_string(current->keys().back().row) + ")";
        } else {
            problem = "unknown line " + Quoted(line) +
                      ": expected a key, \"track NAME\", \"bpm\" or \"rows-per-beat\"";
        }
    }
    if (lineNumber == 1 && text.empty())
        problem = std::string("the file is empty: the first line must be \"") + kHeader + "\"";
    for (size_t i = 0; i < mutes.size() && problem.empty(); ++i) {
        if (SyncTrack *track = read.find(mutes[i].track)) {
            track->hold(RoundToFile(mutes[i].value));
        } else {
            lineNumber = mutes[i].line;
            problem = "track " + Quoted(mutes[i].track) + " is muted but the file has no such track";
        }
    }
    if (!problem.empty()) {
        error = "line " + std::to_string(lineNumber) + ": " + problem;
        return false;
    }
    tracks = std::move(read);
    error.clear();
    return true;
}

std::string FormatSyncText(const SyncTracks &tracks)
{
    std::string text = std::string(kHeader) + "\n";
    size_t keys = 0;
    for (int i = 0; i < tracks.count(); ++i)
        keys += tracks.track(i).keys().size();
    text.reserve(64 + keys * 20);
    text += "bpm " + FormatNumber(tracks.bpm) + "\n";
    text += "rows-per-beat " + std::to_string(tracks.rowsPerBeat) + "\n";
    for (int row : tracks.bookmarks())
        text += std::string(kBookmark) + " " + std::to_string(row) + "\n";
    for (const auto &[name, binding] : tracks.bindings()) {
        text += std::string(kControl) + " " + name;
        text += binding.kind == ControlBinding::Osc ? " osc " + binding.path
                                                    : " midi-cc " + std::to_string(binding.channel) + " " +
                                                          std::to_string(binding.controller);
        text += "\n";
    }
    for (int i = 0; i < tracks.count(); ++i) {
        if (const std::optional<double> &held = tracks.track(i).held())
            text += std::string(kMute) + " " + tracks.track(i).name() + " " + FormatNumber(*held) + "\n";
    }
    for (int i = 0; i < tracks.count(); ++i) {
        const SyncTrack &track = tracks.track(i);
        text += "track " + track.name() + "\n";
        for (const SyncKey &key : track.keys())
            AppendKeyLine(text, key);
    }
    return text;
}
