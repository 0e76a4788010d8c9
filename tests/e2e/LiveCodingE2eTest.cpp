// End to end: live coding — prod.lua reloaded on every kind of save with the
// state kept, bad files reported and survived, errors shown in the band at
// the bottom of the view until mended.
#include "Program.h"

#include <QDir>

#include <cstdio>
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
    int Reloads() { return Debug().count("prod.lua reloaded"); }
};

TEST_F(LiveCoding, EverySaveReloadsOnceWithinASecondAndKeepsTheState)
{
    const QString prod = path("prod.lua");
    Start(Version("v1"));
    ASSERT_TRUE(WaitForOut("v1 loads=1", 10000));
    const auto inPlace = [&](const QByteArray &text) { WriteFile(prod, text); };
    const std::function<void(const QByteArray &)> saves[] = { // in place, by rename, by delete and create
        inPlace,
        [&](const QByteArray &text) { WriteFile(prod + ".new", text); std::rename(QFile::encodeName(prod + ".new"), QFile::encodeName(prod)); },
        inPlace,
        [&](const QByteArray &text) { QFile::remove(prod); QThread::msleep(20); WriteFile(prod, text); },
        inPlace};
    int loads = 1;
    for (const auto &save : saves) {
        save(Version(QString("v%1").arg(++loads)));
        EXPECT_TRUE(WaitForOut(QString("v%1 loads=%1 ").arg(loads))) << Text("out.txt").toStdString();
    }
    for (int k = 0; k < 10; ++k, QThread::msleep(5)) // a burst in about 50 ms: one reload, of the last write
        inPlace(Version(QString("burst%1").arg(k)));
    EXPECT_TRUE(WaitForOut(QString("burst9 loads=%1 ").arg(++loads))) << Text("out.txt").toStdString();
    QThread::msleep(500);
    EXPECT_EQ(Reloads(), loads - 1);
}

// Each bad prod.lua is reported on the debug output and, if an error, in the
// band; the last good version runs on untouched; the next good one clears it.
TEST_F(LiveCoding, BadFilesAreReportedAndSurvivedAndTheLastGoodVersionRunsOn)
{
    const QString prod = path("prod.lua");
    Start(Version("good"));
    const auto clear = [prod] { QFile::remove(prod); QDir().rmdir(prod); };
    QByteArray garbage(4096, 'x');
    for (int i = 1; i < garbage.size(); ++i)
        garbage[i] = char(i * 7919 % 251);
    const struct { std::function<void()> make; const char *debug; bool shown; } cases[] = {
        {[&] { WriteFile(prod, "loads = 100\nfunction update( x = 1 end\n"); }, "dofile(\"prod.lua\"): prod.lua:2: ')' expected near '='", true},
        {[&] { clear(); QDir().mkdir(prod); }, "cannot read prod.lua: Is a directory", true},
        {[&] { clear(); ::mkfifo(QFile::encodeName(prod).constData(), 0600); }, "cannot read prod.lua: not a regular file", true},
        {[&] { WriteFile(prod, ""); }, "prod.lua reloaded", false},
        {[&] { WriteFile(prod, garbage); }, "dofile(\"prod.lua\"): prod.lua:", true},
        {[&] { WriteFile(prod, "while true do end\n"); }, "script interrupted", true},
    };
    int loads = 1;
    for (const auto &c : cases) {
        const int before = Debug().count(c.debug);
        c.make();
        EXPECT_TRUE(WaitForDebug(c.debug, 10000, before)) << c.debug;
        QFile::remove(path("out.txt"));
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(loads), 2000)) << c.debug;
        EXPECT_EQ(BandPixels(window, c.shown) > 20, c.shown) << c.debug;
        const int reloads = Reloads();
        clear();
        WriteFile(prod, Version("good"));
        EXPECT_TRUE(WaitForDebug("prod.lua reloaded", 2000, reloads)) << c.debug;
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(++loads))) << c.debug;
        EXPECT_EQ(BandPixels(window, false), 0) << c.debug;
    }
}

// An update() failing every frame writes one debug line per frame and shows
// its message with a growing count; the band moves up with the view when the
// console opens; mending update() from the console clears it.
TEST_F(LiveCoding, AFailingUpdateIsReportedEveryFrameAndShownUntilMendedFromTheConsole)
{
    Start("function update() error('boom') end\n"
          "function render() local f = io.open('paints.txt', 'a') f:write('r\\n') f:close() end\n");
    ASSERT_TRUE(WaitForFile(path("paints.txt"), QString("r\n").repeated(30)));
    const int errors = Debug().count("Lua update() error: ");
    EXPECT_GE(errors, 20);
    EXPECT_LE(errors, CompleteLines(path("paints.txt")).size() + 2) << "more than one line per frame";
    const QImage first = Screenshot(window, [](const QImage &shot) { return RedPixels(shot) > 20; });
    QThread::msleep(300);
    const QImage second = Screenshot(window);
    const int w = first.width(), h = first.height();
    EXPECT_GT(RedPixels(second), 20);
    EXPECT_NE(first.copy(0, h - kBandRows, w, kBandRows), second.copy(0, h - kBandRows, w, kBandRows)) << "the count did not change";
    EXPECT_EQ(first.copy(0, 0, w, h - kBandRows), second.copy(0, 0, w, h - kBandRows));
    OpenConsole();
    EXPECT_GT(BandPixels(window, true, 0), 20) << "the band moves up with the view";
    TypeLine("function update() end");
    EXPECT_EQ(BandPixels(window, false, 0), 0);
    const int afterMending = Debug().count("Lua update() error: ");
    QThread::msleep(500);
    EXPECT_EQ(Debug().count("Lua update() error: "), afterMending);
}

} // namespace
