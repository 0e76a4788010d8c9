// End to end: the console of the real program — opened by dragging the
// splitter handle, commands typed and run, the session kept across a restart.
#include "Program.h"

namespace {

using ConsoleEndToEnd = EndToEndTest;

TEST_F(ConsoleEndToEnd, CommandsRunInTheProductionAndTheSessionSurvivesARestart)
{
    const QString session = path("replsession.txt");
    const QString history = "2\nprint(answer + 1)\n###\nerror('bad')\n###\n";
    Start("answer = 42\n");
    OpenConsole(*program);
    TypeLine("print(answer + 1)");
    ASSERT_TRUE(WaitForFile(session, "43")) << Text("replsession.txt").toStdString();
    TypeLine("error('bad')");
    ASSERT_TRUE(WaitForFile(session, "bad"));
    EXPECT_EQ(Text("replsession.txt"), history +
              "Lua>print(answer + 1)\n43\n\n"
              "Lua>error('bad')\n[string \"error('bad')\"]:1: bad\n\n"
              "Lua>");
    ASSERT_TRUE(program->requestClose());
    ASSERT_TRUE(program->waitForExit());
    EXPECT_EQ(program->exitCode(), 0);

    // A new start shows the old session; Ctrl+Up recalls its newest command.
    Start();
    OpenConsole(*program);
    Xdotool({"key", "ctrl+Up"});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForFile(session, "Lua>error('bad')\n[string \"error('bad')\"]:1: bad\n\nLua>error('bad')"))
        << Text("replsession.txt").toStdString();
    EXPECT_TRUE(Text("replsession.txt").startsWith(history)) << "recalling the newest command must not record it twice";
    EXPECT_TRUE(Text("replsession.txt").contains("Lua>print(answer + 1)\n43\n")) << "the old text is restored";
    program->keys({"key", "Escape"});
    ASSERT_TRUE(program->waitForExit());
    EXPECT_EQ(program->exitCode(), 1);
}

} // namespace
