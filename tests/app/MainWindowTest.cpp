// The main window under X.
#include "ConsoleSplitter.h"
#include "DemoWorld.h"
#include "Files.h"
#include "FSound.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "Media.h"
#include "Music.h"
#include "Pixels.h"
#include "REPLEdit.h"
#include "ScratchDir.h"
#include "ScriptHost.h"
#include "SyncPane.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSplitter>
#include <QTest>

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

// Writes a new file in the place of `path`, as an editor saving it does.
bool Replace(const QString &path, const QByteArray &bytes) { return QFile::remove(path), WriteFile(path, bytes); }

unsigned long long Inode(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// The value of a Lua expression in the production's state, as text.
std::string Eval(const std::string &expression)
{
    std::string output, error;
    RunScriptCaptured("print(tostring(" + expression + "))", output, error);
    return error.empty() ? output.substr(0, output.find("\r\n")) : error;
}

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { Open("greeting = 'hello from prod'\n"); }
    // A window on a fresh prod.lua; the window before it closes first.
    void Open(const QByteArray &production)
    {
        window.reset();
        ASSERT_TRUE(Replace("prod.lua", production));
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

TEST_F(MainWindowTest, OpensWithTheViewFocusedAndSwitchesToFullScreenAndBack)
{
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget *>(View()));
    for (int round = 0; round < 2; ++round) { // the second call of each finds its mode already on
        Submit("fullscreenMode() fullscreenMode()");
        EXPECT_TRUE(window->isFullScreen());
        Submit("windowedMode() windowedMode()");
        EXPECT_FALSE(window->isFullScreen() || window->isMaximized());
    }
    // The picture follows the view's size: the splitter moved while another
    // context was current, the viewport covers the smaller view.
    const int before = View()->height();
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext other;
    ASSERT_TRUE(other.create() && other.makeCurrent(&surface));
    window->Form().splitter->setSizes({300, 200});
    QTest::qWait(100);
    View()->UpdateFrame();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const qreal ratio = View()->devicePixelRatioF();
    EXPECT_EQ(QRect(viewport[0], viewport[1], viewport[2], viewport[3]),
              QRect(0, 0, qRound(View()->width() * ratio), qRound(View()->height() * ratio)));
    EXPECT_LT(View()->height(), before);
}

// Text is never read as markup.
TEST_F(MainWindowTest, CommandsShowOutputThenErrorsOrValues)
{
    const struct { const char *command, *shown; } cases[] = { // shown: up to the next prompt
        {"print(greeting) error('boom')", "hello from prod\n\n[string \"print(greeting) error('boom')\"]:1: boom\n\n"},
        {"print('<b>bold</b> &amp;')", "<b>bold</b> &amp;\n\n"},
        {"=print('p'), greeting", "p\n\nnil\thello from prod\n"},
        {"=)", "[string \"return )\"]:1: unexpected symbol near ')'\n\n"},
    };
    for (const auto &c : cases) {
        const int before = int(ConsoleText().size());
        Submit(c.command);
        EXPECT_EQ(ConsoleText().mid(before), QString(c.command) + "\n" + c.shown + "Lua>");
    }
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

TEST_F(MainWindowTest, TheErrorBandLeavesTheGLStateAndThePickUnderItUnchanged)
{
    const auto paint = [&] {
        View()->makeCurrent();
        World()->mouseMove(View()->width() / 2, View()->height() - 6);
        QImage picture;
        for (int frame = 0; frame < 3; ++frame)
            picture = View()->grabFramebuffer();
        View()->makeCurrent();
        return CountPixels(picture, QRect(0, picture.height() - 40, picture.width(), 40),
                           [](QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; });
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
    // Through a post pass too, with no GL error on the way.
    Submit("setPostShader('uniform sampler2D frame; varying vec2 uv;"
           " void main() { gl_FragColor = texture2D(frame, uv); }')");
    View()->makeCurrent();
    while (glGetError() != GL_NO_ERROR) {
    }
    EXPECT_EQ(paint(), 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(GLState(), plainState);
    const Vector3 pick = World()->pickPoint();
    EXPECT_TRUE(pick.x == plainPick.x && pick.y == plainPick.y && pick.z == plainPick.z);
}

// Space held makes a left drag orbit.
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

// sync.txt is replaced whole each time; a bad one changed on disk shows its
// line in the error band and keeps the tracks until a good one comes.
TEST_F(MainWindowTest, TheSyncPaneEditsTheTracksAndMovesTheMusicAndTheFileFollows)
{
    ASSERT_TRUE(MakeToneMp3("music.mp3", 5.0));
    Open("playMp3()\nfunction update() fade = sync('fade') end\n");
    const QString file = "sync.txt";
    auto *dock = window->findChild<QDockWidget *>("syncDock");
    ASSERT_TRUE(dock);
    EXPECT_FALSE(dock->isVisible()) << "hidden until F2";
    QTest::keyClick(View(), Qt::Key_F2);
    ASSERT_TRUE(dock->isVisible());
    QWidget *pane = dock->widget();
    EXPECT_EQ(window->focusWidget(), pane);
    ASSERT_TRUE(QTest::qWaitFor([] { return Eval("fade") == "0"; })) << "update() made the track";
    const auto press = [&](Qt::Key key, int times = 1) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(pane, key);
    };
    const auto enter = [&](const char *value) {
        QTest::keyClicks(pane, value);
        QTest::keyClick(pane, Qt::Key_Return);
    };

    // Paused, Home and Down move the music: row 4 is 0.5 s at 120 bpm.
    press(Qt::Key_P);
    EXPECT_FALSE(MusicIsPlaying());
    press(Qt::Key_Home);
    press(Qt::Key_Down, 4);
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 500);
    const char header[] = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack fade\n";
    enter("1.5");
    EXPECT_EQ(ReadFile(file), QByteArray(header) + "4 1.5 step\n");
    const unsigned long long first = Inode(file);
    press(Qt::Key_I);
    EXPECT_EQ(ReadFile(file), QByteArray(header) + "4 1.5 linear\n");
    EXPECT_NE(Inode(file), first) << "replaced by a rename, not written in place";
    press(Qt::Key_PageDown); // one bar: row 20
    enter("3");
    press(Qt::Key_Up, 16);
    press(Qt::Key_Delete);
    EXPECT_EQ(ReadFile(file), QByteArray(header) + "20 3 step\n");
    // A bookmark on row 4: ] from the start finds it, [ with none before it stays.
    press(Qt::Key_B);
    EXPECT_EQ(ReadFile(file), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#bookmark 4\ntrack fade\n20 3 step\n");
    press(Qt::Key_Home);
    QTest::keyClicks(pane, "]");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 500);
    QTest::keyClicks(pane, "[");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 500);
    press(Qt::Key_B);
    EXPECT_EQ(ReadFile(file), QByteArray(header) + "20 3 step\n");
    // L learns onto the track at the cursor (again: stops), R records; both shown.
    const auto status = [&] { return static_cast<SyncPane *>(pane)->statusLine(); };
    press(Qt::Key_L);
    EXPECT_TRUE(status().endsWith("  learning fade: move a control")) << status().toStdString();
    press(Qt::Key_L);
    press(Qt::Key_R);
    EXPECT_TRUE(status().endsWith("  REC")) << status().toStdString();
    press(Qt::Key_R);
    EXPECT_FALSE(status().contains("REC"));

    // A bad file on disk: no edit written over it.
    const ErrorBoard &errors = World()->errors();
    const QByteArray bad = "velkaro-sync 1\ntrack fade\n0 x step\n";
    ASSERT_TRUE(Replace(file, bad));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }));
    EXPECT_EQ(ErrorBoard::format(errors.lines().back()).rfind("sync.txt: line 3: value 'x'", 0), 0u);
    EXPECT_EQ(Eval("sync('fade')"), "3") << "row 4, before the kept key at row 20";
    enter("9");
    EXPECT_EQ(ReadFile(file), bad);
    ASSERT_TRUE(Replace(file, "velkaro-sync 1\nbpm 60\ntrack fade\n0 7 step\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.empty(); }));
    EXPECT_EQ(Eval("sync('fade')"), "7");
    press(Qt::Key_P);
    EXPECT_TRUE(MusicIsPlaying());
    press(Qt::Key_F2);
    EXPECT_FALSE(dock->isVisible());
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget *>(View()));
}

// A block copied as key lines and pasted below, a row inserted, a value
// biased, a group folded, a track renamed, muted and deleted (asked once):
// each one undo step, sync.txt back as it was; the layout kept beside it.
TEST_F(MainWindowTest, TheSyncPaneEditsBlocksAndTracksAndKeepsItsLayout)
{
    const QByteArray start = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack cam:x\n0 1 step\n2 2 linear\n"
                             "track cam:y\n1 5 step\ntrack fade\n";
    ASSERT_TRUE(WriteFile("sync.txt", start));
    Open("function update() end\n");
    QTest::keyClick(View(), Qt::Key_F2);
    auto *pane = window->findChild<SyncPane *>("syncPane");
    ASSERT_TRUE(pane && pane->isVisible());
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(pane, key, mods); };
    const auto file = [] { return ReadFile("sync.txt").toStdString(); };
    if (pane->statusLine().contains("playing"))
        press(Qt::Key_P);
    press(Qt::Key_Home);
    press(Qt::Key_Right, Qt::ShiftModifier);
    press(Qt::Key_Down, Qt::ShiftModifier);
    press(Qt::Key_Down, Qt::ShiftModifier);
    press(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "#rows 3\ntrack cam:x\n0 1 step\n2 2 linear\ntrack cam:y\n1 5 step\n");
    press(Qt::Key_Down);
    press(Qt::Key_Left);
    press(Qt::Key_V, Qt::ControlModifier);
    const std::string head = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n";
    EXPECT_EQ(file(), head + "track cam:x\n0 1 step\n2 2 linear\n3 1 step\n5 2 linear\ntrack cam:y\n1 5 step\n"
                             "4 5 step\ntrack fade\n");
    press(Qt::Key_Insert);
    press(Qt::Key_Down);
    press(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(file(), head + "track cam:x\n0 1 step\n2 2 linear\n4 2 step\n6 2 linear\ntrack cam:y\n1 5 step\n"
                             "4 5 step\ntrack fade\n");
    press(Qt::Key_G);
    pane->repaint();
    EXPECT_EQ(pane->shownColumns(), 2) << "cam folded, fade";
    press(Qt::Key_G);
    press(Qt::Key_N);
    press(Qt::Key_Backspace);
    QTest::keyClicks(pane, "z");
    press(Qt::Key_Return);
    press(Qt::Key_M);
    EXPECT_EQ(file(), head + "#mute cam:z 2\ntrack cam:z\n0 1 step\n2 2 linear\n4 2 step\n6 2 linear\n"
                             "track cam:y\n1 5 step\n4 5 step\ntrack fade\n");
    press(Qt::Key_X);
    press(Qt::Key_Escape);
    EXPECT_EQ(pane->note(), "the track stays");
    press(Qt::Key_X);
    press(Qt::Key_X);
    EXPECT_EQ(file(), head + "track cam:y\n1 5 step\n4 5 step\ntrack fade\n");
    QGuiApplication::clipboard()->setText("some words");
    press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(pane->note().startsWith("nothing pasted: the clipboard holds no sync keys")) << pane->note().toStdString();
    for (int step = 0; step < 6; ++step)
        press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(file(), start.toStdString());

    auto *dock = window->findChild<QDockWidget *>("syncDock");
    press(Qt::Key_D);
    EXPECT_TRUE(dock->isFloating());
    press(Qt::Key_F2);
    EXPECT_FALSE(dock->isVisible()) << "F2 reaches the main window from the pane's own window";
    QTest::keyClick(View(), Qt::Key_F2);
    press(Qt::Key_D);
    EXPECT_FALSE(dock->isFloating());
    press(Qt::Key_G);
    const int before = pane->width();
    window->resizeDocks({dock}, {before + 40}, Qt::Horizontal);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->width() != before; }));
    const QByteArray layout = "velkaro-sync-layout 1\nwidth " + QByteArray::number(pane->width()) + "\nfold cam\n";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadFile("sync-layout.txt") == layout; })) << ReadFile("sync-layout.txt").toStdString();
    Open("function update() end\n");
    QTest::keyClick(View(), Qt::Key_F2);
    pane = window->findChild<SyncPane *>("syncPane");
    EXPECT_EQ(FormatSyncLayout(pane->layout()), layout.toStdString()) << "read back";
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
