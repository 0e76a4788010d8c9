// WorldWidget: the frame loop, the fixed GL state and the event forwarding.
// The context is not kept current between paints (another view or the
// error band's painter may take it), so every entry into the world (which
// reads the viewport and the matrices) makes it current first.
#include "WorldWidget.h"

#include "OutputLayout.h"
#include "OutputWindow.h"
#include "Production.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QOpenGLFramebufferObject>
#include <QScreen>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>   // program, buffer and vertex array bindings
#include <QOpenGLPaintDevice>
#include <QPainter>
#include <QResizeEvent>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <GL/gl.h>

#include <cstdio>

namespace {

const int kFramePeriodMs = 10;

// The error band: text and strip colours, padding in logical pixels.
const QColor kBandColour(0, 0, 0, 170);
const QColor kErrorColour(255, 64, 64);
const int kBandPadding = 4;
// Lines one error may take in the band before its middle is cut.
const int kLinesPerError = 3;

// `text` broken into lines no wider than `width`: after the last space
// that fits, or inside a word longer than a line. Stops after `most` + 1
// lines, enough to tell that the text needs more than `most`.
QStringList WrapText(const QString &text, const QFontMetrics &metrics, int width, int most)
{
    QStringList lines;
    QString rest = text;
    while (!rest.isEmpty() && lines.size() <= most) {
        // The longest start of `rest` that fits (at least one character).
        int low = 1, high = int(rest.size());
        while (low < high) {
            const int middle = (low + high + 1) / 2;
            if (metrics.horizontalAdvance(rest.left(middle)) <= width)
                low = middle;
            else
                high = middle - 1;
        }
        int fit = low;
        if (fit < rest.size()) {
            const int space = int(rest.lastIndexOf(QLatin1Char(' '), fit));
            if (space > 0)
                fit = space + 1;
        }
        lines.append(rest.left(fit));
        rest = rest.mid(fit);
    }
    return lines;
}

// The lines of one error: `head` (its label, or nothing when the message
// names it), the message and `tail` (the repeat count), wrapped onto up to
// kLinesPerError lines. A longer message loses its middle to an ellipsis,
// so both its start (the place) and its end (Lua puts the name there)
// stay readable.
QStringList ErrorLines(const QString &head, const QString &message, const QString &tail,
                       const QFontMetrics &metrics, int width)
{
    QStringList lines = WrapText(head + message + tail, metrics, width, kLinesPerError);
    if (lines.size() <= kLinesPerError)
        return lines;
    // The most characters of the message that still fit, found by halving.
    int low = 0, high = int(message.size());
    while (low < high) {
        const int keep = (low + high + 1) / 2;
        const QString cut = message.left(keep / 2) + QChar(0x2026) + message.right(keep - keep / 2);
        if (WrapText(head + cut + tail, metrics, width, kLinesPerError).size() <= kLinesPerError)
            low = keep;
        else
            high = keep - 1;
    }
    lines = WrapText(head + message.left(low / 2) + QChar(0x2026) + message.right(low - low / 2) + tail,
                     metrics, width, kLinesPerError);
    return lines.mid(0, kLinesPerError);
}

// GL state that QPainter's engine changes and glPushAttrib does not keep:
// bound program, texture unit and texture, buffers and vertex array.
struct GLBindings
{
    GLint program = 0, activeTexture = 0, texture2D = 0, arrayBuffer = 0, vertexArray = 0;

    void save(QOpenGLExtraFunctions *f)
    {
        f->glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        f->glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
        f->glActiveTexture(GL_TEXTURE0);
        f->glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture2D);
        f->glActiveTexture(static_cast<GLenum>(activeTexture));
        f->glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
        f->glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    }

    void restore(QOpenGLExtraFunctions *f) const
    {
        f->glUseProgram(static_cast<GLuint>(program));
        f->glBindVertexArray(static_cast<GLuint>(vertexArray));
        f->glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(arrayBuffer));
        f->glActiveTexture(GL_TEXTURE0);
        f->glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture2D));
        f->glActiveTexture(static_cast<GLenum>(activeTexture));
    }
};

} // namespace

WorldWidget::WorldWidget(Production *production, QWidget *parent)
    : QWidget(parent)
    , production(production)
    , surface(new QWindow)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    // The GL window takes no focus of its own: keys keep arriving through
    // this widget, and a click gives the focus to it (below).
    surface->setSurfaceType(QSurface::OpenGLSurface);
    surface->setFormat(QSurfaceFormat::defaultFormat());
    surface->setFlag(Qt::WindowDoesNotAcceptFocus);
    surface->installEventFilter(this);
    QWidget *container = QWidget::createWindowContainer(surface, this);
    container->setFocusPolicy(Qt::NoFocus);
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setGeometry(rect());
    frameTimer = new QTimer(this);
    connect(frameTimer, &QTimer::timeout, this, &WorldWidget::UpdateFrame);
    frameTimer->setSingleShot(true);
    frameTimer->start(kFramePeriodMs);
}

WorldWidget::~WorldWidget()
{
    surface->removeEventFilter(this);
    output.reset();
    if (picture && context && context->makeCurrent(surface))
        picture.reset();   // its GL names go in their context
    if (context && context->makeCurrent(surface))
        context->doneCurrent();
}

DemoWorld *WorldWidget::world() const
{
    return &production->world();
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

bool WorldWidget::prepareContext()
{
    if (!surface->handle())
        return false;   // the window is not created yet
    if (!context) {
        context = std::make_unique<QOpenGLContext>();
        context->setFormat(surface->format());
        if (!context->create()) {
            context.reset();
            return false;
        }
    }
    if (!context->makeCurrent(surface))
        return false;
    if (!stateSet) {
        Production::SetFixedGLState();
        stateSet = true;
    }
    if (viewportStale) {
        // The viewport covers the picture's pixels: the window's (logical
        // size times ratio), or the output's while it is open.
        const QSize size = pictureSize();
        world()->setViewport(0, 0, size.width(), size.height());
        viewportStale = false;
    }
    return true;
}

void WorldWidget::makeCurrent()
{
    prepareContext();
}

void WorldWidget::UpdateFrame()
{
    FrameTiming &timing = production->frameTiming();
    timing.beginFrame(kFramePeriodMs);
    const bool ready = prepareContext();
    production->tick();
    // Painted only while the window shows: a hidden view's ticks go on.
    if (ready && surface->isExposed())
        showFrame();
    timing.partDone(FramePart::Composition);
    timing.endFrame();
    frameTimer->start(kFramePeriodMs);
}

QImage WorldWidget::grabFramebuffer()
{
    if (!prepareContext())
        return QImage();
    paintGL();
    const qreal ratio = devicePixelRatioF();
    const int w = qRound(width() * ratio), h = qRound(height() * ratio);
    QImage picture(w, h, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, picture.bits());
    return picture.mirrored();
}

void WorldWidget::resizeEvent(QResizeEvent *event)
{
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        child->setGeometry(QRect(QPoint(), event->size()));
    // Set in the view's own context when it is next made current: another
    // context (a shader check's) may be current now.
    viewportStale = true;
}

bool WorldWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (output && watched == output.get()) {
        // Keys that reach the output go where the focus is; closing it
        // (a window manager's close) closes the output, not the run.
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            QWidget *focus = window()->focusWidget();
            QCoreApplication::sendEvent(focus ? focus : this, event);
            return true;
        }
        if (event->type() == QEvent::Close) {
            QTimer::singleShot(0, this, [this] { closeOutput(); });
            event->ignore();
            return true;
        }
        return false;
    }
    if (watched != surface)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        setFocus(Qt::MouseFocusReason);   // as a click on the widget would
        [[fallthrough]];
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        // The window and the widget share their origin: positions hold.
        QCoreApplication::sendEvent(this, event);
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Without a window manager the keyboard follows the pointer, so
        // keys reach this window while the focus is elsewhere in the main
        // window (the sync pane after F2, the console after F1): they go
        // where the focus is, as they would with a window manager.
        QWidget *focus = window()->focusWidget();
        QCoreApplication::sendEvent(focus ? focus : this, event);
        return true;
    }
    case QEvent::MouseButtonDblClick:
        return true;   // a window gets the press as well: it went on above
    case QEvent::Expose:
        if (surface->isExposed() && prepareContext())
            showFrame();
        return false;
    default:
        return false;
    }
}

// --- Input ------------------------------------------------------------------

QPoint WorldWidget::toPixels(const QPointF &position) const
{
    const qreal ratio = devicePixelRatioF();
    const QPoint view(qRound(position.x() * ratio), qRound(position.y() * ratio));
    if (!output)
        return view;
    // Into the picture shown letterboxed, where the world's camera and pick are.
    const QSize size = pictureSize();
    double x = 0.0, y = 0.0;
    ViewToPicture(Letterbox(qRound(width() * ratio), qRound(height() * ratio), size.width(), size.height()),
                  size.width(), size.height(), view.x(), view.y(), x, y);
    return QPoint(qRound(x), qRound(y));
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
        world()->leftButtonDown(p.x(), p.y());
    if (event->buttons() & Qt::RightButton)
        world()->rightButtonDown(p.x(), p.y());
}

void WorldWidget::mouseReleaseEvent(QMouseEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    if (event->button() == Qt::LeftButton)
        world()->leftButtonUp(p.x(), p.y());
    if (event->button() == Qt::RightButton)
        world()->rightButtonUp(p.x(), p.y());
}

void WorldWidget::mouseMoveEvent(QMouseEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    world()->mouseMove(p.x(), p.y());
}

void WorldWidget::wheelEvent(QWheelEvent *event)
{
    makeCurrent();
    const QPoint p = toPixels(event->position());
    if (event->angleDelta().y() <= 0)
        world()->wheelBackward(p.x(), p.y());
    else
        world()->wheelForward(p.x(), p.y());
    event->accept();
}

void WorldWidget::keyPressEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat() && !event->text().isEmpty()) {
        makeCurrent();
        const QPoint p = toPixels(mapFromGlobal(QCursor::pos()));
        world()->keyDown(keyCode(event), p.x(), p.y());
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
    world()->keyUp(keyCode(event), p.x(), p.y());
}

// --- GL ---------------------------------------------------------------------

void WorldWidget::paintGL()
{
    if (output)
        paintThroughPicture();
    else
        production->paint();
    // After the pick inside renderFrame, so the band never changes it.
    if (!world()->errors().empty())
        paintErrorBand();
    production->frameTiming().partDone(FramePart::Band);
}

void WorldWidget::paintErrorBand()
{
    const std::vector<ErrorBoard::Line> lines = world()->errors().lines();

    // Keep everything the world set: attributes, client arrays, all three
    // matrix stacks and the bindings outside the attribute stack.
    QOpenGLExtraFunctions *f = QOpenGLContext::currentContext()->extraFunctions();
    GLBindings bindings;
    bindings.save(f);
    GLint matrixMode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    for (GLenum mode : {GL_PROJECTION, GL_MODELVIEW, GL_TEXTURE}) {
        glMatrixMode(mode);
        glPushMatrix();
    }

    {
        const qreal ratio = devicePixelRatioF();
        QOpenGLPaintDevice device(qRound(width() * ratio), qRound(height() * ratio));
        device.setDevicePixelRatio(ratio);
        QPainter painter(&device);
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        font.setPixelSize(12);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        const int lineHeight = metrics.lineSpacing();
        const int textWidth = qMax(width() - 2 * kBandPadding, metrics.maxWidth());
        QStringList text;
        for (const ErrorBoard::Line &line : lines) {
            const QString count = line.count > 1 ? QStringLiteral(" (\u00d7%1)").arg(line.count) : QString();
            text += ErrorLines(QString::fromUtf8(ErrorBoard::prefix(line).c_str()),
                               QString::fromUtf8(line.message.c_str()), count, metrics, textWidth);
        }
        const int bandHeight = int(text.size()) * lineHeight + 2 * kBandPadding;
        painter.fillRect(QRect(0, height() - bandHeight, width(), bandHeight), kBandColour);
        painter.setPen(kErrorColour);
        int baseline = height() - bandHeight + kBandPadding + metrics.ascent();
        for (const QString &row : text) {
            painter.drawText(kBandPadding, baseline, row);
            baseline += lineHeight;
        }
    }

    for (GLenum mode : {GL_TEXTURE, GL_MODELVIEW, GL_PROJECTION}) {
        glMatrixMode(mode);
        glPopMatrix();
    }
    glPopClientAttrib();
    glPopAttrib();
    glMatrixMode(static_cast<GLenum>(matrixMode));
    bindings.restore(f);
}

// --- The output screen ---------------------------------------------------------

QSize WorldWidget::pictureSize() const
{
    if (output)
        return fixedOutputSize.isEmpty() ? output->pixelSize() : fixedOutputSize;
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

std::string WorldWidget::openOutput(const std::string &screenName)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (output) {
        return "the output is open already on " + output->screen()->name().toStdString() +
               "; setOutput(false) or F3 closes it";
    }
    std::vector<std::string> names;
    for (QScreen *screen : screens)
        names.push_back(screen->name().toStdString());
    QScreen *own = window()->screen();
    std::string error;
    const int chosen = ChooseOutputScreen(names, int(screens.indexOf(own)), screenName, error);
    if (chosen < 0) {
        production->world().errors().report(ErrorBoard::Output, error);
        return error;
    }
    output = std::make_unique<OutputWindow>(screens[chosen]);
    output->installEventFilter(this);
    output->show();
    // Show may have let a window manager move it: the screen's geometry holds.
    output->setGeometry(screens[chosen]->geometry());
    connect(qApp, &QGuiApplication::screenRemoved, this, &WorldWidget::screenGone, Qt::UniqueConnection);
    production->shaders().keepPicture(true);
    production->world().errors().report(ErrorBoard::Output, std::string());
    viewportStale = true;
    return std::string();
}

void WorldWidget::closeOutput(const std::string &why)
{
    if (output) {
        output->removeEventFilter(this);
        output.reset();
        production->shaders().keepPicture(false);
        viewportStale = true;
    }
    if (prepareContext())
        picture.reset();
    production->world().errors().report(ErrorBoard::Output, why);
}

void WorldWidget::screenGone(QScreen *screen)
{
    if (!output || output->screen() != screen)
        return;
    const std::string why = "its screen " + screen->name().toStdString() + " went away; setOutput opens it again";
    std::fprintf(stderr, "velkaro: output: %s\n", why.c_str());
    closeOutput(why);
}

void WorldWidget::paintThroughPicture()
{
    const QSize size = pictureSize();
    if (!picture || picture->size() != size) {
        picture = std::make_unique<QOpenGLFramebufferObject>(size, QOpenGLFramebufferObject::CombinedDepthStencil);
        world()->setViewport(0, 0, size.width(), size.height());
    }
    picture->bind();
    production->paint();
    // The view: the picture with its overlays, scaled to fit, black bars.
    QOpenGLExtraFunctions *f = context->extraFunctions();
    const GLuint view = context->defaultFramebufferObject();
    f->glBindFramebuffer(GL_FRAMEBUFFER, view);
    const qreal ratio = devicePixelRatioF();
    const int w = qRound(width() * ratio), h = qRound(height() * ratio);
    const PixelRect box = Letterbox(w, h, size.width(), size.height());
    const int bottom = h - box.y - box.height;   // GL counts rows from the bottom
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    f->glBindFramebuffer(GL_READ_FRAMEBUFFER, picture->handle());
    f->glBlitFramebuffer(0, 0, size.width(), size.height(), box.x, bottom, box.x + box.width, bottom + box.height,
                         GL_COLOR_BUFFER_BIT, GL_LINEAR);
    f->glBindFramebuffer(GL_READ_FRAMEBUFFER, view);
    glPopAttrib();
}

void WorldWidget::showFrame()
{
    paintGL();
    context->swapBuffers(surface);
    if (!output)
        return;
    // The output: the same frame before the overlays. After the view's
    // swap: making the context current on another window first would lose
    // the view's back buffer on some drivers (Mesa's software one).
    int pictureWidth = 0, pictureHeight = 0;
    const unsigned finished = production->shaders().keptPicture(pictureWidth, pictureHeight);
    output->present(context.get(), finished, pictureWidth, pictureHeight);
    context->makeCurrent(surface);
}
