// End to end: live coding with the real program — prod.lua reloaded on
// every kind of save with the state kept, errors shown in the band at the
// bottom of the view and cleared when mended, and bad files survived.
#include "Program.h"

#include <QDir>

#include <cstdio>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A production of the given version: its top level counts its loads (the
// `x = x or 0` idiom keeps the count across reloads) and its update()
// writes the version, the load count and the global `kept` to out.txt.
QByteArray Version(const QString &version)
{
    return QString("loads = (loads or 0) + 1\n"
                   "function update()\n"
                   "  local f = io.open('out.txt', 'w')\n"
                   "  f:write('%1 loads=' .. loads .. ' kept=' .. tostring(kept))\n"
                   "  f:close()\n"
                   "end\n").arg(version).toUtf8();
}

class LiveCoding : public EndToEndTest
{
protected:
    QString Prod() const { return path("prod.lua"); }
    // Waits until out.txt (rewritten every frame) says `text`.
    bool WaitForOut(const QString &text, int timeoutMs = 1000) { return WaitForFile(path("out.txt"), text, timeoutMs); }
    int Reloads() { return program->debugOutput().count("prod.lua reloaded"); }
};

TEST_F(LiveCoding, EverySaveReloadsOnceWithinASecondAndKeepsTheState)
{
    Start(Version("v1"));
    ASSERT_TRUE(WaitForOut("v1 loads=1", 10000));

    // The ways editors save prod.lua.
    const auto inPlace = [&](const QByteArray &text) { WriteFile(Prod(), text); };
    const auto byRename = [&](const QByteArray &text) {
        WriteFile(Prod() + ".new", text);
        ASSERT_EQ(std::rename(QFile::encodeName(Prod() + ".new").constData(), QFile::encodeName(Prod()).constData()), 0);
    };
    const auto byDeleteAndCreate = [&](const QByteArray &text) {
        ASSERT_TRUE(QFile::remove(Prod()));
        QThread::msleep(20);
        WriteFile(Prod(), text);
    };
    const std::pair<const char *, std::function<void(const QByteArray &)>> saves[] = {
        {"in place", inPlace},
        {"by rename", byRename},
        {"in place after the rename", inPlace},
        {"by delete and create", byDeleteAndCreate},
        {"in place after the new file", inPlace},
    };
    int loads = 1;
    for (const auto &[how, save] : saves) {
        const QString version = QString("v%1").arg(++loads);
        save(Version(version));
        EXPECT_TRUE(WaitForOut(QString("%1 loads=%2").arg(version).arg(loads))) << how << ": " << Text("out.txt").toStdString();
    }
    EXPECT_EQ(Reloads(), loads - 1);

    // A burst of ten writes in about 50 ms is one reload, of the last one.
    for (int k = 0; k < 10; ++k) {
        inPlace(Version(QString("burst%1").arg(k)));
        QThread::msleep(5);
    }
    ++loads;
    EXPECT_TRUE(WaitForOut(QString("burst9 loads=%1 ").arg(loads))) << Text("out.txt").toStdString();
    QThread::msleep(500);
    EXPECT_EQ(Reloads(), loads - 1);
    EXPECT_TRUE(WaitForOut(QString("burst9 loads=%1 ").arg(loads))) << "a second reload of the burst";

    // A global set from the console survives the next reload.
    OpenConsole(*program);
    TypeLine("kept = 'from console'");
    ASSERT_TRUE(WaitForOut("kept=from console", 2000)) << Text("out.txt").toStdString();
    inPlace(Version("after console"));
    EXPECT_TRUE(WaitForOut(QString("after console loads=%1 kept=from console").arg(loads + 1)))
        << Text("out.txt").toStdString();
}

// Every kind of bad prod.lua is reported on the debug output and, where it is
// an error, in the band; the last good version goes on running untouched
// (its load count unchanged); the next good file reloads and clears the band.
TEST_F(LiveCoding, BadFilesAreReportedAndSurvivedAndTheLastGoodVersionRunsOn)
{
    const QString prod = Prod();
    Start(Version("good"));
    // Takes prod.lua away, whatever it is now.
    const auto clear = [prod] {
        QFile::remove(prod);
        QDir().rmdir(prod);
    };
    std::mt19937 random(11);
    QByteArray garbage(4096, '\0');
    for (char &c : garbage)
        c = static_cast<char>(random() % 256);
    garbage[0] = 'x';   // not the mark of a precompiled chunk
    QByteArray big = "n = 0\n";
    while (big.size() < 10 * 1024 * 1024)
        big += "n = n + 1\n";

    const struct
    {
        const char *what;
        std::function<void()> make;
        const char *debug;   // the line the load writes
        bool shown;          // an error in the band
    } cases[] = {
        {"a syntax error", [&] { WriteFile(prod, "loads = 100\nfunction update( x = 1 end\n"); },
         "dofile(\"prod.lua\"): prod.lua:2: ')' expected near '='", true},
        {"a folder", [&] { clear(); QDir().mkdir(prod); }, "cannot read prod.lua: Is a directory", true},
        {"unreadable", [&] { clear(); WriteFile(prod, "x = 1\n"); ::chmod(QFile::encodeName(prod).constData(), 0); },
         "cannot open prod.lua", true},
        {"a pipe", [&] { clear(); ::mkfifo(QFile::encodeName(prod).constData(), 0600); },
         "cannot read prod.lua: not a regular file", true},
        {"empty", [&] { WriteFile(prod, ""); }, "prod.lua reloaded", false},
        {"binary garbage", [&] { WriteFile(prod, garbage); }, "dofile(\"prod.lua\"): prod.lua:", true},
        {"10 MB of Lua", [&] { WriteFile(prod, big); }, "prod.lua reloaded", false},
        {"a runaway top level", [&] { WriteFile(prod, "while true do end\n"); }, "script interrupted", true},
    };
    int loads = 1;
    for (const auto &c : cases) {
        if (QString(c.what) == "unreadable" && ::geteuid() == 0) {
            std::printf("[ SKIPPED  ] %s: root reads every file\n", c.what);
            continue;
        }
        const int before = program->debugOutput().count(c.debug);
        c.make();
        EXPECT_TRUE(program->waitForDebug(c.debug, 10000, before)) << c.what;
        QFile::remove(path("out.txt"));
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(loads), 2000)) << c.what << ": " << Text("out.txt").toStdString();
        ASSERT_TRUE(program->running()) << c.what;
        if (c.shown)
            EXPECT_GT(BandPixels(program->windowId(), true), kSomeText) << c.what;
        else
            EXPECT_EQ(BandPixels(program->windowId(), false), 0) << c.what;

        const int reloads = Reloads();
        clear();
        WriteFile(prod, Version("good"));
        EXPECT_TRUE(program->waitForDebug("prod.lua reloaded", 2000, reloads)) << c.what;
        EXPECT_TRUE(WaitForOut(QString("good loads=%1 ").arg(++loads))) << c.what;
        EXPECT_EQ(BandPixels(program->windowId(), false), 0) << c.what;
    }
    EXPECT_TRUE(program->running());
}

// An update() that fails every frame writes one debug line per frame and
// shows its message in the band with a growing count; the band moves up with
// the view when the console opens; mending update() from the console clears
// the band and stops the lines.
TEST_F(LiveCoding, AFailingUpdateIsReportedEveryFrameAndShownUntilMendedFromTheConsole)
{
    Start("function update() error('boom') end\n"
          "function render() local f = io.open('paints.txt', 'a') f:write('r\\n') f:close() end\n");
    ASSERT_TRUE(WaitForFile(path("paints.txt"), QString("r\n").repeated(30)));
    const int errors = program->debugOutput().count("Lua update() error: ");
    EXPECT_GE(errors, 20) << "one line per frame";
    EXPECT_LE(errors, CompleteLines(path("paints.txt")).size() + 2) << "no more than one line per frame";

    // The count changes between two pictures; nothing else in the view moves.
    const QString window = program->windowId();
    const QImage first = Screenshot(window, [](const QImage &shot) { return RedPixels(shot) > kSomeText; });
    QThread::msleep(300);
    const QImage second = Screenshot(window);
    EXPECT_GT(RedPixels(first), kSomeText);
    EXPECT_GT(RedPixels(second), kSomeText);
    const int w = first.width(), h = first.height();
    EXPECT_NE(first.copy(0, h - kBandRows, w, kBandRows), second.copy(0, h - kBandRows, w, kBandRows))
        << "the repeat count did not change";
    EXPECT_EQ(first.copy(0, 0, w, h - kBandRows), second.copy(0, 0, w, h - kBandRows));

    OpenConsole(*program);
    EXPECT_GT(BandPixels(window, true, 0), kSomeText) << "the band moves up with the view";
    TypeLine("function update() end");
    EXPECT_EQ(BandPixels(window, false, 0), 0);
    const int afterMending = program->debugOutput().count("Lua update() error: ");
    QThread::msleep(500);
    EXPECT_EQ(program->debugOutput().count("Lua update() error: "), afterMending);
}

} // namespace
