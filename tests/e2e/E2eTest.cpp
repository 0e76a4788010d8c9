// End to end: start-up order and diagnostics, a production that cannot be
// loaded, the ways to end the window (Escape: the view test) and the player.
#include "Media.h"
#include "Program.h"

#include <QCoreApplication>

namespace {

using EndToEnd = EndToEndTest;

// The production's top level runs before any window is visible (it records
// its process's visible windows), after the font and missing-music lines.
// A 6000 x 6000 texture loaded there, before the view has a GL context, is
// drawn. The close request ends with status 0 after the full shutdown (a
// finaliser runs when the Lua state closes).
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

// The player in a 320x200 window: the view alone in the clear colour (its
// green read from the text "120.0"), no overlays, no session log; it ends
// with 0 at the end of a short track, or at once on Escape while a long one
// plays.
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
