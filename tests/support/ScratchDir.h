// A fresh temporary folder that is the working directory while the object
// lives, so tests that use prod.lua, music.mp3 or replsession.txt never meet.
#pragma once

#include <QDir>
#include <QTemporaryDir>

class ScratchDir
{
public:
    ScratchDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchDir() { QDir::setCurrent(previous); }
    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};
