// End to end: live coding.
#include "Program.h"

#include <QDir>
#include <QElapsedTimer>

#include <cmath>

#include <sys/stat.h>

namespace {

// Its top level counts its loads (`x = x or 0` keeps them across reloads);
// update() writes the version and the count to out.txt.
QByteArray Version(const QString &version)
{
    return QString("loads = (loads or 0) + 1\nfunction update() local f = io.open('out.txt', 'w') "
                   "f:write('%1 loads=' .. loads .. ' ') f:close() end\n").arg(version).toUtf8();
}

class LiveCoding : public EndToEndTest
{
protected:
    bool WaitForOut(const QString &text, int timeoutMs = 1000) { return WaitForFile(path("out.txt"), text, timeoutMs); }
};

// Saving a file that the top level read with dofile or require runs the
// production again, which reads the new version.
TEST_F(LiveCoding, EverySaveReloadsOnceKeepingTheStateAndBadFilesAreReportedAndSurvived)
{
    const QString prod = path("prod.lua");
    Start(Version("v1"));
    ASSERT_TRUE(WaitForOut("v1 loads=1", 10000));
    const auto inPlace = [&](const QByteArray &text) { WriteFile(prod, text); };
    const std::function<void(const QByteArray &)> saves[] = { // in place, by rename, by delete and create
        inPlace, [&](const QByteArray &text) { ReplaceFile(prod, text); }, inPlace,
        [&](const QByteArray &text) { QFile::remove(prod); QThread::msleep(20); WriteFile(prod, text); }, inPlace};
    int loads = 1;
    for (const auto &save : saves) {
        save(Version(QString("v%1").arg(++loads)));
        EXPECT_TRUE(WaitForOut(QString("v%1 loads=%1 ").arg(loads))) << Text("out.txt").toStdString();
    }
    // A burst in about 50 ms: one reload, of the last write (the good
    // version the bad files below fall back to). Only a burst that took less
    // than the 100 ms a file must sit still is sure to give one reload: on a
    // machine that stalled the writer longer, a file may rightly be read in
    // between, and the test goes on from the count the production reached.
    const QElapsedTimer burst = [] { QElapsedTimer t; t.start(); return t; }();
    for (int k = 0; k < 10; ++k, QThread::msleep(5))
        inPlace(Version(k < 9 ? QString("burst%1").arg(k) : QString("good")));
    const bool quick = burst.elapsed() < 100;
    EXPECT_TRUE(WaitForOut(quick ? QString("good loads=%1 ").arg(++loads) : QString("good loads="))) << Text("out.txt").toStdString();
    QThread::msleep(500);
    if (quick)
        EXPECT_EQ(Debug().count("prod.lua reloaded"), loads - 1);
    else
        loads = Text("out.txt").section("loads=", 1).section(' ', 0, 0).toInt();

    const auto clear = [prod] { QFile::remove(prod); QDir().rmdir(prod); };
    const struct { std::function<void()> make; const char *debug; bool shown; } cases[] = {
        {[&] { WriteFile(prod, "loads = 100\nfunction update( x = 1 end\n"); }, "dofile(\"prod.lua\"): prod.lua:2: ')' expected near '='", true},
        {[&] { clear(); QDir().mkdir(prod); }, "cannot read prod.lua: Is a directory", true},
        {[&] { clear(); ::mkfifo(QFile::encodeName(prod).constData(), 0600); }, "cannot read prod.lua: not a regular file", true},
        {[&] { WriteFile(prod, ""); }, "prod.lua reloaded", false},
        {[&] { WriteFile(prod, "while true do end\n"); }, "script interrupted", true},
    };
    for (const auto &c : cases) {
        const int before = Debug().count(c.debug);
        c.make();
        EXPECT_TRUE(WaitForDebug(c.debug, 10000, before)) << c.debug;
        QFile::remove(path("out.txt"));
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(loads), 2000)) << c.debug;
        EXPECT_EQ(BandPixels(window, c.shown) > 20, c.shown) << c.debug;
        clear();
        WriteFile(prod, Version("good"));
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(++loads))) << c.debug;
        EXPECT_EQ(BandPixels(window, false), 0) << c.debug;
    }

    ASSERT_TRUE(WriteFile(path("helper.lua"), "HELPER = 'h1'\n") && WriteFile(path("lib.lua"), "return 'l1'\n"));
    inPlace("dofile('helper.lua') package.path = './?.lua;' .. package.path LIB = require('lib')\n"
            "function update() local f = io.open('out.txt', 'w') f:write(HELPER .. LIB) f:close() end\n");
    EXPECT_TRUE(WaitForOut("h1l1"));
    for (const auto &[file, text, out] : {std::tuple{"helper.lua", "HELPER = 'h2'\n", "h2l1"}, {"lib.lua", "return 'l2'\n", "h2l2"}}) {
        ASSERT_TRUE(ReplaceFile(path(file), text));
        EXPECT_TRUE(WaitForOut(out)) << file;
    }
}

// The longest run of red band pixels along one row (a thin line of the
// text's colour is drawn at half strength), and the rows from the first to
// the last with red, in the lowest `rows` rows.
std::pair<int, int> RedRunAndSpan(const QImage &image, int rows)
{
    int longest = 0, first = -1, last = -1;
    for (int y = image.height() - rows; y < image.height(); ++y)
        for (int x = 0, run = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            run = c.red() > 90 && c.green() < 60 && c.red() > c.blue() ? run + 1 : 0;
            longest = std::max(longest, run);
            if (run > 0)
                last = y, first = first < 0 ? y : first;
        }
    return {longest, last - first + 1};
}

// The band shows the long message on three lines with its end and a growing
// count in sight, and moves up with the view when the console opens; the
// session log cuts output beyond the buffer with a mark.
TEST_F(LiveCoding, AFailingUpdateIsShownUntilMendedFromTheConsoleWhoseCommandsRunInTheProduction)
{
    Start("answer = 42\n"
          "function update() error(string.rep('a long message ', 40) .. '____________') end\n"
          "function render() local f = io.open('paints.txt', 'a') f:write('r\\n') f:close() end\n");
    ASSERT_TRUE(WaitForFile(path("paints.txt"), QString("r\n").repeated(30)));
    const int errors = Debug().count("Lua update() error: ");
    EXPECT_GE(errors, 20);
    EXPECT_LE(errors, Text("paints.txt").count('\n') + 2) << "more than one line per frame";
    std::pair<int, int> band;
    const QImage first = Screenshot(window, [&](const QImage &s) { band = RedRunAndSpan(s, 100); return band.first >= 40 && band.second > 30; });
    EXPECT_GE(band.first, 40) << "the end of the message is not in sight";
    EXPECT_TRUE(band.second > 30 && band.second < 60) << band.second << " rows: not three lines";
    QThread::msleep(300);
    const QImage second = Screenshot(window);
    const int w = first.width(), h = first.height() - 100;
    EXPECT_NE(first.copy(0, h, w, 100), second.copy(0, h, w, 100)) << "the count did not change";
    OpenConsole();
    EXPECT_GT(BandPixels(window, true, 0), 20) << "the band moves up with the view";
    for (const QString command : {"print(answer + 1)", "print(string.rep('x', 1500))", "function update() end"})
        TypeLine(command);
    EXPECT_EQ(BandPixels(window, false, 0), 0);
    EXPECT_EQ(Text("replsession.txt"), "3\nprint(answer + 1)\n###\nprint(string.rep('x', 1500))\n###\nfunction update() end\n###\n"
                                       "Lua>print(answer + 1)\n43\n\nLua>print(string.rep('x', 1500))\n" + QString(1023, 'x') +
                                       "\n\u2026 (output cut at 1023 characters)\nLua>function update() end\nLua>");
}

// An inverting post shader turns the black sky white; its error shows in red (not inverted).
TEST_F(LiveCoding, APostShaderFileEditedLiveKeepsThePictureAndShowsItsErrors)
{
    const QByteArray invert = "uniform sampler2D frame;\nvarying vec2 uv;\n"
                              "void main() { gl_FragColor = vec4(1.0 - texture2D(frame, uv).rgb, 1.0); }\n";
    ASSERT_TRUE(WriteFile(path("post.frag"), invert));
    Start("assert(setPostShader('post.frag'))\n");
    const auto skyIsWhite = [](const QImage &s) { return OtherPixels(s, QRect(0, 0, s.width(), 30), Qt::white, 15) < s.width() * 3; };
    EXPECT_TRUE(skyIsWhite(Screenshot(window, skyIsWhite)));

    ReplaceFile(path("post.frag"), "uniform sampler2D frame;\nvoid main() { gl_FragColor = frame; }\n");
    EXPECT_GT(BandPixels(window, true), 20);
    EXPECT_TRUE(skyIsWhite(Screenshot(window)));

    ReplaceFile(path("post.frag"), invert + "\n");
    EXPECT_EQ(BandPixels(window, false), 0);
    EXPECT_TRUE(skyIsWhite(Screenshot(window)));

    // The errors of shader files and of the sync file reach the debug
    // output too, once each time they change, not once a frame: the broken
    // shader twice, with a good save between.
    ReplaceFile(path("post.frag"), "uniform sampler2D frame;\nvoid main() { gl_FragColor = frame; }\n");
    ASSERT_TRUE(WaitForDebug("shader: post.frag:2:", 10000, 1));
    ASSERT_TRUE(WriteFile(path("sync.txt"), "velkaro-sync 1\nbpm many\n"));
    ASSERT_TRUE(WaitForDebug("sync.txt: line 2: "));
    ASSERT_TRUE(WriteFile(path("sync.txt"), "velkaro-sync 1\nbpm 120\ntrack\n"));
    ASSERT_TRUE(WaitForDebug("sync.txt: line 3: "));
    QThread::msleep(300);   // many frames
    EXPECT_EQ(Debug().count("shader: post.frag:2:"), 2) << Debug().toStdString();
    EXPECT_EQ(Debug().count("sync.txt: line 2: "), 1);
    EXPECT_EQ(Debug().count("sync.txt: line 3: "), 1);
}

TEST_F(LiveCoding, AFixSavedDuringARunawayRunsWithinASecondOfTheInterruption)
{
    Start("function update() while true do end end\n");
    ASSERT_TRUE(WaitForDebug("Lua update() error: "));   // the first interruption, 5 s on
    QThread::msleep(200);   // inside the second runaway
    WriteFile(path("prod.lua"), Version("fixed"));
    const int interruptions = Debug().count("script interrupted");
    ASSERT_TRUE(WaitForDebug("script interrupted", 10000, interruptions));
    QElapsedTimer sinceInterruption;
    sinceInterruption.start();
    EXPECT_TRUE(WaitForOut("fixed loads=", 3000));
    EXPECT_LT(sinceInterruption.elapsed(), 1000);
}

// SDL's disk driver captures from a file: 8 s of a 1 kHz tone at half scale,
// then silence. The post pass paints the `level` uniform red. A name that
// matches nothing: the band and stderr say so with the names; frames go on.
TEST_F(EndToEndTest, TheLevelUniformFollowsTheLiveInput)
{
    QByteArray tone(4 * 8 * 44100, 0);
    for (int i = 0; i < 8 * 44100; ++i)
        reinterpret_cast<float *>(tone.data())[i] = 0.5f * std::sin(2.0f * 3.14159265f * 1000.0f * i / 44100.0f);
    ASSERT_TRUE(WriteFile(path("in.raw"), tone));
    for (const auto &[name, value] : {std::pair{"SDL_AUDIODRIVER", QString("disk")}, {"SDL_DISKAUDIOFILEIN", path("in.raw")}, {"SDL_DISKAUDIOFILE", QString("/dev/null")}})
        environment.insert(name, value);
    Start("setPostShader('uniform float level; void main() { gl_FragColor = vec4(2.0 * level, 0.0, 0.0, 1.0); }')",
          {"--input", "capture"});
    const auto red = [&](int least, int most) {
        const auto within = [&](const QImage &shot) { return shot.pixelColor(20, 20).red() >= least && shot.pixelColor(20, 20).red() <= most; };
        return Screenshot(window, within, 15000).pixelColor(20, 20).red();
    };
    EXPECT_NEAR(red(170, 190), 180, 10) << Debug().toStdString(); // 2 x 0.354
    EXPECT_EQ(red(0, 0), 0) << "silence once the file ended";
    Start(QByteArray(), {"--input", "usb"});
    EXPECT_TRUE(WaitForDebug("sound input: no input matches \"usb\" (inputs: \"System audio capture device\")")) << Debug().toStdString();
    EXPECT_GT(BandPixels(window, true), 20);
}

// T in the view taps the tempo (update() writes the bpm its beats run at);
// sync.txt keeps it only after Shift+T in the pane.
TEST_F(EndToEndTest, TapsSetTheBpmWhichThePaneKeeps)
{
    Start("function update() local t, b = getTime(), getBeat() if lt and t > lt then local f = io.open('bpm.txt', 'w') "
          "f:write(string.format('%.1f ', (b - lb) / (t - lt) * 60)) f:close() end lt, lb = t, b end");
    ASSERT_TRUE(WaitForFile(path("bpm.txt"), "120.0 "));
    Keys({"key", "--delay", "400", "t", "t", "t", "t"});
    // 150 bpm, or less where a busy machine delays xdotool's keys.
    ASSERT_TRUE(WaitUntil([&] { return std::abs(Text("bpm.txt").toDouble() - 140.0) < 12.0; })) << Text("bpm.txt").toStdString();
    Keys({"key", "F2"});
    EXPECT_FALSE(QFile::exists(path("sync.txt"))) << "not written behind the user's back";
    Keys({"key", "shift+t"});
    ASSERT_TRUE(WaitForFile(path("sync.txt"), "bpm "));
    EXPECT_NEAR(Text("sync.txt").section("bpm ", 1).section('\n', 0, 0).toDouble(), Text("bpm.txt").toDouble(), 0.05);
}

} // namespace
