// SyncFile: the production's sync tracks and the file "sync.txt" they live
// in. Reads the file (again whenever it changed on disk), keeps the last
// good tracks when a version does not parse, and writes the whole file
// after every edit, atomically (written aside, then renamed over).
#pragma once

#include "WatchedFile.h"

#include "SyncBlock.h"
#include "SyncHistory.h"
#include "SyncTracks.h"

#include <QString>

#include <string>

class SyncFile
{
public:
    explicit SyncFile(const QString &fileName = QStringLiteral("sync.txt"));

    SyncTracks &tracks() { return syncTracks; }
    const SyncTracks &tracks() const { return syncTracks; }
    const QString &fileName() const { return name; }

    // Reads the file now. No file is no error and keeps the tracks. True
    // when the tracks were replaced.
    bool read();
    // Reads the file when a version saved since it was last read or
    // written has settled (the run's watched-file rule, so a save still in
    // progress is not read half way). True when it was read (well or not).
    bool readIfChanged(WatchedFile::Clock::time_point now = WatchedFile::Clock::now());

    // What went wrong with the last read or write, "line N: ..." for a
    // file that does not parse; empty when all is well.
    const std::string &error() const { return problem; }

    // --- Edits (the sync pane's): each takes in a change on disk first,
    // changes the tracks and writes the file. They are refused (false,
    // nothing changed) while the file on disk does not parse, so it is
    // never written over; also when the change is not possible or the
    // file cannot be written (then error() says why; the edit is kept and
    // the next write saves it).
    bool setKey(const std::string &track, int row, double value);
    bool cycleInterpolation(const std::string &track, int row);
    bool removeKey(const std::string &track, int row);
    // Adds a bookmark on `row` or removes the one there.
    bool toggleBookmark(int row);

    // Edits of the rows [from, from + rows) of the named tracks (the
    // pane's block), each one step. A paste puts `block`'s tracks on the
    // `targets` in order (as many as both have) at `row`, the rows the
    // block covers cleared first; insertRows moves the keys from `row` down
    // by `rows`, deleteRows removes the rows' keys and moves those below up;
    // bias adds `by` to the values of the keys there. Refused when a key
    // would leave the rows there are.
    bool paste(const SyncBlock &block, const std::vector<std::string> &targets, int row);
    bool clearRows(const std::vector<std::string> &names, int from, int rows);
    bool insertRows(const std::vector<std::string> &names, int row, int rows);
    bool deleteRows(const std::vector<std::string> &names, int row, int rows);
    bool bias(const std::vector<std::string> &names, int from, int rows, double by);

    // Tracks: a new empty one at `position`, a new name (refused when taken
    // or no track name), one removed with its keys; a mute holds `value`
    // (the track's value now) until unmuted.
    bool addTrack(const std::string &name, int position);
    bool renameTrack(const std::string &from, const std::string &to);
    bool removeTrack(const std::string &name);
    bool toggleMute(const std::string &name, double value);
    // Binds the track to a controller (replacing its binding). Not an undo step.
    bool bind(const std::string &track, const ControlBinding &binding);
    // A recording pass: each recorded key (linear) is written at once;
    // a row recorded again in the same pass takes the newer value. The
    // pass is one undo step from its first key to endPass.
    bool recordKey(const std::string &track, int row, double value);
    void endPass();
    bool inPass() const { return !pass.empty(); }
    // Undoes the last edit / redoes the last undone one (false when there
    // is none). The history starts over whenever the file is read.
    bool undo();
    bool redo();
    // Sets the file's tempo (a tapped one the user keeps) and writes; not
    // an undoable step. Refused like the edits, and for a bpm the file
    // cannot hold.
    bool setBpm(double bpm);
    // Writes the tracks as they are.
    bool write();

private:
    // Takes in a change on disk; false while the file on disk does not parse.
    bool takeDiskChange();
    // Takes in a change on disk, then applies `change` (which notes what it
    // did in the step it is given), keeps the step for undo and writes.
    template <class Edit> bool edit(Edit change);
    // An edit of the key slot (`track`, `row`) by `change`.
    template <class Change> bool editKey(const std::string &track, int row, Change change);
    // An edit of the keys of the named tracks by `change(track)`, called
    // for each; when one refuses, all are put back as they were.
    template <class Change> bool editTracks(const std::vector<std::string> &names, Change change);

    QString name;
    SyncTracks syncTracks;
    std::string problem;
    bool diskBad = false; // the file on disk did not parse
    WatchedFile watch;    // the version taken is the one last read or written
    SyncHistory history;
    SyncStep pass; // the recording pass under way
};
