// End to end: the real program in a scratch folder under X — start-up
// order and diagnostics, Escape, the window manager's close and SIGTERM.
#include "Program.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const char kFontPath[] = "/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf";

// A production whose top-level code records whether any window of this
// process was visible while it ran, and prints a marker.
const char kRecordingProduction[] =
    "local pid = io.open('/proc/self/stat'):read('*n')\n"
    "os.execute('xdotool search --onlyvisible --pid ' .. pid .. ' > visible.txt')\n"
    "print('top level ran')\n";

using EndToEnd = EndToEndTest;

TEST_F(EndToEnd, StartUpRunsTheProductionBeforeShowingTheWindowAndEscapeEndsWithStatusOne)
{
    WriteFile(scratch.filePath("prod.lua"), kRecordingProduction);
    ASSERT_TRUE(QFile::copy(kFontPath, scratch.filePath("VeraMono.ttf")));

    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    EXPECT_EQ(Xdotool({"getwindowname", program.windowId()}), "Velkaro");

    ASSERT_TRUE(program.waitForDebug("top level ran"));
    ASSERT_TRUE(QFile::exists(scratch.filePath("visible.txt")));
    EXPECT_EQ(ReadFile(scratch.filePath("visible.txt")), "") << "a window was visible already";

    const QString debug = program.debugOutput();
    EXPECT_TRUE(debug.contains("\nBitstream Vera Sans Mono\n") || debug.startsWith("Bitstream Vera Sans Mono\n"))
        << debug.toStdString();
    EXPECT_TRUE(debug.contains("FMOD: FSOUND_Stream_Open error!\n\nFile not found\n")) << debug.toStdString();
    EXPECT_FALSE(debug.contains("FSOUND_Init error")) << debug.toStdString();

    program.keys({"key", "Escape"});
    ASSERT_TRUE(program.waitForExit());
    EXPECT_TRUE(program.exitedNormally());
    EXPECT_EQ(program.exitCode(), 1);
}

TEST_F(EndToEnd, MissingProductionLeavesARunningWindow)
{
    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    EXPECT_TRUE(program.waitForDebug("dofile(\"prod.lua\"): cannot open prod.lua"))
        << program.debugOutput().toStdString();
    EXPECT_FALSE(program.waitForExit(1000));
    EXPECT_TRUE(program.running());
}

TEST_F(EndToEnd, CloseRequestEndsWithStatusZeroAfterTheFullShutdown)
{
    // A finaliser that runs only when the Lua state is closed.
    WriteFile(scratch.filePath("prod.lua"),
              "keep = newproxy(true)\n"
              "getmetatable(keep).__gc = function()\n"
              "  local f = io.open('closed.txt', 'w') f:write('closed') f:close()\n"
              "end\n");
    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    ASSERT_TRUE(program.requestClose());
    ASSERT_TRUE(program.waitForExit());
    EXPECT_TRUE(program.exitedNormally());
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(ReadFile(scratch.filePath("closed.txt")), "closed");
}

TEST_F(EndToEnd, SigtermEndsTheProgram)
{
    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    program.terminate();
    EXPECT_TRUE(program.waitForExit(10000)) << "SIGTERM was swallowed";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
