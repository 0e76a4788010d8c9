// The scene tools in the export: text and a texture loaded at start-up (before
// any GL context draws) reach the PNG frame.
#include "Program.h"

namespace {

using SceneEndToEnd = EndToEndTest;

TEST_F(SceneEndToEnd, AnExportedFrameShowsTextAndATextureLoadedAtStartUp)
{
    // 4 x 4 in 2 x 2 blocks: top row red, green; bottom row blue, white.
    QImage texture(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            texture.setPixel(x, y, y < 2 ? (x < 2 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                         : (x < 2 ? qRgb(0, 0, 255) : qRgb(255, 255, 255)));
    ASSERT_TRUE(texture.save(path("tiles.png")));
    // One unit per pixel at 320 x 200: the quad covers 140..180 x 80..120.
    ASSERT_TRUE(WriteFile(path("prod.lua"),
        "setCamPos(1000, 1000, 100) lookAt(1000, 1000, 0)\n"
        "local tiles = assert(loadTexture('tiles.png'))\n"
        "function render()\n"
        "  colorGL(255, 255, 255, 255) bindTexture(tiles) beginQuadGL()\n"
        "  texCoordGL(0, 0) vectorGL(980, 980, 0) texCoordGL(1, 0) vectorGL(1020, 980, 0)\n"
        "  texCoordGL(1, 1) vectorGL(1020, 1020, 0) texCoordGL(0, 1) vectorGL(980, 1020, 0) endGL()\n"
        "  bindTexture(0) colorGL(255, 255, 0, 255) drawText(10, 20, 'VELKARO', 24)\n"
        "end\n"));
    const Outcome run = RunToEnd({"--export", "%d.png", "--fps", "10", "--to", "0.1", "--size", "320x200"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    const QImage frame(path("0.png"));
    ASSERT_EQ(frame.size(), QSize(320, 200));
    for (const auto &[x, y, colour] : {std::tuple{150, 90, qRgb(255, 0, 0)}, {170, 90, qRgb(0, 255, 0)},
                                       {150, 110, qRgb(0, 0, 255)}, {170, 110, qRgb(255, 255, 255)}})
        EXPECT_EQ(frame.pixel(x, y) & 0xffffff, colour & 0xffffff) << x << "," << y;
    // The text's box: from view pixel (10, 20) up, image rows counted from the top.
    int inside = 0, outside = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if ((frame.pixel(x, y) & 0xffffff) == (qRgb(255, 255, 0) & 0xffffff))
                ++(x >= 10 && x < 10 + 7 * 24 && y < 200 - 20 && y >= 200 - 20 - 36 ? inside : outside);
    EXPECT_GT(inside, 80);
    EXPECT_EQ(outside, 0);
}

} // namespace
