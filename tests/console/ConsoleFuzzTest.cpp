// Fuzz tests of the console's session logs and keys.
#include "ConsoleHarness.h"
#include "FuzzSeed.h"
#include "ScratchDir.h"
#include "SessionLog.h"

#include <QCoreApplication>

namespace {

// An inserted piece of damage; the empty entry of the table stands for a NUL byte.
std::string Insert(const char *piece) { return *piece ? std::string(piece) : std::string(1, '\0'); }

std::string Line(FuzzRandom &random) // never starts with '#', so no cut of it is a separator
{
    static const char *const kPieces[] = {"a", "x = 1", " ", "print(", "--", "[[", "#", "a###", " ###", "Lua>",
                                          "\t", "\xC3\x84", "\xF0\x9F\x99\x82", "0", "\\", "'"};
    std::string line = random.OneIn(4) ? "_" : "";
    for (std::size_t i = random.Below(5); i > 0; --i)
        line += random.Pick(kPieces);
    return line[0] == '#' ? "_" + line : line;
}

TEST(ConsoleFuzz, SessionLogsGiveBackTheirCompleteEntries)
{
    FuzzRandom random(0x5e55106);
    SCOPED_TRACE(random.Trace());
    ScratchDir scratch;
    const auto parsed = [](const std::string &b) { return ParseSessionLog(QByteArray::fromStdString(b)); };
    for (int file = 0; file < 20000 && !HasFailure(); ++file) {
        // Entries whose lines may look like separators; each ends non-empty.
        QVector<QString> entries;
        // Just after each entry's "###": the size of a log of the entries so
        // far less its last "\n" (below 5 entries, the count is one digit).
        std::vector<std::size_t> ends;
        for (std::size_t n = random.Below(5); n > 0; --n) {
            static const char *const kSpecial[] = {"", "###", "\\###", "\\\\###", "\\"};
            std::string entry;
            for (std::size_t lines = random.Below(4); lines > 0; --lines)
                entry += (random.OneIn(3) ? std::string(random.Pick(kSpecial)) : Line(random)) + "\n";
            entries.push_back(QString::fromStdString(entry + Line(random) + "x"));
            ends.push_back(std::size_t(FormatSessionLog(entries, QString()).size()) - 1);
        }
        const QString text = QString::fromStdString("Lua>" + Line(random) + "\n\nLua>");
        const std::string bytes = FormatSessionLog(entries, text).toStdString();
        std::string crlf;
        for (char ch : bytes)
            crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        for (const std::string &same : {bytes, crlf, "\xEF\xBB\xBF" + bytes}) {
            const SessionContent read = parsed(same);
            ASSERT_EQ(read.vHistory, entries) << same;
            ASSERT_EQ(read.sText, text) << same;
        }
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const std::size_t complete = std::size_t(std::upper_bound(ends.begin(), ends.end(), length) - ends.begin());
            ASSERT_EQ(parsed(bytes.substr(0, length)).vHistory, entries.mid(0, qsizetype(complete)))
                << "cut at " << length << ": " << bytes;
        }
        std::string damaged = random.OneIn(2) ? bytes : std::string(random.Below(300), '#');
        for (std::size_t k = 1 + random.Below(8); k > 0; --k) {
            static const char *const kInserts[] = {"\xFF", "\xC3", "\xE2\x82", "\xED\xA0\x80", "\r", "\n", "###", "\n###\n",
                                                   "2147483648\n", "-1\n", ""};   // "": a NUL byte
            const std::size_t at = random.Below(damaged.size() + 1);
            random.OneIn(3) ? (void)damaged.erase(at, random.Below(8)) : (void)damaged.insert(at, random.OneIn(2) ? std::string(1, random.Byte()) : Insert(random.Pick(kInserts)));
        }
        const SessionContent read = parsed(damaged);
        ASSERT_LE(read.vHistory.size(), int(std::count(damaged.begin(), damaged.end(), '#'))) << damaged;
        if (file % 1000 == 0) { // a console loads it too, shows the same and stays usable
            ASSERT_TRUE(WriteFile(gSessionFileName, QByteArray::fromStdString(damaged)));
            ConsoleHarness c;
            EXPECT_EQ(c.repl->History(), read.vHistory) << damaged;
            c.ExpectUsable();
        }
    }
}

TEST(ConsoleFuzz, RandomKeysNeverBreakTheConsoleOrItsHistory)
{
    static const std::pair<Qt::Key, Qt::KeyboardModifiers> kKeys[] = {
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Return, Qt::ControlModifier}, {Qt::Key_Return, Qt::ShiftModifier},
        {Qt::Key_Enter, Qt::KeypadModifier}, {Qt::Key_Backspace, Qt::NoModifier}, {Qt::Key_Delete, Qt::NoModifier},
        {Qt::Key_Left, Qt::NoModifier}, {Qt::Key_Right, Qt::ShiftModifier}, {Qt::Key_Up, Qt::NoModifier},
        {Qt::Key_Down, Qt::ShiftModifier}, {Qt::Key_Home, Qt::NoModifier}, {Qt::Key_Home, Qt::ShiftModifier},
        {Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Up, Qt::ControlModifier}, {Qt::Key_Down, Qt::ControlModifier},
        {Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_Escape, Qt::ControlModifier}, {Qt::Key_X, Qt::ControlModifier},
        {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_A, Qt::ControlModifier}, {Qt::Key_PageUp, Qt::ShiftModifier},
        {Qt::Key_Tab, Qt::NoModifier}};
    static const char *const kTexts[] = {"a", "1", " ", "=", "(", ")", "[", "]", "{", "'", "\"", "#", "\t", "print(",
                                         "for i=1,2 do", "end", "[[", "]]", "--[==[", "lua>", "Lua>", "###", "f(a(b)c)",
                                         "\xC3\xA4", "\xF0\x9F\x99\x82"};
    FuzzRandom random(0xc0501e);
    SCOPED_TRACE(random.Trace());
    ScratchDir scratch;
    ConsoleHarness c;
    c.run = [&random](const std::string &command, std::string &out, std::string &err) {
        (random.OneIn(3) ? out : random.OneIn(2) ? err : out) = random.OneIn(2) ? "" : command.substr(0, 40) + "\r\n";
    };
    for (int event = 0; event < 20000 && !HasFailure(); ++event) {
        const QVector<QString> before = c.repl->History();
        const qsizetype submitted = c.commands.size();
        if (random.OneIn(2)) {
            for (const QChar ch : QString::fromUtf8(random.Pick(kTexts))) // input methods send text without a key
                ch.unicode() < 0x80 ? QTest::keyClick(c.repl, char(ch.unicode()))
                                    : QTest::sendKeyEvent(QTest::Click, c.repl, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        } else if (random.OneIn(20)) {
            const int at = int(random.Below(std::size_t(c.Text().size()) + 1)); // a click anywhere
            c.Select(at, at);
        } else {
            const auto &[key, modifiers] = random.Pick(kKeys);
            c.Key(key, modifiers);
        }
        if (random.OneIn(64))
            QCoreApplication::processEvents();
        ASSERT_TRUE(c.repl->InputEnabled()) << "event " << event;
        ASSERT_LE(c.commands.size(), submitted + 1);
        const QVector<QString> &after = c.repl->History(); // as it was, or grown by the command submitted
        ASSERT_TRUE(after == before || (c.commands.size() > submitted && after == before + QVector<QString>{c.commands.last()}))
            << "event " << event;
    }
    c.Select(int(c.Text().size()), int(c.Text().size()));
    c.Key(Qt::Key_Escape);
    for (int i = 0; i < 100000 && !c.Input().isEmpty() && c.Text().contains("lua>", Qt::CaseInsensitive); ++i)
        c.Key(Qt::Key_Backspace);
    c.run = nullptr;
    c.ExpectUsable();
    EXPECT_EQ(REPLEdit().History(), c.repl->History()) << "the log written last restores the history";
}

} // namespace
