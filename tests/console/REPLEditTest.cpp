// Console editor behaviour, driven with real key events: continuation and
// submission, history, the protected region, Home, brackets and Escape.
#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

class ConsoleTest : public ::testing::Test
{
protected:
    ScratchDir scratch;
    ConsoleHarness console;

    // What the user sees after the last prompt (in any letter case).
    QString Input() const
    {
        const QString text = console.Text();
        const qsizetype prompt = text.lastIndexOf("lua>", -1, Qt::CaseInsensitive);
        return prompt < 0 ? text : text.mid(prompt + 4);
    }
    QChar CharAt(int position) const { return console.repl->document()->characterAt(position); }
};

// ---- Continuation and submission ----

TEST_F(ConsoleTest, ForLoopContinuesThenSubmitsAllThreeLines)
{
    console.Enter("for i=1,3 do");
    EXPECT_TRUE(console.commands.isEmpty());
    EXPECT_EQ(console.Text(), "Lua>for i=1,3 do\n    ");

    console.Enter("print(i)");
    EXPECT_TRUE(console.commands.isEmpty());
    EXPECT_EQ(console.Text(), "Lua>for i=1,3 do\n    print(i)\n    ");

    console.Enter("end");
    ASSERT_EQ(console.commands.size(), 1);
    EXPECT_EQ(console.commands[0], "for i=1,3 do\n    print(i)\n    end");
    EXPECT_EQ(console.Text(), "Lua>for i=1,3 do\n    print(i)\n    end\n1\n2\n3\n\nLua>");
    EXPECT_EQ(console.repl->History(), QVector<QString>{console.commands[0]});
    EXPECT_EQ(console.CursorPosition(), console.Text().size());
}

TEST_F(ConsoleTest, SyntaxErrorInTheMiddleIsSubmittedAtOnce)
{
    console.Enter("x = = 1");
    ASSERT_EQ(console.commands, QStringList{"x = = 1"});
    EXPECT_TRUE(console.Text().contains("unexpected symbol near '='"));
    EXPECT_TRUE(console.Text().endsWith("\nLua>"));
}

TEST_F(ConsoleTest, UnfinishedLongStringAndLongCommentContinue)
{
    console.Enter("s = [[abc");
    EXPECT_TRUE(console.commands.isEmpty());
    console.Enter("def]]");
    ASSERT_EQ(console.commands, QStringList{"s = [[abc\n    def]]"});

    console.Enter("--[[ c");
    EXPECT_EQ(console.commands.size(), 1);
    EXPECT_TRUE(console.Text().endsWith("Lua>--[[ c\n    "));
    console.Enter("]]");
    EXPECT_EQ(console.commands.size(), 2);
}

TEST_F(ConsoleTest, CtrlReturnContinuesEvenAfterACompleteChunkAndShiftReturnSubmits)
{
    console.Type("x = 1");
    console.Key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(console.commands.isEmpty());
    EXPECT_EQ(console.Text(), "Lua>x = 1\n    ");

    console.Key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(console.commands, QStringList{"x = 1\n    "});
}

TEST_F(ConsoleTest, ContinuationLineRepeatsTheIndentOfTheCursorLine)
{
    console.Enter("if true then");
    console.Type("  ");
    console.Enter("if true then");
    // The line held 6 leading spaces, so the next one gets 6.
    EXPECT_TRUE(console.Text().endsWith("\n      if true then\n      "));
}

TEST_F(ConsoleTest, EmptyReturnRunsTheEmptyCommandWithoutRecordingIt)
{
    console.Key(Qt::Key_Return);
    EXPECT_EQ(console.commands, QStringList{""});
    EXPECT_EQ(console.Text(), "Lua>\nLua>");
    EXPECT_TRUE(console.repl->History().isEmpty());
}

TEST_F(ConsoleTest, KeypadEnterInsertsAPlainLineBreakAndSubmitsNothing)
{
    console.Type("x = 1");
    console.Key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(console.commands.isEmpty());
    EXPECT_EQ(console.Text(), "Lua>x = 1\n");
}

TEST_F(ConsoleTest, KeysAreDroppedWhileACommandRuns)
{
    ConsoleHarness &c = console;
    QString textDuringRun;
    bool bEnabledDuringRun = true;
    // Runs before the harness's receiver would: types while the command runs.
    QObject::disconnect(c.repl, &REPLEdit::CommandEntered, nullptr, nullptr);
    QObject::connect(c.repl, &REPLEdit::CommandEntered, c.repl, [&](QString) {
        bEnabledDuringRun = c.repl->InputEnabled();
        c.Type("zz");
        c.Key(Qt::Key_Return);
        textDuringRun = c.Text();
        c.repl->NewPrompt();
    });
    c.Enter("x = 1");
    EXPECT_FALSE(bEnabledDuringRun);
    EXPECT_EQ(textDuringRun, "Lua>x = 1");
    EXPECT_TRUE(c.repl->InputEnabled());
    EXPECT_EQ(c.Text(), "Lua>x = 1\nLua>");
}

// ---- History ----

TEST_F(ConsoleTest, HistoryRecordsRepeatsOnlyWhenNotInARow)
{
    console.Enter("a = 1");
    console.Enter("b = 2");
    console.Enter("a = 1");
    EXPECT_EQ(console.repl->History(), (QVector<QString>{"a = 1", "b = 2", "a = 1"}));

    console.Enter("c = 3");
    console.Enter("c = 3");
    EXPECT_EQ(console.repl->History().size(), 4);
    EXPECT_EQ(console.commands.size(), 5);
    EXPECT_EQ(console.repl->HistoryIndex(), 4);
}

TEST_F(ConsoleTest, BrowsingStepsThroughEntriesAndBringsBackOwnText)
{
    console.Enter("x1 = 1");
    console.Enter("x2 = 2");
    console.Enter("x3 = 3");
    console.Type("y");

    console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x3 = 3");
    EXPECT_EQ(console.repl->SavedInput(), "y");
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x2 = 2");
    console.Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x3 = 3");
    console.Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Input(), "y");
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x3 = 3");
    EXPECT_EQ(console.CursorPosition(), console.Text().size());

    // At the oldest entry Ctrl+Up shows it again.
    for (int i = 0; i < 5; ++i)
        console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x1 = 1");
    EXPECT_EQ(console.repl->HistoryIndex(), 0);
}

TEST_F(ConsoleTest, EditedRecalledEntryBecomesTheSavedInput)
{
    console.Enter("x1 = 1");
    console.Enter("x2 = 2");
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    console.Type("0");
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "x1 = 1");
    EXPECT_EQ(console.repl->SavedInput(), "x2 = 20");
}

TEST_F(ConsoleTest, BrowsingAnEmptyHistoryOnlyMovesAStrayCursorToTheInput)
{
    console.Type("abc");
    console.SetCursorPosition(1);
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Input(), "abc");
    EXPECT_EQ(console.CursorPosition(), 4);
    console.Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Input(), "abc");
}

// ---- Input normalisation and the input start ----

TEST_F(ConsoleTest, TabsAreExpandedOnlyWhenSubmitted)
{
    console.Type("x =\t1");
    EXPECT_EQ(console.Text(), "Lua>x =\t1");
    console.Key(Qt::Key_Return);
    EXPECT_EQ(console.commands, QStringList{"x =   1"});
    EXPECT_EQ(console.Text(), "Lua>x =   1\nLua>");
    EXPECT_EQ(console.repl->History(), QVector<QString>{"x =   1"});
}

TEST_F(ConsoleTest, PromptTextTypedInAnyCaseMovesTheInputStart)
{
    console.Type("-- lUa>");
    console.Type("x = 1");
    EXPECT_EQ(console.repl->InputStartPosition(), 4 + int(QString("-- lUa>").size()));
    EXPECT_EQ(console.repl->CurrentInput(), "x = 1");
    console.Key(Qt::Key_Return);
    EXPECT_EQ(console.commands, QStringList{"x = 1"});
}

TEST_F(ConsoleTest, BackspaceStopsAtTheInputStart)
{
    console.Type("ab");
    console.Key(Qt::Key_Backspace);
    EXPECT_EQ(console.Text(), "Lua>a");
    console.Key(Qt::Key_Backspace);
    EXPECT_EQ(console.Text(), "Lua>");
    console.Key(Qt::Key_Backspace);
    EXPECT_EQ(console.Text(), "Lua>");
    console.SetCursorPosition(2);
    console.Key(Qt::Key_Backspace);
    EXPECT_EQ(console.Text(), "Lua>");
}

TEST_F(ConsoleTest, TextBeforeTheInputStartIsProtectedButCanBeCopied)
{
    console.Enter("a = 1");
    console.SetCursorPosition(2);
    console.Type("zz");
    EXPECT_EQ(console.Text(), "Lua>a = 1\nLua>");

    QTextCursor select = console.repl->textCursor();
    select.setPosition(4);
    select.setPosition(9, QTextCursor::KeepAnchor);
    console.repl->setTextCursor(select);
    console.Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "a = 1");
    EXPECT_EQ(console.Text(), "Lua>a = 1\nLua>");

    // Keys without text still move the cursor over the protected part.
    console.Key(Qt::Key_End);
    EXPECT_EQ(console.CursorPosition(), 9);
}

TEST_F(ConsoleTest, SelectionReachingIntoTheInputCanBeTypedOverFromItsEnd)
{
    console.Type("abc");
    QTextCursor select = console.repl->textCursor();
    select.setPosition(2);
    select.setPosition(6, QTextCursor::KeepAnchor);
    console.repl->setTextCursor(select);
    console.Type("X");
    EXPECT_EQ(console.Text(), "LuXc");
}

// ---- Home ----

TEST_F(ConsoleTest, HomeOnThePromptLineGoesToTheInputStartEveryTime)
{
    console.Type("abc");
    console.Key(Qt::Key_Home);
    EXPECT_EQ(console.CursorPosition(), 4);
    console.Key(Qt::Key_Home);
    EXPECT_EQ(console.CursorPosition(), 4);

    console.Key(Qt::Key_End);
    console.Key(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(console.repl->textCursor().selectedText(), "abc");
}

TEST_F(ConsoleTest, HomeOnAContinuationLineGoesToTheTextThenToTheLineStart)
{
    console.Enter("for i=1,3 do");
    console.Type("x");
    const int lineStart = int(QString("Lua>for i=1,3 do\n").size());
    console.Key(Qt::Key_Home);
    EXPECT_EQ(console.CursorPosition(), lineStart + 4);
    console.Key(Qt::Key_Home);
    EXPECT_EQ(console.CursorPosition(), lineStart);
}

TEST_F(ConsoleTest, HomeOnAnEarlierPromptLineJumpsToTheCurrentInput)
{
    console.Enter("a = 1");
    console.Type("b");
    console.SetCursorPosition(6);
    console.Key(Qt::Key_Home);
    EXPECT_EQ(console.CursorPosition(), console.repl->InputStartPosition());
    EXPECT_EQ(console.CursorPosition(), int(QString("Lua>a = 1\nLua>").size()));
}

// ---- Bracket matching ----

TEST_F(ConsoleTest, ClosingBracketMatchesItsOpeningPartner)
{
    console.Type("f(g(x)");
    console.Type(")");
    ASSERT_TRUE(console.repl->MatchValid());
    EXPECT_EQ(console.repl->MatchPosition(), 4 + 1);
    EXPECT_EQ(CharAt(console.repl->MatchPosition()), '(');

    console.Type("x");
    EXPECT_FALSE(console.repl->MatchValid());
}

TEST_F(ConsoleTest, ArrowKeyBeforeAnOpeningBracketMatchesItsPartner)
{
    console.Type("f(a)");
    for (int i = 0; i < 3; ++i)
        console.Key(Qt::Key_Left);
    ASSERT_TRUE(console.repl->MatchValid());
    EXPECT_EQ(console.repl->MatchPosition(), 4 + 3);
    EXPECT_EQ(CharAt(console.repl->MatchPosition()), ')');
}

TEST_F(ConsoleTest, OpeningBracketTypedBeforeAClosingOneMatchesIt)
{
    console.Type("ab)");
    console.Key(Qt::Key_Left);
    console.Type("(");
    ASSERT_TRUE(console.repl->MatchValid());
    EXPECT_EQ(console.repl->MatchPosition(), 4 + 3);
    EXPECT_EQ(CharAt(console.repl->MatchPosition()), ')');
}

TEST_F(ConsoleTest, BracketsLeftUnmatchedOrBehindThePromptDrawNoBox)
{
    console.Type("(a");
    EXPECT_FALSE(console.repl->MatchValid());
    console.Enter(")");
    // The "(" of the earlier command lies before the input start.
    console.Type(")");
    EXPECT_FALSE(console.repl->MatchValid());
}

TEST_F(ConsoleTest, MatchedBracketGetsAGreenBoxOnlyWhileTheCursorIsInTheInput)
{
    console.Type("a(b)");
    ASSERT_TRUE(console.repl->MatchValid());
    QTextCursor match(console.repl->document());
    match.setPosition(console.repl->MatchPosition());
    const QRect r1 = console.repl->cursorRect(match);
    match.movePosition(QTextCursor::NextCharacter);
    const QRect r2 = console.repl->cursorRect(match);
    ASSERT_GT(r2.left() - 1, r1.left());

    auto greenOnTopEdge = [&]() {
        const QImage image = console.repl->viewport()->grab().toImage();
        int green = 0;
        for (int x = r1.left(); x <= r2.left() - 1; ++x)
            green += image.pixelColor(x, r1.top()) == QColor(Qt::green);
        return green;
    };
    EXPECT_EQ(greenOnTopEdge(), r2.left() - r1.left());

    console.SetCursorPosition(1);
    EXPECT_TRUE(console.repl->MatchValid());
    EXPECT_EQ(greenOnTopEdge(), 0);
}

// ---- Escape ----

TEST_F(ConsoleTest, EscapeInTheInputEmptiesItAndReachesTheParent)
{
    console.Enter("x1 = 1");
    console.Type("abc");
    console.Key(Qt::Key_Escape);
    EXPECT_EQ(Input(), "");
    EXPECT_EQ(console.parent.keys, QVector<int>{Qt::Key_Escape});
}

TEST_F(ConsoleTest, EscapeRestoresTheSavedInputAfterABrowse)
{
    console.Enter("x1 = 1");
    console.Type("abc");
    console.Key(Qt::Key_Up, Qt::ControlModifier);
    console.Key(Qt::Key_Escape);
    EXPECT_EQ(Input(), "abc");
}

TEST_F(ConsoleTest, EscapeBeforeTheInputOnlyReplacesTheInputUnlessCtrlIsHeld)
{
    console.Type("abc");
    console.SetCursorPosition(1);
    console.Key(Qt::Key_Escape);
    EXPECT_EQ(console.Text(), "Lua>");
    EXPECT_TRUE(console.parent.keys.isEmpty());

    console.Type("abc");
    console.SetCursorPosition(1);
    console.Key(Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_EQ(console.Text(), "Lua>");
    EXPECT_EQ(console.parent.keys, QVector<int>{Qt::Key_Escape});
}

} // namespace
