// Session log: the file the console writes after each command, what it
// restores from well-formed and from damaged files, and that a failed save
// never destroys the previous log.
#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray ReadFile(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void WriteFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class SessionLogTest : public ::testing::Test
{
protected:
    ScratchDir scratch;

    // A console constructed now, so it reads whatever replsession.txt holds.
    ConsoleHarness &Open()
    {
        console = std::make_unique<ConsoleHarness>();
        return *console;
    }
    ConsoleHarness &OpenWith(const QByteArray &file)
    {
        WriteFile(gSessionFileName, file);
        return Open();
    }

    // The console is usable: Escape clears the input, Return submits it,
    // and a typed command goes out and gets a prompt after it.
    void ExpectUsable(ConsoleHarness &c)
    {
        const int before = int(c.commands.size());
        c.Key(Qt::Key_Escape);
        EXPECT_EQ(c.repl->CurrentInput(), "");
        c.Key(Qt::Key_Return);
        c.Enter("usable = 1");
        EXPECT_EQ(c.commands.size(), before + 2);
        EXPECT_EQ(c.commands.last(), "usable = 1");
        EXPECT_TRUE(c.Text().endsWith("\nLua>usable = 1\nLua>"));
        EXPECT_EQ(c.repl->History().last(), "usable = 1");
    }

    std::unique_ptr<ConsoleHarness> console;
};

// ---- The file the console writes ----

TEST_F(SessionLogTest, TwoCommandsGiveTheEightLineFile)
{
    ConsoleHarness &c = Open();
    c.Enter("a = 1");
    c.Enter("b = 2");
    EXPECT_EQ(ReadFile(gSessionFileName), "2\na = 1\n###\nb = 2\n###\nLua>a = 1\nLua>b = 2\nLua>");
}

TEST_F(SessionLogTest, MultiLineEntriesWithOuterSpacesSurviveARestart)
{
    ConsoleHarness &c = Open();
    c.Enter("  x = 1  ");
    c.Enter("for i=1,2 do");
    c.Enter("y = i  ");
    c.Enter("end");
    c.Enter("print('out')");
    const QVector<QString> history = c.repl->History();
    ASSERT_EQ(history, (QVector<QString>{"  x = 1  ", "for i=1,2 do\n    y = i  \n    end", "print('out')"}));
    const QString text = c.Text();

    ConsoleHarness &again = Open();
    EXPECT_EQ(again.repl->History(), history);
    EXPECT_EQ(again.Text(), text);
    EXPECT_EQ(again.repl->HistoryIndex(), 3);
    EXPECT_EQ(again.CursorPosition(), text.size());
    again.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_TRUE(again.Text().endsWith("\nLua>print('out')"));
}

TEST_F(SessionLogTest, TextIsWrittenAndReadAsUtf8)
{
    ConsoleHarness &c = Open();
    c.repl->insertPlainText(QString::fromUtf8("s = \"\xC3\x84\xE2\x82\xAC\xF0\x9F\x99\x82\""));
    c.Key(Qt::Key_Return);
    ASSERT_EQ(c.repl->History().size(), 1);
    EXPECT_TRUE(ReadFile(gSessionFileName).contains("s = \"\xC3\x84\xE2\x82\xAC\xF0\x9F\x99\x82\"\n###\n"));
    const QVector<QString> history = c.repl->History();

    ConsoleHarness &again = Open();
    EXPECT_EQ(again.repl->History(), history);
}

// ---- Reading well-formed files ----

TEST_F(SessionLogTest, SeparatorLineInsideAnEntrySplitsIt)
{
    ConsoleHarness &c = OpenWith("2\nfirst\n###\ns = [[\n###\n]]\n###\nLua>first\nLua>");
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"first", "s = [["}));
    EXPECT_EQ(c.Text(), "]]\n###\nLua>first\nLua>");
    EXPECT_EQ(c.repl->HistoryIndex(), 2);
}

TEST_F(SessionLogTest, LeadingEmptyLinesAreDroppedInnerAndTrailingOnesKept)
{
    ConsoleHarness &c = OpenWith("2\n\n\nx = 1\n\ny = 2\n###\nz = 3\n\n\n###\n\n\nLua>\n\nLua>");
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"x = 1\n\ny = 2", "z = 3\n\n"}));
    EXPECT_EQ(c.Text(), "Lua>\n\nLua>");
}

TEST_F(SessionLogTest, FileWithOnlyZeroGivesAnEmptyConsoleThatRecovers)
{
    ConsoleHarness &c = OpenWith("0");
    EXPECT_TRUE(c.repl->History().isEmpty());
    EXPECT_EQ(c.Text(), "");
    c.Key(Qt::Key_Return);
    EXPECT_EQ(c.commands, QStringList{""});
    EXPECT_EQ(c.Text(), "\nLua>");
    ExpectUsable(c);
}

TEST_F(SessionLogTest, RestoredTextMatchesAddingItLineByLine)
{
    const QStringList lines = {"", "", "Lua>a = 1", "", "out put", "  indented  ", "", "Lua>"};
    ConsoleHarness &c = OpenWith("0\n" + lines.join("\n").toUtf8() + "\n");

    QTextEdit reference;
    reference.clear();
    for (const QString &line : lines)
        reference.append(line);
    EXPECT_EQ(c.Text(), reference.toPlainText());
    EXPECT_EQ(c.repl->document()->blockCount(), reference.document()->blockCount());
    EXPECT_EQ(c.Text(), "Lua>a = 1\n\nout put\n  indented  \n\nLua>");
}

TEST_F(SessionLogTest, LinesThatLookLikeMarkupAreRestoredLiterally)
{
    const QByteArray text = "Lua>x = a<b and c>d\n<b>bold</b> &lt;\nLua>";
    ConsoleHarness &c = OpenWith("0\n" + text);
    EXPECT_EQ(c.Text(), QString::fromUtf8(text));
}

TEST_F(SessionLogTest, MissingFileStartsFresh)
{
    ConsoleHarness &c = Open();
    EXPECT_EQ(c.Text(), "Lua>");
    EXPECT_TRUE(c.repl->History().isEmpty());
    EXPECT_FALSE(QFile::exists(gSessionFileName));
}

TEST_F(SessionLogTest, ConsoleTextWithoutPromptIsAllInput)
{
    ConsoleHarness &c = OpenWith("0\nx = 1");
    EXPECT_EQ(c.repl->CurrentInput(), "x = 1");
    c.Key(Qt::Key_Return);
    EXPECT_EQ(c.commands, QStringList{"x = 1"});
}

// ---- Reading damaged files ----

TEST_F(SessionLogTest, EntryCutShortByTheEndOfTheFileIsDropped)
{
    ConsoleHarness &c = OpenWith("2\na = 1\n###\nb = ");
    EXPECT_EQ(c.repl->History(), QVector<QString>{"a = 1"});
    EXPECT_EQ(c.repl->HistoryIndex(), 1);
    EXPECT_EQ(c.Text(), "");
    ExpectUsable(c);
}

TEST_F(SessionLogTest, HugeCountReadsWhatIsThereAndRestoresNoText)
{
    ConsoleHarness &c = OpenWith("999999999\na = 1\n###\nb = 2\n###\nLua>a = 1\nLua>b = 2\nLua>");
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"a = 1", "b = 2"}));
    EXPECT_EQ(c.Text(), "");
    ExpectUsable(c);
}

TEST_F(SessionLogTest, CountThatIsNotANumberMakesEverythingConsoleText)
{
    ConsoleHarness &c = OpenWith("two\na = 1\n###\nLua>");
    EXPECT_TRUE(c.repl->History().isEmpty());
    EXPECT_EQ(c.Text(), "a = 1\n###\nLua>");
}

TEST_F(SessionLogTest, EmptyFileGivesAnEmptyConsole)
{
    ConsoleHarness &c = OpenWith("");
    EXPECT_TRUE(c.repl->History().isEmpty());
    EXPECT_EQ(c.Text(), "");
    ExpectUsable(c);
}

TEST_F(SessionLogTest, CrlfLineEndsReadLikePlainOnes)
{
    ConsoleHarness &c = OpenWith("2\r\na = 1\r\n###\r\nb = 2\r\n###\r\nLua>a = 1\r\nLua>");
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"a = 1", "b = 2"}));
    EXPECT_EQ(c.Text(), "Lua>a = 1\nLua>");
}

TEST_F(SessionLogTest, InvalidUtf8IsShownWithReplacementCharacters)
{
    ConsoleHarness &c = OpenWith("1\nprint('\xFF\xFE')\n###\nLua>x\xC3");
    EXPECT_EQ(c.repl->History(), QVector<QString>{QString::fromUtf8("print('\xEF\xBF\xBD\xEF\xBF\xBD')")});
    EXPECT_EQ(c.Text(), QString::fromUtf8("Lua>x\xEF\xBF\xBD"));
    ExpectUsable(c);
}

TEST_F(SessionLogTest, NulBytesStayCharacters)
{
    ConsoleHarness &c = OpenWith(QByteArray("1\nab\0cd\n###\nLua>x\0y", 19));
    ASSERT_EQ(c.repl->History().size(), 1);
    EXPECT_EQ(c.repl->History()[0], QString("ab") + QChar(0) + QString("cd"));
    EXPECT_EQ(c.repl->CurrentInput(), QString("x") + QChar(0) + QString("y"));
    ExpectUsable(c);
}

TEST_F(SessionLogTest, RandomBinaryFileLeavesAUsableConsole)
{
    QRandomGenerator random(20240611);
    QByteArray bytes(256 * 1024, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    ConsoleHarness &c = OpenWith(bytes);
    EXPECT_GT(c.Text().size(), 0);
    ExpectUsable(c);
}

TEST_F(SessionLogTest, OneLineOfThreeMegabytesLoadsAsOneParagraph)
{
    const QByteArray line = QByteArray(3 * 1024 * 1024, 'x') + "Lua>";
    ConsoleHarness &c = OpenWith("0\n" + line);
    EXPECT_EQ(c.repl->document()->blockCount(), 1);
    EXPECT_EQ(c.Text().size(), line.size());
    EXPECT_EQ(c.repl->InputStartPosition(), line.size());
    ExpectUsable(c);
}

TEST_F(SessionLogTest, HundredThousandLineSessionLoadsLineForLine)
{
    QByteArray file = "1\nprint(1)\n###\n";
    QString expected;
    for (int i = 0; i < 100000; ++i) {
        const QByteArray line = "Lua>print(" + QByteArray::number(i) + ")  -- filler text to make it longer";
        file += line + "\n";
        expected += QString::fromLatin1(line) + "\n";
    }
    file += "Lua>";
    expected += "Lua>";
    ConsoleHarness &c = OpenWith(file);
    EXPECT_EQ(c.repl->document()->blockCount(), 100001);
    EXPECT_EQ(c.Text(), expected);
    EXPECT_EQ(c.repl->document()->findBlockByNumber(500).text(), "Lua>print(500)  -- filler text to make it longer");
    ExpectUsable(c);
}

// ---- Saving safely ----

TEST_F(SessionLogTest, SaveThatFailsPartWayLeavesTheOldFileWhole)
{
    const QByteArray old = "1\nold = 1\n###\nLua>old = 1\nLua>";
    ConsoleHarness &c = OpenWith(old);
    c.repl->insertPlainText(QString(200000, QLatin1Char('x')));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Writes beyond 8 KB fail with EFBIG instead of killing the child.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        c.repl->SaveSession(gSessionFileName);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));

    EXPECT_EQ(ReadFile(gSessionFileName), old);
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden), QStringList{gSessionFileName});

    // Without the limit the same save goes through.
    c.repl->SaveSession(gSessionFileName);
    EXPECT_EQ(ReadFile(gSessionFileName).size(), old.size() + 200000);
}

TEST_F(SessionLogTest, SessionFileThatIsAFolderIsLeftAlone)
{
    ASSERT_TRUE(QDir(scratch.path()).mkdir(gSessionFileName));
    ConsoleHarness &c = Open();
    EXPECT_EQ(c.Text(), "Lua>");
    c.Enter("a = 1");
    EXPECT_EQ(c.commands, QStringList{"a = 1"});
    EXPECT_TRUE(QFileInfo(gSessionFileName).isDir());
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{gSessionFileName});
    ExpectUsable(c);
}

TEST_F(SessionLogTest, SaveIntoAMissingFolderIsSilent)
{
    ConsoleHarness &c = Open();
    c.repl->SaveSession("missing/replsession.txt");
    EXPECT_FALSE(QFile::exists("missing/replsession.txt"));
    ExpectUsable(c);
}

} // namespace
