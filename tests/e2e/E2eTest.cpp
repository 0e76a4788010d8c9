// End to end: the real program in a scratch folder under X — start-up order
// and diagnostics, a production it cannot load, and the three ways to end it.
#include "Program.h"

#include <QCoreApplication>

#include <sys/stat.h>

namespace {

using EndToEnd = EndToEndTest;

// The production's top level runs before any window is visible (it records
// the visible windows of its process), then the font and the missing-music
// lines are on the debug output; Escape ends with status 1.
TEST_F(EndToEnd, StartUpRunsTheProductionBeforeShowingTheWindowAndEscapeEndsWithStatusOne)
{
    ASSERT_TRUE(QFile::copy("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf", path("VeraMono.ttf")));
    Start("local pid = io.open('/proc/self/stat'):read('*n')\n"
          "os.execute('xdotool search --onlyvisible --pid ' .. pid .. ' > visible.txt')\n"
          "print('top level ran')\n");
    EXPECT_EQ(Xdotool({"getwindowname", program->windowId()}), "Velkaro");
    ASSERT_TRUE(program->waitForDebug("top level ran"));
    ASSERT_TRUE(QFile::exists(path("visible.txt")));
    EXPECT_EQ(Text("visible.txt"), "") << "a window was visible already";

    const QString debug = program->debugOutput();
    EXPECT_TRUE(debug.contains("\nBitstream Vera Sans Mono\n") || debug.startsWith("Bitstream Vera Sans Mono\n"))
        << debug.toStdString();
    EXPECT_TRUE(debug.contains("FMOD: FSOUND_Stream_Open error!\n\nFile not found\n")) << debug.toStdString();
    EXPECT_FALSE(debug.contains("FSOUND_Init error")) << debug.toStdString();

    program->keys({"key", "Escape"});
    ASSERT_TRUE(program->waitForExit());
    EXPECT_EQ(program->exitCode(), 1);
}

// A missing prod.lua, or a pipe that would block the read, leaves a running
// window with the failed load on the debug output and in the error band.
TEST_F(EndToEnd, AProductionThatCannotBeLoadedLeavesARunningWindowShowingWhy)
{
    const struct
    {
        bool pipe;
        const char *debug;
    } cases[] = {
        {false, "dofile(\"prod.lua\"): cannot open prod.lua"},
        {true, "dofile(\"prod.lua\"): cannot read prod.lua: not a regular file"},
    };
    for (const auto &c : cases) {
        if (c.pipe) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path("prod.lua")).constData(), 0600), 0);
        }
        Start();
        EXPECT_TRUE(program->waitForDebug(c.debug)) << program->debugOutput().toStdString();
        EXPECT_GT(BandPixels(program->windowId(), true), kSomeText) << c.debug;
        EXPECT_FALSE(program->waitForExit(1000)) << c.debug;
    }
}

// Closing as a window manager does ends with status 0 after the full shutdown
// (a finaliser runs when the Lua state is closed); SIGTERM is not swallowed.
TEST_F(EndToEnd, CloseRequestAndSigtermEndTheProgram)
{
    Start("keep = newproxy(true)\n"
          "getmetatable(keep).__gc = function()\n"
          "  local f = io.open('closed.txt', 'w') f:write('closed') f:close()\n"
          "end\n");
    ASSERT_TRUE(program->requestClose());
    ASSERT_TRUE(program->waitForExit());
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(Text("closed.txt"), "closed");

    Start();
    program->terminate();
    EXPECT_TRUE(program->waitForExit(10000)) << "SIGTERM was swallowed";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
