// The console's session log, "replsession.txt": the count of history
// entries, each entry followed by a "###" line, then the console text.
// A line of an entry that is "###" after any number of backslashes is
// written with one backslash more and read with one less, so that every
// command, whatever lines it holds, comes back as it was entered.
// Written in UTF-8 through QSaveFile, so a failed or interrupted save leaves
// the previous file whole; read back so that no file, however damaged, can
// crash the console or make it allocate more than the file's own size.
#include "REPLEdit.h"
#include "SessionLog.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>
#include <QStringView>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>

QString gSessionFileName = QStringLiteral("replsession.txt");

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

void REPLEdit::SaveSession(QString sFileName)
{
    QSaveFile file(sFileName);
    // A writable file in a folder where no temporary file can be made is
    // still saved, in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    {
        QTextStream out(&file);
        out.setEncoding(QStringConverter::Utf8);
        out << int(vHistory.size()) << "\n";
        for (const QString &entry : vHistory)
            out << EscapeEntry(entry) << "\n" << "###\n";
        out << toPlainText();
        out.flush();
        if (out.status() != QTextStream::Ok) {
            file.cancelWriting();
            return;
        }
    }
    // commit() keeps the old file when any write failed.
    file.commit();
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

void REPLEdit::LoadSession(QString sFileName)
{
    QFile file(sFileName);
    if (file.open(QIODevice::ReadOnly)) {
        const SessionContent content = ParseSessionLog(file.readAll());
        file.close();
        vHistory = content.vHistory;
        iHistoryIndex = int(vHistory.size());
        clear();
        // Replacing the whole document at once lets the editor lay it out
        // lazily instead of paragraph by paragraph, and keeps the restored
        // text out of the undo stack.
        if (!content.sText.isEmpty())
            document()->setPlainText(content.sText);
    }

    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    RefreshInputState();
}
