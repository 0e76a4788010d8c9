// Session log: the file written after each command, what is restored from
// well-formed and damaged files, and saves that cannot or must not go through.
#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <grp.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray ReadFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool WriteFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs `work` in a child process; its exit code, -1 when it did not exit.
template <typename Work> int InChild(Work work)
{
    const pid_t child = fork();
    if (child == 0) {
        work();
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SessionLogTest : public ::testing::Test
{
protected:
    // A console made now, so it reads what replsession.txt holds.
    ConsoleHarness &Open() { return *(console = std::make_unique<ConsoleHarness>()); }
    // Escape empties the input, so Return submits "", then a command runs.
    static void ExpectUsable(ConsoleHarness &c)
    {
        c.Key(Qt::Key_Escape);
        c.Key(Qt::Key_Return);
        EXPECT_EQ(c.commands.value(c.commands.size() - 1, "none"), "");
        c.ExpectCommandRuns();
    }

    ScratchDir scratch;
    std::unique_ptr<ConsoleHarness> console;
};

TEST_F(SessionLogTest, EightLineFileAndEntriesWithLineBreaksSpacesAndUtf8SurviveARestart)
{
    ConsoleHarness &c = Open(); // no file: a fresh console
    EXPECT_EQ(c.Text(), "Lua>");
    c.Enter("a = 1");
    c.Enter("b = 2");
    EXPECT_EQ(ReadFile(gSessionFileName), "2\na = 1\n###\nb = 2\n###\nLua>a = 1\nLua>b = 2\nLua>");
    for (const char *line : {"  x = 1  ", "for i=1,2 do", "y = i  ", "end"})
        c.Enter(line);
    c.repl->insertPlainText(QString::fromUtf8("s = '\xC3\x84\xE2\x82\xAC\xF0\x9F\x99\x82'"));
    c.Key(Qt::Key_Return);
    const QVector<QString> history = c.repl->History();
    ASSERT_EQ(history.mid(2, 2), (QVector<QString>{"  x = 1  ", "for i=1,2 do\n    y = i  \n    end"}));
    EXPECT_TRUE(ReadFile(gSessionFileName).contains("\ns = '\xC3\x84\xE2\x82\xAC\xF0\x9F\x99\x82'\n###\n"));
    const QString text = c.Text();
    ConsoleHarness &again = Open();
    EXPECT_EQ(again.repl->History(), history);
    EXPECT_EQ(again.Text(), text);
    EXPECT_EQ(again.CursorPosition(), text.size());
    again.Ctrl(Qt::Key_Up);
    EXPECT_EQ(again.Input(), history.last());
}

TEST_F(SessionLogTest, CommandsWithSeparatorLinesOrLeadingEmptyLinesComeBackAsEntered)
{
    ConsoleHarness &c = Open();
    const QString commands[] = {"\n###\n\\###\n\\\\###\n####\nx = 1", "\n\n  y = 2", "\n"};
    for (const QString &command : commands) {
        c.repl->insertPlainText(command);
        c.Key(Qt::Key_Return);
    }
    EXPECT_EQ(c.commands, QStringList(std::begin(commands), std::end(commands)));
    EXPECT_TRUE(ReadFile(gSessionFileName).startsWith("3\n\n\\###\n\\\\###\n\\\\\\###\n####\nx = 1\n###\n"));
    const QVector<QString> history = c.repl->History();
    EXPECT_EQ(history.size(), 3);
    ConsoleHarness &again = Open();
    EXPECT_EQ(again.repl->History(), history);
}

// Separator look-alikes, empty lines, bad counts, markup and invalid UTF-8
// give the right history and text and a usable console (cut, binary, huge
// and CR/LF files: SessionLogFuzzTest).
TEST_F(SessionLogTest, AnyFileGivesTheRightHistoryAndTextAndAUsableConsole)
{
    const QString bad = QStringLiteral("\uFFFD");
    const struct { const char *name; QByteArray bytes; QVector<QString> history; QString text; } cases[] = {
        {"### inside an entry", "2\n####\n ###\n### \n###\ns = [[\n###\n]]\n###\nLua>first\nLua>", {"####\n ###\n### ", "s = [["},
         "]]\n###\nLua>first\nLua>"},
        {"empty lines", "2\n\n\nx = 1\n\ny = 2\n###\nz = 3\n\n\n###\n\n\nLua>\n\nLua>", {"\n\nx = 1\n\ny = 2", "z = 3\n\n"},
         "Lua>\n\nLua>"},
        {"only 0", "0", {}, ""},
        {"fewer entries", "3\na = 1\n###\nLua>a = 1\nLua>", {"a = 1"}, ""},
        {"count not a number", "two\na = 1\n###\nLua>", {}, "a = 1\n###\nLua>"},
        {"markup", "0\nLua>x = a<b and c>d\n<b>bold</b> &lt;\nLua>", {}, "Lua>x = a<b and c>d\n<b>bold</b> &lt;\nLua>"},
        {"invalid UTF-8", "1\nprint('\xFF\xFE')\n###\nLua>x\xC3", {"print('" + bad + bad + "')"}, "Lua>x" + bad},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(WriteFile(gSessionFileName, k.bytes));
        ConsoleHarness &c = Open();
        EXPECT_EQ(c.repl->History(), k.history);
        EXPECT_EQ(c.repl->HistoryIndex(), k.history.size());
        EXPECT_EQ(c.Text(), k.text);
        ExpectUsable(c);
    }
}

TEST_F(SessionLogTest, SaveThatFailsPartWayLeavesTheOldFileByteForByte)
{
    const QByteArray old = "1\nold = 1\n###\nLua>old = 1\nLua>";
    ASSERT_TRUE(WriteFile(gSessionFileName, old));
    ConsoleHarness &c = Open();
    c.repl->insertPlainText(QString(200000, QLatin1Char('x')));
    EXPECT_EQ(InChild([&] {
        signal(SIGXFSZ, SIG_IGN); // writes beyond 8 KB fail instead of killing the child
        const rlimit limit = {8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        c.repl->SaveSession(gSessionFileName);
    }), 0);
    EXPECT_EQ(ReadFile(gSessionFileName), old);
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{gSessionFileName});
    c.repl->SaveSession(gSessionFileName); // without the limit it goes through
    EXPECT_EQ(ReadFile(gSessionFileName).size(), old.size() + 200000);
}

TEST_F(SessionLogTest, WritableFileInAReadOnlyFolderIsStillSaved)
{
    ConsoleHarness &c = Open();
    c.Enter("a = 1");
    ASSERT_TRUE(QDir().mkdir("ro") && WriteFile("ro/replsession.txt", "old"));
    // The save runs as a user the folder's permissions apply to.
    ASSERT_EQ(chmod(".", 0711) | chmod("ro/replsession.txt", 0666) | chmod("ro", 0555), 0);
    EXPECT_EQ(InChild([&] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        c.repl->SaveSession("ro/replsession.txt");
    }), 0);
    chmod("ro", 0700);
    EXPECT_EQ(ReadFile("ro/replsession.txt"), "1\na = 1\n###\n" + c.Text().toUtf8());
    EXPECT_EQ(QDir("ro").entryList(QDir::Files | QDir::Hidden), QStringList{"replsession.txt"});
}

TEST_F(SessionLogTest, SessionFileThatIsAFolderOrInAMissingFolderIsNotSaved)
{
    ASSERT_TRUE(QDir().mkdir(gSessionFileName));
    ConsoleHarness &c = Open();
    EXPECT_EQ(c.Text(), "Lua>");
    c.Enter("a = 1");
    c.repl->SaveSession("missing/replsession.txt");
    EXPECT_TRUE(QDir(gSessionFileName).isEmpty());
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{gSessionFileName});
    ExpectUsable(c);
}

} // namespace
