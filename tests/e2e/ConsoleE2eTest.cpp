// End to end: the console of the real program — opened by dragging the
// splitter handle, commands typed and run, the session kept across a restart.
#include "Program.h"

#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class ConsoleEndToEnd : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        WriteFile(scratch.filePath("prod.lua"), "answer = 42\n");
    }

    QString Session() const { return QString::fromUtf8(ReadFile(scratch.filePath("replsession.txt"))); }
};

TEST_F(ConsoleEndToEnd, CommandsRunInTheProductionAndTheSessionSurvivesARestart)
{
    const QString session = scratch.filePath("replsession.txt");
    {
        Program program(scratch.path());
        ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
        OpenConsole(program);
        Xdotool({"type", "--delay", "20", "print(answer + 1)"});
        Xdotool({"key", "Return"});
        ASSERT_TRUE(WaitForFile(session, "43")) << Session().toStdString();
        Xdotool({"type", "--delay", "20", "error('bad')"});
        Xdotool({"key", "Return"});
        ASSERT_TRUE(WaitForFile(session, "bad"));

        EXPECT_EQ(Session(),
                  "2\nprint(answer + 1)\n###\nerror('bad')\n###\n"
                  "Lua>print(answer + 1)\n43\n\n"
                  "Lua>error('bad')\n[string \"error('bad')\"]:1: bad\n\n"
                  "Lua>");
        ASSERT_TRUE(program.requestClose());
        ASSERT_TRUE(program.waitForExit());
        EXPECT_EQ(program.exitCode(), 0);
    }

    // A new start shows the old session; Ctrl+Up recalls its newest command.
    Program program(scratch.path());
    ASSERT_TRUE(program.start()) << program.debugOutput().toStdString();
    OpenConsole(program);
    Xdotool({"key", "ctrl+Up"});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForFile(session, "Lua>error('bad')\n[string \"error('bad')\"]:1: bad\n\nLua>error('bad')"))
        << Session().toStdString();
    EXPECT_TRUE(Session().startsWith("2\nprint(answer + 1)\n###\nerror('bad')\n###\n"))
        << "recalling the newest command must not record it twice";
    EXPECT_TRUE(Session().contains("Lua>print(answer + 1)\n43\n")) << "the old text is restored";
    Xdotool({"key", "Escape"});
    ASSERT_TRUE(program.waitForExit());
    EXPECT_EQ(program.exitCode(), 1);
}

} // namespace
