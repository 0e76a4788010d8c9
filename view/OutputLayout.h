// OutputLayout: the output screen's two rules without a display: which
// screen the output goes to, and where its picture lies, scaled and
// letterboxed, in the authoring view (and where a view point falls in it).
#pragma once

#include <string>
#include <vector>

// A rectangle in pixels, origin at the top left.
struct PixelRect
{
    int x = 0, y = 0, width = 0, height = 0;
};

// The screen for the output among `screens` (their names, in the system's
// order; numbered from 1 for the user): `argument` "" takes the first
// screen other than `authoring` (the index of the authoring window's
// screen), a number takes that screen, anything else the screen of that
// name. Returns the index, or -1 with `error` (one line that lists the
// screens).
int ChooseOutputScreen(const std::vector<std::string> &screens, int authoring, const std::string &argument,
                       std::string &error);

// A picture of pictureWidth x pictureHeight fitted into a view of
// viewWidth x viewHeight, keeping its shape, centred (bars above and below
// or left and right). Empty when either size is.
PixelRect Letterbox(int viewWidth, int viewHeight, int pictureWidth, int pictureHeight);

// The view point (x, y) in the pixels of the picture shown in `box`, whose
// size is pictureWidth x pictureHeight (outside the picture for a point on
// a bar).
void ViewToPicture(const PixelRect &box, int pictureWidth, int pictureHeight, double x, double y, double &pictureX,
                   double &pictureY);
