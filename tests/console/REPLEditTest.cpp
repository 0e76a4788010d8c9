// Console editor behaviour through real key events: continuation and
// submission, history, the protected region, Home, brackets and Escape.
#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QApplication>
#include <QClipboard>

#include <gtest/gtest.h>

namespace {

class ConsoleTest : public ::testing::Test
{
protected:
    ScratchDir scratch;
    ConsoleHarness c;
};

TEST_F(ConsoleTest, ForLoopContinuesWithTheLineIndentThenSubmitsAllThreeLines)
{
    c.Enter("for i=1,3 do");
    EXPECT_EQ(c.Text(), "Lua>for i=1,3 do\n    ");
    c.Enter("  print(i)");
    EXPECT_EQ(c.Text(), "Lua>for i=1,3 do\n      print(i)\n      ");
    EXPECT_TRUE(c.commands.isEmpty());
    c.Enter("end");
    const QString command = "for i=1,3 do\n      print(i)\n      end";
    EXPECT_EQ(c.commands, QStringList{command});
    EXPECT_EQ(c.Text(), "Lua>" + command + "\n1\n2\n3\n\nLua>");
    EXPECT_EQ(c.repl->History(), QVector<QString>{command});
    EXPECT_EQ(c.CursorPosition(), c.Text().size());
}

TEST_F(ConsoleTest, UnfinishedLongStringsAndCommentsContinueBrokenOrEmptyInputIsSubmitted)
{
    for (const char *line : {"s = [[abc", "def]]", "--[[ c", "]]", "x = = 1", ""})
        c.Enter(line);
    const QStringList commands = {"s = [[abc\n    def]]", "--[[ c\n    ]]", "x = = 1"};
    EXPECT_EQ(c.commands, commands + QStringList{""});
    EXPECT_EQ(c.repl->History(), QVector<QString>(commands.begin(), commands.end()));
    EXPECT_TRUE(c.Text().contains("Lua>--[[ c\n    ]]\nLua>x = = 1\n"));
    EXPECT_TRUE(c.Text().contains("unexpected symbol near '='"));
    EXPECT_TRUE(c.Text().endsWith("\nLua>\nLua>"));
}

TEST_F(ConsoleTest, CtrlReturnAndKeypadEnterBreakTheLineOfACompleteChunk)
{
    c.Type("x = 1");
    c.Key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(c.Text(), "Lua>x = 1\n    ");
    c.Key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(c.Text(), "Lua>x = 1\n    \n");
    EXPECT_TRUE(c.commands.isEmpty());
    c.Key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(c.commands, QStringList{"x = 1\n    \n"});
}

TEST_F(ConsoleTest, HistorySkipsOnlyARepeatInARow)
{
    for (const char *command : {"a = 1", "b = 2", "a = 1", "c = 3", "c = 3"})
        c.Enter(command);
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"a = 1", "b = 2", "a = 1", "c = 3"}));
    EXPECT_EQ(c.commands.size(), 5);
}

TEST_F(ConsoleTest, BrowsingStepsThroughEntriesAndBringsBackOwnText)
{
    for (const char *command : {"x1 = 1", "x2 = 2", "x3 = 3"})
        c.Enter(command);
    c.Type("y");
    // Ctrl+Up (true) or Ctrl+Down, and the input shown after it.
    const std::pair<bool, QString> steps[] = {{true, "x3 = 3"}, {true, "x2 = 2"}, {false, "x3 = 3"},
                                              {false, "y"},     {true, "x3 = 3"}, {true, "x2 = 2"},
                                              {true, "x1 = 1"}, {true, "x1 = 1"}};
    for (const auto &[older, shown] : steps) {
        c.Ctrl(older ? Qt::Key_Up : Qt::Key_Down);
        EXPECT_EQ(c.Input(), shown);
    }
    EXPECT_EQ(c.repl->SavedInput(), "y");
    EXPECT_EQ(c.CursorPosition(), c.Text().size());
    // An edited entry becomes the text brought back after the newest one.
    c.Type("0");
    for (int i = 0; i < 3; ++i)
        c.Ctrl(Qt::Key_Down);
    EXPECT_EQ(c.Input(), "x1 = 10");
}

TEST_F(ConsoleTest, InputFollowsTheLastPromptTextInAnyCaseAndTabsExpandOnSubmit)
{
    c.Type("s = [[lUa>]] x =\t1");
    EXPECT_EQ(c.repl->InputStartPosition(), 14);
    EXPECT_EQ(c.Text(), "Lua>s = [[lUa>]] x =\t1");
    c.Key(Qt::Key_Return);
    EXPECT_EQ(c.commands, QStringList{"]] x =   1"});
    EXPECT_TRUE(c.Text().startsWith("Lua>s = [[lUa>]] x =   1\n"));
}

TEST_F(ConsoleTest, TextBeforeTheInputStartIsProtectedButCanBeCopied)
{
    c.Enter("a = 1");
    c.Type("b");
    c.Key(Qt::Key_Backspace);
    c.Key(Qt::Key_Backspace); // at the input start
    EXPECT_EQ(c.Text(), "Lua>a = 1\nLua>");
    c.SetCursorPosition(2);
    c.Key(Qt::Key_Backspace);
    c.Type("zz");
    EXPECT_EQ(c.Text(), "Lua>a = 1\nLua>");
    c.Select(4, 9);
    c.Ctrl(Qt::Key_C);
    EXPECT_EQ(QApplication::clipboard()->text(), "a = 1");
    // Keys without text move the cursor there; browsing takes it back.
    c.Key(Qt::Key_End);
    EXPECT_EQ(c.CursorPosition(), 9);
    c.Ctrl(Qt::Key_Up);
    EXPECT_EQ(c.CursorPosition(), c.repl->InputStartPosition());
}

TEST_F(ConsoleTest, HomeGoesToTheInputStartOrToTheTextOfAContinuationLine)
{
    c.Enter("a = 1");
    c.Type("for i=1,3 do");
    const int inputStart = 14; // after "Lua>a = 1\nLua>"
    for (const int from : {int(c.Text().size()), inputStart, 6}) { // on the prompt line, again, an old prompt line
        c.SetCursorPosition(from);
        c.Key(Qt::Key_Home);
        EXPECT_EQ(c.CursorPosition(), inputStart);
    }
    c.Key(Qt::Key_End);
    c.Key(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(c.repl->textCursor().selectedText(), "for i=1,3 do");
    c.Key(Qt::Key_End);
    c.Key(Qt::Key_Return);
    c.Type("x");
    const int lineStart = inputStart + 13;
    for (const int to : {lineStart + 4, lineStart}) {
        c.Key(Qt::Key_Home);
        EXPECT_EQ(c.CursorPosition(), to);
    }
}

TEST_F(ConsoleTest, BracketFindsItsPartnerOnlyWithinTheInput)
{
    // Typed, Left presses, typed after; the offset of the partner from the
    // input start, -1 for none.
    const struct { QString typed; int lefts; QString after; int partner; } cases[] = {
        {"f(g(x)", 0, ")", 1},       // a closing bracket typed
        {"f(a)", 3, "", 3},          // the cursor arrives before an opening one
        {"ab)", 1, "(", 3},          // an opening bracket typed before a closing one
        {"s = '(' -- Lua>", 0, ")", -1}, // the "(" lies before the input start
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.typed.toStdString());
        ScratchDir dir;
        ConsoleHarness h;
        h.Type(k.typed);
        for (int i = 0; i < k.lefts; ++i)
            h.Key(Qt::Key_Left);
        h.Type(k.after);
        EXPECT_EQ(h.repl->MatchValid() ? h.repl->MatchPosition() - h.repl->InputStartPosition() : -1, k.partner);
    }
}

TEST_F(ConsoleTest, EscapeReplacesTheInputAndGoesOnUnlessTheCursorIsBeforeIt)
{
    // Cursor before the input (1) or at its end (7), modifiers, whether the
    // key then reaches the parent.
    const struct { int position; Qt::KeyboardModifiers modifiers; bool passedOn; } cases[] = {
        {1, Qt::NoModifier, false}, {1, Qt::ControlModifier, true}, {7, Qt::NoModifier, true}};
    for (const auto &k : cases) {
        c.parent.keys.clear();
        c.SetCursorPosition(c.Text().size());
        c.Type("abc");
        c.SetCursorPosition(k.position);
        c.Key(Qt::Key_Escape, k.modifiers);
        EXPECT_EQ(c.Text(), "Lua>");
        EXPECT_EQ(c.parent.keys, k.passedOn ? QVector<int>{Qt::Key_Escape} : QVector<int>{});
    }
    // After a browse it brings back the text typed before it.
    c.Enter("x1 = 1");
    c.Type("abc");
    c.Ctrl(Qt::Key_Up);
    c.Key(Qt::Key_Escape);
    EXPECT_EQ(c.Input(), "abc");
}

} // namespace
