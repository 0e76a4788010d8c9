// Shaders end to end: a post shader fed by the music in PNG exports, and a
// post shader file edited live in the window, with the error band drawn
// over the pass and never changed by it.
#include "Media.h"
#include "Program.h"

namespace {

using ShaderEndToEnd = EndToEndTest;

bool White(QColor c) { return c.red() > 240 && c.green() > 240 && c.blue() > 240; }

// Red: the time / 4; green: the spectrum's band of 440 Hz (band 27 of 64)
// on the left half, a band near 12 kHz on the right; blue: width / 400.
TEST_F(ShaderEndToEnd, TheExportRunsThePostPassWithTimeSpectrumAndResolution)
{
    ASSERT_TRUE(MakeToneMp3(path("music.mp3"), 3.0));
    ASSERT_TRUE(WriteFile(path("prod.lua"),
        "playMp3() setCamPos(0, 500, 100) lookAt(0, 500, 0)   -- no grid, no floor in sight\n"
        "setPostShader([[uniform sampler2D spectrum; uniform float time; uniform vec2 resolution;\n"
        "varying vec2 uv;\n"
        "void main() {\n"
        "  float band = uv.x < 0.5 ? 27.5 : 60.5;\n"
        "  gl_FragColor = vec4(time / 4.0, texture2D(spectrum, vec2(band / 64.0, 0.5)).r, resolution.x / 400.0, 1.0);\n"
        "}]])\n"));
    const Outcome run = RunToEnd({"--export", "shots/%03d.png", "--fps", "10", "--size", "160x90", "--from", "1", "--to", "1.2"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (int k = 0; k < 2; ++k) {
        const QImage image(path(QString::asprintf("shots/%03d.png", k)));
        ASSERT_FALSE(image.isNull()) << "frame " << k;
        const QColor left = image.pixelColor(40, 45), right = image.pixelColor(120, 45);
        EXPECT_NEAR(left.red(), (1.0 + 0.1 * k) / 4.0 * 255.0, 2.0) << "frame " << k;
        EXPECT_NEAR(left.blue(), 160.0 / 400.0 * 255.0, 2.0) << "frame " << k;
        EXPECT_GT(left.green(), 150) << "frame " << k;
        EXPECT_LT(right.green(), 60) << "frame " << k;
    }
}

// An inverting post shader file: the black sky turns white. A broken save
// keeps the picture and shows the error in red (not inverted) in the band;
// a good save takes the band away.
TEST_F(ShaderEndToEnd, APostShaderFileEditedLiveKeepsThePictureAndShowsItsErrors)
{
    const QByteArray invert = "uniform sampler2D frame;\nvarying vec2 uv;\n"
                              "void main() { gl_FragColor = vec4(1.0 - texture2D(frame, uv).rgb, 1.0); }\n";
    ASSERT_TRUE(WriteFile(path("post.frag"), invert));
    Start("assert(setPostShader('post.frag'))\n");
    const auto skyIsWhite = [](const QImage &shot) {
        return CountPixels(shot, QRect(0, 0, shot.width(), 30), [](QColor c) { return White(c); }) >
               shot.width() * 30 * 9 / 10;
    };
    EXPECT_TRUE(skyIsWhite(Screenshot(window, skyIsWhite)));

    ReplaceFile(path("post.frag"), "uniform sampler2D frame;\nvoid main() { gl_FragColor = frame; }\n");
    EXPECT_GT(BandPixels(window, true), 20);
    EXPECT_TRUE(skyIsWhite(Screenshot(window)));
    EXPECT_TRUE(running());

    ReplaceFile(path("post.frag"), invert + "\n");
    EXPECT_EQ(BandPixels(window, false), 0);
    EXPECT_TRUE(skyIsWhite(Screenshot(window)));
}

} // namespace
