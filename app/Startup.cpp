// The start-up steps shared by the main window and the offline export.
#include "Startup.h"

#include "FSound.h"
#include "MusicApi.h"   // gMusicStream
#include "ScriptHost.h"
#include "SoundErrorText.h"

#include <QDebug>
#include <QFileInfo>
#include <QFontDatabase>

void RegisterConsoleFont()
{
    const int id = QFontDatabase::addApplicationFont("VeraMono.ttf");
    if (id == -1)
        return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    for (const QString &family : families)
        qDebug().noquote() << family;
}

void OpenMusic()
{
    if (!FSOUND_Init(44100, 32, 1)) {
        qDebug("FMOD: FSOUND_Init error!\n");
        qDebug("%s\n", SoundErrorText(FSOUND_GetError()));
        return;
    }
    gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
    if (!gMusicStream) {
        qDebug("FMOD: FSOUND_Stream_Open error!\n");
        qDebug("%s\n", SoundErrorText(FSOUND_GetError()));
    }
}

std::string RunProduction(const QString &fileName)
{
    const QString chunk = QStringLiteral("dofile(\"%1\")").arg(fileName);
    std::string output;
    std::string error;
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        error = QStringLiteral("cannot read %1: not a regular file\n").arg(info.fileName()).toStdString();
        qDebug("%s: %s\n", chunk.toUtf8().constData(), error.c_str());
        return error;
    }
    RunScriptCaptured(chunk.toStdString(), output, error);
    return error;
}
