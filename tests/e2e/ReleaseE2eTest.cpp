// Releasing a production end to end: the picture without the authoring aids
// and in the clear colour (window, PNG, video), the player, the export's
// quality.
#include "Media.h"
#include "Program.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

using Release = EndToEndTest;

// Pixels of `image` in `area` that are not `colour` (within `tolerance` per channel).
int OtherPixels(const QImage &image, const QRect &area, QColor colour, int tolerance = 0)
{
    return CountPixels(image, area, [&](QColor c) {
        return std::abs(c.red() - colour.red()) > tolerance || std::abs(c.green() - colour.green()) > tolerance ||
               std::abs(c.blue() - colour.blue()) > tolerance;
    });
}

// The window at --size 320x240 with the overlays off: the view is exactly
// 320x240 of clear colour (the console's black bar below it), no grid, no
// marker; the pick still lands on the floor (y = 0 but for the slab's polygon
// offset) and follows the mouse.
TEST_F(Release, WithoutOverlaysTheViewIsTheClearColourAndThePickStillFollowsTheFloor)
{
    Start("setOverlays(false) setClearColor(0, 0, 255 + 256)\n"
          "setCamPos(200, 150, 450) lookAt(200, 0, 200)\n"
          "local lastX = -1000\n"
          "function update() local x, y, z = getMouseCursorPos()\n"
          "  if math.abs(y) < 3 and math.abs(x - lastX) > 20 then lastX = x print('floor pick') end end\n",
          {"--size", "320x240"});
    const QColor blue(0, 0, 255);
    const QImage shot = Screenshot(window, [&](const QImage &s) {
        return OtherPixels(s, QRect(0, 0, 320, 240), blue) == 0;
    });
    EXPECT_EQ(shot.width(), 320);
    EXPECT_EQ(OtherPixels(shot, QRect(0, 0, 320, 240), blue), 0) << "grid, floor outline or marker drawn";
    EXPECT_EQ(OtherPixels(shot, QRect(0, 240, 320, shot.height() - 240), Qt::black), 0) << "the view is not 240 high";
    for (int n = 0; n < 2; ++n) {
        Xdotool({"mousemove", "--window", window, QString::number(80 + 160 * n), "200"});
        EXPECT_TRUE(WaitForDebug("floor pick", 5000, n)) << "move " << n;
    }
}

// A production that draws nothing, exported: uniformly the clear colour in a
// PNG and a video frame without --overlays, the purple grid with it.
TEST_F(Release, AnExportIsTheClearColourAloneUnlessOverlaysAreAsked)
{
    ASSERT_TRUE(WriteFile(path("prod.lua"), "setClearColor(200, 40, 0)\n"));
    const struct { QString out; bool grid; int tolerance; } cases[] = { // tolerance: the video's YUV
        {"%d.png", false, 0}, {"%d.png", true, 0}, {"demo.mp4", true, 12}, {"demo.mp4", false, 12}};
    for (const auto &c : cases) {
        QFile::remove(path("0.png"));
        const QStringList overlays = c.grid ? QStringList{"--overlays"} : QStringList{};
        const Outcome run = RunToEnd(QStringList{"--export", c.out, "--size", "320x180", "--to", "0.1"} + overlays);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        if (c.out.endsWith(".mp4"))
            RunTool("ffmpeg", {"-v", "error", "-y", "-i", path(c.out), "-frames:v", "1", path("0.png")});
        const QImage image(path("0.png"));
        ASSERT_EQ(image.size(), QSize(320, 180)) << c.out.toStdString();
        const int purple =
            CountPixels(image, image.rect(), [](QColor p) { return p.red() > 90 && p.blue() > 120 && p.green() < 80; });
        EXPECT_EQ(purple > 100, c.grid) << c.out.toStdString() << ": " << purple << " grid pixels";
        EXPECT_TRUE(c.grid || OtherPixels(image, image.rect(), QColor(200, 40, 0), c.tolerance) == 0)
            << c.out.toStdString();
    }
}

// --crf 40 makes a smaller file than --crf 10; the summary names the size.
TEST_F(Release, ALowerQualityGivesASmallerFileAndTheSummaryNamesItsSize)
{
    // 400 cells of random colours in every frame: much for the encoder.
    ASSERT_TRUE(WriteFile(path("prod.lua"), "setCamPos(0, 0, 100) lookAt(0, 0, 0) local r = math.random\n"
        "function render() beginQuadGL() for i = 0, 399 do\n"
        "  local x, y = i % 20 * 10 - 100, math.floor(i / 20) * 10 - 100 colorGL(r(255), r(255), r(255), 255)\n"
        "  vectorGL(x, y, 0) vectorGL(x + 10, y, 0) vectorGL(x + 10, y + 10, 0) vectorGL(x, y + 10, 0)\n"
        "end endGL() end\n"));
    qint64 bytes[2];
    for (const int crf : {10, 40}) {
        const QString name = QString("crf%1.mp4").arg(crf);
        const Outcome run = RunToEnd({"--export", name, "--crf", QString::number(crf), "--size", "320x180", "--to", "0.5"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        bytes[crf == 40] = QFileInfo(path(name)).size();
        const QRegularExpressionMatch said = QRegularExpression(name + ", ([0-9.]+) (bytes|kB|MB)\n").match(run.err);
        ASSERT_TRUE(said.hasMatch()) << run.err.toStdString();
        const double unit = said.captured(2) == "MB" ? 1e6 : said.captured(2) == "kB" ? 1e3 : 1;
        EXPECT_NEAR(said.captured(1).toDouble(), bytes[crf == 40] / unit, 0.051) << run.err.toStdString();
    }
    EXPECT_LT(bytes[1] * 2, bytes[0]) << bytes[1] << " vs " << bytes[0];
}

// The player in a 320x200 window: the view alone in the clear colour, no
// overlays, no session log; it ends with 0 at the end of a short track, or
// at once on Escape while a long one plays.
TEST_F(Release, ThePlayerShowsTheViewAloneAndEndsAtTheEndOfTheMusicOrOnEscape)
{
    const struct { double music; bool escape; } cases[] = {{3.0, false}, {20.0, true}};
    for (const auto &c : cases) {
        ASSERT_TRUE(MakeToneMp3(path("music.mp3"), c.music));
        Start("playMp3() setClearColor(0, 120, 0)\n", {"--play", "--window", "--size", "320x200"});
        const QImage shot = Screenshot(window, [](const QImage &s) {
            return OtherPixels(s, s.rect(), QColor(0, 120, 0)) == 0;
        });
        EXPECT_EQ(shot.size(), QSize(320, 200)) << c.music;
        EXPECT_EQ(OtherPixels(shot, shot.rect(), QColor(0, 120, 0)), 0) << c.music;
        QElapsedTimer timer;
        timer.start();
        if (c.escape)
            Keys({"key", "Escape"});
        EXPECT_EQ(ExitCode(10000), 0) << c.music;
        EXPECT_LT(timer.elapsed(), c.escape ? 2000 : 1000 * c.music + 3000) << c.music;
        EXPECT_FALSE(QFile::exists(path("replsession.txt")));
    }
}

} // namespace
