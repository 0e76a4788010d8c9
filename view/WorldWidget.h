// WorldWidget: the OpenGL view that shows a production. It is given the
// production whose world it drives, runs the frame loop on a single-shot
// timer, sets the fixed GL state and hands every mouse, wheel and key event
// to the world. The picture is the
// world's renderFrame and the script's render(); over it the view paints,
// with QPainter, the band of the production's latest errors (the world's
// error board), leaving the GL state as the world left it.
//
// The picture is drawn on a native GL window of its own, embedded in the
// widget, and swapped straight to the screen: no offscreen copy for the
// widget layer to compose on every frame. Input that reaches that window
// is handed to this widget, so the widget is where every event arrives,
// from the window system or from QTest alike.
//
// With the output screen open, each frame is drawn once, at the output's
// size, into a picture of the view's own: the output window shows that
// picture as it was before the overlays, and the view shows it scaled and
// letterboxed, with the grid, floor outline and marker drawn on it and
// the error band over all.
#pragma once

#include <QImage>
#include <QWidget>

#include <memory>

class DemoWorld;
class OutputWindow;
class Production;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QScreen;
class QTimer;
class QWindow;

class WorldWidget : public QWidget
{
    Q_OBJECT

public:
    // Tracks the mouse, takes the focus on click and arms the frame timer
    // (10 ms, single shot). `production` outlives the view's frames.
    explicit WorldWidget(Production *production, QWidget *parent = nullptr);
    ~WorldWidget() override;

    DemoWorld *world() const;

    // Makes the default surface format the one the view needs: RGBA, a
    // 24-bit depth buffer, double buffering and the compatibility profile,
    // so fixed-function calls work. Call before the QApplication exists.
    static void UseViewSurfaceFormat();

    // Makes the view's GL context current on its window.
    void makeCurrent();
    // A frame drawn now and read back (the screen is not changed).
    QImage grabFramebuffer();

    // --- The output screen.

    // Opens the output on `screen` (its number from 1 or its name; "": the
    // first screen besides this view's). Returns "" or why not: no such
    // screen, or the output is open already.
    std::string openOutput(const std::string &screen);
    // Closes the output (the run goes on); a non-empty `why` is shown in
    // the error band (empty clears what the band said of the output).
    void closeOutput(const std::string &why = std::string());
    bool outputOpen() const { return output != nullptr; }
    // The picture's size while the output is open: `size` when valid, else
    // the output screen's (the default): an empty size.
    void setOutputSize(const QSize &size) { fixedOutputSize = size; }
    // The size the frames are drawn at now: the output's picture, or the
    // view's pixels while the output is closed.
    QSize pictureSize() const;

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
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The picture of a frame into the current context's back buffer.
    virtual void paintGL();

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

    // The frame at the output's size into the view's picture, shown
    // letterboxed in the view and given to the output window.
    void paintThroughPicture();
    // The frame painted and swapped to the view, then shown on the output.
    void showFrame();
    // The output's screen went away: the output closes, the band says so.
    void screenGone(QScreen *screen);

    // The context made (and the fixed GL state set) on first use; false
    // when the window cannot take a context yet.
    bool prepareContext();

    Production *production;
    QTimer *frameTimer;
    QWindow *surface;                          // owned by its container
    std::unique_ptr<QOpenGLContext> context;
    bool stateSet = false;
    bool viewportStale = true;   // the size changed since the viewport was set
    std::unique_ptr<OutputWindow> output;                // the output screen, while open
    std::unique_ptr<QOpenGLFramebufferObject> picture;   // the frame at the output's size, with the overlays
    QSize fixedOutputSize;                               // --output-size; invalid: the screen's
};
