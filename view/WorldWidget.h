// WorldWidget: the OpenGL view that shows a production. It is given the
// production whose world it drives, runs the frame loop on a single-shot
// timer, sets the fixed GL state and hands every mouse, wheel and key event
// to the world. The picture is the
// world's renderFrame and the script's render(); over it the view paints,
// with QPainter, the band of the production's latest errors (the world's
// error board), leaving the GL state as the world left it.
#pragma once

#include <QOpenGLWidget>

class DemoWorld;
class Production;
class QTimer;

class WorldWidget : public QOpenGLWidget
{
    Q_OBJECT

public:
    // Tracks the mouse, takes the focus on click and arms the frame timer
    // (10 ms, single shot). `production` outlives the view's frames.
    explicit WorldWidget(Production *production, QWidget *parent = nullptr);

    DemoWorld *world() const;

    // Makes the default surface format the one the view needs: RGBA, a
    // 24-bit depth buffer, double buffering and the compatibility profile,
    // so fixed-function calls work. Call before the QApplication exists.
    static void UseViewSurfaceFormat();

public slots:
    // One frame: the production's tick, a synchronous repaint, then the
    // timer re-armed, so frames never queue up.
    void UpdateFrame();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    // The error band along the bottom edge: one red line per failing
    // source on a dark translucent strip, long messages cut with "…".
    // Painted after the world's frame; every GL state it touches is put
    // back, so the next frame and the picking see no difference.
    void paintErrorBand();

    // A widget position in framebuffer pixels (times the device pixel ratio).
    QPoint toPixels(const QPointF &position) const;
    // The key's first character as a Latin-1 code (0 when it has none).
    static char keyCode(const QKeyEvent *event);

    Production *production;
    QTimer *frameTimer;
};
