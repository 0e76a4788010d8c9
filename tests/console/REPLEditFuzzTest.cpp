// Fuzz test of the console: 20,000 random key events against commands that
// print, fail or succeed at random. No crash or hang, the history grows only
// by submitted commands, a command typed afterwards runs, and the session
// log written last brings the same history back.
#include "ConsoleHarness.h"
#include "FuzzSeed.h"
#include "ScratchDir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct FuzzKey
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

const FuzzKey kKeys[] = {
    {Qt::Key_Return, Qt::NoModifier},      {Qt::Key_Return, Qt::ControlModifier},
    {Qt::Key_Return, Qt::ShiftModifier},   {Qt::Key_Enter, Qt::KeypadModifier},
    {Qt::Key_Backspace, Qt::NoModifier},   {Qt::Key_Delete, Qt::NoModifier},
    {Qt::Key_Left, Qt::NoModifier},        {Qt::Key_Right, Qt::NoModifier},
    {Qt::Key_Up, Qt::NoModifier},          {Qt::Key_Down, Qt::NoModifier},
    {Qt::Key_Left, Qt::ShiftModifier},     {Qt::Key_Right, Qt::ShiftModifier},
    {Qt::Key_Up, Qt::ShiftModifier},       {Qt::Key_Down, Qt::ShiftModifier},
    {Qt::Key_Home, Qt::NoModifier},        {Qt::Key_Home, Qt::ShiftModifier},
    {Qt::Key_Home, Qt::ControlModifier},   {Qt::Key_End, Qt::NoModifier},
    {Qt::Key_End, Qt::ShiftModifier},      {Qt::Key_End, Qt::ControlModifier},
    {Qt::Key_Up, Qt::ControlModifier},     {Qt::Key_Down, Qt::ControlModifier},
    {Qt::Key_Escape, Qt::NoModifier},      {Qt::Key_Escape, Qt::ControlModifier},
    {Qt::Key_Escape, Qt::ShiftModifier},   {Qt::Key_Escape, Qt::AltModifier},
    {Qt::Key_X, Qt::ControlModifier},      {Qt::Key_V, Qt::ControlModifier},
    {Qt::Key_A, Qt::ControlModifier},      {Qt::Key_C, Qt::ControlModifier},
    {Qt::Key_PageUp, Qt::NoModifier},      {Qt::Key_PageDown, Qt::NoModifier},
    {Qt::Key_PageUp, Qt::ShiftModifier},   {Qt::Key_Tab, Qt::NoModifier},
};

const char *const kTexts[] = {"a", "x", "1", " ", "=", "(", ")", "((", "))", "[", "]", "{", "}", "'", "\"", "#", "-",
                              ".", ",", "\t", "print(", "for i=1,2 do", "end", "if x then", "[[", "]]", "--[==[",
                              "lua>", "Lua>", "###", "f(a(b)c)", "\xC3\xA4", "\xF0\x9F\x99\x82"};

// Types `text` one key per character; characters without a key of their own
// come as a key event that carries just the text, as input methods send.
void TypeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

TEST(ConsoleFuzz, RandomKeysNeverBreakTheConsoleHistoryOrSessionLog)
{
    const std::uint64_t seed = FuzzSeed(0xc0501e);
    FUZZ_TRACE(seed);
    FuzzRandom random(seed);
    ScratchDir scratch;
    ASSERT_TRUE(scratch.isValid());
    // Commands print their text, fail or succeed silently, at random.
    ConsoleHarness c;
    c.run = [&random](const std::string &command, std::string &out, std::string &err) {
        if (random.OneIn(3))
            out = "printed " + command.substr(0, 40) + "\r\n";
        else if (random.OneIn(2))
            err = "[string \"" + command.substr(0, 20) + "\"]:1: failed\n";
    };

    const int kEvents = 20000;
    int events = 0;
    while (events < kEvents && !HasFailure()) {
        const QVector<QString> before = c.repl->History();
        const qsizetype submitted = c.commands.size();
        const std::size_t choice = random.Below(100);
        if (choice < 45) {
            const QString text = QString::fromUtf8(random.Pick(kTexts));
            TypeText(c.repl, text);
            events += int(text.size());
        } else if (choice < 48) {
            c.SetCursorPosition(int(random.Below(size_t(c.Text().size()) + 1))); // a click anywhere
        } else {
            const FuzzKey &k = random.Pick(kKeys);
            c.Key(k.key, k.modifiers);
            ++events;
        }
        if (random.OneIn(64))
            QCoreApplication::processEvents(); // paints, bracket box included

        // The history grows only by the command just submitted, if at all.
        const QVector<QString> &after = c.repl->History();
        ASSERT_TRUE(c.repl->InputEnabled()) << "after event " << events;
        ASSERT_LE(c.commands.size(), submitted + 1);
        if (c.commands.size() == submitted) {
            ASSERT_EQ(after, before) << "history changed without a command, event " << events;
        } else {
            const QString &command = c.commands.last();
            const bool recorded = !command.isEmpty() && (before.isEmpty() || before.last() != command);
            ASSERT_EQ(after, recorded ? before + QVector<QString>{command} : before) << "event " << events;
        }
    }
    std::cout << events << " key events, " << c.commands.size() << " commands, " << c.repl->History().size()
              << " history entries" << std::endl;

    // With the cursor at the end and the input emptied (to the last prompt in
    // any letter case, or all text without one: the console's own input
    // start only follows at the next key), a typed Lua command runs.
    c.SetCursorPosition(int(c.Text().size()));
    auto input = [&c] {
        const qsizetype prompt = c.Text().lastIndexOf("lua>", -1, Qt::CaseInsensitive);
        return prompt < 0 ? c.Text() : c.Text().mid(prompt + 4);
    };
    c.Key(Qt::Key_Escape);
    for (int i = 0; i < 100000 && !input().isEmpty(); ++i)
        c.Key(Qt::Key_Backspace);
    ASSERT_EQ(input(), "");
    c.run = nullptr;
    c.ExpectCommandRuns();

    // The log written by that command restores the same history.
    REPLEdit restored;
    const QStringList saved(c.repl->History().begin(), c.repl->History().end());
    const QStringList loaded(restored.History().begin(), restored.History().end());
    EXPECT_EQ(loaded.join("\n|\n").toStdString(), saved.join("\n|\n").toStdString());
}

} // namespace
