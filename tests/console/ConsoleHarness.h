// ConsoleHarness: a REPLEdit wired as the main window wires it (commands run
// through the script host, or `run` when set; output and errors are appended,
// then NewPrompt). The parent records the keys the console leaves
// unconsumed, modifiers apart.
#pragma once

#include "REPLEdit.h"
#include "ScriptHost.h"

#include <QKeyEvent>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

class KeyRecorder : public QWidget
{
public:
    QVector<int> keys;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        if (e->key() < Qt::Key_Shift || e->key() > Qt::Key_Alt) // Shift, Control, Meta, Alt
            keys.append(e->key());
    }
};

class ConsoleHarness
{
public:
    ConsoleHarness()
    {
        parent.resize(900, 600);
        repl = new REPLEdit(&parent);
        repl->setGeometry(0, 0, 900, 600);
        QObject::connect(repl, &REPLEdit::CommandEntered, repl, [this](QString sCommand) {
            commands.append(sCommand);
            std::string out, err;
            if (run)
                run(sCommand.toStdString(), out, err);
            else
                RunScriptCaptured(sCommand.toStdString(), out, err);
            for (const std::string &text : {out, err})
                if (!text.empty())
                    repl->append(QString::fromStdString(text));
            repl->NewPrompt();
        });
        repl->SetPrompt("Lua>");
        parent.show();
    }

    QString Text() const { return repl->toPlainText(); }
    // What follows the last prompt (in any letter case).
    QString Input() const { return Text().mid(Text().lastIndexOf("lua>", -1, Qt::CaseInsensitive) + 4); }
    int CursorPosition() const { return repl->textCursor().position(); }
    void Select(int anchor, int position)
    {
        QTextCursor cursor = repl->textCursor();
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        repl->setTextCursor(cursor);
    }
    void SetCursorPosition(int position) { Select(position, position); }

    void Type(const QString &text) { QTest::keyClicks(repl, text); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(repl, key, modifiers); }
    void Ctrl(Qt::Key key) { Key(key, Qt::ControlModifier); }
    void Enter(const QString &text) { Type(text); Key(Qt::Key_Return); }

    // With the input empty, a typed command runs and its output follows it.
    void ExpectCommandRuns()
    {
        Enter("print(40 + 2)");
        ASSERT_FALSE(commands.isEmpty());
        EXPECT_EQ(commands.last(), "print(40 + 2)");
        EXPECT_TRUE(Text().endsWith("print(40 + 2)\n42\n\nLua>")) << Text().right(80).toStdString();
    }

    KeyRecorder parent;
    REPLEdit *repl = nullptr;
    QStringList commands;
    std::function<void(const std::string &, std::string &, std::string &)> run;
};
