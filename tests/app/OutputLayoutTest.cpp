// The output screen's choice and the letterbox, pure.
#include "OutputLayout.h"

#include <gmock/gmock.h>

namespace {

TEST(OutputLayout, TheScreenByDefaultNumberOrNameAndTheRefusals)
{
    const std::vector<std::string> screens = {"DUMMY0", "DUMMY1", "HDMI-1"};
    const struct { int authoring; const char *argument; int chosen; const char *error; } cases[] = {
        {0, "", 1, ""}, {1, "", 0, ""}, {0, "3", 2, ""}, {0, "HDMI-1", 2, ""}, {0, "1", 0, ""},
        {0, "4", -1, "no screen '4' (screens: 1 DUMMY0, 2 DUMMY1, 3 HDMI-1)"}, {0, "0", -1, "no screen '0'"},
        {0, "-1", -1, "no screen '-1'"}, {0, "2x", -1, "no screen '2x'"}, {0, "hdmi", -1, "no screen 'hdmi'"}};
    for (const auto &c : cases) {
        std::string error;
        EXPECT_EQ(ChooseOutputScreen(screens, c.authoring, c.argument, error), c.chosen) << c.argument;
        EXPECT_TRUE(error.find(c.error) != std::string::npos && error.empty() == (c.chosen >= 0)) << error;
    }
    std::string error;
    EXPECT_TRUE(ChooseOutputScreen({"eDP-1"}, 0, "", error) == -1 &&
                error == "no screen for the output besides the authoring window's (screens: 1 eDP-1); name one to cover it");
}

TEST(OutputLayout, TheLetterboxKeepsTheShapeCentredAndMapsPointsBack)
{
    const struct { int vw, vh, pw, ph; PixelRect box; } cases[] = {
        {1280, 720, 1280, 720, {0, 0, 1280, 720}}, {800, 800, 1280, 720, {0, 175, 800, 450}},
        {1000, 400, 1280, 720, {144, 0, 711, 400}}, {640, 360, 1920, 1080, {0, 0, 640, 360}},
        {0, 400, 1280, 720, {0, 0, 0, 0}}, {400, 400, 0, 720, {0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        const PixelRect box = Letterbox(c.vw, c.vh, c.pw, c.ph);   // compared whole: x, y, width, height
        EXPECT_EQ(std::vector<int>({box.x, box.y, box.width, box.height}),
                  std::vector<int>({c.box.x, c.box.y, c.box.width, c.box.height})) << c.vw << "x" << c.vh;
    }
    double x = 0, y = 0, x0 = 0, y0 = 0;
    ViewToPicture(Letterbox(800, 800, 1280, 720), 1280, 720, 400, 175 + 225, x, y);
    ViewToPicture(Letterbox(800, 800, 1280, 720), 1280, 720, 0, 175, x0, y0);
    EXPECT_EQ(std::vector<double>({x, y, x0, y0}), std::vector<double>({640, 360, 0, 0}));
}

} // namespace
