// OutputWindow: the production's picture alone on a screen of its own, for
// the audience. A borderless window placed on the screen's geometry (the
// platform's full-screen call alone tends to land on the primary screen),
// without a cursor. It draws nothing of its own: the view that owns it
// hands it the finished picture of each frame, in the view's GL context.
#pragma once

#include <QWindow>

class QOpenGLContext;

class OutputWindow : public QWindow
{
public:
    // Borderless on `screen`'s geometry, above other windows, no cursor;
    // not shown yet.
    explicit OutputWindow(QScreen *screen);

    // The window's size in device pixels: the picture's size unless fixed.
    QSize pixelSize() const;

    // Shows the picture held in `framebuffer` (width x height) scaled to
    // fit and letterboxed in black, drawn with `context` (made current on
    // this window; the caller makes its own surface current again).
    // Nothing when the window is not exposed.
    void present(QOpenGLContext *context, unsigned framebuffer, int width, int height);
};
