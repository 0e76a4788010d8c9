#include "OutputWindow.h"

#include "OutputLayout.h"

#include <QCursor>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QScreen>
#include <QSurfaceFormat>

#include <GL/gl.h>

OutputWindow::OutputWindow(QScreen *screen)
{
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(QSurfaceFormat::defaultFormat());
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setCursor(Qt::BlankCursor);
    setTitle(QStringLiteral("Velkaro output"));
    setScreen(screen);
    setGeometry(screen->geometry());
}

QSize OutputWindow::pixelSize() const
{
    return size() * devicePixelRatio();
}

void OutputWindow::present(QOpenGLContext *context, unsigned framebuffer, int width, int height)
{
    if (!isExposed() || !context->makeCurrent(this))
        return;
    QOpenGLExtraFunctions *f = context->extraFunctions();
    const QSize window = pixelSize();
    const GLuint own = context->defaultFramebufferObject();
    f->glBindFramebuffer(GL_FRAMEBUFFER, own);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (framebuffer) {
        const PixelRect box = Letterbox(window.width(), window.height(), width, height);
        const int bottom = window.height() - box.y - box.height;   // GL counts rows from the bottom
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        f->glBlitFramebuffer(0, 0, width, height, box.x, bottom, box.x + box.width, bottom + box.height,
                             GL_COLOR_BUFFER_BIT, GL_LINEAR);
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, own);
    }
    glPopAttrib();
    context->swapBuffers(this);
}
