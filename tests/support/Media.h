// Synthesised media for tests: writes MP3 files with sox and lame at test
// time, so no audio file is ever committed.
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Writes an MP3 synthesised by sox to `mp3Path`: `soxEffects` follow the
// null input and the 44.1 kHz, 16-bit output of `channels` channels (for
// example {"synth", "3", "sine", "1000", "gain", "-n"}; sox's synth alone
// peaks at -3 dB), then lame encodes it at 320 kbit/s, where a full-scale
// tone keeps its level within 0.05 dB (at 128 kbit/s it loses 0.5 dB), or
// at `kbps`. Returns false when sox or lame failed (scripts/setup installs
// them).
inline bool MakeSynthMp3(const QString &mp3Path, const QStringList &soxEffects, int channels = 2, int kbps = 320)
{
    const QString wav = mp3Path + ".wav";
    QProcess sox;
    sox.start("sox", QStringList{"-n", "-r", "44100", "-c", QString::number(channels), "-b", "16", wav} + soxEffects);
    if (!sox.waitForFinished(120000) || sox.exitStatus() != QProcess::NormalExit || sox.exitCode() != 0)
        return false;
    QProcess lame;
    lame.start("lame", {"--quiet", "-b", QString::number(kbps), wav, mp3Path});
    const bool ok = lame.waitForFinished(300000) && lame.exitStatus() == QProcess::NormalExit &&
                    lame.exitCode() == 0;
    QFile::remove(wav);
    return ok;
}

// Writes a 440 Hz sine tone at 0.3 of full scale, `seconds` long.
inline bool MakeToneMp3(const QString &mp3Path, double seconds)
{
    return MakeSynthMp3(mp3Path, {"synth", QString::number(seconds), "sine", "440", "vol", "0.3"});
}
