// The console through real key events, and its session log.
#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ConsoleTest : public ::testing::Test
{
protected:
    ScratchDir scratch;
    ConsoleHarness c;
};

TEST_F(ConsoleTest, UnfinishedChunksContinueWithTheLineIndentCompleteOrBrokenOnesAreSubmitted)
{
    c.Enter("for i=1,3 do");
    EXPECT_EQ(c.Text(), "Lua>for i=1,3 do\n    ");
    c.Enter("  print(i)");
    c.Enter("end");
    const QString loop = "for i=1,3 do\n      print(i)\n      end";
    EXPECT_EQ(c.Text(), "Lua>" + loop + "\n1\n2\n3\n\nLua>");
    EXPECT_EQ(c.Cursor(), c.Text().size());
    for (const char *line : {"s = [[abc", "def]]", "--[[ c", "]]", "x = = 1", ""})
        c.Enter(line);
    c.Type("y = 1");
    c.Key(Qt::Key_Return, Qt::ControlModifier); // Ctrl+Return and keypad Enter break a complete line
    c.Key(Qt::Key_Enter, Qt::KeypadModifier);
    c.Key(Qt::Key_Return, Qt::ShiftModifier);
    const QStringList entries = {loop, "s = [[abc\n    def]]", "--[[ c\n    ]]", "x = = 1"};
    EXPECT_EQ(c.commands, entries + QStringList({"", "y = 1\n    \n"}));
    EXPECT_EQ(c.repl->History(), QVector<QString>(entries.begin(), entries.end()) + QVector<QString>{"y = 1\n    \n"});
    EXPECT_TRUE(c.Text().contains("unexpected symbol near '='\n\nLua>\nLua>y = 1"));
}

TEST_F(ConsoleTest, HistorySkipsARepeatInARowAndBrowsingBringsBackOwnText)
{
    for (const char *command : {"x1 = 1", "x2 = 2", "x1 = 1", "x3 = 3", "x3 = 3"})
        c.Enter(command);
    EXPECT_EQ(c.repl->History(), (QVector<QString>{"x1 = 1", "x2 = 2", "x1 = 1", "x3 = 3"}));
    c.Type("y");
    const std::pair<bool, QString> steps[] = {{true, "x3 = 3"}, {true, "x1 = 1"}, {false, "x3 = 3"}, {false, "y"},
                                              {true, "x3 = 3"}, {true, "x1 = 1"}, {true, "x2 = 2"},
                                              {true, "x1 = 1"}, {true, "x1 = 1"}};
    for (const auto &[older, shown] : steps) {
        c.Key(older ? Qt::Key_Up : Qt::Key_Down, Qt::ControlModifier);
        EXPECT_EQ(c.Input(), shown);
    }
    EXPECT_EQ(c.Cursor(), c.Text().size());
    c.Type("0"); // an edited entry is the text brought back after the newest
    for (int i = 0; i < 4; ++i)
        c.Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(c.Input(), "x1 = 10");
    c.Key(Qt::Key_Up, Qt::ControlModifier);
    c.Key(Qt::Key_Escape); // Escape after a browse brings it back too
    EXPECT_EQ(c.Input(), "x1 = 10");
}

TEST_F(ConsoleTest, TheInputFollowsTheLastPromptAndTextBeforeItIsProtected)
{
    ConsoleHarness h;
    h.Type("s = [[lUa>]] x =\t1"); // the last prompt in any case; tabs expand on submit
    EXPECT_EQ(h.repl->InputStartPosition(), 14);
    h.Key(Qt::Key_Return);
    EXPECT_EQ(h.commands, QStringList{"]] x =   1"});
    c.Enter("a = 1");
    c.Type("b");
    c.Key(Qt::Key_Backspace);
    c.Key(Qt::Key_Backspace);
    c.Select(2, 2);
    c.Key(Qt::Key_Backspace);
    c.Type("zz");
    EXPECT_EQ(c.Text(), "Lua>a = 1\nLua>");
    c.Select(4, 9);
    c.Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "a = 1");
    c.Key(Qt::Key_End);
    EXPECT_EQ(c.Cursor(), 9);
    c.Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(c.Cursor(), c.repl->InputStartPosition());
    // Home: to the input start from the prompt line or an old line, to the
    // text of a continuation line, then to its start.
    c.Key(Qt::Key_Escape);
    c.Type("for i=1,3 do");
    const int inputStart = 14;
    for (const int from : {int(c.Text().size()), inputStart, 6}) {
        c.Select(from, from);
        c.Key(Qt::Key_Home);
        EXPECT_EQ(c.Cursor(), inputStart);
    }
    c.Key(Qt::Key_End);
    c.Key(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(c.repl->textCursor().selectedText(), "for i=1,3 do");
    c.Key(Qt::Key_End);
    c.Key(Qt::Key_Return);
    c.Type("x");
    for (const int to : {inputStart + 17, inputStart + 13}) {
        c.Key(Qt::Key_Home);
        EXPECT_EQ(c.Cursor(), to);
    }
}

TEST_F(ConsoleTest, BracketsMatchWithinTheInputAndEscapePassesOnUnlessItEmptiedIt)
{
    // Typed, Left presses, typed after; the partner's offset from the input start, -1 for none.
    const struct { QString typed; int lefts; QString after; int partner; } brackets[] = {
        {"f(g(x)", 0, ")", 1}, {"f(a)", 3, "", 3}, {"ab)", 1, "(", 3}, {"s = '(' -- Lua>", 0, ")", -1}};
    for (const auto &k : brackets) {
        ConsoleHarness h;
        h.Type(k.typed);
        for (int i = 0; i < k.lefts; ++i)
            h.Key(Qt::Key_Left);
        h.Type(k.after);
        EXPECT_EQ(h.repl->MatchValid() ? h.repl->MatchPosition() - h.repl->InputStartPosition() : -1, k.partner) << k.typed.toStdString();
    }
    // The cursor before the input (1) or at its end (7), modifiers; whether the parent gets the key.
    const struct { int position; Qt::KeyboardModifiers modifiers; bool passedOn; } escapes[] = {
        {1, Qt::NoModifier, false}, {1, Qt::ControlModifier, true}, {7, Qt::NoModifier, true}};
    for (const auto &k : escapes) {
        c.parent.keys.clear();
        c.Select(c.Text().size(), c.Text().size());
        c.Type("abc");
        c.Select(k.position, k.position);
        c.Key(Qt::Key_Escape, k.modifiers);
        EXPECT_EQ(c.Text(), "Lua>");
        EXPECT_EQ(c.parent.keys, k.passedOn ? QVector<int>{Qt::Key_Escape} : QVector<int>{});
    }
}

// Separator look-alikes, empty lines, bad counts, markup and invalid UTF-8;
// a session file that is a folder.
TEST_F(ConsoleTest, DamagedSessionFilesGiveTheRightHistoryAndTextAndAUsableConsole)
{
    const QString bad = QStringLiteral("\uFFFD");
    const struct { QByteArray bytes; QVector<QString> history; QString text; } cases[] = {
        {"2\n####\n ###\n### \n###\ns = [[\n###\n]]\n###\nLua>", {"####\n ###\n### ", "s = [["}, "]]\n###\nLua>"},
        {"2\n\n\nx = 1\n\ny = 2\n###\nz = 3\n\n\n###\n\n\nLua>\n\nLua>", {"\n\nx = 1\n\ny = 2", "z = 3\n\n"}, "Lua>\n\nLua>"},
        {"3\na = 1\n###\nLua>a = 1\nLua>", {"a = 1"}, ""},
        {"two\na = 1\n###\nLua>", {}, "a = 1\n###\nLua>"},
        {"0\nLua>x = a<b and c>d\n<b>bold</b> &lt;\nLua>", {}, "Lua>x = a<b and c>d\n<b>bold</b> &lt;\nLua>"},
        {"1\nprint('\xFF\xFE')\n###\nLua>x\xC3", {"print('" + bad + bad + "')"}, "Lua>x" + bad},
    };
    for (const auto &k : cases) {
        ASSERT_TRUE(WriteFile(gSessionFileName, k.bytes));
        ConsoleHarness h;
        EXPECT_EQ(h.repl->History(), k.history) << k.bytes.toStdString();
        EXPECT_EQ(h.repl->HistoryIndex(), k.history.size());
        EXPECT_EQ(h.Text(), k.text) << k.bytes.toStdString();
        h.ExpectUsable();
    }
    ASSERT_TRUE(QFile::remove(gSessionFileName) && QDir().mkdir(gSessionFileName));
    ConsoleHarness h;
    EXPECT_EQ(h.Text(), "Lua>");
    EXPECT_NE(h.repl->SaveSession("missing/replsession.txt"), "");
    EXPECT_TRUE(QDir(gSessionFileName).isEmpty());
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{gSessionFileName});
}

// A folder in the log's place and a path through a file stop root too; the
// report goes above the new prompt and to the debug output.
TEST_F(ConsoleTest, ASessionLogThatCannotBeWrittenIsReportedOncePerReason)
{
    const QString name = gSessionFileName;
    ASSERT_TRUE(QDir().mkdir("folder") && WriteFile("file", "x"));
    auto debug = std::make_unique<DebugLines>();
    // The log's name for the next command; the report lines shown after it.
    const struct { QString log; int reports; } steps[] = {
        {"folder", 1}, {"folder", 1}, {"file/replsession.txt", 2}, {"fine.txt", 2}, {"file/replsession.txt", 3}};
    for (const auto &k : steps) {
        gSessionFileName = k.log;
        c.Enter("x = '" + k.log + "'");
        EXPECT_TRUE(c.Text().endsWith("\nLua>")) << c.Text().toStdString();
        EXPECT_EQ(c.Input(), "");
        EXPECT_EQ(debug->lines.size(), k.reports) << k.log.toStdString();
    }
    const QStringList debugLines = debug->lines;
    debug.reset();
    gSessionFileName = name;
    const QStringList reports = c.Text().split('\n').filter("cannot be written");
    EXPECT_EQ(reports, debugLines);
    ASSERT_EQ(reports.size(), 3);
    EXPECT_EQ(reports[2], reports[1]);
    EXPECT_TRUE(reports[0].startsWith("folder cannot be written: ") && reports[0].contains("directory")) << reports[0].toStdString();
    EXPECT_EQ(reports[1].toStdString(), "file/replsession.txt cannot be written: " + std::string(strerror(ENOTDIR)));
    EXPECT_TRUE(ReadFile("fine.txt").endsWith("x = 'fine.txt'\nLua>")) << ReadFile("fine.txt").toStdString();
    c.ExpectUsable();
}

// Edits act on the selection's part in the input alone; copying takes all of it.
TEST_F(ConsoleTest, EditingASelectionThatReachesIntoTheInputKeepsTheTextBeforeIt)
{
    const QString before = "Lua>a = 1\nLua>"; // the input "xyz" follows at 14
    // Anchor and cursor: into the input after "xy" either way, or to its start.
    const struct { int anchor, position; bool reachesIn; } shapes[] = {
        {6, 16, true}, {16, 6, true}, {6, 14, false}, {14, 6, false}};
    // The key; the input it leaves when the selection holds "xy", and the clipboard ("P" before).
    const struct { Qt::Key key; Qt::KeyboardModifiers modifiers; QString input, clipboard; } edits[] = {
        {Qt::Key_Q, Qt::NoModifier, "qz", "P"},        {Qt::Key_V, Qt::ControlModifier, "Pz", "P"},
        {Qt::Key_X, Qt::ControlModifier, "z", "xy"},   {Qt::Key_Delete, Qt::NoModifier, "z", "P"},
        {Qt::Key_Backspace, Qt::NoModifier, "z", "P"}, {Qt::Key_Return, Qt::ControlModifier, "\n    z", "P"}};
    for (const auto &shape : shapes)
        for (const auto &edit : edits) {
            const std::string label = QKeySequence(edit.key | edit.modifiers).toString().toStdString() + " from " +
                                      std::to_string(shape.anchor) + " to " + std::to_string(shape.position);
            QFile::remove(gSessionFileName); // each console starts anew
            ConsoleHarness h;
            h.Enter("a = 1");
            h.Type("xyz");
            QApplication::clipboard()->setText("P");
            h.Select(shape.anchor, shape.position);
            h.Key(edit.key, edit.modifiers);
            // Nothing of "xy" selected: a removal has nothing to act on, an insertion goes to the input start.
            const QString input = shape.reachesIn ? edit.input : edit.input.chopped(1) + "xyz";
            EXPECT_EQ(h.Text().toStdString(), (before + input).toStdString()) << label;
            EXPECT_EQ(QApplication::clipboard()->text(), shape.reachesIn ? edit.clipboard : "P") << label;
            h.Key(Qt::Key_End);
            for (int i = 0; i < 12; ++i)
                h.Key(Qt::Key_Backspace);
            EXPECT_EQ(h.Text().toStdString(), before.toStdString()) << label;
        }
    c.Enter("a = 1");
    c.Type("xyz");
    c.Select(6, 16);
    c.Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "= 1\nLua>xy");
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

// A save that fails part way leaves the old file byte for byte; a writable
// file in a read-only folder is still saved in place.
TEST_F(ConsoleTest, SavesReplaceTheFileWholeOrNotAtAll)
{
    const QByteArray old = "1\nold = 1\n###\nLua>old = 1\nLua>";
    ASSERT_TRUE(WriteFile(gSessionFileName, old));
    ConsoleHarness h;
    h.repl->insertPlainText(QString(200000, QLatin1Char('x')));
    EXPECT_EQ(InChild([&] {
        signal(SIGXFSZ, SIG_IGN); // writes beyond 8 KB fail instead of killing the child
        const rlimit limit = {8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        h.repl->SaveSession(gSessionFileName);
    }), 0);
    EXPECT_EQ(ReadFile(gSessionFileName), old);
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{gSessionFileName});

    ASSERT_TRUE(QDir().mkdir("ro") && WriteFile("ro/replsession.txt", "old"));
    ASSERT_EQ(chmod(".", 0711) | chmod("ro/replsession.txt", 0666) | chmod("ro", 0555), 0);
    EXPECT_EQ(InChild([&] { // as a user the folder's permissions apply to
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        h.repl->SaveSession("ro/replsession.txt");
    }), 0);
    chmod("ro", 0700);
    EXPECT_EQ(ReadFile("ro/replsession.txt"), "1\nold = 1\n###\n" + h.Text().toUtf8());
    EXPECT_EQ(QDir("ro").entryList(QDir::Files | QDir::Hidden), QStringList{"replsession.txt"});
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf");
    ::testing::InitGoogleTest(&argc, argv);
    OpenScriptHost();
    const int result = RUN_ALL_TESTS();
    CloseScriptHost();
    return result;
}
