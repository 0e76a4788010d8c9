// Scene: transforms, line width, light, text and textures of render().
#include "Scene.h"

#include "ErrorBoard.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Transform arguments beyond this are refused like infinities: a product of
// two of them still fits a float, so the matrix never holds inf or NaN from
// one call.
const double kTransformLimit = 1e18;
// Text images wider than this are cut (a line far wider than any view).
const int kMaxTextWidth = 8192;
// Depth of the text's quad in the text projection (-1 .. 1 maps to depth
// 0 .. 1): just inside the near plane, so it is not clipped.
const float kTextDepth = 0.9999f;

bool Usable(double v)
{
    return std::isfinite(v) && std::fabs(v) <= kTransformLimit;
}

// The console's font when it is registered, any monospaced one otherwise.
QFont TextFont(int pixelSize)
{
    static const QString kConsoleFamily = QStringLiteral("Bitstream Vera Sans Mono");
    QFont font = QFontDatabase::hasFamily(kConsoleFamily) ? QFont(kConsoleFamily)
                                                          : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    return font;
}

QString PixelSize(QSize size)
{
    return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
}

// Raises the image reader's allocation limit (one setting for the whole
// program) to what one image of `size` in `format` needs, for as long as it
// is read; the reader refuses larger pictures by default.
class AllocationLimitFor
{
public:
    AllocationLimitFor(QSize size, QImage::Format format) : before(QImageReader::allocationLimit())
    {
        // Formats below 32 bits a pixel are counted as 32 (rows are padded);
        // an unknown one as the widest the readers make (16 bits a channel).
        const int bits = format == QImage::Format_Invalid ? 64 : std::max<int>(32, QImage::toPixelFormat(format).bitsPerPixel());
        const qint64 bytes = qint64(size.width()) * size.height() * (bits / 8);
        QImageReader::setAllocationLimit(static_cast<int>((bytes + (1 << 20) - 1) >> 20));
    }
    ~AllocationLimitFor() { QImageReader::setAllocationLimit(before); }
    AllocationLimitFor(const AllocationLimitFor &) = delete;
    AllocationLimitFor &operator=(const AllocationLimitFor &) = delete;

private:
    const int before;
};

// Reads a PNG or JPEG into GL's row order (bottom row first), RGBA. One
// with more pixels than a `maxSide` square is refused from its header; one
// wider or taller is scaled to at most `maxSide` on each side (the texture
// coordinates cover the picture whatever its pixels' shape), and `note`
// says so (else it is cleared).
bool ReadImageFrom(QImageReader &reader, const QString &shownName, int maxSide, QImage &image, std::string &error, std::string &note);

bool ReadImage(const QString &fileName, const QString &shownName, int maxSide, QImage &image, std::string &error,
               std::string &note)
{
    const QString prefix = QStringLiteral("cannot read %1: ").arg(shownName);
    const QFileInfo info(fileName);
    if (!info.exists()) {
        error = (prefix + QStringLiteral("no such file")).toStdString();
        return false;
    }
    // A pipe or device would block the reader where nothing can stop it.
    if (!info.isFile()) {
        error = (prefix + QStringLiteral("not a regular file")).toStdString();
        return false;
    }
    QImageReader reader(fileName);
    return ReadImageFrom(reader, shownName, maxSide, image, error, note);
}

// The checks and the read of ReadImage, from a reader of a file or of bytes.
bool ReadImageFrom(QImageReader &reader, const QString &shownName, int maxSide, QImage &image, std::string &error, std::string &note)
{
    const QString prefix = QStringLiteral("cannot read %1: ").arg(shownName);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg" && format != "jpg") {
        error = (prefix + QStringLiteral("not a PNG or JPEG image")).toStdString();
        return false;
    }
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > qint64(maxSide) * maxSide) {
        error = (prefix + QStringLiteral("the image is %1 pixels, more than the largest texture here holds (%2)")
                              .arg(PixelSize(size), PixelSize(QSize(maxSide, maxSide))))
                    .toStdString();
        return false;
    }
    QImage read;
    {
        const AllocationLimitFor limit(size.isValid() ? size : QSize(maxSide, maxSide), reader.imageFormat());
        read = reader.read();
    }
    if (read.isNull()) {
        error = (prefix + reader.errorString()).toStdString();
        return false;
    }
    note.clear();
    if (read.width() > maxSide || read.height() > maxSide) {
        const QSize fits(std::min(read.width(), maxSide), std::min(read.height(), maxSide));
        note = QStringLiteral("%1 is %2 pixels, wider or taller than the largest texture here (%3 a side): drawn "
                              "from a copy scaled to %4")
                   .arg(shownName, PixelSize(read.size()))
                   .arg(maxSide)
                   .arg(PixelSize(fits))
                   .toStdString();
        read = read.scaled(fits, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // In place: a picture near the limit does not need two more copies.
    image = std::move(read).convertToFormat(QImage::Format_RGBA8888).mirrored();
    return true;
}

// The largest texture side of the driver behind a context made for the
// question; 0 when none can be made.
GLint AskTheDriverForTheTextureLimit()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 0;
    QOffscreenSurface surface;
    surface.setFormat(QSurfaceFormat::defaultFormat());
    surface.create();
    QOpenGLContext context;
    context.setFormat(QSurfaceFormat::defaultFormat());
    GLint size = 0;
    if (surface.isValid() && context.create() && context.makeCurrent(&surface)) {
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
        context.doneCurrent();
    }
    return size;
}

} // namespace

// --- The frame -----------------------------------------------------------------

bool Scene::canDraw() const
{
    return inRender && !(bracket && bracket->open());
}

void Scene::beginRender()
{
    inRender = true;
    scriptDepth = 0;
    glMatrixMode(GL_MODELVIEW);
    glGetFloatv(GL_MODELVIEW_MATRIX, view);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &baseDepth);
    glGetIntegerv(GL_MAX_MODELVIEW_STACK_DEPTH, &maxDepth);
    if (!limitsKnown) {
        glGetFloatv(GL_ALIASED_LINE_WIDTH_RANGE, lineWidthRange);
        limitsKnown = true;
    }
    textureLimit();
    glLineWidth(1.0f);
    if (!namesToDelete.empty()) {
        glDeleteTextures(static_cast<GLsizei>(namesToDelete.size()), namesToDelete.data());
        namesToDelete.clear();
    }
    for (auto &entry : textImages)
        entry.second.used = false;
    uploadPendingTextures();
    applyLight();
}

void Scene::endRender()
{
    glMatrixMode(GL_MODELVIEW);
    GLint depth = baseDepth;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    for (; depth > baseDepth; --depth)
        glPopMatrix();
    glLoadMatrixf(view);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
    scriptDepth = 0;

    inRender = false;
    applyLight();   // off outside render()
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glLineWidth(1.0f);

    // Text images not drawn in this render() go; the rest are drawn again
    // next frame without being rasterised again.
    for (auto it = textImages.begin(); it != textImages.end();) {
        if (it->second.used) {
            ++it;
            continue;
        }
        glDeleteTextures(1, &it->second.name);
        it = textImages.erase(it);
    }
}

// --- Transforms ----------------------------------------------------------------

void Scene::pushMatrix()
{
    if (!canDraw() || baseDepth + scriptDepth >= maxDepth)
        return;
    glPushMatrix();
    ++scriptDepth;
}

void Scene::popMatrix()
{
    if (!canDraw() || scriptDepth == 0)
        return;
    glPopMatrix();
    --scriptDepth;
}

void Scene::translate(double x, double y, double z)
{
    if (canDraw() && Usable(x) && Usable(y) && Usable(z))
        glTranslated(x, y, z);
}

void Scene::rotate(double degrees, double x, double y, double z)
{
    if (!canDraw() || !std::isfinite(degrees) || !Usable(x) || !Usable(y) || !Usable(z))
        return;
    // Scaled before GL squares it, so a huge axis cannot overflow; a zero
    // axis has no direction and turns nothing.
    const double m = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
    if (m == 0.0)
        return;
    glRotated(std::fmod(degrees, 360.0), x / m, y / m, z / m);
}

void Scene::scale(double x, double y, double z)
{
    if (canDraw() && Usable(x) && Usable(y) && Usable(z))
        glScaled(x, y, z);
}

void Scene::loadIdentity()
{
    if (canDraw())
        glLoadMatrixf(view);
}

// --- Line width and light ------------------------------------------------------

void Scene::setLineWidth(double pixels)
{
    if (!canDraw() || std::isnan(pixels))
        return;
    const double w = std::clamp(pixels, static_cast<double>(lineWidthRange[0]), static_cast<double>(lineWidthRange[1]));
    glLineWidth(static_cast<GLfloat>(w));
}

void Scene::setLighting(bool on)
{
    lightingOn = on;
    if (canDraw())
        applyLight();
}

void Scene::setLightDirection(double x, double y, double z)
{
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        return;
    const double m = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
    if (m == 0.0)
        return;
    x /= m, y /= m, z /= m;
    const double length = std::sqrt(x * x + y * y + z * z);
    lightDirection[0] = static_cast<GLfloat>(x / length);
    lightDirection[1] = static_cast<GLfloat>(y / length);
    lightDirection[2] = static_cast<GLfloat>(z / length);
    if (canDraw())
        applyLight();
}

void Scene::applyLight()
{
    if (!lightingOn || !inRender) {
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glDisable(GL_COLOR_MATERIAL);
        glDisable(GL_NORMALIZE);
        return;
    }
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    // colorGL keeps colouring what is drawn: it sets the lit material.
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_NORMALIZE);   // scaleGL must not dim or brighten
    // GL takes the light's position in the frame current at the call: the
    // camera's view, so the direction is a world one. The position of a
    // directional light points towards the light.
    GLfloat current[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, current);
    glLoadMatrixf(view);
    const GLfloat position[4] = {-lightDirection[0], -lightDirection[1], -lightDirection[2], 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLoadMatrixf(current);
}

// --- Text ----------------------------------------------------------------------

const Scene::TextImage *Scene::textImage(const QString &text, int pixelSize)
{
    const auto key = std::make_pair(text, pixelSize);
    auto found = textImages.find(key);
    if (found != textImages.end()) {
        found->second.used = true;
        return &found->second;
    }
    const QSize size = textSize(text, pixelSize);
    const int width = size.width();
    const int height = size.height();
    if (size.isEmpty())
        return nullptr;
    const QFont font = TextFont(pixelSize);
    const QFontMetrics metrics(font);
    // White glyphs: the GL texture unit multiplies them by the current colour.
    QImage glyphs(width, height, QImage::Format_ARGB32_Premultiplied);
    glyphs.fill(Qt::transparent);
    {
        QPainter painter(&glyphs);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(0, metrics.ascent(), text);
    }
    const QImage rgba = glyphs.convertToFormat(QImage::Format_RGBA8888).mirrored();

    TextImage image;
    image.width = width;
    image.height = height;
    image.used = true;
    glGenTextures(1, &image.name);
    glBindTexture(GL_TEXTURE_2D, image.name);
    // One texel per pixel: nearest sampling keeps the glyphs sharp.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.constBits());
    return &(textImages[key] = image);
}

QSize Scene::textSize(const QString &text, int pixelSize) const
{
    const QFontMetrics metrics(TextFont(pixelSize));
    const int width = std::min({metrics.horizontalAdvance(text), kMaxTextWidth, static_cast<int>(maxTextureSize)});
    const int height = std::min(metrics.height(), static_cast<int>(maxTextureSize));
    return width > 0 && height > 0 ? QSize(width, height) : QSize(0, 0);
}

void Scene::drawText(double x, double y, const QString &text, int pixelSize)
{
    if (!canDraw() || text.isEmpty() || !std::isfinite(x) || !std::isfinite(y))
        return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return;
    // Everything this changes is put back below: attributes, texture
    // binding and both matrices (loaded, not pushed: the script's pushes may
    // have filled the stack).
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
    const TextImage *image = textImage(text, pixelSize);
    if (!image) {
        glPopAttrib();
        return;
    }
    GLfloat modelView[16], currentProjection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    glGetFloatv(GL_PROJECTION_MATRIX, currentProjection);

    glDisable(GL_LIGHTING);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, image->name);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // Only the glyphs' pixels reach the colour and depth buffers.
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
    glDepthFunc(GL_LEQUAL);   // a second text over the first still shows

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, viewport[2], 0.0, viewport[3], -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const float left = static_cast<float>(std::floor(std::clamp(x, -1e6, 1e6)));
    const float bottom = static_cast<float>(std::floor(std::clamp(y, -1e6, 1e6)));
    const float right = left + static_cast<float>(image->width);
    const float top = bottom + static_cast<float>(image->height);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(left, bottom, kTextDepth);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(right, bottom, kTextDepth);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(right, top, kTextDepth);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(left, top, kTextDepth);
    glEnd();

    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(currentProjection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(modelView);
    glPopAttrib();
}

// --- Textures ------------------------------------------------------------------

int Scene::loadTexture(const QString &path, std::string &error)
{
    if (path.isEmpty()) {
        error = "cannot read the texture: no file name";
        return 0;
    }
    const QString fileName = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    for (const auto &entry : textures)
        if (entry.second.path == fileName)
            return entry.first;   // a changed file is reloaded by the frame's poll

    Texture texture;
    texture.path = fileName;
    texture.file = WatchedFile(fileName);
    texture.shownName = path;
    if (!ReadImage(fileName, path, textureLimit(), texture.pending, error, texture.note))
        return 0;
    const int id = nextTextureId++;
    Texture &kept = textures[id] = std::move(texture);
    if (!kept.note.empty()) {
        qDebug("texture %d: %s", id, kept.note.c_str());
        showTextureNote();
    }
    if (canDraw())
        upload(kept);
    return id;
}

int Scene::loadTextureBytes(const QByteArray &bytes, const QString &name, std::string &error)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    Texture texture;
    texture.shownName = name;
    if (!ReadImageFrom(reader, name, textureLimit(), texture.pending, error, texture.note))
        return 0;
    const int id = nextTextureId++;
    Texture &kept = textures[id] = std::move(texture);
    if (!kept.note.empty())
        showTextureNote();
    if (canDraw())
        upload(kept);
    return id;
}

GLint Scene::textureLimit()
{
    if (!textureLimitKnown) {
        GLint size = 0;
        if (QOpenGLContext::currentContext())
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
        else
            size = AskTheDriverForTheTextureLimit();
        if (size > 0)
            maxTextureSize = size;
        textureLimitKnown = size > 0;
    }
    return maxTextureSize;
}

void Scene::showTextureNote()
{
    std::string note;
    for (const auto &entry : textures)
        if (!entry.second.note.empty())
            note = entry.second.note;   // the highest id: the latest loaded
    // Once per change: the board counts a message reported again as a repeat.
    if (errorBoard && note != shownNote)
        errorBoard->report(ErrorBoard::Texture, note);
    shownNote = note;
}

void Scene::upload(Texture &texture)
{
    if (texture.pending.isNull())
        return;
    const QImage image = std::move(texture.pending);
    texture.pending = QImage();
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    if (!texture.name)
        glGenTextures(1, &texture.name);
    glBindTexture(GL_TEXTURE_2D, texture.name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.constBits());
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

void Scene::takeSavedTextures(WatchedFile::Clock::time_point now)
{
    for (auto &entry : textures) {
        Texture &texture = entry.second;
        if (!texture.file.poll(now))
            continue;
        // A file that cannot be read keeps the last picture; the next save
        // tries again.
        std::string error, note;
        if (ReadImage(texture.path, texture.shownName, textureLimit(), texture.pending, error, note)) {
            qDebug("texture %d reloaded from %s", entry.first, qUtf8Printable(texture.path));
            if (note != texture.note && !note.empty())
                qDebug("texture %d: %s", entry.first, note.c_str());
            texture.note = note;
            showTextureNote();
        } else {
            qDebug("texture %d kept: %s", entry.first, error.c_str());
        }
    }
}

void Scene::uploadPendingTextures()
{
    for (auto &entry : textures)
        upload(entry.second);
}

void Scene::bindTexture(int id)
{
    if (!canDraw())
        return;
    const auto found = textures.find(id);
    if (found == textures.end()) {
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
        return;
    }
    upload(found->second);
    glBindTexture(GL_TEXTURE_2D, found->second.name);
    glEnable(GL_TEXTURE_2D);
}

void Scene::freeTexture(int id)
{
    const auto found = textures.find(id);
    if (found == textures.end())
        return;
    const GLuint name = found->second.name;
    const bool noted = !found->second.note.empty();
    textures.erase(found);
    if (noted)
        showTextureNote();
    if (!name)
        return;
    if (canDraw()) {
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        if (static_cast<GLuint>(bound) == name)
            glDisable(GL_TEXTURE_2D);
        glDeleteTextures(1, &name);
    } else {
        namesToDelete.push_back(name);   // no context to delete it in now
    }
}
