// REPLEdit: key handling, input region, continuation lines, history and
// bracket matching of the Lua console, and the reading and writing of its
// session log, whose format SessionLog.cpp parses and formats.
#include "REPLEdit.h"

#include "ChunkComplete.h"
#include "SessionLog.h"

#include <QDebug>
#include <QFile>
#include <QFont>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPaintEvent>
#include <QPainter>
#include <QRect>
#include <QSaveFile>
#include <QStringView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>

QString gSessionFileName = QStringLiteral("replsession.txt");

namespace {

// Bracket walks step through the document one cursor position at a time
// (a grapheme cluster, as QTextCursor::NextCharacter moves), and a step
// counts as a bracket only when it covers that one character. Within a block
// a step covers exactly the character at `index` when a walk can stand at
// `index` and the next cursor position is `index + 1`.
bool IsCursorStop(const QTextBlock &block, int index, int length)
{
    if (index <= 0 || index >= length)
        return true;
    return block.layout()->isValidCursorPosition(index);
}

bool StepCoversOneCharacter(const QTextBlock &block, int index, int length, bool bWalkStartsHere)
{
    return (bWalkStartsHere || IsCursorStop(block, index, length))
        && IsCursorStop(block, index + 1, length);
}

// What a key does to the selected text: nothing (it moves, copies or
// selects), replaces it (typing, pasting, a line break) or removes it.
enum class SelectionEdit { None, Replace, Remove };

SelectionEdit EditOfKey(const QKeyEvent *e)
{
    for (const QKeySequence::StandardKey remove : {QKeySequence::Cut, QKeySequence::Delete, QKeySequence::Backspace,
                                                    QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
                                                    QKeySequence::DeleteEndOfLine, QKeySequence::DeleteCompleteLine})
        if (e->matches(remove))
            return SelectionEdit::Remove;
    if (e->matches(QKeySequence::Paste) || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        return SelectionEdit::Replace;
    if (!e->text().isEmpty() && !e->modifiers().testFlag(Qt::ControlModifier))
        return SelectionEdit::Replace;
    return SelectionEdit::None;
}

} // namespace

REPLEdit::REPLEdit(QWidget *parent)
    : QTextEdit(parent)
    , bInputEnabled(false)
    , bPromptOnLine(false)
    , iCursorOffset(0)
    , iIndent(0)
    , iHistoryIndex(0)
    , bMatchValid(false)
{
    setFont(QFont(QStringLiteral("Bitstream Vera Sans Mono"), 14, -1, false));
    // Qt's default wrapping (at word boundaries, else anywhere) searches each
    // overlong word to its end for every visual line it fills, so one long
    // run without spaces (a restored 3 MB line) takes minutes to lay out.
    // Wrapping anywhere lays out in linear time, as a terminal wraps.
    setWordWrapMode(QTextOption::WrapAnywhere);
    ResetConsole();
    LoadSession(gSessionFileName);
}

void REPLEdit::ResetConsole()
{
    setPlainText(QString(""));
    cInputStart = QTextCursor(document());
    iCursorOffset = 0;
    bPromptOnLine = false;
    sPrompt = QStringLiteral("Lua>");
    iIndent = int(sPrompt.size());
    setPlainText(sPrompt);
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    bMatchValid = false;
    bInputEnabled = true;
    iHistoryIndex = 0;
    RefreshInputState();
}

void REPLEdit::SetPrompt(QString sText)
{
    sPrompt = sText;
    iIndent = int(sPrompt.size());
}

void REPLEdit::NewPrompt()
{
    bInputEnabled = true;
    AppendAtEnd(QStringLiteral("\n") + sPrompt);
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
}

void REPLEdit::RefreshInputState()
{
    QTextDocument *doc = document();
    cInputStart = QTextCursor(doc);
    iCursorOffset = 0;
    bPromptOnLine = false;
    iIndent = int(sPrompt.size());

    // QTextDocument's backward find ignores case, walks the blocks from the
    // last one towards the first and stops at the first hit, so its cost is
    // the distance from the end to the last prompt, not the document size.
    const QTextCursor cursor = textCursor();
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    const QTextCursor found = doc->find(sPrompt, end, QTextDocument::FindBackward);
    if (!found.isNull()) {
        cInputStart.setPosition(found.selectionEnd());
        iCursorOffset = cursor.position() - cInputStart.position();
    } else {
        iCursorOffset = cursor.position() + 1;
    }

    QTextCursor lineStart = cursor;
    lineStart.movePosition(QTextCursor::StartOfLine);
    const QTextBlock block = lineStart.block();
    const QString text = block.text();
    const int column = lineStart.position() - block.position();
    if (QStringView(text).mid(column, sPrompt.size()) == sPrompt) {
        bPromptOnLine = true;
        iIndent = int(sPrompt.size());
        return;
    }
    int spaces = 0;
    while (column + spaces < text.size() && text.at(column + spaces) == QLatin1Char(' '))
        ++spaces;
    iIndent = spaces;
}

QString REPLEdit::CurrentInput() const
{
    QTextCursor input = cInputStart;
    input.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    QString text = input.selectedText();
    text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    text.replace(QLatin1Char('\t'), QStringLiteral("   "));
    return text;
}

void REPLEdit::ReplaceInput(QString sText)
{
    QTextCursor input = cInputStart;
    input.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    input.removeSelectedText();
    input.insertText(sText);
    ensureCursorVisible();
}

void REPLEdit::AppendAtEnd(QString sText)
{
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(sText);
    ensureCursorVisible();
}

QTextCursor REPLEdit::SmartHomeCursor() const
{
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::StartOfLine);
    if (iIndent > 0)
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, iIndent);
    return cursor;
}

void REPLEdit::MatchForward(int iStart)
{
    bMatchValid = false;
    QTextDocument *doc = document();
    QTextBlock block = doc->findBlock(iStart);
    if (!block.isValid())
        return;
    int depth = 1;
    int from = iStart - block.position();
    bool bFirstBlock = true;
    for (; block.isValid(); block = block.next(), from = 0, bFirstBlock = false) {
        const QString text = block.text();
        const int length = int(text.size());
        for (int i = from; i < length; ++i) {
            const QChar ch = text.at(i);
            if (ch != QLatin1Char('(') && ch != QLatin1Char(')'))
                continue;
            if (!StepCoversOneCharacter(block, i, length, bFirstBlock && i == from))
                continue;
            depth += ch == QLatin1Char('(') ? 1 : -1;
            if (depth == 0) {
                cMatch = QTextCursor(doc);
                cMatch.setPosition(block.position() + i);
                bMatchValid = true;
                return;
            }
        }
    }
}

void REPLEdit::MatchBackward()
{
    bMatchValid = false;
    QTextDocument *doc = document();
    const int start = textCursor().position();
    // A step back from position p is taken only while p is not before the
    // input start, so the last character looked at is the one just before it.
    const int limit = cInputStart.position();
    QTextBlock block = doc->findBlock(start);
    if (!block.isValid() || start < limit)
        return;
    int depth = 1;
    int to = start - block.position();
    bool bFirstBlock = true;
    for (; block.isValid(); block = block.previous(), bFirstBlock = false) {
        const QString text = block.text();
        const int length = int(text.size());
        const int base = block.position();
        if (!bFirstBlock)
            to = length;
        for (int j = to - 1; j >= 0; --j) {
            if (base + j + 1 < limit)
                return;
            const QChar ch = text.at(j);
            if (ch != QLatin1Char('(') && ch != QLatin1Char(')'))
                continue;
            const bool bFromWalkStart = bFirstBlock && j + 1 == to;
            if (!(bFromWalkStart || IsCursorStop(block, j + 1, length)) || !IsCursorStop(block, j, length))
                continue;
            depth += ch == QLatin1Char(')') ? 1 : -1;
            if (depth == 0) {
                cMatch = QTextCursor(doc);
                cMatch.setPosition(base + j);
                bMatchValid = true;
                return;
            }
        }
        // Stepping over the paragraph break to the previous block.
        if (base < limit)
            return;
    }
}

void REPLEdit::BrowseHistory(bool bOlder)
{
    const int count = int(vHistory.size());
    if (count == 0)
        return;
    const QString shown = (iHistoryIndex >= 0 && iHistoryIndex < count) ? vHistory.at(iHistoryIndex) : QString("");
    iHistoryIndex += bOlder ? -1 : 1;
    if (iHistoryIndex < 0)
        iHistoryIndex = 0;
    if (iHistoryIndex >= count) {
        iHistoryIndex = count;
        ReplaceInput(sSavedInput);
        return;
    }
    const QString current = CurrentInput();
    if (current != shown)
        sSavedInput = current;
    ReplaceInput(vHistory.at(iHistoryIndex));
}

void REPLEdit::MoveTextCursor(int iPosition, bool bKeepAnchor)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(iPosition, bKeepAnchor ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    setTextCursor(cursor);
}

void REPLEdit::Continuation()
{
    if (iCursorOffset < 0)
        return;
    insertPlainText(QStringLiteral("\n") + QString(iIndent, QLatin1Char(' ')));
    ensureCursorVisible();
}

void REPLEdit::Submit()
{
    const QString text = CurrentInput();
    ReplaceInput(text);
    bInputEnabled = false;
    emit CommandEntered(text);
    if (!text.isEmpty() && (vHistory.isEmpty() || vHistory.last() != text))
        vHistory.append(text);
    iHistoryIndex = int(vHistory.size());
    sSavedInput = QString("");
    ReportSaveOutcome(SaveSession(gSessionFileName));
    viewport()->update();
}

void REPLEdit::ReportSaveOutcome(const QString &sProblem)
{
    if (sProblem == sSaveProblem)
        return;
    sSaveProblem = sProblem;
    if (sProblem.isEmpty())
        return;
    const QString line = gSessionFileName + QStringLiteral(" cannot be written: ") + sProblem;
    qDebug().noquote() << line;
    // Above the new prompt, so the input stays the text after the last one.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.insertText(line);
    cursor.insertBlock();
    ensureCursorVisible();
}

bool REPLEdit::ClipSelectionToInput(const QKeyEvent *e)
{
    const QTextCursor cursor = textCursor();
    const int start = cInputStart.position();
    if (cursor.selectionStart() >= start || cursor.selectionEnd() < start)
        return false;
    const SelectionEdit edit = EditOfKey(e);
    if (edit == SelectionEdit::None)
        return false;
    QTextCursor clipped = cursor;
    clipped.setPosition(start);
    clipped.setPosition(cursor.selectionEnd(), QTextCursor::KeepAnchor);
    setTextCursor(clipped);
    RefreshInputState();
    return edit == SelectionEdit::Remove && !clipped.hasSelection();
}

void REPLEdit::PassToEditor(QKeyEvent *e)
{
    QTextEdit::keyPressEvent(e);
    const int key = e->key();
    if (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Up && key != Qt::Key_Down)
        return;
    QTextCursor next = textCursor();
    next.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    const QString selected = next.selectedText();
    if (selected == QLatin1String("("))
        MatchForward(textCursor().position() + 1);
    else if (selected == QLatin1String(")"))
        MatchBackward();
}

bool REPLEdit::HandleKey(QKeyEvent *e)
{
    const int key = e->key();
    const Qt::KeyboardModifiers modifiers = e->modifiers();
    const bool bCtrl = modifiers.testFlag(Qt::ControlModifier);
    const bool bShift = modifiers.testFlag(Qt::ShiftModifier);

    switch (key) {
    case Qt::Key_Home:
        if (bPromptOnLine) {
            MoveTextCursor(cInputStart.position(), bShift);
            return true;
        } else {
            const int target = SmartHomeCursor().position();
            if (textCursor().position() != target) {
                MoveTextCursor(target, bShift);
                return true;
            }
        }
        break;
    case Qt::Key_Return:
        if (bCtrl || !IsChunkComplete(CurrentInput().toStdString()))
            Continuation();
        else
            Submit();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (bCtrl) {
            BrowseHistory(key == Qt::Key_Up);
            if (iCursorOffset < 0)
                setTextCursor(cInputStart);
            return true;
        }
        if (key == Qt::Key_Down && modifiers == Qt::NoModifier) {
            QTextCursor cursor = textCursor();
            cursor.clearSelection();
            setTextCursor(cursor);
        }
        break;
    case Qt::Key_Backspace:
        if (iCursorOffset <= 0)
            return true;
        break;
    case Qt::Key_Escape:
        // Not consumed: after the input is reset the key goes on through
        // the general rule, and the editor leaves it to the parent widgets.
        ReplaceInput(sSavedInput);
        break;
    default:
        break;
    }

    if (!e->text().isEmpty() && iCursorOffset < 0 && !bCtrl)
        return true;
    PassToEditor(e);
    return false;
}

void REPLEdit::keyPressEvent(QKeyEvent *e)
{
    if (!bInputEnabled)
        return;

    RefreshInputState();
    bMatchValid = false;
    if (ClipSelectionToInput(e)) {
        e->accept();
        viewport()->update();
        return;
    }
    if (e->key() == Qt::Key_ParenLeft)
        MatchForward(textCursor().position());
    else if (e->key() == Qt::Key_ParenRight)
        MatchBackward();

    if (HandleKey(e))
        e->accept();
    viewport()->update();
}

void REPLEdit::paintEvent(QPaintEvent *e)
{
    RefreshInputState();
    if (iCursorOffset >= 0) {
        QPainter painter(viewport());
        painter.eraseRect(viewport()->rect());
        if (bMatchValid) {
            painter.setPen(QColor(Qt::green));
            const QRect r1 = cursorRect(cMatch);
            QTextCursor after = cMatch;
            after.movePosition(QTextCursor::NextCharacter);
            const QRect r2 = cursorRect(after);
            const QRect box(QPoint(r1.left(), r1.top()), QPoint(r2.left() - 1, r1.bottom()));
            painter.drawRects(&box, 1);
        }
        painter.end();
    }
    QTextEdit::paintEvent(e);
}

// --- Session log --------------------------------------------------------------

QString REPLEdit::SaveSession(QString sFileName)
{
    // Through QSaveFile, so a failed or interrupted save leaves the
    // previous file whole; a writable file in a folder where no temporary
    // file can be made is still saved, in place.
    QSaveFile file(sFileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = FormatSessionLog(vHistory, toPlainText());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return why;
    }
    // commit() keeps the old file when any write failed.
    return file.commit() ? QString() : file.errorString();
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
