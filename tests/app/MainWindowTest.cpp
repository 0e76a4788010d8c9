// The main window under X: its form (widgets, names, sizes, the collapsed
// console, the focus) and console commands running in the script state.
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "REPLEdit.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        QFile production(scratch.filePath("prod.lua"));
        ASSERT_TRUE(production.open(QIODevice::WriteOnly));
        production.write("greeting = 'hello from prod'\n");
        production.close();
        window = std::make_unique<MainWindow>();
    }

    void TearDown() override { window.reset(); }

    QString ConsoleText() const { return window->Form().repl->toPlainText(); }

    // Types a command into the console and submits it with Return.
    void Submit(const QString &command)
    {
        QTest::keyClicks(window->Form().repl, command);
        QTest::keyClick(window->Form().repl, Qt::Key_Return);
    }

    ScratchDir scratch;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, FormHasItsWidgetsNamesAndSettings)
{
    const MainWindowForm &form = window->Form();
    EXPECT_EQ(gMainWindow, window.get());
    EXPECT_EQ(window->objectName(), "MainWindow");
    EXPECT_EQ(window->size(), QSize(403, 442));
    EXPECT_EQ(window->windowTitle(), "Velkaro");
    EXPECT_EQ(window->styleSheet(), "QSplitter::handle { background: black }");

    EXPECT_EQ(window->centralWidget(), form.centralWidget);
    EXPECT_EQ(form.centralWidget->objectName(), "centralWidget");
    EXPECT_EQ(form.verticalLayout->objectName(), "verticalLayout");
    EXPECT_EQ(form.verticalLayout->spacing(), 6);
    EXPECT_EQ(form.verticalLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(form.splitter->objectName(), "splitter");
    EXPECT_EQ(form.splitter->orientation(), Qt::Vertical);
    ASSERT_EQ(form.splitter->count(), 2);
    EXPECT_EQ(form.splitter->widget(0), static_cast<QWidget *>(form.world));
    EXPECT_EQ(form.splitter->widget(1), form.repl);

    EXPECT_EQ(form.world->objectName(), "world");
    EXPECT_EQ(form.world->sizePolicy().verticalStretch(), 4);
    EXPECT_EQ(form.world->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(form.world->minimumSize(), QSize(0, 300));

    EXPECT_EQ(form.repl->objectName(), "repl");
    EXPECT_EQ(form.repl->sizePolicy().verticalStretch(), 1);
    EXPECT_EQ(form.repl->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(form.repl->minimumSize(), QSize(300, 100));
    EXPECT_EQ(form.repl->maximumSize(), QSize(16777215, 16777215));
    EXPECT_EQ(form.repl->frameShape(), QFrame::StyledPanel);
    EXPECT_EQ(form.repl->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.repl->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(MainWindowTest, OpensWithTheConsoleCollapsedAndTheFocusInTheView)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QList<int> sizes = window->Form().splitter->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_GT(sizes[0], 0);
    EXPECT_EQ(sizes[1], 0);
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget *>(window->Form().world));
}

TEST_F(MainWindowTest, CommandsRunInTheProductionsStateAndAppendOutputThenError)
{
    EXPECT_EQ(ConsoleText(), "Lua>");
    Submit("print(greeting) error('boom')");
    EXPECT_EQ(ConsoleText(),
              "Lua>print(greeting) error('boom')\n"
              "hello from prod\n\n"
              "[string \"print(greeting) error('boom')\"]:1: boom\n\n"
              "Lua>");

    // A silent command that succeeds adds nothing but a fresh prompt, and
    // the state keeps what earlier commands did.
    Submit("x = 41");
    Submit("print(x + 1)");
    EXPECT_TRUE(ConsoleText().endsWith("Lua>x = 41\nLua>print(x + 1)\n42\n\nLua>"))
        << ConsoleText().toStdString();
    EXPECT_TRUE(QFile::exists(scratch.filePath("replsession.txt")));
}

TEST_F(MainWindowTest, PrintedMarkupIsShownAsPlainText)
{
    Submit("print('<b>bold</b> &amp;')");
    EXPECT_TRUE(ConsoleText().endsWith("\n<b>bold</b> &amp;\n\nLua>")) << ConsoleText().toStdString();
}

TEST_F(MainWindowTest, WindowFunctionsSwitchTheWholeWindowToFullScreenAndBack)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (int round = 0; round < 2; ++round) {   // the second time each is already in its mode
        Submit("fullscreenMode() fullscreenMode()");
        EXPECT_TRUE(window->isFullScreen());
        Submit("windowedMode() windowedMode()");
        EXPECT_FALSE(window->isFullScreen());
        EXPECT_FALSE(window->isMaximized());
    }
}

} // namespace

int main(int argc, char **argv)
{
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
