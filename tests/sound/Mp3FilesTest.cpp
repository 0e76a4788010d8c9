// MPEG audio files of the kinds users bring, made with lame and ffmpeg from
// a tone whose frequency steps every second, and damaged copies of them,
// through the FSOUND_ layer on the virtual clock: the length, seeks that
// land where asked (the audio heard and the spectrum show that second's
// tone, at the right speed whatever the file's rate), and damaged files
// that play what decodes and never stop the show.
#include "FSound.h"
#include "MusicAnalysis.h"
#include "ScratchDir.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kSeconds = 12;
constexpr int kFrameFrames = 735; // one 60 fps frame at 44.1 kHz
double StepHz(int second) { return 200.0 + 150.0 * second; }

QByteArray LittleEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>(value >> (8 * i)));
    return out;
}

// 44.1 kHz 16-bit stereo: a half-scale sine of StepHz(s) during second s.
bool WriteSteps(const QString &path)
{
    const quint32 samples = 44100 * kSeconds;
    QByteArray wav = "RIFF" + LittleEndian(36 + samples * 4, 4) + "WAVEfmt " + LittleEndian(16, 4) +
                     LittleEndian(1, 2) + LittleEndian(2, 2) + LittleEndian(44100, 4) + LittleEndian(44100 * 4, 4) +
                     LittleEndian(4, 2) + LittleEndian(16, 2) + "data" + LittleEndian(samples * 4, 4);
    double phase = 0.0;
    for (quint32 i = 0; i < samples; ++i) {
        phase += 2.0 * M_PI * StepHz(static_cast<int>(i / 44100)) / 44100.0;
        const QByteArray value = LittleEndian(static_cast<quint16>(static_cast<qint16>(16000 * std::sin(phase))), 2);
        wav += value + value;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

bool RunTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// An ID3v2.3 tag holding a 1 MB picture.
QByteArray Id3v2WithPicture()
{
    const QByteArray picture = QByteArray("\0image/jpeg\0\3\0", 14) + QByteArray(1 << 20, '\xd8');
    const QByteArray frame = "APIC" + QByteArray(1, char(picture.size() >> 24)) + char(picture.size() >> 16) +
                             char(picture.size() >> 8) + char(picture.size()) + QByteArray(2, '\0') + picture;
    QByteArray size; // syncsafe: 7 bits a byte
    for (int shift = 21; shift >= 0; shift -= 7)
        size.append(static_cast<char>((frame.size() >> shift) & 0x7f));
    return QByteArray("ID3\3\0\0", 6) + size + frame;
}

// An APEv2 tag (one item, footer only) and then an ID3v1 tag.
QByteArray ApeAndId3v1()
{
    const QByteArray item = LittleEndian(5, 4) + LittleEndian(0, 4) + QByteArray("Title\0Steps", 11);
    const QByteArray ape = item + "APETAGEX" + LittleEndian(2000, 4) + LittleEndian(item.size() + 32, 4) +
                           LittleEndian(1, 4) + LittleEndian(0, 4) + QByteArray(8, '\0');
    return ape + "TAG" + QByteArray("Steps").leftJustified(125, '\0');
}

// Frequency of the left channel by its zero crossings.
double CrossingHz(const std::vector<float> &stereo, int rate)
{
    int crossings = 0;
    for (size_t i = 2; i < stereo.size(); i += 2)
        crossings += (stereo[i - 2] < 0.0f) != (stereo[i] < 0.0f);
    return crossings / 2.0 / (stereo.size() / 2.0 / rate);
}

int BandOf(double hz, int bands)
{
    return static_cast<int>(std::log(hz / kSpectrumLowHz) / std::log(kSpectrumHighHz / kSpectrumLowHz) * bands);
}

class Mp3Files : public ::testing::Test
{
protected:
    // The files are made once; the virtual clock renders what is heard.
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        ASSERT_TRUE(WriteSteps("steps.wav"));
        for (const Kind &kind : kKinds) {
            if (kind.lame.isEmpty())
                ASSERT_TRUE(RunTool("ffmpeg", {"-loglevel", "error", "-i", "steps.wav", "-c:a", "mp2", "-f", "mp2", kind.name}));
            else
                ASSERT_TRUE(RunTool("lame", QStringList{"--quiet"} + kind.lame + QStringList{"steps.wav", kind.name}))
                    << kind.name;
        }
        ASSERT_TRUE(Write("tagged.mp3", Id3v2WithPicture() + Read("cbr.mp3") + ApeAndId3v1()));
        FSOUND_SetVirtualClock(true);
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    static void TearDownTestSuite()
    {
        FSOUND_Close();
        scratch.reset();
    }

    struct Kind
    {
        const char *name;
        QStringList lame; // empty: Layer II from ffmpeg
        bool gapless;     // the info tag gives the encoder's delay and padding
        int rate;
    };
    static inline const Kind kKinds[] = {
        {"cbr.mp3", {"-b", "128"}, true, 44100},
        {"vbr.mp3", {"-V", "2"}, true, 44100},
        {"vbr-headerless.mp3", {"-V", "2", "-t"}, false, 44100},
        {"mpeg2-mono.mp3", {"-V", "2", "-t", "-m", "m", "--resample", "22.05"}, false, 22050},
        {"mpeg25.mp3", {"--resample", "8"}, true, 8000},
        {"32k.mp3", {"--resample", "32", "-t"}, false, 32000},
        {"48k.mp3", {"--resample", "48", "-t"}, false, 48000},
        {"free.mp3", {"--freeformat", "-b", "400"}, true, 44100},
        {"layer2.mp3", {}, false, 44100},
    };
    static inline std::unique_ptr<ScratchDir> scratch;

    static FSOUND_STREAM *Open(const char *name) { return FSOUND_Stream_Open(name, FSOUND_MPEGACCURATE, 0, 0); }
    // Plays on for `frames` 60 fps frames; what was heard.
    static std::vector<float> Hear(int frames)
    {
        std::vector<float> heard, frame(2 * kFrameFrames);
        for (int i = 0; i < frames; ++i) {
            FSOUND_AdvanceVirtualClock(1000.0 / 60, frame.data(), kFrameFrames);
            heard.insert(heard.end(), frame.begin(), frame.end());
        }
        return heard;
    }
};

TEST_F(Mp3Files, EveryKindHasItsLengthSeeksWhereAskedAndPlaysAtItsSpeed)
{
    std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));
    kinds.push_back({"tagged.mp3", {}, true, 44100});
    for (const Kind &kind : kinds) {
        FSOUND_STREAM *stream = Open(kind.name);
        ASSERT_NE(stream, nullptr) << kind.name << ": " << FSOUND_GetError();
        // Without the info tag the decoder's delay and the padding stay:
        // at most two 1152-sample frames more.
        const int length = FSOUND_Stream_GetLengthMs(stream);
        EXPECT_GE(length, 1000 * kSeconds - 1) << kind.name;
        EXPECT_LE(length, 1000 * kSeconds + (kind.gapless ? 1 : 2304000 / kind.rate)) << kind.name;
        for (const int second : {7, 2, 11, 4}) {
            const int ms = 1000 * second + 600;
            ASSERT_TRUE(FSOUND_Stream_SetTime(stream, ms));
            EXPECT_EQ(FSOUND_Stream_GetTime(stream), ms) << kind.name;
            ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
            float bands[64];
            StreamSpectrum(stream, 64, bands);
            EXPECT_NEAR(std::max_element(bands, bands + 64) - bands, BandOf(StepHz(second), 64), 1)
                << kind.name << " at " << ms;
            EXPECT_NEAR(CrossingHz(Hear(12), 44100), StepHz(second), 0.03 * StepHz(second)) << kind.name << " at " << ms;
            EXPECT_EQ(FSOUND_Stream_GetTime(stream), ms + 200) << kind.name;
            FSOUND_Stream_Stop(stream);
        }
        FSOUND_Stream_Close(stream);
    }
}

TEST_F(Mp3Files, DamagedFilesPlayWhatDecodesAndNeverStopTheShow)
{
    std::mt19937 random(11);
    const auto noise = [&random](int bytes) {
        QByteArray out(bytes, '\0');
        for (char &byte : out)
            byte = static_cast<char>(random());
        return out;
    };
    const QByteArray cbr = Read("cbr.mp3"), vbr = Read("vbr.mp3"), lsf = Read("mpeg2-mono.mp3");
    struct Damage { const char *name; QByteArray bytes; int minMs, maxMs; }; // maxMs 0: no frame at all
    const Damage damages[] = {
        {"empty", QByteArray(), 0, 0},
        {"text", QByteArray("Plain text, not music.\n").repeated(200), 0, 0},
        {"noise", noise(200000), 0, 0},
        {"tag only", Id3v2WithPicture() + ApeAndId3v1(), 0, 0},
        {"first bytes", cbr.left(10), 0, 0},
        {"cut at a third", cbr.left(cbr.size() / 3), 3700, 4300},
        {"cut inside a frame", cbr.left(cbr.size() * 2 / 3 + 17), 7700, 8300},
        {"last byte missing", cbr.chopped(1), 11900, 12030},
        {"garbage in the middle", vbr.left(vbr.size() / 2) + noise(65536) + vbr.mid(vbr.size() / 2), 11500, 13000},
        {"MPEG-2 cut in half", lsf.left(lsf.size() / 2), 3000, 9000},
        {"MPEG-2 with garbage", lsf.left(lsf.size() / 3) + noise(4000) + lsf.mid(lsf.size() / 3), 11000, 13000},
    };
    for (const Damage &damage : damages) {
        ASSERT_TRUE(Write("damaged.mp3", damage.bytes));
        FSOUND_STREAM *stream = Open("damaged.mp3");
        if (damage.maxMs == 0) {
            EXPECT_EQ(stream, nullptr) << damage.name;
            EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT) << damage.name;
            FSOUND_Stream_Close(stream);
            continue;
        }
        ASSERT_NE(stream, nullptr) << damage.name << ": " << FSOUND_GetError();
        const int length = FSOUND_Stream_GetLengthMs(stream);
        EXPECT_GE(length, damage.minMs) << damage.name;
        EXPECT_LE(length, damage.maxMs) << damage.name;
        // Seeks anywhere, then on to the end: finite samples and spectra,
        // and the track ends within its length.
        ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
        float bands[16];
        bool finite = true;
        int frames = 0;
        const auto frame = [&] {
            StreamSpectrum(stream, 16, bands);
            const std::vector<float> heard = Hear(1);
            finite = finite && std::isfinite(StreamLevel(stream)) &&
                     std::all_of(heard.begin(), heard.end(), [](float x) { return std::isfinite(x); });
        };
        for (const int ms : {length / 2, length - 30, 100, length / 3}) {
            ASSERT_TRUE(FSOUND_Stream_SetTime(stream, ms));
            ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0); // again, where the track ended
            frame();
            frame();
        }
        for (; FSOUND_IsPlaying(0) && frames < length * 60 / 1000 + 2; ++frames)
            frame();
        EXPECT_FALSE(FSOUND_IsPlaying(0)) << damage.name;
        EXPECT_TRUE(finite) << damage.name;
        EXPECT_EQ(FSOUND_Stream_GetTime(stream), length) << damage.name;
        FSOUND_Stream_Close(stream);
    }
}

} // namespace
