// Fuzz test of the session log reader: 100,000 generated, damaged and random
// files. No crash or hang, and exactly the complete entries restored: those a
// file was made from, or for damaged files what a reference reader written
// here from the file format gives. A sample is loaded by a real console,
// which must show the same and stay usable.
#include "ConsoleHarness.h"
#include "FuzzSeed.h"
#include "ScratchDir.h"
#include "SessionLog.h"

#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---- Files made from known entries ----------------------------------------

struct MadeFile
{
    std::string bytes;
    std::vector<std::string> entries;  // as written
    std::vector<std::size_t> entryEnds; // offset just after each entry's "###"
    std::string text;                   // the console text as restored
};

// A line of an entry or of the console text. No line starts with "###", so
// no cut of a line can turn it into a separator.
std::string MakeLine(FuzzRandom &random)
{
    static const char *const kPieces[] = {"a", "x = 1", " ", "  ", "print(", ")", "--", "[[", "]]", "#", "##", "a###",
                                          " ###", "Lua>", "lua>", "\t", "\xC3\x84", "\xE2\x82\xAC", "\xF0\x9F\x99\x82",
                                          "0", "-1", "\\", "'", "\""};
    std::string line;
    const std::size_t pieces = random.Below(6);
    for (std::size_t i = 0; i < pieces; ++i)
        line += random.Pick(kPieces);
    if (line.compare(0, 3, "###") == 0)
        line.insert(0, "_");
    return line;
}

MadeFile MakeFile(FuzzRandom &random)
{
    MadeFile made;
    const std::size_t count = random.Below(6);
    made.bytes = std::to_string(count) + "\n";
    for (std::size_t n = 0; n < count; ++n) {
        // Lines that look like separators are written with one backslash
        // more; the entry ends with a non-empty line, so that it is never
        // empty (empty commands are not recorded).
        static const char *const kSpecial[] = {"", "###", "\\###", "\\\\###", "\\"};
        std::string entry, written;
        for (std::size_t lines = random.Below(4); lines > 0; --lines) {
            const std::string line = random.OneIn(3) ? random.Pick(kSpecial) : MakeLine(random);
            const bool escape = line.size() >= 3 && line.find_first_not_of('\\') == line.size() - 3
                && line.compare(line.size() - 3, 3, "###") == 0;
            entry += line + "\n";
            written += (escape ? "\\" : "") + line + "\n";
        }
        const std::string last = MakeLine(random) + "x";
        entry += last;
        written += last;
        made.entries.push_back(entry);
        made.bytes += written + "\n###";
        made.entryEnds.push_back(made.bytes.size());
        made.bytes += "\n";
    }
    std::string text;
    for (std::size_t lines = random.Below(4); lines > 0; --lines)
        text += "Lua>" + MakeLine(random) + "\n" + (random.OneIn(3) ? "\n" : "");
    text += "Lua>";
    made.bytes += text;
    made.text = text;
    return made;
}

// ---- Reference reader -----------------------------------------------------

// Reads a file as the format describes it: carriage returns dropped, a
// leading byte order mark skipped, lines ended by "\n" (a final "\n" ends the
// last line and starts none); the first line is the count (a decimal number,
// else 0); then up to that many entries, each the lines before a "###" line
// (joined by "\n"; a line of backslashes and "###" loses one backslash), an
// entry without its "###" not counting; every later line is console text,
// leading empty lines dropped.
SessionContent ReferenceRead(const std::string &bytes)
{
    std::string plain;
    for (char c : bytes)
        if (c != '\r')
            plain += c;
    if (plain.compare(0, 3, "\xEF\xBB\xBF") == 0)
        plain.erase(0, 3);
    std::vector<QString> lines;
    for (std::size_t start = 0; start < plain.size();) {
        std::size_t end = plain.find('\n', start);
        if (end == std::string::npos)
            end = plain.size();
        // Byte order marks inside the text are characters like any other; a
        // sequence cut off by the line end is one replacement character.
        QStringDecoder decode(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        lines.push_back(decode(QByteArrayView(plain.data() + start, qsizetype(end - start))));
        start = end + 1;
    }

    SessionContent content;
    std::size_t next = 0;
    const int count = lines.empty() ? 0 : lines[next++].toInt(nullptr, 10);
    for (int n = 0; n < count && next < lines.size(); ++n) {
        QStringList entryLines;
        bool complete = false;
        while (next < lines.size()) {
            const QString &line = lines[next++];
            if (line == "###") {
                complete = true;
                break;
            }
            const qsizetype slashes = line.size() - 3;
            const bool escaped = slashes >= 1 && line.endsWith("###") && line.left(slashes) == QString(slashes, '\\');
            entryLines.append(escaped ? line.mid(1) : line);
        }
        if (complete)
            content.vHistory.append(entryLines.join('\n'));
    }
    while (next < lines.size() && lines[next].isEmpty())
        ++next;
    QStringList text;
    for (; next < lines.size(); ++next)
        text.append(lines[next]);
    content.sText = text.join('\n');
    return content;
}

// ---- Damage ---------------------------------------------------------------

std::string Damage(FuzzRandom &random, std::string bytes)
{
    static const char *const kCounts[] = {"", "0", "-1", "2147483647", "2147483648", "99999999999999999999", " 2",
                                          "+2", "2 ", "0x2", "1e3", "3", "\xD9\xA3", "2\xFF"};
    static const char *const kInserts[] = {"\xFF", "\xC3", "\xE2\x82", "\xC0\x80", "\xED\xA0\x80", "\xEF\xBB\xBF",
                                           "\r", "\r\n", "\n", "###", "\n###\n", "#"};
    for (std::size_t k = 1 + random.Below(3); k > 0; --k) {
        const std::size_t at = random.Below(bytes.size() + 1);
        switch (random.Below(9)) {
        case 0: // random bytes overwritten
            for (std::size_t i = random.Below(4); i > 0 && !bytes.empty(); --i)
                bytes[random.Below(bytes.size())] = char(random.Byte());
            break;
        case 1: { // every line end as CRLF, or some as a lone CR
            const bool all = random.OneIn(2);
            std::string out;
            for (char c : bytes)
                out += c == '\n' && (all || random.OneIn(3)) ? (all ? "\r\n" : "\r") : std::string(1, c);
            bytes = out;
            break;
        }
        case 2: // a "###" line removed
            if (const std::size_t sep = bytes.find("\n###", at); sep != std::string::npos)
                bytes.erase(sep, 4);
            break;
        case 3: // another count
            bytes.replace(0, std::min(bytes.find('\n'), bytes.size()), random.Pick(kCounts));
            break;
        case 4: // invalid UTF-8, CR, NUL, separators inserted
            bytes.insert(at, random.OneIn(4) ? std::string(1, '\0') : std::string(random.Pick(kInserts)));
            break;
        case 5: { // a piece repeated
            const std::string piece = bytes.substr(at, random.Below(bytes.size() - at + 1));
            bytes.insert(random.Below(bytes.size() + 1), piece);
            break;
        }
        case 6: bytes.resize(at); break;                  // cut
        case 7: bytes.erase(at, random.Below(8)); break;  // a piece removed
        default: // random bytes inserted
            for (std::size_t i = random.Below(6); i > 0; --i)
                bytes.insert(at, 1, char(random.Byte()));
            break;
        }
    }
    return bytes;
}

std::string RandomBytes(FuzzRandom &random)
{
    std::string bytes(random.Below(300), '\0');
    for (char &c : bytes)
        c = random.OneIn(8) ? '\n' : random.OneIn(8) ? '#' : char(random.Byte());
    if (random.OneIn(2) && !bytes.empty())
        bytes[0] = char('0' + random.Below(10));
    return bytes;
}

// ---- The test -------------------------------------------------------------

// What a console shows of a plain text: the editor's plain text turns its
// paragraph, line and frame separators into "\n" and no-break spaces into
// spaces.
QString AsShown(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u == 0x2029 || u == 0x2028 || u == 0xFDD0 || u == 0xFDD1)
            c = QLatin1Char('\n');
        else if (u == 0xA0)
            c = QLatin1Char(' ');
    }
    return text;
}

// The file in a failure message: its first 400 bytes, escaped.
std::string Show(const std::string &bytes)
{
    const QByteArray head = QByteArray::fromStdString(bytes.substr(0, 400));
    return head.toPercentEncoding(" #=()[]<>'\"-+,.;:{}").toStdString()
        + (bytes.size() > 400 ? "... (" + std::to_string(bytes.size()) + " bytes)" : "");
}

// Loads `bytes` in a real console: the reader's history and text are shown,
// and after Escape a typed command runs.
void ExpectConsoleLoads(const std::string &bytes, const SessionContent &expected)
{
    QFile file(gSessionFileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), qint64(bytes.size()));
    file.close();
    ConsoleHarness c;
    EXPECT_EQ(c.repl->History(), expected.vHistory);
    EXPECT_EQ(c.repl->HistoryIndex(), expected.vHistory.size());
    EXPECT_EQ(c.Text(), AsShown(expected.sText));
    c.Key(Qt::Key_Escape);
    c.ExpectCommandRuns();
}

TEST(SessionLogFuzz, AnyFileRestoresExactlyItsCompleteEntriesAndLeavesAUsableConsole)
{
    const std::uint64_t seed = FuzzSeed(0x5e55106);
    FUZZ_TRACE(seed);
    FuzzRandom random(seed);
    ScratchDir scratch;
    ASSERT_TRUE(scratch.isValid());

    const int kFiles = 100000;
    const int kConsoleEvery = 1000;
    int files = 0;
    auto check = [&](const std::string &bytes, const SessionContent &expected) {
        const SessionContent read = ParseSessionLog(QByteArray::fromStdString(bytes));
        const bool same = read.vHistory == expected.vHistory && read.sText == expected.sText;
        EXPECT_TRUE(same) << "file " << files << ": " << Show(bytes) << "\nread "
                          << QStringList(read.vHistory).join("|###|").toStdString() << " / "
                          << read.sText.left(400).toStdString() << "\nexpected "
                          << QStringList(expected.vHistory).join("|###|").toStdString() << " / "
                          << expected.sText.left(400).toStdString();
        if (++files % kConsoleEvery == 0 || files <= 2) // the two big files too
            ExpectConsoleLoads(bytes, expected);
        return same;
    };

    // Few MB in one line, and a huge count over a long file.
    const std::string longLine = "1\nx = 1\n###\n" + std::string(3 << 20, 'y') + "Lua>";
    check(longLine, {{"x = 1"}, QString::fromStdString(longLine.substr(12))});
    std::string manyLines = "2147483647\n";
    for (int i = 0; i < 20000; ++i)
        manyLines += "e" + std::to_string(i) + "\n###\n";
    check(manyLines, ReferenceRead(manyLines));

    while (files < kFiles && !HasFailure()) {
        const MadeFile made = MakeFile(random);
        // As made: exactly its entries and text.
        SessionContent whole;
        for (const std::string &entry : made.entries)
            whole.vHistory.append(QString::fromStdString(entry));
        whole.sText = QString::fromStdString(made.text);
        check(made.bytes, whole);

        // Cut at every length: the entries whose "###" lies before the cut.
        for (std::size_t length = 0; length < made.bytes.size(); ++length) {
            const std::string cut = made.bytes.substr(0, length);
            const SessionContent expected = ReferenceRead(cut);
            QVector<QString> prefix;
            for (std::size_t n = 0; n < made.entries.size() && made.entryEnds[n] <= length; ++n)
                prefix.append(QString::fromStdString(made.entries[n]));
            EXPECT_EQ(expected.vHistory, prefix) << "reference reader, cut at " << length;
            check(cut, expected);
        }

        // Damaged copies and random bytes.
        for (int i = 0; i < 30; ++i) {
            const std::string damaged = Damage(random, made.bytes);
            check(damaged, ReferenceRead(damaged));
        }
        for (int i = 0; i < 5; ++i) {
            const std::string bytes = RandomBytes(random);
            check(bytes, ReferenceRead(bytes));
        }
    }
    EXPECT_GE(files, kFiles);
}

} // namespace
