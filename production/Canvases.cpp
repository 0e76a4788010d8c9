// Canvases: the GL side of canvases (framebuffers, their colour and depth),
// drawing into them and reading them.
#include "Canvases.h"

#include "ErrorBoard.h"
#include "ScriptPrimitive.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

namespace {

QOpenGLExtraFunctions *Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

// Keeps the active unit's 2D texture and the framebuffers bound while
// GL objects are made, and puts them back.
class KeptBindings
{
public:
    KeptBindings()
    {
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    }
    ~KeptBindings()
    {
        QOpenGLExtraFunctions *f = Gl();
        f->glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw));
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
    }
    KeptBindings(const KeptBindings &) = delete;
    KeptBindings &operator=(const KeptBindings &) = delete;

private:
    GLint texture = 0, draw = 0, read = 0;
};

} // namespace

Canvases::~Canvases()
{
    if (!context || QOpenGLContext::currentContext() != context)
        return;   // a context that is gone took its names with it
    for (auto &entry : pictures)
        release(entry.second);
    for (Picture &picture : toRelease)
        release(picture);
    if (blackTexture)
        glDeleteTextures(1, &blackTexture);
}

bool Canvases::canDraw() const
{
    return inRender && !(bracket && bracket->open()) && QOpenGLContext::currentContext();
}

void Canvases::followContext()
{
    QOpenGLContext *now = QOpenGLContext::currentContext();
    if (!now || now == context)
        return;
    pictures.clear();
    toRelease.clear();
    blackTexture = 0;
    context = now;
}

bool Canvases::free(int id)
{
    if (!canvasTable.free(id))
        return false;
    const auto found = pictures.find(id);
    if (found == pictures.end())
        return true;
    if (current == id && canDraw())
        setTarget(0, false);
    if (context && QOpenGLContext::currentContext() == context)
        release(found->second);
    else
        toRelease.push_back(found->second);
    pictures.erase(found);
    return true;
}

void Canvases::release(Picture &picture)
{
    QOpenGLExtraFunctions *f = Gl();
    f->glDeleteFramebuffers(1, &picture.framebuffer);
    f->glDeleteRenderbuffers(1, &picture.depth);
    glDeleteTextures(1, &picture.colour);
    picture = Picture();
}

GLuint Canvases::black()
{
    if (!blackTexture) {
        KeptBindings kept;
        const unsigned char pixel[4] = {0, 0, 0, 255};
        glGenTextures(1, &blackTexture);
        glBindTexture(GL_TEXTURE_2D, blackTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    }
    return blackTexture;
}

Canvases::Picture *Canvases::picture(int id)
{
    followContext();
    const CanvasTable::Canvas *canvas = canvasTable.find(id);
    if (!canvas || !context)
        return nullptr;
    const CanvasSize size = CanvasTable::SizeIn(*canvas, CanvasSize{frameViewport[2], frameViewport[3]});
    if (size.width <= 0 || size.height <= 0)
        return nullptr;
    Picture &picture = pictures[id];
    if ((picture.framebuffer || picture.refused) && picture.size == size && picture.format == canvas->format)
        return picture.refused ? nullptr : &picture;
    if (picture.framebuffer)
        release(picture);

    QOpenGLExtraFunctions *f = Gl();
    KeptBindings kept;
    while (glGetError() != GL_NO_ERROR) {
    }   // an earlier call's error is not this picture's
    picture.refused = false;
    picture.size = size;
    picture.format = canvas->format;
    const bool wide = canvas->format == CanvasFormat::Rgba16f;
    glGenTextures(1, &picture.colour);
    glBindTexture(GL_TEXTURE_2D, picture.colour);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, wide ? GL_RGBA16F : GL_RGBA8, size.width, size.height, 0, GL_RGBA,
                 wide ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
    f->glGenRenderbuffers(1, &picture.depth);
    f->glBindRenderbuffer(GL_RENDERBUFFER, picture.depth);
    f->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, size.width, size.height);
    f->glBindRenderbuffer(GL_RENDERBUFFER, 0);
    f->glGenFramebuffers(1, &picture.framebuffer);
    f->glBindFramebuffer(GL_FRAMEBUFFER, picture.framebuffer);
    f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, picture.colour, 0);
    f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, picture.depth);
    // A picture the driver has no memory for leaves an error: taken here, so
    // the canvas is refused and the next frame starts without one.
    bool failed = false;
    while (glGetError() != GL_NO_ERROR)
        failed = true;
    if (failed || f->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        release(picture);
        // Not tried again at this size and format: the attempt is slow.
        picture.size = size;
        picture.format = canvas->format;
        picture.refused = true;
        return nullptr;
    }
    // A new picture starts transparent black, whatever the driver left in it.
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glPushAttrib(GL_SCISSOR_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glPopAttrib();
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    return &picture;
}

// --- The frame ------------------------------------------------------------------

void Canvases::beginRender()
{
    followContext();
    if (context && QOpenGLContext::currentContext() == context) {
        for (Picture &picture : toRelease)
            release(picture);
        toRelease.clear();
    }
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &frameBuffer);
    glGetIntegerv(GL_VIEWPORT, frameViewport);
    current = 0;
    conflict.clear();
    inRender = true;
}

void Canvases::endRender()
{
    if (current && QOpenGLContext::currentContext()) {
        Gl()->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(frameBuffer));
        glViewport(frameViewport[0], frameViewport[1], frameViewport[2], frameViewport[3]);
    }
    current = 0;
    inRender = false;
    if (errorBoard && errorBoard->report(ErrorBoard::Canvas, conflict))
        qDebug("canvas: %s", conflict.c_str());
}

std::string Canvases::setTarget(int id, bool clear)
{
    if (!canDraw())
        return "setCanvas: only inside render(), outside a begin function and endGL";
    QOpenGLExtraFunctions *f = Gl();
    if (id == 0) {
        f->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(frameBuffer));
        glViewport(frameViewport[0], frameViewport[1], frameViewport[2], frameViewport[3]);
        current = 0;
        return std::string();
    }
    if (!canvasTable.find(id))
        return "setCanvas: " + std::to_string(id) + " is not a canvas";
    Picture *p = picture(id);
    if (!p) {
        const CanvasSize size = CanvasTable::SizeIn(*canvasTable.find(id), CanvasSize{frameViewport[2], frameViewport[3]});
        return "setCanvas: canvas " + std::to_string(id) + " cannot be drawn into here (the driver cannot make its " +
               std::to_string(size.width) + " x " + std::to_string(size.height) + " picture)";
    }
    f->glBindFramebuffer(GL_FRAMEBUFFER, p->framebuffer);
    glViewport(0, 0, p->size.width, p->size.height);
    current = id;
    // What reads this canvas now (the drawing texture, a program's
    // samplers) reads black instead while it is drawn into.
    GLint active = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    for (int unit = 0; unit < kFirstSamplerUnit + kSamplerUnits; unit = unit ? unit + 1 : kFirstSamplerUnit) {
        f->glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        if (static_cast<GLuint>(bound) == p->colour) {
            readWhileDrawn(id);
            glBindTexture(GL_TEXTURE_2D, black());
        }
    }
    f->glActiveTexture(static_cast<GLenum>(active));
    if (clear) {
        GLfloat colour[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, colour);
        glPushAttrib(GL_SCISSOR_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        glStencilMask(~0u);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glPopAttrib();
        glClearColor(colour[0], colour[1], colour[2], colour[3]);
    }
    return std::string();
}

bool Canvases::bindTexture(int id)
{
    if (!canvasTable.find(id)) {
        if (canDraw()) {
            glBindTexture(GL_TEXTURE_2D, 0);
            glDisable(GL_TEXTURE_2D);
        }
        return false;
    }
    if (!canDraw())
        return true;
    Picture *p = picture(id);
    GLuint name = p ? p->colour : black();
    if (id == current) {
        readWhileDrawn(id);
        name = black();
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glEnable(GL_TEXTURE_2D);
    return true;
}

GLuint Canvases::texture(int id)
{
    if (!canvasTable.find(id) || !QOpenGLContext::currentContext())
        return 0;
    if (id == current) {
        readWhileDrawn(id);
        return black();
    }
    Picture *p = picture(id);
    return p ? p->colour : black();
}

void Canvases::readWhileDrawn(int id)
{
    if (conflict.empty())
        conflict = "canvas " + std::to_string(id) + " is read while it is drawn into: it reads as black";
}
