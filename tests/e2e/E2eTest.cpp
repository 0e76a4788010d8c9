// End to end: start-up order and diagnostics, a production that cannot be
// loaded, the ways to end the window (Escape: the view test) and the player.
#include "Media.h"
#include "Program.h"

#include <QCoreApplication>

namespace {

using EndToEnd = EndToEndTest;

// The top level records its process's visible windows; a 6000 x 6000 texture
// loaded there, before the view has a GL context, is drawn; a finaliser shows
// the Lua state closed.
TEST_F(EndToEnd, StartUpRunsTheProductionBeforeShowingTheWindowAndACloseRequestShutsItDown)
{
    ASSERT_TRUE(QFile::copy("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf", path("VeraMono.ttf")));
    QImage big(6000, 6000, QImage::Format_RGB32);
    big.fill(QColor(0, 0, 255));
    ASSERT_TRUE(big.save(path("big.png")));
    Start("local pid = io.open('/proc/self/stat'):read('*n')\n"
          "T = assert(loadTexture('big.png')) setCamPos(0, 500, 100) lookAt(0, 500, 0)\n"
          "function render() colorGL(255, 255, 255, 255) bindTexture(T) beginQuadGL() texCoordGL(0, 0) vectorGL(-999, 0, 0)\n"
          "  texCoordGL(1, 0) vectorGL(999, 0, 0) texCoordGL(1, 1) vectorGL(999, 999, 0) texCoordGL(0, 1) vectorGL(-999, 999, 0) endGL() end\n"
          "os.execute('xdotool search --onlyvisible --pid ' .. pid .. ' > visible.txt')\n"
          "print(string.format('top level ran %.1f', tonumber('2.5')))\n"
          "keep = newproxy(true)\n"
          "getmetatable(keep).__gc = function() local f = io.open('closed.txt', 'w') f:write('closed') f:close() end\n");
    ASSERT_TRUE(WaitForDebug("top level ran 2.5")) << Debug().toStdString(); // numbers written and read with "."
    EXPECT_TRUE(QFile::exists(path("visible.txt")) && Text("visible.txt").isEmpty()) << "a window was visible already";
    EXPECT_TRUE(Debug().startsWith("Bitstream Vera Sans Mono\n") || Debug().contains("\nBitstream Vera Sans Mono\n")) << Debug().toStdString();
    EXPECT_TRUE(Debug().contains("FMOD: FSOUND_Stream_Open error!\n\nFile not found\n")) << Debug().toStdString();
    EXPECT_FALSE(Debug().contains("FSOUND_Init error"));
    const QImage shot = Screenshot(window, [](const QImage &s) { return s.pixelColor(s.width() / 2, s.height() / 4) == QColor(0, 0, 255); });
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() / 4), QColor(0, 0, 255)) << Debug().toStdString();
    RequestClose();
    EXPECT_EQ(ExitCode(), 0);
    EXPECT_EQ(Text("closed.txt"), "closed");
}

// A missing production leaves a running window that shows why; Qt's own
// options go to Qt; SIGTERM is not swallowed.
TEST_F(EndToEnd, AMissingProductionLeavesARunningWindowShowingWhyQtsOptionsPassAndSigtermEndsIt)
{
    Start(QByteArray(), {"-style", "fusion", "-qwindowtitle", "Velkaro"});
    EXPECT_TRUE(WaitForDebug("dofile(\"prod.lua\"): cannot open prod.lua")) << Debug().toStdString();
    EXPECT_GT(BandPixels(window, true), 20);
    ASSERT_TRUE(SendSignal(process, SIGTERM)) << "the program had ended: " << Debug().toStdString();
    EXPECT_TRUE(process.waitForFinished(10000)) << "SIGTERM was swallowed";
}

// The clear colour's green is read from the text "120.0"; no session log.
TEST_F(EndToEnd, ThePlayerShowsTheViewAloneAndEndsAtTheEndOfTheMusicOrOnEscape)
{
    const struct { double music; bool escape; } cases[] = {{3.0, false}, {20.0, true}};
    for (const auto &c : cases) {
        ASSERT_TRUE(MakeToneMp3(path("music.mp3"), c.music));
        Start("playMp3() setClearColor(0, tonumber('120.0'), 0)\n", {"--play", "--window", "--size", "320x200"});
        const QImage shot = Screenshot(window, [](const QImage &s) { return OtherPixels(s, s.rect(), QColor(0, 120, 0)) == 0; });
        EXPECT_EQ(shot.size(), QSize(320, 200)) << c.music;
        EXPECT_EQ(OtherPixels(shot, shot.rect(), QColor(0, 120, 0)), 0) << c.music;
        QElapsedTimer timer;
        timer.start();
        if (c.escape)
            Keys({"key", "Escape"});
        EXPECT_EQ(ExitCode(10000), 0) << c.music;
        EXPECT_LT(timer.elapsed(), c.escape ? 2000 : 1000 * c.music + 3000) << c.music;
        EXPECT_FALSE(QFile::exists(path("replsession.txt")));
    }
}

// The sync file is read before the top level; the same first frames.
TEST_F(EndToEnd, TheWindowThePlayerAndTheExportStartTheProductionAlike)
{
    ASSERT_TRUE(WriteFile(path("sync.txt"), "velkaro-sync 1\nbpm 150\nrows-per-beat 8\ntrack x\n0 7 step\n"));
    ASSERT_TRUE(WriteFile(path("prod.lua"),
        "print('top level ran') setClearColor(10, 20, 30) top = sync('x') n = 0\n"
        "function update() n = n + 1 if n == 3 then local f = io.open('seen.txt', 'w')\n"
        "  f:write(string.format('top %g sync %g bpm %.3f rows %g', top, sync('x'), getBeat() * 60 / getTime(), getRow() / getBeat()))\n"
        "  f:close() end end\n"));
    const QString expected = "top 7 sync 7 bpm 150.000 rows 8";
    const QColor clear(10, 20, 30);
    const auto modes = {QStringList{}, QStringList{"--play", "--window", "--size", "320x200"}};
    for (const QStringList &arguments : modes) {
        QFile::remove(path("seen.txt"));
        Start(QByteArray(), arguments);
        EXPECT_TRUE(WaitForFile(path("seen.txt"), expected)) << arguments.join(' ').toStdString() << ": " << Text("seen.txt").toStdString();
        EXPECT_TRUE(Debug().contains("top level ran")) << arguments.join(' ').toStdString();
        const QImage shot = Screenshot(window, [&](const QImage &s) { return s.pixelColor(5, 5) == clear; });
        EXPECT_EQ(shot.pixelColor(5, 5), clear) << arguments.join(' ').toStdString();
        Stop();
    }
    QFile::remove(path("seen.txt"));
    const Outcome exported = RunToEnd({"--export", "f%d.png", "--size", "64x36", "--fps", "10", "--to", "0.5"});
    ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
    EXPECT_EQ(Text("seen.txt"), expected);
    EXPECT_TRUE(exported.err.contains("top level ran"));
    EXPECT_EQ(QImage(path("f0.png")).pixelColor(5, 5), clear);
}

// The pointer over the view; P pauses the clock in the sync pane; after F1 the
// bar's hint goes for good. Keys go as the window system sends them without a
// window manager (the keyboard follows the pointer) and to the focused window.
TEST_F(EndToEnd, KeysGoWhereTheFocusIsAfterF2AndF1WithAndWithoutAWindowManager)
{
    for (const bool pointerFocus : {true, false}) {
        QFile::remove(path("replsession.txt"));
        Start("function update() local f = io.open('t.txt', 'w') f:write(getTime()) f:close() end\n");
        const auto key = [&](const QString &name) { pointerFocus ? void(Xdotool({"key", name})) : Keys({"key", name}); };
        const auto time = [&] { return Text("t.txt").toDouble(); };
        const auto paused = [&] { const double t = time(); QThread::msleep(300); return t > 0 && time() == t; };
        // The grey letters of the hint in the bar, once shown (or gone).
        const auto hint = [&](bool shown) {
            int grey = 0;
            Screenshot(window, [&](const QImage &shot) {
                grey = CountPixels(shot, QRect(0, shot.height() - 14, 200, 14), [](QColor c) {
                    return c.red() > 80 && std::abs(c.red() - c.green()) < 10 && std::abs(c.green() - c.blue()) < 10;
                });
                return shown ? grey > 20 : grey == 0;
            });
            return grey;
        };
        Xdotool({"mousemove", "--window", window, "100", "100"});
        ASSERT_TRUE(WaitUntil([&] { return time() > 0; }));
        EXPECT_GT(hint(true), 20) << "no hint on the collapsed console's bar";
        for (const char *name : {"F2", "p"})
            key(name);
        EXPECT_TRUE(WaitUntil(paused, 5000)) << "P in the pane right after F2, pointer focus " << pointerFocus;
        for (const char *name : {"F2", "p"})
            key(name);
        const double resumed = time();
        EXPECT_TRUE(WaitUntil([&] { return time() > resumed + 0.2; }, 5000)) << "P in the view after F2";
        key("F1");
        Xdotool({"type", "--delay", "20", "=40+2"});
        key("Return");
        EXPECT_TRUE(WaitForFile(path("replsession.txt"), "=40+2\n42\n")) << Text("replsession.txt").toStdString();
        for (const char *name : {"F1", "p"})
            key(name);
        EXPECT_TRUE(WaitUntil(paused, 5000)) << "P in the view after F1";
        EXPECT_EQ(hint(false), 0) << "the hint stayed after the console was opened";
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include <X11/Xlib.h> // last: its macros clash with Qt's names

void SendCloseRequest(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
}
