// The console's session log, "replsession.txt": the count of history
// entries, each entry followed by a "###" line, then the console text.
// A line of an entry that is "###" after any number of backslashes is
// written with one backslash more and read with one less, so that every
// command, whatever lines it holds, comes back as it was entered. Read back
// so that no file, however damaged, can crash the console or make it
// allocate more than the file's own size.
#include "SessionLog.h"

#include <QStringDecoder>
#include <QStringList>
#include <QStringView>

namespace {

const QLatin1String kSeparator("###");

// Splits the decoded file into lines the way QTextStream::readLine does:
// "\n" ends a line, and a line end at the very end of the file does not
// start another (empty) line.
class LineReader
{
public:
    explicit LineReader(QStringView text) : text(text) {}

    bool AtEnd() const { return next >= text.size(); }

    QStringView ReadLine()
    {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), next);
        const qsizetype stop = end < 0 ? text.size() : end;
        const QStringView line = text.mid(next, stop - next);
        next = end < 0 ? text.size() : end + 1;
        return line;
    }

    // Where the next line starts.
    qsizetype Position() const { return next; }

private:
    QStringView text;
    qsizetype next = 0;
};

// True for "###" after one or more backslashes (with `minimum` 1) or after
// none or more (with 0): the lines that the escape concerns.
bool IsEscapedSeparator(QStringView line, qsizetype minimum)
{
    qsizetype slashes = 0;
    while (slashes < line.size() && line.at(slashes) == QLatin1Char('\\'))
        ++slashes;
    return slashes >= minimum && line.mid(slashes) == kSeparator;
}

// An entry as written: separator-like lines get one backslash more.
QString EscapeEntry(const QString &entry)
{
    if (!entry.contains(kSeparator))
        return entry;
    QStringList lines = entry.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (IsEscapedSeparator(line, 0))
            line.prepend(QLatin1Char('\\'));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QByteArray FormatSessionLog(const QVector<QString> &history, const QString &text)
{
    QString out = QString::number(history.size()) + QLatin1Char('\n');
    for (const QString &entry : history)
        out += EscapeEntry(entry) + QLatin1String("\n###\n");
    out += text;
    return out.toUtf8();
}

SessionContent ParseSessionLog(const QByteArray &bytes)
{
    SessionContent content;
    // Carriage returns are dropped, as reading in text mode does, so CRLF
    // line ends read as "\n". Invalid UTF-8, a sequence cut off at the end
    // included, becomes replacement characters; NUL bytes stay characters;
    // a leading BOM is skipped.
    QByteArray plain = bytes;
    plain.replace('\r', QByteArray());
    QStringDecoder decode(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decode(plain);
    LineReader reader(text);

    const int count = reader.AtEnd() ? 0 : reader.ReadLine().toInt(nullptr, 10);

    // Entries are read until the count is reached or the file ends; the
    // count only bounds the loop and never sizes anything. An entry is every
    // line before its "###" line, empty lines at its start included (an
    // empty command is never recorded, so they are part of the command). An
    // entry whose "###" line is missing is cut short by the end of the file
    // and is dropped: it is incomplete, and whatever it holds may well be
    // the console text of a damaged file rather than a command.
    for (int n = 0; n < count && !reader.AtEnd(); ++n) {
        QString entry;
        bool bFirstLine = true;
        bool bComplete = false;
        while (!reader.AtEnd()) {
            QStringView line = reader.ReadLine();
            if (line == kSeparator) {
                bComplete = true;
                break;
            }
            if (IsEscapedSeparator(line, 1))
                line = line.mid(1);
            if (!bFirstLine)
                entry += QLatin1Char('\n');
            entry += line;
            bFirstLine = false;
        }
        if (bComplete)
            content.vHistory.append(entry);
    }

    // The remaining lines are the console text, one paragraph each. Adding
    // them one by one at the end of a cleared document would drop leading
    // empty lines (an empty line added to an empty document leaves it
    // empty), so those are skipped here and the rest is kept whole.
    while (!reader.AtEnd()) {
        const qsizetype lineStart = reader.Position();
        if (!reader.ReadLine().isEmpty()) {
            QStringView rest = QStringView(text).mid(lineStart);
            if (rest.endsWith(QLatin1Char('\n')))
                rest.chop(1);
            content.sText = rest.toString();
            break;
        }
    }
    return content;
}

