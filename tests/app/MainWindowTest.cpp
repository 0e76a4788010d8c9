// The main window under X: the collapsed console and the focused view, full
// screen, console commands in the production's state, the error band's
// effect on the GL state, and the view's wheel and key rules.
#include "DemoWorld.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "REPLEdit.h"
#include "ScratchDir.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSplitter>
#include <QTest>

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <memory>
#include <vector>

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile production(scratch.filePath("prod.lua"));
        ASSERT_TRUE(production.open(QIODevice::WriteOnly));
        production.write("greeting = 'hello from prod'\n");
        production.close();
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QString ConsoleText() const { return window->Form().repl->toPlainText(); }
    void Submit(const QString &command)
    {
        QTest::keyClicks(window->Form().repl, command);
        QTest::keyClick(window->Form().repl, Qt::Key_Return);
    }
    WorldWidget *View() const { return window->Form().world; }
    DemoWorld *World() const { return View()->world(); }

    ScratchDir scratch;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, OpensWithTheConsoleCollapsedAndSwitchesToFullScreenAndBack)
{
    EXPECT_EQ(window->Form().splitter->sizes().value(1, -1), 0);
    EXPECT_GT(window->Form().splitter->sizes().value(0), 0);
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget *>(View()));
    for (int round = 0; round < 2; ++round) { // the second call of each finds its mode already on
        Submit("fullscreenMode() fullscreenMode()");
        EXPECT_TRUE(window->isFullScreen());
        Submit("windowedMode() windowedMode()");
        EXPECT_FALSE(window->isFullScreen() || window->isMaximized());
    }
}

// Output, then error, then a fresh prompt; "=" commands show their values;
// every command is recorded as typed.
TEST_F(MainWindowTest, CommandsShowOutputErrorsAndValuesAndAreRecordedAsTyped)
{
    EXPECT_EQ(ConsoleText(), "Lua>");
    const struct { const char *command, *shown; } cases[] = { // shown: a pattern up to the next prompt
        {"print(greeting) error('boom')", "hello from prod\n\n\\[string \"print\\(greeting\\) error\\('boom'\\)\"\\]:1: boom\n\n"},
        {"x = 41", ""},
        {"print('<b>bold</b> &amp;')", "<b>bold</b> &amp;\n\n"},
        {"=getCamPos()", "162\t66\t35\n"},
        {"=nil, {}", "nil\ttable: 0x[0-9a-f]+\n"},
        {"=)", "\\[string \"return \\)\"\\]:1: unexpected symbol near '\\)'\n\n"},
        {"=print('p'), x", "p\n\nnil\t41\n"},
        {"=1, (function() while true do end end)()", "\\[string [^\n]*\\]:1: script interrupted: it ran for more than 0.3 seconds\n\n"},
    };
    SetRunTimeLimit(300);
    for (const auto &c : cases) {
        const int before = int(ConsoleText().size());
        Submit(c.command);
        const QString added = ConsoleText().mid(before);
        EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(c.command) + "\n" + c.shown + "Lua>"))
                        .match(added).hasMatch()) << c.command << " gave: " << added.toStdString();
        EXPECT_EQ(window->Form().repl->History().last(), c.command);
    }
    SetRunTimeLimit(5000);
}

// The GL state the world keeps from frame to frame, as numbers.
std::vector<double> GLState()
{
    std::vector<double> state;
    for (GLenum flag : {GL_DEPTH_TEST, GL_BLEND, GL_POLYGON_OFFSET_FILL, GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_TEXTURE_2D,
                        GL_LIGHTING, GL_CULL_FACE})
        state.push_back(glIsEnabled(flag));
    for (GLenum name : {GL_DEPTH_FUNC, GL_DEPTH_WRITEMASK, GL_BLEND_SRC_RGB, GL_BLEND_DST_RGB, GL_BLEND_EQUATION_RGB,
                        GL_CURRENT_PROGRAM, GL_TEXTURE_BINDING_2D, GL_ARRAY_BUFFER_BINDING, GL_MATRIX_MODE,
                        GL_VIEWPORT, GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_CURRENT_COLOR, GL_LINE_WIDTH,
                        GL_COLOR_WRITEMASK}) {
        GLdouble values[16] = {};
        glGetDoublev(name, values);
        state.insert(state.end(), values, values + 16);
    }
    return state;
}

// Errors of render() or of a mouse callback show red text at the bottom of
// the view, and drawing it changes neither the GL state nor the pick there.
TEST_F(MainWindowTest, TheErrorBandLeavesTheGLStateAndThePickUnderItUnchanged)
{
    const auto paint = [&] {
        View()->makeCurrent();
        World()->mouseMove(View()->width() / 2, View()->height() - 6);
        QImage picture;
        for (int frame = 0; frame < 3; ++frame)
            picture = View()->grabFramebuffer();
        int red = 0;
        for (int y = picture.height() - 40; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                red += c.red() > 150 && c.green() < 110 && c.blue() < 110;
            }
        View()->makeCurrent();
        return red;
    };
    EXPECT_EQ(paint(), 0);
    const std::vector<double> plainState = GLState();
    const Vector3 plainPick = World()->pickPoint();
    for (const char *failing : {"function render() error('r') end", "function OnMouseMove() error('m') end"}) {
        Submit(failing);
        EXPECT_GT(paint(), 20) << failing;
        EXPECT_EQ(GLState(), plainState) << failing;
        const Vector3 pick = World()->pickPoint();
        EXPECT_TRUE(pick.x == plainPick.x && pick.y == plainPick.y && pick.z == plainPick.z) << failing;
        Submit("function render() end function OnMouseMove() end");
    }
}

// A wheel delta of 0 or less zooms out; auto-repeated key presses and
// releases never reach the world (space held makes a left drag orbit).
TEST_F(MainWindowTest, TheViewZoomsOutForAZeroWheelDeltaAndIgnoresAutoRepeatedKeys)
{
    const auto distance = [&] { return length(World()->pickPoint() - World()->camera().position()); };
    for (const auto &[delta, closer] : {std::pair{0, false}, {-120, false}, {120, true}}) {
        const float before = distance();
        QWheelEvent event(QPointF(50, 50), View()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(View(), &event);
        EXPECT_EQ(distance() < before, closer) << "delta " << delta;
    }
    const auto mouse = [&](QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(x, 100), View()->mapToGlobal(QPointF(x, 100)), button, held, Qt::NoModifier);
        QApplication::sendEvent(View(), &event);
    };
    const auto dragMovesCamera = [&] {
        const Vector3 before = World()->camera().position();
        mouse(QEvent::MouseMove, 100, Qt::NoButton, Qt::NoButton);
        mouse(QEvent::MouseButtonPress, 100, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseMove, 140, Qt::NoButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, 140, Qt::LeftButton, Qt::NoButton);
        return length(World()->camera().position() - before) > 1e-3f;
    };
    const std::pair<QEvent::Type, bool> steps[] = {{QEvent::KeyPress, true}, {QEvent::KeyPress, false},
                                                   {QEvent::KeyRelease, true}, {QEvent::KeyRelease, false}};
    EXPECT_FALSE(dragMovesCamera());
    for (const auto &[type, autoRepeat] : steps) {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, " ", autoRepeat);
        QApplication::sendEvent(View(), &event);
        const bool held = type == QEvent::KeyPress ? !autoRepeat : autoRepeat;
        EXPECT_EQ(dragMovesCamera(), held) << (type == QEvent::KeyPress ? "press" : "release") << " repeat " << autoRepeat;
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS(); // listing needs no display
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
