// SyncFile: the production's sync tracks and the file "sync.txt" they live
// in. Reads the file (again whenever it changed on disk), keeps the last
// good tracks when a version does not parse, and writes the whole file
// after every edit, atomically (written aside, then renamed over).
#pragma once

#include "WatchedFile.h"

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
    // Writes the tracks as they are.
    bool write();

private:
    // Takes in a change on disk, then applies `change` (which notes what it
    // did in the step it is given), keeps the step for undo and writes.
    template <class Edit> bool edit(Edit change);
    // An edit of the key slot (`track`, `row`) by `change`.
    template <class Change> bool editKey(const std::string &track, int row, Change change);

    QString name;
    SyncTracks syncTracks;
    std::string problem;
    bool diskBad = false; // the file on disk did not parse
    WatchedFile watch;    // the version taken is the one last read or written
    SyncHistory history;
    SyncStep pass; // the recording pass under way
};
