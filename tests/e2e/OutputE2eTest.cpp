// End to end: the output screen on an X server with two screens that Qt sees: Xorg with the dummy driver, its second
// output placed right of the first, started by the test on a free display and stopped at its end.
#include "Program.h"

#include <QFileInfo>

namespace {

const char *const kXorgConfig =
    "Section \"Device\"\n Identifier \"dummy\"\n Driver \"dummy\"\n VideoRam 256000\nEndSection\n"
    "Section \"Monitor\"\n Identifier \"monitor\"\n HorizSync 5.0-1000.0\n VertRefresh 5.0-200.0\nEndSection\n"
    "Section \"Screen\"\n Identifier \"screen\"\n Device \"dummy\"\n Monitor \"monitor\"\n DefaultDepth 24\n"
    " SubSection \"Display\"\n  Depth 24\n  Virtual 3000 1200\n EndSubSection\nEndSection\n";

class OutputEndToEnd : public EndToEndTest
{
protected:
    void SetUp() override
    {
        int number = 40;
        while (number < 100 && (QFileInfo::exists(QString("/tmp/.X%1-lock").arg(number)) || QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(number))))
            ++number;
        display = QString(":%1").arg(number);
        ASSERT_TRUE(WriteFile(xorgFiles.filePath("xorg.conf"), kXorgConfig));
        xorg.setProcessChannelMode(QProcess::MergedChannels);
        xorg.start("Xorg", {display, "-noreset", "-nolisten", "tcp", "-config", xorgFiles.filePath("xorg.conf"), "-logfile", xorgFiles.filePath("xorg.log")});
        const bool answers = xorg.waitForStarted(10000) &&
                             WaitUntil([&] { return !xorg.waitForFinished(0) && XrandrOk({"--current"}); }, 20000);
        ASSERT_TRUE(answers) << "Xorg with the dummy driver did not start on " << display.toStdString() << " (it needs root): "
                             << (xorg.readAll() + ReadFile(xorgFiles.filePath("xorg.log")).right(2000)).toStdString();
        XrandrOk({"--newmode", "1024x600_60", "49.00", "1024", "1072", "1168", "1312", "600", "603", "613", "624", "-hsync", "+vsync"});
        for (const QStringList &step : {QStringList{"--output", "DUMMY0", "--mode", "1280x720"}, {"--addmode", "DUMMY1", "1024x600_60"},
                                        {"--output", "DUMMY1", "--mode", "1024x600_60", "--right-of", "DUMMY0"}})
            ASSERT_TRUE(XrandrOk(step)) << step.join(' ').toStdString();
        previousDisplay = qgetenv("DISPLAY");   // xdotool and import in this process talk to that server too
        qputenv("DISPLAY", display.toUtf8());
        environment.insert("DISPLAY", display);
    }
    void TearDown() override
    {
        Stop();
        qputenv("DISPLAY", previousDisplay);
        xorg.terminate();
        if (!xorg.waitForFinished(10000))
            xorg.kill(), xorg.waitForFinished(5000);
    }
    bool XrandrOk(const QStringList &arguments) { return QProcess::execute("xrandr", QStringList{"-display", display} + arguments) == 0; }
    QString OutputWindow() const { return Xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(process.processId()), "--name", "^Velkaro output$"}); }

    QTemporaryDir xorgFiles;
    QProcess xorg;
    QString display;
    QByteArray previousDisplay;
};

bool Blue(QColor c) { return c.blue() > 200 && c.red() < 40 && c.green() < 40; }
bool GridPurple(QColor c) { return c.red() > 80 && c.blue() > 150 && c.green() < 80; }

// The output lies on the second screen's geometry and shows the picture alone, drawn once a frame: the production's
// blue, no grid, no band when render() fails, while the authoring window shows grid and band; F3 closes it and the
// run goes on. A screen that does not exist is refused with the screens' names.
TEST_F(OutputEndToEnd, ThePictureAloneOnTheSecondScreenWhileTheWindowKeepsItsOverlays)
{
    // render() runs once per update(): the frame is drawn once for both windows.
    Start("setClearColor(0, 0, 255) drawn = 0\n"
          "function update() drawn = 0 end\n"
          "function render() drawn = drawn + 1 if drawn > 1 then error('render() ran twice in a frame') end\n"
          "  local f = io.open('fail') if f then f:close() error('render failed on purpose') end end\n",
          {"--output", "--size", "640x360"});
    QString output;
    ASSERT_TRUE(WaitUntil([&] { return !(output = OutputWindow()).isEmpty(); })) << Debug().toStdString();
    const QString geometry = RunTool("xwininfo", {"-id", output});
    for (const char *line : {"Absolute upper-left X:  1280", "Absolute upper-left Y:  0", "Width: 1024", "Height: 600"})
        EXPECT_TRUE(geometry.contains(line)) << line << geometry.toStdString();

    const auto others = [](const QImage &shot) { return shot.isNull() ? -1 : CountPixels(shot, shot.rect(), [](QColor c) { return !Blue(c); }); };
    const QImage shot = Screenshot(output, [&](const QImage &s) { return others(s) == 0; });
    EXPECT_TRUE(shot.size() == QSize(1024, 600) && others(shot) == 0) << "the output shows more than the production's picture";
    // The window: the same blue, letterboxed, with the grid's lines on it.
    const QRect inside(40, 20, 560, 300);
    QImage view = Screenshot(window, [&](const QImage &s) { return !s.isNull() && CountPixels(s, inside, GridPurple) > 100; });
    EXPECT_TRUE(CountPixels(view, inside, Blue) > 10000 && CountPixels(view, inside, GridPurple) > 100) << "no grid in the window";

    EXPECT_EQ(BandPixels(window, false), 0) << Debug().toStdString();
    ASSERT_TRUE(WriteFile(path("fail"), "x"));
    EXPECT_GT(BandPixels(window, true), 20);
    EXPECT_EQ(others(Screenshot(output, [&](const QImage &s) { return others(s) == 0; })), 0) << "the band reached the output";

    Keys({"key", "F3"});
    EXPECT_TRUE(WaitUntil([&] { return OutputWindow().isEmpty(); }));
    ASSERT_TRUE(QFile::remove(path("fail")));
    EXPECT_TRUE(BandPixels(window, false) == 0 && running()) << "the window stopped drawing after the output closed";

    Keys({"key", "F3"});   // open again; closing the window ends the program with it
    EXPECT_TRUE(WaitUntil([&] { return !OutputWindow().isEmpty(); }));
    RequestClose();
    EXPECT_EQ(ExitCode(), 0);
    const Outcome refused = RunToEnd({"--output", "3"}, QString(), 60000);
    EXPECT_TRUE(refused.status == 2 && refused.err.contains("no screen '3' (screens: 1 DUMMY0, 2 DUMMY1)")) << refused.err.toStdString();
}

} // namespace
