#include "OutputLayout.h"

#include <cstdlib>

namespace {

// "1 DUMMY0, 2 DUMMY1"
std::string ScreenList(const std::vector<std::string> &screens)
{
    std::string list;
    for (size_t i = 0; i < screens.size(); ++i)
        list += (i ? ", " : "") + std::to_string(i + 1) + " " + screens[i];
    return list;
}

} // namespace

int ChooseOutputScreen(const std::vector<std::string> &screens, int authoring, const std::string &argument,
                       std::string &error)
{
    const int count = static_cast<int>(screens.size());
    if (argument.empty()) {
        for (int i = 0; i < count; ++i)
            if (i != authoring)
                return i;
        error = "no screen for the output besides the authoring window's (screens: " + ScreenList(screens) +
                "); name one to cover it";
        return -1;
    }
    // Names first: a screen may be called "1".
    for (int i = 0; i < count; ++i)
        if (screens[i] == argument)
            return i;
    char *end = nullptr;
    const long number = std::strtol(argument.c_str(), &end, 10);
    if (*end == '\0' && argument.find_first_not_of("0123456789") == std::string::npos && number >= 1 &&
        number <= count)
        return static_cast<int>(number - 1);
    error = "no screen '" + argument + "' (screens: " + ScreenList(screens) + ")";
    return -1;
}

PixelRect Letterbox(int viewWidth, int viewHeight, int pictureWidth, int pictureHeight)
{
    PixelRect box;
    if (viewWidth <= 0 || viewHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return box;
    // Compare the shapes in whole numbers: the wider of the two decides.
    if (static_cast<long long>(viewWidth) * pictureHeight >= static_cast<long long>(pictureWidth) * viewHeight) {
        box.height = viewHeight;
        box.width = static_cast<int>((static_cast<long long>(pictureWidth) * viewHeight + pictureHeight / 2) /
                                     pictureHeight);
    } else {
        box.width = viewWidth;
        box.height = static_cast<int>((static_cast<long long>(pictureHeight) * viewWidth + pictureWidth / 2) /
                                      pictureWidth);
    }
    box.x = (viewWidth - box.width) / 2;
    box.y = (viewHeight - box.height) / 2;
    return box;
}

void ViewToPicture(const PixelRect &box, int pictureWidth, int pictureHeight, double x, double y, double &pictureX,
                   double &pictureY)
{
    pictureX = box.width > 0 ? (x - box.x) * pictureWidth / box.width : 0.0;
    pictureY = box.height > 0 ? (y - box.y) * pictureHeight / box.height : 0.0;
}
