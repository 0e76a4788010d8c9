// A REPLEdit wired as the main window wires it; the parent records the keys
// the console passes on, modifiers apart.
#pragma once

#include "Files.h"
#include "REPLEdit.h"
#include "ScriptHost.h"

#include <QFile>
#include <QKeyEvent>
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
        if (e->key() < Qt::Key_Shift || e->key() > Qt::Key_Alt)
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
        QObject::connect(repl, &REPLEdit::CommandEntered, repl, [this](QString command) {
            commands.append(command);
            std::string out, err;
            (run ? run : RunScriptCaptured)(command.toStdString(), out, err);
            for (const std::string &text : {out, err})
                if (!text.empty())
                    repl->append(QString::fromStdString(text));
            repl->NewPrompt();
        });
        repl->SetPrompt("Lua>");
        parent.show();
    }

    QString Text() const { return repl->toPlainText(); }
    // What follows the last prompt, in any letter case.
    QString Input() const { return Text().mid(Text().lastIndexOf("lua>", -1, Qt::CaseInsensitive) + 4); }
    int Cursor() const { return repl->textCursor().position(); }
    void Select(int anchor, int position)
    {
        QTextCursor cursor = repl->textCursor();
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        repl->setTextCursor(cursor);
    }
    void Type(const QString &text) { QTest::keyClicks(repl, text); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(repl, key, modifiers); }
    void Enter(const QString &text) { Type(text); Key(Qt::Key_Return); }

    // Escape empties the input; a typed command then runs and shows its output.
    void ExpectUsable()
    {
        Key(Qt::Key_Escape);
        Enter("print(40 + 2)");
        EXPECT_EQ(commands.value(commands.size() - 1), "print(40 + 2)");
        EXPECT_TRUE(Text().endsWith("print(40 + 2)\n42\n\nLua>")) << Text().right(80).toStdString();
    }

    KeyRecorder parent;
    REPLEdit *repl = nullptr;
    QStringList commands;
    std::function<void(const std::string &, std::string &, std::string &)> run;
};
