// End to end: live coding with the real program — prod.lua reloaded on
// every kind of save with the state kept, errors shown in the band at the
// bottom of the view and cleared when mended, and bad files survived.
#include "Program.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Red pixels in the lowest rows of the window: the band when the console
// is collapsed and the view reaches down to the splitter handle.
const int kBandRows = 48;
const int kSomeText = 20;   // red pixels that make at least a few letters

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
public:
    QString Prod() const { return scratch.filePath("prod.lua"); }
    QString Out() const { return QString::fromUtf8(ReadFile(scratch.filePath("out.txt"))); }

    // The ways editors save prod.lua.
    void SaveInPlace(const QByteArray &text) { WriteFile(Prod(), text); }
    void SaveByRename(const QByteArray &text)
    {
        WriteFile(Prod() + ".new", text);
        ASSERT_EQ(std::rename(QFile::encodeName(Prod() + ".new").constData(),
                              QFile::encodeName(Prod()).constData()), 0);
    }
    void SaveByDeleteAndCreate(const QByteArray &text)
    {
        ASSERT_TRUE(QFile::remove(Prod()));
        QThread::msleep(20);
        WriteFile(Prod(), text);
    }

    // Starts the program on version v1 and waits until its update() runs.
    void StartOnV1(Program &program)
    {
        WriteFile(Prod(), Version("v1"));
        ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
        ASSERT_TRUE(WaitForFile(scratch.filePath("out.txt"), "v1 loads=1"));
    }

    // Red pixels in the band, once the picture shows the band present (or
    // absent, as `expected`) or after two seconds: the X server shows a
    // new frame a little after the program made it.
    static int BandPixels(Program &program, bool expected, int rows = kBandRows)
    {
        int red = 0;
        for (int waited = 0; waited <= 2000; waited += 100) {
            red = RedPixels(Screenshot(program.windowId()), rows);
            if ((red > kSomeText) == expected && (expected || red == 0))
                break;
            QThread::msleep(100);
        }
        return red;
    }

    // Waits until `text` appears once more in the debug output than `before`.
    static bool WaitForAnother(Program &program, const QString &text, int before, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (program.debugOutput().count(text) <= before) {
            if (timer.elapsed() > timeoutMs || !program.running())
                return false;
            QThread::msleep(20);
        }
        return true;
    }
};

TEST_F(LiveCoding, EverySaveReloadsOnceWithinASecondAndKeepsTheState)
{
    Program program(scratch.path());
    StartOnV1(program);

    using Save = void (LiveCoding::*)(const QByteArray &);
    struct Case
    {
        const char *how;
        Save save;
    } const cases[] = {
        {"in place", &LiveCoding::SaveInPlace},
        {"by rename", &LiveCoding::SaveByRename},
        {"in place after the rename", &LiveCoding::SaveInPlace},
        {"by delete and create", &LiveCoding::SaveByDeleteAndCreate},
        {"in place after the new file", &LiveCoding::SaveInPlace},
    };
    int loads = 1;
    for (const Case &c : cases) {
        ++loads;
        const QString version = QString("v%1").arg(loads);
        (this->*c.save)(Version(version));
        EXPECT_TRUE(WaitForFile(scratch.filePath("out.txt"), QString("%1 loads=%2").arg(version).arg(loads), 1000))
            << c.how << ": " << Out().toStdString();
    }
    EXPECT_EQ(program.debugOutput().count("prod.lua reloaded"), loads - 1);

    // A burst of ten writes in about 50 ms is one reload, of the last one.
    for (int k = 0; k < 10; ++k) {
        SaveInPlace(Version(QString("burst%1").arg(k)));
        QThread::msleep(5);
    }
    ++loads;
    EXPECT_TRUE(WaitForFile(scratch.filePath("out.txt"), QString("burst9 loads=%1").arg(loads), 1000)) << Out().toStdString();
    QThread::msleep(500);
    EXPECT_EQ(program.debugOutput().count("prod.lua reloaded"), loads - 1);
    EXPECT_TRUE(Out().startsWith(QString("burst9 loads=%1 ").arg(loads))) << Out().toStdString();

    // A global set from the console survives the next reload.
    OpenConsole(program);
    Xdotool({"type", "--delay", "20", "kept = 'from console'"});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForFile(scratch.filePath("out.txt"), "kept=from console", 2000)) << Out().toStdString();
    SaveInPlace(Version("after console"));
    EXPECT_TRUE(WaitForFile(scratch.filePath("out.txt"),
                            QString("after console loads=%1 kept=from console").arg(loads + 1), 1000))
        << Out().toStdString();
}

TEST_F(LiveCoding, AFileThatDoesNotCompileKeepsTheLastGoodVersionAndIsShownUntilFixed)
{
    Program program(scratch.path());
    StartOnV1(program);
    SaveInPlace(Version("v2"));
    ASSERT_TRUE(WaitForFile(scratch.filePath("out.txt"), "v2 loads=2", 1000));
    EXPECT_EQ(BandPixels(program, false), 0);

    SaveInPlace("loads = 100\nfunction update( x = 1 end\n");
    ASSERT_TRUE(WaitForAnother(program, "dofile(\"prod.lua\"): prod.lua:2: ')' expected near '='", 0, 1000))
        << program.debugOutput().toStdString();
    // Nothing of the broken file ran: v2 keeps writing, its count unchanged.
    QFile::remove(scratch.filePath("out.txt"));
    EXPECT_TRUE(WaitForFile(scratch.filePath("out.txt"), "v2 loads=2", 1000)) << Out().toStdString();
    EXPECT_GT(BandPixels(program, true), kSomeText);

    SaveInPlace(Version("v3"));
    EXPECT_TRUE(WaitForFile(scratch.filePath("out.txt"), "v3 loads=3", 1000)) << Out().toStdString();
    EXPECT_EQ(BandPixels(program, false), 0);
}

TEST_F(LiveCoding, AFailingUpdateIsShownWithAGrowingCountUntilMendedFromTheConsole)
{
    WriteFile(Prod(), "function update() error('boom') end\n");
    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    ASSERT_TRUE(program.waitForDebug("Lua update() error:"));
    QThread::msleep(300);

    // The line's count changes between two pictures; nothing else in the view moves.
    const QImage first = Screenshot(program.windowId());
    QThread::msleep(300);
    const QImage second = Screenshot(program.windowId());
    EXPECT_GT(RedPixels(first, kBandRows), kSomeText);
    EXPECT_GT(RedPixels(second, kBandRows), kSomeText);
    const int h = first.height();
    EXPECT_NE(first.copy(0, h - kBandRows, first.width(), kBandRows),
              second.copy(0, h - kBandRows, second.width(), kBandRows)) << "the repeat count did not change";
    EXPECT_EQ(first.copy(0, 0, first.width(), h - kBandRows), second.copy(0, 0, second.width(), h - kBandRows));

    OpenConsole(program);
    EXPECT_GT(BandPixels(program, true, 0), kSomeText) << "the band moves up with the view";
    Xdotool({"type", "--delay", "20", "function update() end"});
    Xdotool({"key", "Return"});
    EXPECT_EQ(BandPixels(program, false, 0), 0);
}

TEST_F(LiveCoding, BadFilesAreReportedAndSurvived)
{
    Program program(scratch.path());
    WriteFile(Prod(), "good = true\n");
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();

    const QString prod = Prod();
    // Takes prod.lua away, whatever it is now.
    auto clear = [prod] {
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

    struct Case
    {
        const char *what;
        std::function<void()> make;
        const char *debug;   // the line the load writes
        bool shown;          // an error in the band
    } const cases[] = {
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
    for (const Case &c : cases) {
        if (QString(c.what) == "unreadable" && ::geteuid() == 0) {
            std::printf("[ SKIPPED  ] %s: root reads every file\n", c.what);
            continue;
        }
        const int before = program.debugOutput().count(c.debug);
        c.make();
        EXPECT_TRUE(WaitForAnother(program, c.debug, before, 10000)) << c.what;
        QThread::msleep(100);
        ASSERT_TRUE(program.running()) << c.what;
        if (c.shown)
            EXPECT_GT(BandPixels(program, true), kSomeText) << c.what;
        else
            EXPECT_EQ(BandPixels(program, false), 0) << c.what;

        // A good file again clears the band.
        const int reloads = program.debugOutput().count("prod.lua reloaded");
        clear();
        WriteFile(prod, "good = true\n");
        EXPECT_TRUE(WaitForAnother(program, "prod.lua reloaded", reloads, 2000)) << c.what;
        QThread::msleep(100);
        EXPECT_EQ(BandPixels(program, false), 0) << c.what;
    }
    EXPECT_TRUE(program.running());
}

TEST_F(LiveCoding, APipeNamedProdLuaAtStartUpIsRefusedInsteadOfBlocking)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(Prod()).constData(), 0600), 0);
    Program program(scratch.path());
    ASSERT_TRUE(program.start(15000)) << program.debugOutput().toStdString();
    EXPECT_TRUE(program.waitForDebug("dofile(\"prod.lua\"): cannot read prod.lua: not a regular file"));
    EXPECT_GT(BandPixels(program, true), kSomeText);
}

} // namespace
