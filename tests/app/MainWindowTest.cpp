// The main window under X: its form (widgets, names, sizes, the collapsed
// console, the focus) and console commands running in the script state.
#include "DemoWorld.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "REPLEdit.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <memory>
#include <string>
#include <vector>

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
    QByteArray ReadSession() const
    {
        QFile file(scratch.filePath("replsession.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

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

// Shown, the console is collapsed and the view has the focus; the window
// functions switch the whole window to full screen and back.
TEST_F(MainWindowTest, OpensWithTheConsoleCollapsedAndSwitchesToFullScreenAndBack)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QList<int> sizes = window->Form().splitter->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_GT(sizes[0], 0);
    EXPECT_EQ(sizes[1], 0);
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget *>(window->Form().world));
    for (int round = 0; round < 2; ++round) {   // the second time each is already in its mode
        Submit("fullscreenMode() fullscreenMode()");
        EXPECT_TRUE(window->isFullScreen());
        Submit("windowedMode() windowedMode()");
        EXPECT_FALSE(window->isFullScreen());
        EXPECT_FALSE(window->isMaximized());
    }
}

// Commands run in the production's state, output then error appended and a
// fresh prompt; "=" commands show their values; all recorded as typed.
TEST_F(MainWindowTest, CommandsShowOutputErrorsAndValuesAndAreRecordedAsTyped)
{
    EXPECT_EQ(ConsoleText(), "Lua>");
    const struct { const char *command, *shown; } cases[] = { // shown: a pattern, up to the next prompt
        {"print(greeting) error('boom')",
         "hello from prod\n\n\\[string \"print\\(greeting\\) error\\('boom'\\)\"\\]:1: boom\n\n"},
        {"x = 41", ""},
        {"print(x + 1)", "42\n\n"},
        {"print('<b>bold</b> &amp;')", "<b>bold</b> &amp;\n\n"}, // markup shown as plain text
        {"=1+1", "2\n"},
        {"=getCamPos()", "162\t66\t35\n"},
        {"=nil, {}", "nil\ttable: 0x[0-9a-f]+\n"},
        {"=", ""},
        {"=)", "\\[string \"return \\)\"\\]:1: unexpected symbol near '\\)'\n\n"},
        {"=print('p'), 'q'", "p\n\nnil\tq\n"},
        {"return 1, 2", ""},
        {"=x", "41\n"},
        {"=1, (function() while true do end end)()", // interrupted: the error and no values
         "\\[string [^\n]*\\]:1: script interrupted: it ran for more than 0.3 seconds\n\n"},
    };
    SetRunTimeLimit(300);
    for (const auto &c : cases) {
        const int before = int(ConsoleText().size());
        Submit(c.command);
        const QString added = ConsoleText().mid(before);
        const QRegularExpression expected(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(c.command) + "\n" + c.shown + "Lua>"));
        EXPECT_TRUE(expected.match(added).hasMatch()) << c.command << " gave: " << added.toStdString();
        EXPECT_EQ(window->Form().repl->History().last(), c.command) << "recorded as typed";
    }
    SetRunTimeLimit(5000);
    EXPECT_TRUE(QString::fromUtf8(ReadSession()).contains("\n=nil, {}\n###\n"));
}

// The view's error band, on the shown window with its frame loop running.
class ErrorBandTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QTest::qWait(100);
    }

    WorldWidget *View() const { return window->Form().world; }
    // One paint of the view, now (repaint() may be merged with the last).
    QImage Paint() { return View()->grabFramebuffer(); }
    ErrorBoard &Board() const { return View()->world()->errors(); }

    // Red text pixels in the lowest 40 rows of the view's picture.
    int RedPixelsAtTheBottom()
    {
        const QImage picture = Paint().convertToFormat(QImage::Format_RGB32);
        int count = 0;
        for (int y = qMax(0, picture.height() - 40); y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                count += c.red() > 150 && c.green() < 110 && c.blue() < 110;
            }
        }
        return count;
    }

    // The GL state the world relies on from frame to frame, as numbers.
    std::vector<double> WorldGLState()
    {
        View()->makeCurrent();
        std::vector<double> state;
        for (GLenum flag : {GL_DEPTH_TEST, GL_BLEND, GL_POLYGON_OFFSET_FILL, GL_SCISSOR_TEST, GL_STENCIL_TEST,
                            GL_TEXTURE_2D, GL_LIGHTING, GL_CULL_FACE})
            state.push_back(glIsEnabled(flag));
        for (GLenum name : {GL_DEPTH_FUNC, GL_DEPTH_WRITEMASK, GL_BLEND_SRC_RGB, GL_BLEND_DST_RGB,
                            GL_BLEND_SRC_ALPHA, GL_BLEND_DST_ALPHA, GL_BLEND_EQUATION_RGB, GL_CURRENT_PROGRAM,
                            GL_ACTIVE_TEXTURE, GL_TEXTURE_BINDING_2D, GL_ARRAY_BUFFER_BINDING,
                            GL_VERTEX_ARRAY_BINDING, GL_MATRIX_MODE, GL_FRAMEBUFFER_BINDING}) {
            GLint value = 0;
            glGetIntegerv(name, &value);
            state.push_back(value);
        }
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        state.insert(state.end(), viewport, viewport + 4);
        for (GLenum name : {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_TEXTURE_MATRIX, GL_CURRENT_COLOR,
                            GL_LINE_WIDTH, GL_POLYGON_OFFSET_FACTOR, GL_POLYGON_OFFSET_UNITS, GL_COLOR_WRITEMASK}) {
            GLdouble values[16] = {};
            glGetDoublev(name, values);
            state.insert(state.end(), values, values + 16);
        }
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        return state;
    }
};

TEST_F(ErrorBandTest, AFailingUpdateIsShownWithAGrowingCountUntilMendedFromTheConsole)
{
    EXPECT_TRUE(Board().empty());
    EXPECT_EQ(RedPixelsAtTheBottom(), 0);

    Submit("function update() error('boom') end");
    QTest::qWait(200);
    ASSERT_EQ(Board().lines().size(), 1u);
    const ErrorBoard::Line first = Board().lines().front();
    EXPECT_EQ(first.label, "update()");
    EXPECT_EQ(first.message, "[string \"function update() error('boom') end\"]:1: boom");
    QTest::qWait(200);
    EXPECT_GT(Board().lines().front().count, first.count);
    EXPECT_GT(RedPixelsAtTheBottom(), 20);

    Submit("function update() end");
    QTest::qWait(100);
    EXPECT_TRUE(Board().empty());
    EXPECT_EQ(RedPixelsAtTheBottom(), 0);
}

TEST_F(ErrorBandTest, TheBandLeavesTheGLStateAndThePickUnderItUnchanged)
{
    // The cursor a few pixels above the bottom edge: under the band.
    View()->makeCurrent();
    View()->world()->mouseMove(View()->width() / 2, View()->height() - 6);
    Paint();
    const std::vector<double> plainState = WorldGLState();
    const Vector3 plainPick = View()->world()->pickPoint();

    for (const char *failing : {"function render() error('r') end", "function OnMouseMove() error('m') end"}) {
        Submit(failing);
        View()->makeCurrent();
        View()->world()->mouseMove(View()->width() / 2, View()->height() - 6);
        for (int frame = 0; frame < 3; ++frame)
            Paint();
        EXPECT_FALSE(Board().empty()) << failing;
        EXPECT_GT(RedPixelsAtTheBottom(), 20) << failing;
        EXPECT_EQ(WorldGLState(), plainState) << failing;
        const Vector3 pick = View()->world()->pickPoint();
        EXPECT_TRUE(pick.x == plainPick.x && pick.y == plainPick.y && pick.z == plainPick.z) << failing;
    }
}

} // namespace

#include "ViewTestMain.h"
