// Counting the pixels of a picture that match a rule.
#pragma once

#include <QImage>

#include <functional>

// The pixels of `image` in `area` (clipped to the image) that `match`.
inline int CountPixels(const QImage &image, const QRect &area, const std::function<bool(QColor)> &match)
{
    const QRect r = area.intersected(image.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += match(image.pixelColor(x, y));
    return count;
}
