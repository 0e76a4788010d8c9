// Synthesised media: MP3 files made with sox and lame at test time, so no
// audio file is committed. Returns false when sox or lame failed.
#pragma once

#include "Files.h"

// `soxEffects` follow sox's null input (44.1 kHz, 16 bit, `channels`), e.g.
// {"synth", "3", "sine", "1000"}; 320 kbit/s keeps a full-scale tone within
// 0.05 dB of its level.
inline bool MakeSynthMp3(const QString &mp3Path, const QStringList &soxEffects, int channels = 2, int kbps = 320)
{
    const QString wav = mp3Path + ".wav";
    const bool ok = RunsCleanly("sox", QStringList{"-n", "-r", "44100", "-c", QString::number(channels), "-b", "16", wav} + soxEffects)
        && RunsCleanly("lame", {"--quiet", "-b", QString::number(kbps), wav, mp3Path});
    QFile::remove(wav);
    return ok;
}

// A 440 Hz sine at 0.3 of full scale, `seconds` long.
inline bool MakeToneMp3(const QString &mp3Path, double seconds)
{
    return MakeSynthMp3(mp3Path, {"synth", QString::number(seconds), "sine", "440", "vol", "0.3"});
}
