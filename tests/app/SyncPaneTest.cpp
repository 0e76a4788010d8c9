// The sync pane in the main window, driven by keys: F2 opens it, pause and
// the cursor keys move the music, keys are set, cycled and deleted and
// sync.txt follows (replaced whole each time); a file changed on disk is
// read again, a bad one shows its line in the error band and keeps the
// tracks until a good one comes.
#include "DemoWorld.h"
#include "FSound.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "Media.h"
#include "Music.h"
#include "ScratchDir.h"
#include "ScriptHost.h"
#include "WorldWidget.h"

#include <QDockWidget>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

TEST(SyncPane, KeysEditTheTracksAndMoveTheMusicAndTheFileFollows)
{
    ScratchDir scratch;
    ASSERT_TRUE(MakeToneMp3(scratch.filePath("music.mp3"), 5.0));
    QFile production(scratch.filePath("prod.lua"));
    ASSERT_TRUE(production.open(QIODevice::WriteOnly));
    production.write("playMp3()\nfunction update() fade = sync('fade') end\n");
    production.close();
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QString file = scratch.filePath("sync.txt");
    QWidget *view = window.Form().world;
    auto *dock = window.findChild<QDockWidget *>("syncDock");
    ASSERT_TRUE(dock);
    EXPECT_FALSE(dock->isVisible()) << "hidden until F2";

    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_TRUE(dock->isVisible());
    QWidget *pane = dock->widget();
    EXPECT_EQ(window.focusWidget(), pane);
    ASSERT_TRUE(QTest::qWaitFor([] { return Eval("fade") == "0"; })) << "update() made the track";

    // Paused, Home and Down move the music: row 4 is 0.5 s at 120 bpm.
    QTest::keyClick(pane, Qt::Key_P);
    EXPECT_FALSE(MusicIsPlaying());
    QTest::keyClick(pane, Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(pane, Qt::Key_Down);
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 500);

    const char header[] = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack fade\n";
    QTest::keyClicks(pane, "1.5");
    QTest::keyClick(pane, Qt::Key_Return);
    EXPECT_EQ(ReadAll(file), QByteArray(header) + "4 1.5 step\n");
    const unsigned long long first = Inode(file);
    QTest::keyClick(pane, Qt::Key_I);
    EXPECT_EQ(ReadAll(file), QByteArray(header) + "4 1.5 linear\n");
    EXPECT_NE(Inode(file), first) << "replaced by a rename, not written in place";
    QTest::keyClick(pane, Qt::Key_PageDown); // one bar: row 20
    QTest::keyClicks(pane, "3");
    QTest::keyClick(pane, Qt::Key_Return);
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(pane, Qt::Key_Up);
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 1500);
    ASSERT_TRUE(QTest::qWaitFor([] { return Eval("fade") == "2.25"; })) << Eval("fade");
    QTest::keyClick(pane, Qt::Key_P);
    EXPECT_TRUE(MusicIsPlaying());
    QTest::keyClick(pane, Qt::Key_P);
    QTest::keyClick(pane, Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(pane, Qt::Key_Down);
    QTest::keyClick(pane, Qt::Key_Delete);
    EXPECT_EQ(ReadAll(file), QByteArray(header) + "20 3 step\n");

    // A bad file on disk: its line in the band, the tracks kept, no edit
    // written over it. Then a good one: read, the band clear.
    const ErrorBoard &errors = window.Form().world->world()->errors();
    const QByteArray bad = "velkaro-sync 1\ntrack fade\n0 x step\n";
    QFile::remove(file);
    QFile replaced(file);
    ASSERT_TRUE(replaced.open(QIODevice::WriteOnly) && replaced.write(bad) == bad.size());
    replaced.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }));
    EXPECT_EQ(ErrorBoard::format(errors.lines().back()).rfind("sync.txt: line 3: value 'x'", 0), 0u);
    EXPECT_EQ(Eval("sync('fade')"), "3") << "row 4, before the kept key at row 20";
    QTest::keyClicks(pane, "9");
    QTest::keyClick(pane, Qt::Key_Return);
    EXPECT_EQ(ReadAll(file), bad);
    QFile::remove(file);
    ASSERT_TRUE(replaced.open(QIODevice::WriteOnly));
    replaced.write("velkaro-sync 1\nbpm 60\ntrack fade\n0 7 step\n");
    replaced.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.empty(); }));
    EXPECT_EQ(Eval("sync('fade')"), "7");
    QTest::keyClick(pane, Qt::Key_F2);
    EXPECT_FALSE(dock->isVisible());
    EXPECT_EQ(window.focusWidget(), view);
}

} // namespace
