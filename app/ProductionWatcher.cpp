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
    , folder(QFileInfo(QDir::current().absoluteFilePath(fileName)).absolutePath())
    , fileName(fileName)
    , watcher(new QFileSystemWatcher(this))
    , settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(kSettleMs);
    connect(settleTimer, &QTimer::timeout, this, &ProductionWatcher::Reload);

    // A folder watch sees a file created, deleted or renamed over; a file
    // watch sees writes in place.
    connect(watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString &p) { noticeChange(p); });
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this] { noticeChange(QString()); });
    watch(QDir::current().absoluteFilePath(fileName));
}

ProductionWatcher::Stamp ProductionWatcher::readStamp(const QString &path)
{
    return FileStamp::Of(path);
}

void ProductionWatcher::watch(const QString &path)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!watcher->directories().contains(dir))
        watcher->addPath(dir);
    Watched file;
    file.path = path;
    file.lastStamp = readStamp(path);
    rearm(file, file.lastStamp);
    files.push_back(file);
}

void ProductionWatcher::rearm(Watched &file, const Stamp &stamp)
{
    // A file renamed over the old one, or deleted and created again, needs
    // a new file watch: the old one is gone (the watcher drops it when its
    // inode is deleted) or still sits on an unlinked inode. A new file may
    // get the inode number of the deleted one, so both are checked.
    if (stamp.inode != file.watchedInode || !watcher->files().contains(file.path)) {
        if (watcher->files().contains(file.path))
            watcher->removePath(file.path);
        file.watchedInode = 0;
        if (stamp.inode != 0 && watcher->addPath(file.path))
            file.watchedInode = stamp.inode;
    }
}

void ProductionWatcher::noticeChange(const QString &changedPath)
{
    bool changed = false;
    for (Watched &file : files) {
        const Stamp stamp = readStamp(file.path);
        rearm(file, stamp);

        // Folder events come for every file in the folder (the session log,
        // files the production writes, editors' backups): only a change of
        // a watched file counts. A file event always counts. Another file
        // deleted counts once it is there again.
        const bool touched = file.path == changedPath || !(stamp == file.lastStamp);
        file.lastStamp = stamp;
        if (touched && (&file == &files.front() || stamp.inode != 0))
            changed = true;
    }
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
    if (!QFileInfo::exists(files.front().path))
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
    followFilesRead(error.empty());
    return error.empty();
}

void ProductionWatcher::followFilesRead(bool succeeded)
{
    QStringList wanted;
    for (const std::string &name : production->filesRead()) {
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(name)));
        // Only the production's own files: not a library elsewhere.
        if (path.startsWith(folder + QLatin1Char('/')) && !wanted.contains(path))
            wanted.append(path);
    }
    // Files no longer read are let go; a failed run may have stopped before
    // reading some, so it lets none go.
    for (size_t i = files.size() - 1; i >= 1; --i) {
        if (succeeded && !wanted.contains(files[i].path)) {
            if (watcher->files().contains(files[i].path))
                watcher->removePath(files[i].path);
            files.erase(files.begin() + static_cast<long>(i));
        } else {
            wanted.removeAll(files[i].path);
        }
    }
    for (const QString &path : wanted)
        watch(path);
}
