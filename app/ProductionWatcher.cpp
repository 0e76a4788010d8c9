// ProductionWatcher: file and folder watch, the settle timer, and the
// reload of the production through the script host.
#include "ProductionWatcher.h"

#include "Production.h"
#include "WorldWidget.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <sys/stat.h>   // stat: inode and nanosecond times of the file

ProductionWatcher::ProductionWatcher(WorldWidget *view, Production *production, const QString &fileName,
                                     QObject *parent)
    : QObject(parent)
    , view(view)
    , production(production)
    , path(QDir::current().absoluteFilePath(fileName))
    , fileName(fileName)
    , watcher(new QFileSystemWatcher(this))
    , settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(kSettleMs);
    connect(settleTimer, &QTimer::timeout, this, &ProductionWatcher::Reload);

    // The folder watch sees the file created, deleted or renamed over; the
    // file watch sees writes in place.
    watcher->addPath(QFileInfo(path).absolutePath());
    connect(watcher, &QFileSystemWatcher::fileChanged, this, [this] { noticeChange(true); });
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this] { noticeChange(false); });
    lastStamp = readStamp();
    noticeChange(false);
    settleTimer->stop();   // setting up is no change
}

ProductionWatcher::Stamp ProductionWatcher::readStamp() const
{
    Stamp stamp;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        stamp.inode = info.st_ino;
        stamp.size = info.st_size;
        stamp.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
        stamp.changedNs = static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
    }
    return stamp;
}

void ProductionWatcher::noticeChange(bool fileEvent)
{
    const Stamp stamp = readStamp();

    // A file renamed over the old one, or deleted and created again, needs
    // a new file watch: the old one is gone (the watcher drops it when its
    // inode is deleted) or still sits on an unlinked inode. A new file may
    // get the inode number of the deleted one, so both are checked.
    if (stamp.inode != watchedInode || !watcher->files().contains(path)) {
        if (watcher->files().contains(path))
            watcher->removePath(path);
        watchedInode = 0;
        if (stamp.inode != 0 && watcher->addPath(path))
            watchedInode = stamp.inode;
    }

    // Folder events come for every file in the folder (the session log,
    // files the production writes, editors' backups): only a change of
    // this file counts. A file event always counts.
    const bool changed = fileEvent || !(stamp == lastStamp);
    lastStamp = stamp;
    if (changed)
        settleTimer->start();
}

void ProductionWatcher::RunAtStartUp()
{
    load();
}

void ProductionWatcher::Reload()
{
    settleTimer->stop();
    // Deleted and not (yet) written again: nothing to load; its creation
    // will bring another change.
    if (!QFileInfo::exists(path))
        return;
    // Script functions draw, read matrices and pick in the view's context.
    view->makeCurrent();
    if (load())
        qDebug("prod.lua reloaded");
}

bool ProductionWatcher::load()
{
    const std::string error = production->run(fileName);
    production->world().errors().report(ErrorBoard::Production, error);
    return error.empty();
}
