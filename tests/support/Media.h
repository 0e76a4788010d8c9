// Synthesised media for tests: writes MP3 files with sox and lame at test
// time, so no audio file is ever committed.
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Writes a sine tone of `seconds` length to `mp3Path`. Returns false when
// sox or lame failed (they are installed by scripts/setup).
inline bool MakeToneMp3(const QString &mp3Path, double seconds)
{
    const QString wav = mp3Path + ".wav";
    QProcess sox;
    sox.start("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav,
                      "synth", QString::number(seconds), "sine", "440", "vol", "0.3"});
    if (!sox.waitForFinished(60000) || sox.exitStatus() != QProcess::NormalExit || sox.exitCode() != 0)
        return false;
    QProcess lame;
    lame.start("lame", {"--quiet", "-b", "128", wav, mp3Path});
    const bool ok = lame.waitForFinished(60000) && lame.exitStatus() == QProcess::NormalExit &&
                    lame.exitCode() == 0;
    QFile::remove(wav);
    return ok;
}
