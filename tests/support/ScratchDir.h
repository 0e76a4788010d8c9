// ScratchDir: a fresh temporary folder that becomes the working directory
// for the lifetime of the object, so tests that read or write prod.lua,
// music.mp3 or replsession.txt never touch each other's files.
#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

class ScratchDir
{
public:
    ScratchDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchDir() { QDir::setCurrent(previous); }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};
