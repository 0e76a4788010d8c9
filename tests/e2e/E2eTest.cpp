// End to end: start-up order and diagnostics, a production that cannot be
// loaded, the ways to end the program, and the console's session kept
// across a restart.
#include "Program.h"

#include <QCoreApplication>

namespace {

using EndToEnd = EndToEndTest;

// The production's top level runs before any window is visible (it records
// its process's visible windows), after the font and missing-music lines.
TEST_F(EndToEnd, StartUpRunsTheProductionBeforeShowingTheWindowAndEscapeEndsWithStatusOne)
{
    ASSERT_TRUE(QFile::copy("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf", path("VeraMono.ttf")));
    Start("local pid = io.open('/proc/self/stat'):read('*n')\n"
          "os.execute('xdotool search --onlyvisible --pid ' .. pid .. ' > visible.txt')\nprint('top level ran')\n");
    ASSERT_TRUE(WaitForDebug("top level ran"));
    EXPECT_TRUE(QFile::exists(path("visible.txt")) && Text("visible.txt").isEmpty()) << "a window was visible already";
    EXPECT_TRUE(Debug().startsWith("Bitstream Vera Sans Mono\n") || Debug().contains("\nBitstream Vera Sans Mono\n")) << Debug().toStdString();
    EXPECT_TRUE(Debug().contains("FMOD: FSOUND_Stream_Open error!\n\nFile not found\n")) << Debug().toStdString();
    EXPECT_FALSE(Debug().contains("FSOUND_Init error"));
    Keys({"key", "Escape"});
    EXPECT_EQ(ExitCode(), 1);
}

TEST_F(EndToEnd, AMissingProductionLeavesARunningWindowShowingWhyAndCloseRequestOrSigtermEndIt)
{
    Start();
    EXPECT_TRUE(WaitForDebug("dofile(\"prod.lua\"): cannot open prod.lua")) << Debug().toStdString();
    EXPECT_GT(BandPixels(window, true), 20);
    EXPECT_TRUE(running());
    // The close request ends with status 0 after the full shutdown (a
    // finaliser runs when the Lua state closes); SIGTERM is not swallowed.
    Start("keep = newproxy(true)\n"
          "getmetatable(keep).__gc = function() local f = io.open('closed.txt', 'w') f:write('closed') f:close() end\n");
    RequestClose();
    EXPECT_EQ(ExitCode(), 0);
    EXPECT_EQ(Text("closed.txt"), "closed");
    Start();
    ::kill(pid_t(process.processId()), SIGTERM);
    EXPECT_TRUE(process.waitForFinished(10000)) << "SIGTERM was swallowed";
}

TEST_F(EndToEnd, ConsoleCommandsRunInTheProductionAndTheSessionSurvivesARestart)
{
    const QString session = path("replsession.txt"), history = "2\nprint(answer + 1)\n###\nerror('bad')\n###\n";
    Start("answer = 42\n");
    OpenConsole();
    TypeLine("print(answer + 1)");
    TypeLine("error('bad')");
    ASSERT_TRUE(WaitForFile(session, "bad")) << Text("replsession.txt").toStdString();
    EXPECT_EQ(Text("replsession.txt"), history + "Lua>print(answer + 1)\n43\n\nLua>error('bad')\n[string \"error('bad')\"]:1: bad\n\nLua>");
    RequestClose();
    EXPECT_EQ(ExitCode(), 0);
    Start(); // the old session shows; Ctrl+Up recalls its newest command
    OpenConsole();
    Xdotool({"key", "ctrl+Up"});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForFile(session, "bad\n\nLua>error('bad')\n[string")) << Text("replsession.txt").toStdString();
    EXPECT_TRUE(Text("replsession.txt").startsWith(history)) << "the recalled command was recorded twice";
    EXPECT_TRUE(Text("replsession.txt").contains("Lua>print(answer + 1)\n43\n"));
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
