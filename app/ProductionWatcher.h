// ProductionWatcher: reloads prod.lua whenever it is saved, in whatever way
// the editor saves (in place, a new file renamed over it, a burst of
// writes, delete and create), through the script host like a console
// command, between frames. The outcome of every load goes to the view's
// error board; a reload also writes "prod.lua reloaded" or the host's
// error line to the debug output.
#pragma once

#include <QObject>
#include <QString>

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
    static const int kSettleMs = 100;

private:
    // A change seen in the file or its folder: re-arm the file's watch
    // when the file behind the name was replaced, and (re)start the settle
    // timer when the file itself changed.
    void noticeChange(bool fileEvent);
    // Runs the production through the host and reports the outcome; false
    // when it failed.
    bool load();

    // What identifies one version of the file: its inode, size and times;
    // all zero while the name names nothing.
    struct Stamp
    {
        ino_t inode = 0;
        off_t size = 0;
        long long modifiedNs = 0;
        long long changedNs = 0;
        bool operator==(const Stamp &other) const
        {
            return inode == other.inode && size == other.size && modifiedNs == other.modifiedNs
                && changedNs == other.changedNs;
        }
    };
    Stamp readStamp() const;

    WorldWidget *view;
    Production *production;
    QString path;           // absolute
    QString fileName;       // as given, relative to the working directory
    QFileSystemWatcher *watcher;
    QTimer *settleTimer;
    Stamp lastStamp;        // the file as the last event saw it
    ino_t watchedInode = 0; // the inode the file watch sits on (0: none)
};
