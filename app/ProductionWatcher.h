// ProductionWatcher: reloads prod.lua whenever it is saved, in whatever way
// the editor saves (in place, a new file renamed over it, a burst of
// writes, delete and create), through the script host like a console
// command, between frames. The outcome of every load goes to the view's
// error board; a reload also writes "prod.lua reloaded" or the host's
// error line to the debug output. The other files that the production's
// top level read from its folder (dofile, loadfile, require) are watched
// the same way: saving one runs the production again, which reads them.
#pragma once

#include "FileStamp.h"

#include <QObject>
#include <QString>

#include <vector>

#include <sys/types.h>

class Production;
class QFileSystemWatcher;
class QTimer;
class WorldWidget;

class ProductionWatcher : public QObject
{
    Q_OBJECT

public:
    // Watches `fileName` (taken from the working directory now) and its
    // folder; `production` runs it and takes the outcome on its world's
    // error board, in the GL context of `view`.
    ProductionWatcher(WorldWidget *view, Production *production, const QString &fileName,
                      QObject *parent = nullptr);

    // The start-up run of the production: dofile without announcing it,
    // its outcome reported to the board. The view need not be shown yet.
    void RunAtStartUp();

    // Runs the production again now (the debounce timer calls this).
    void Reload();

    // Wait after the last change before reloading, in milliseconds.
    static constexpr int kSettleMs = 100;

private:
    // A change seen in a watched file (`changedPath`) or in a folder (an
    // empty path): re-arm a file's watch when the file behind its name was
    // replaced, and (re)start the settle timer when a watched file itself
    // changed (another file only once it exists again).
    void noticeChange(const QString &changedPath);
    // Runs the production through the host, reports the outcome, and
    // watches the files it read; false when it failed.
    bool load();
    // Watches the production's other files as its last run read them
    // (after a failed run, those read before as well).
    void followFilesRead(bool succeeded);

    // What identifies one version of the file: its inode, size and times;
    // all zero while the name names nothing.
    using Stamp = FileStamp;
    static Stamp readStamp(const QString &path);

    // One watched file: the production (always the first) or one it read.
    struct Watched
    {
        QString path;           // absolute
        Stamp lastStamp;        // the file as the last event saw it
        ino_t watchedInode = 0; // the inode the file watch sits on (0: none)
    };
    // Watches `path` (and its folder) from now on, as it is now.
    void watch(const QString &path);
    // Puts the file watch on the file now behind the name (see noticeChange).
    void rearm(Watched &file, const Stamp &stamp);

    WorldWidget *view;
    Production *production;
    QString folder;         // the production's folder, absolute
    QString fileName;       // as given, relative to the working directory
    QFileSystemWatcher *watcher;
    QTimer *settleTimer;
    std::vector<Watched> files;
};
