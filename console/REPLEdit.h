// REPLEdit: the Lua console pane. One text editor holds the whole session;
// the text after the last prompt is the command being typed, everything
// before it is protected from ordinary typing. Complete commands leave
// through CommandEntered; the history and the visible text are kept in the
// session log (SessionLog.cpp) so that a restart continues the session.
#pragma once

#include <QString>
#include <QTextCursor>
#include <QTextEdit>
#include <QVector>

class QKeyEvent;
class QPaintEvent;

// Name of the session log, "replsession.txt", relative to the working
// directory.
extern QString gSessionFileName;

class REPLEdit : public QTextEdit
{
    Q_OBJECT

public:
    explicit REPLEdit(QWidget *parent = nullptr);

    // Sets the prompt text and the indent of the first continuation line;
    // the document is left as it is.
    void SetPrompt(QString sText);

    // Re-enables input and writes a fresh prompt line at the end; the
    // receiver of CommandEntered calls this once the command has run.
    void NewPrompt();

    // The text after the last prompt, paragraph breaks as "\n" and tabs as
    // three spaces.
    QString CurrentInput() const;

    // Session log: restores history and console text from a file (silent
    // when there is none), or writes them to it, returning why the file
    // could not be written ("" when it was).
    void LoadSession(QString sFileName);
    QString SaveSession(QString sFileName);

    // Read-only views of the console state.
    bool InputEnabled() const { return bInputEnabled; }
    int InputStartPosition() const { return cInputStart.position(); }
    const QVector<QString> &History() const { return vHistory; }
    int HistoryIndex() const { return iHistoryIndex; }
    const QString &SavedInput() const { return sSavedInput; }
    const QString &Prompt() const { return sPrompt; }
    int Indent() const { return iIndent; }
    bool MatchValid() const { return bMatchValid; }
    int MatchPosition() const { return cMatch.position(); }

signals:
    void CommandEntered(QString sCommand);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    void ResetConsole();
    void RefreshInputState();
    void ReplaceInput(QString sText);
    void AppendAtEnd(QString sText);
    QTextCursor SmartHomeCursor() const;
    void MatchForward(int iStart);
    void MatchBackward();
    void BrowseHistory(bool bOlder);

    // The rows of the key table; true when the key was handled here.
    bool HandleKey(QKeyEvent *e);
    void PassToEditor(QKeyEvent *e);
    void Continuation();
    void Submit();
    void MoveTextCursor(int iPosition, bool bKeepAnchor);
    // Before a key that edits at the selection: a selection reaching from
    // the protected text into the input is cut back to its part in the
    // input. True when the key has nothing left to remove.
    bool ClipSelectionToInput(const QKeyEvent *e);
    // After a save: a line before the prompt (and in the debug output)
    // when the log could not be written, unless that reason was the last
    // one shown.
    void ReportSaveOutcome(const QString &sProblem);

    bool bInputEnabled;
    QTextCursor cInputStart;
    bool bPromptOnLine;
    int iCursorOffset;
    int iIndent;
    QVector<QString> vHistory;
    int iHistoryIndex;
    QString sSavedInput;
    QString sPrompt;
    bool bMatchValid;
    QTextCursor cMatch;
    QString sSaveProblem; // why the last save failed ("" after a good one)
};
