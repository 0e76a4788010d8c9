// WorldWidget: the frame loop, the fixed GL state and the event forwarding.
// QOpenGLWidget renders into its own framebuffer and does not keep its
// context current between paints, so every entry into the world (which
// reads the viewport and the matrices) makes it current first.
#include "WorldWidget.h"

#include "DemoWorld.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>

#include <GL/gl.h>

namespace {

const int kFramePeriodMs = 10;
const float kTimeStep = 0.05f;   // the world's step per frame, never measured

} // namespace

WorldWidget::WorldWidget(QWidget *parent)
    : QOpenGLWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    demoWorld = new DemoWorld;
    frameTimer = new QTimer(this);
    connect(frameTimer, &QTimer::timeout, this, &WorldWidget::UpdateFrame);
    frameTimer->setSingleShot(true);
    frameTimer->start(kFramePeriodMs);
}

WorldWidget::~WorldWidget()
{
    delete demoWorld;
}

void WorldWidget::UseViewSurfaceFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
}

void WorldWidget::UpdateFrame()
{
    makeCurrent();
    demoWorld->stepFrame(kTimeStep);
    repaint();
    frameTimer->start(kFramePeriodMs);
}

// --- Input ------------------------------------------------------------------

QPoint WorldWidget::toPixels(const QPointF &position) const
{
    const qreal ratio = devicePixelRatioF();
    return QPoint(qRound(position.x() * ratio), qRound(position.y() * ratio));
}

char WorldWidget::keyCode(const QKeyEvent *event)
{
    return event->text().at(0).toLatin1();
}

void WorldWidget::mousePressEvent(QMouseEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    // The held set, not the changed button: any press while the left (or
    // right) button is held reports that button down again.
    if (event->buttons() & Qt::LeftButton)
        demoWorld->leftButtonDown(p.x(), p.y());
    if (event->buttons() & Qt::RightButton)
        demoWorld->rightButtonDown(p.x(), p.y());
}

void WorldWidget::mouseReleaseEvent(QMouseEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    if (event->button() == Qt::LeftButton)
        demoWorld->leftButtonUp(p.x(), p.y());
    if (event->button() == Qt::RightButton)
        demoWorld->rightButtonUp(p.x(), p.y());
}

void WorldWidget::mouseMoveEvent(QMouseEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    demoWorld->mouseMove(p.x(), p.y());
}

void WorldWidget::wheelEvent(QWheelEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    if (event->angleDelta().y() <= 0)
        demoWorld->wheelBackward(p.x(), p.y());
    else
        demoWorld->wheelForward(p.x(), p.y());
    event->accept();
}

void WorldWidget::keyPressEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat() && !event->text().isEmpty()) {
        makeCurrent();
        const QPoint p = toPixels(mapFromGlobal(QCursor::pos()));
        demoWorld->keyDown(keyCode(event), p.x(), p.y());
    }
    // Unaccepted, so the main window sees every key too (Escape quits there).
    QWidget::keyPressEvent(event);
}

void WorldWidget::keyReleaseEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat() || event->text().isEmpty()) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    makeCurrent();
    const QPoint p = toPixels(mapFromGlobal(QCursor::pos()));
    demoWorld->keyUp(keyCode(event), p.x(), p.y());
}

// --- GL ---------------------------------------------------------------------

void WorldWidget::SetFixedGLState()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void WorldWidget::PaintWorld(DemoWorld *world)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    world->renderFrame();
}

void WorldWidget::initializeGL()
{
    SetFixedGLState();
}

void WorldWidget::resizeGL(int w, int h)
{
    // Qt hands over logical pixels; the viewport covers the framebuffer.
    const qreal ratio = devicePixelRatioF();
    demoWorld->setViewport(0, 0, qRound(w * ratio), qRound(h * ratio));
}

void WorldWidget::paintGL()
{
    PaintWorld(demoWorld);
}
