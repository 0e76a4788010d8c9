// ConsoleHarness: a REPLEdit inside a stand-in for the main window, wired
// the way the main window wires it: CommandEntered is directly connected to
// a receiver that runs the command through the script host, appends output
// and error text and calls NewPrompt. The stand-in parent records every key
// that the console leaves unconsumed, apart from bare modifier keys
// (Escape would end the real program).
#pragma once

#include "REPLEdit.h"
#include "ScriptHost.h"

#include <QKeyEvent>
#include <QStringList>
#include <QTest>
#include <QVector>
#include <QWidget>

#include <string>

class KeyRecorder : public QWidget
{
public:
    QVector<int> keys;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        const int key = e->key();
        if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta)
            keys.append(key);
        e->accept();
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
            RunScriptCaptured(sCommand.toStdString(), out, err);
            if (!out.empty())
                repl->append(QString::fromStdString(out));
            if (!err.empty())
                repl->append(QString::fromStdString(err));
            repl->NewPrompt();
        });
        repl->SetPrompt("Lua>");
        parent.show();
    }

    QString Text() const { return repl->toPlainText(); }
    int CursorPosition() const { return repl->textCursor().position(); }
    void SetCursorPosition(int position)
    {
        QTextCursor cursor = repl->textCursor();
        cursor.setPosition(position);
        repl->setTextCursor(cursor);
    }

    void Type(const QString &text) { QTest::keyClicks(repl, text); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(repl, key, modifiers); }
    // Types one line of input and presses Return.
    void Enter(const QString &text)
    {
        Type(text);
        Key(Qt::Key_Return);
    }

    KeyRecorder parent;
    REPLEdit *repl = nullptr;
    QStringList commands;
};
