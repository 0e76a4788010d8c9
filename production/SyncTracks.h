// SyncTracks: named tracks of keyframes on the row grid of the tempo, read
// by the production with sync(name) and edited in the sync pane, and their
// plain-text file format (parse and format). Pure logic: no files, no Qt,
// no GL.
//
// A key sits on a whole row and holds a value and the interpolation towards
// the next key. Before the first key a track holds the first key's value,
// after the last key the last key's value; a track without keys is 0.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class Interpolation { Step, Linear, Smooth, Ramp };

// "step", "linear", "smooth", "ramp".
const char *InterpolationName(Interpolation interpolation);
// The next one in that order, after "ramp" "step" again.
Interpolation NextInterpolation(Interpolation interpolation);
// The fraction of the way (0..1) shaped by the interpolation: step 0,
// linear t, smooth t²(3 − 2t), ramp t².
double Shape(Interpolation interpolation, double t);

// `value` rounded to the 6 significant digits the file keeps, so what the
// program plays is what the file says after a restart.
double RoundToFile(double value);
// `value` as the file writes it: up to 6 significant digits, "." as the
// decimal point whatever the locale.
std::string FormatNumber(double value);

// A whole word as a finite number with "." as the decimal point (a
// leading "+" allowed), as the file writes values.
bool ReadFileNumber(std::string_view word, double &value);
// A whole word of digits as a row from 0 to the largest int.
bool ReadFileRow(std::string_view word, int &row);
// The words of a line, split at spaces and tabs.
std::vector<std::string_view> FileWords(std::string_view line);

struct SyncKey
{
    int row = 0;
    double value = 0.0;
    Interpolation interpolation = Interpolation::Step;
};

// A key line "ROW VALUE INTERPOLATION" split into its words; false with
// `problem` saying what is wrong.
bool ReadKeyWords(const std::vector<std::string_view> &words, SyncKey &key, std::string &problem);
// Appends the key as a line of the file, "\n" included.
void AppendKeyLine(std::string &text, const SyncKey &key);

// A key slot (a row of a track) and what is on it: a key or none.
using SyncSlot = std::pair<int, std::optional<SyncKey>>;

class SyncTrack
{
public:
    explicit SyncTrack(std::string name) : trackName(std::move(name)) {}

    const std::string &name() const { return trackName; }
    const std::vector<SyncKey> &keys() const { return keyList; }

    // The value at a fractional row; while the track is muted, the value
    // it holds. Remembers the segment it found, so rows that move on
    // steadily (frames) cost no search.
    double valueAt(double row) const;

    // A muted track holds one value whatever its keys say.
    const std::optional<double> &held() const { return heldValue; }
    void hold(std::optional<double> value) { heldValue = value; }

    // The characters of the widest value as the file writes it (0 without
    // keys); kept until the keys change.
    int valueChars() const;

    // The key on `row`, or null.
    const SyncKey *keyAt(int row) const;
    // Sets the value of the key on `row` (its interpolation stays), or adds
    // a key there that holds its value (step). The value is rounded to the
    // file's 6 digits. Rows below 0 are refused (false).
    bool setKey(int row, double value);
    // The same, the key taking `interpolation` as well.
    bool setKey(int row, double value, Interpolation interpolation);
    // Cycles the interpolation of the key on `row`; false when none is there.
    bool cycleInterpolation(int row);
    // Removes the key on `row`; false when none is there.
    bool removeKey(int row);
    // Removes every key.
    void clearKeys()
    {
        keyList.clear();
        changed();
    }
    // Appends a key after the last one (the parser's way in); false unless
    // its row is after the last key's.
    bool appendKey(const SyncKey &key);
    // Puts each slot's state on its row (a key there, or none); `slots` in
    // ascending rows, each row once. One pass over the keys.
    void setSlots(const std::vector<SyncSlot> &slots);
    // Replaces the keys on rows [from, to) by `keys` (ascending, inside
    // those rows). One pass over the keys.
    void replaceRows(int from, int to, const std::vector<SyncKey> &keys);
    // Puts back keys taken from keys() before (ascending).
    void restoreKeys(std::vector<SyncKey> keys)
    {
        keyList = std::move(keys);
        changed();
    }
    // Moves the keys on rows from `from` down by `by` rows, or up for a
    // negative `by` (the keys on the rows moved over are removed). False,
    // nothing moved, when a key would leave the rows 0 to the largest int.
    bool shiftRows(int from, int by);

private:
    friend class SyncTracks; // renames

    // The keys changed: the remembered segment and width start over.
    void changed()
    {
        segment = 0;
        widest = -1;
    }
    // The key on `row` (made, stepping, when there is none), or null for a
    // row below 0 or a value that is no number.
    SyncKey *keyFor(int row, double value);

    std::string trackName;
    std::vector<SyncKey> keyList;
    mutable size_t segment = 0; // the key the last valueAt started from
    mutable int widest = -1;    // valueChars(), -1 until counted
    std::optional<double> heldValue;
};

// The controller a track follows and records: a MIDI control change (its
// channel 1..16 and controller number 0..127) or an OSC path (the first
// argument of its messages).
struct ControlBinding
{
    enum Kind { MidiCC, Osc };
    Kind kind = MidiCC;
    int channel = 1;
    int controller = 0;
    std::string path;
    bool operator==(const ControlBinding &other) const
    {
        return kind == other.kind && (kind == Osc ? path == other.path
                                                  : channel == other.channel && controller == other.controller);
    }
    // "CC 7 on channel 1", "OSC /fader/1".
    std::string describe() const;
};

class SyncTracks
{
public:
    static constexpr double kDefaultBpm = 120.0;
    static constexpr int kDefaultRowsPerBeat = 4;
    // The tempo a file may give: bpm above 0 and at most kMaxBpm,
    // rows-per-beat from 1 to kMaxRowsPerBeat.
    static constexpr double kMaxBpm = 100000.0;
    static constexpr int kMaxRowsPerBeat = 1000;
    static bool IsBpm(double bpm) { return bpm > 0.0 && bpm <= kMaxBpm; }
    static bool IsRowsPerBeat(long rows) { return rows >= 1 && rows <= kMaxRowsPerBeat; }

    double bpm = kDefaultBpm;
    int rowsPerBeat = kDefaultRowsPerBeat;

    int count() const { return static_cast<int>(tracks.size()); }
    const SyncTrack &track(int index) const { return *tracks[index]; }
    SyncTrack &track(int index) { return *tracks[index]; }

    // The track of that name, or null. No allocation.
    SyncTrack *find(std::string_view name) const;
    // The track of that name, made empty at the end when new; null when the
    // name cannot be written to the file (empty, or with a space or a
    // control character in it).
    SyncTrack *findOrAdd(std::string_view name);
    // Removes the named track; false when there is none.
    bool removeTrack(std::string_view name);
    // Makes an empty track of that name at `position` (0 first, clamped to
    // the end); null when the name is taken or cannot be a track.
    SyncTrack *insertTrack(std::string_view name, int position);
    // The position of the named track, -1 when there is none.
    int indexOf(std::string_view name) const;
    // Gives a track a new name; false when there is no track `from`, `to`
    // is taken or cannot be a track name.
    bool renameTrack(std::string_view from, std::string_view to);
    // The value of the named track at `row`, 0 for a name that cannot be a
    // track. A new name makes an empty track.
    double value(std::string_view name, double row);

    // A name is any run of characters without spaces or control characters.
    static bool IsTrackName(std::string_view name);

    // Bookmarked rows, ascending, each once.
    const std::vector<int> &bookmarks() const { return marks; }
    // Adds a bookmark on `row`, or removes the one there; false for a row
    // below 0.
    bool toggleBookmark(int row);
    // The first bookmark after `row` / the last one before it; -1 when
    // there is none.
    int nextBookmark(int row) const;
    int previousBookmark(int row) const;

    // The controls the tracks are bound to, by track name.
    const std::map<std::string, ControlBinding, std::less<>> &bindings() const { return controls; }
    // Binds the named track (made when new) to `binding`, replacing what it
    // had; false for a name that cannot be a track or a binding the file
    // cannot hold (a channel outside 1..16, a controller outside 0..127,
    // an OSC path that does not start with "/" or has a space in it).
    bool bind(std::string_view track, const ControlBinding &binding);
    static bool IsBinding(const ControlBinding &binding);

private:
    // Tracks live on the heap, so the names the index views never move.
    std::vector<std::unique_ptr<SyncTrack>> tracks;
    std::unordered_map<std::string_view, int> index;
    std::vector<int> marks;
    std::map<std::string, ControlBinding, std::less<>> controls;
};

// Reads the text of a sync file into `tracks`. On success `tracks` is
// replaced and true returned; on the first error `tracks` is left as it was
// and `error` says "line N: what is wrong".
bool ParseSyncText(std::string_view text, SyncTracks &tracks, std::string &error);

// The text of a sync file: the header, bpm, rows-per-beat, a "#bookmark ROW"
// line for each bookmark, a "#mute NAME VALUE" line for each muted track,
// a "#control NAME midi-cc CHANNEL CC" or "#control NAME osc PATH" line for
// each bound track (by name), then every track in order with its keys. The
// bookmark, mute and control lines start with "#", so a reader that does not
// know them takes them for comments and still reads the tracks.
std::string FormatSyncText(const SyncTracks &tracks);
