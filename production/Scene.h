// Scene: the drawing state a production adds to its render(): the
// transforms on the model-view matrix, the line width, one directional
// light, text, and textures loaded from image files. Owned by the
// Production, so textures outlive reloads of the production's script.
//
// The frame brackets the script's render() with beginRender and endRender.
// Between them the functions below act on the current GL context; outside
// them (update(), a console command, start-up) the GL ones do nothing,
// except that the lighting switch, the light's direction and loaded
// textures are kept for the next render(). Nothing acts while a script's
// begin/end bracket is open, where GL refuses these calls. endRender puts
// everything back, whatever render() left (an error, the runaway guard), so
// the floor, the pick and the marker always draw as without these tools.
#pragma once

#include "ScriptPrimitive.h"
#include "WatchedFile.h"

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

#include <GL/gl.h>

#include <map>
#include <string>
#include <vector>

class ErrorBoard;

class Scene
{
public:
    Scene() = default;
    // The bracket of the world render() draws in: GL calls wait while it
    // is open.
    void setBracket(const ScriptPrimitive *primitive) { bracket = primitive; }
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    // --- The frame (GL context current).

    // Notes the camera's view and the projection and the model-view stack
    // depth, sets line width 1, applies the light, and uploads the
    // textures read since the last paint.
    void beginRender();
    // Pops the model-view stack back, reloads the view and projection,
    // turns lighting and texturing off, line width back to 1, and drops the
    // text images this render() did not draw.
    void endRender();
    bool rendering() const { return inRender; }

    // --- Transforms of what render() draws next. Non-finite arguments, a
    // push beyond the stack, a pop below render()'s own start are ignored.
    void pushMatrix();
    void popMatrix();
    void translate(double x, double y, double z);
    void rotate(double degrees, double x, double y, double z);
    void scale(double x, double y, double z);
    // Back to the camera's view.
    void loadIdentity();

    // --- Line width in pixels, clamped to what the driver draws.
    void setLineWidth(double pixels);

    // --- One directional light; off by default.
    void setLighting(bool on);
    // The direction the light travels, in world space; a zero or
    // non-finite direction is ignored.
    void setLightDirection(double x, double y, double z);
    bool lighting() const { return lightingOn; }

    // --- Text: one line in the current colour, its box's bottom-left corner
    // at view pixel (x, y), in the console's monospaced font at pixelSize.
    void drawText(double x, double y, const QString &text, int pixelSize);
    // The width and height in pixels of what drawText draws for `text` at
    // pixelSize (0 by 0 when it draws nothing).
    QSize textSize(const QString &text, int pixelSize) const;

    // --- Textures. Returns the id (> 0) of the image at `path` (relative to
    // the working directory, the production's folder), or 0 with `error`
    // set. The same file loaded again keeps its id. An image with more
    // pixels than the driver's largest texture holds is refused from its
    // header, before its pixels are read; one wider or taller than that
    // texture is scaled down to fit, and while such a texture is loaded the
    // board (when set) shows a note about the latest one.
    int loadTexture(const QString &path, std::string &error);
    // Makes the texture current for what render() draws next; 0 or an
    // unknown id turns texturing off.
    void bindTexture(int id);
    void freeTexture(int id);
    // Once per tick: reads again the textures whose files were saved (the
    // run's watched-file rule); they are uploaded at the next paint.
    void takeSavedTextures(WatchedFile::Clock::time_point now);
    // Number of textures loaded and not freed.
    size_t textureCount() const { return textures.size(); }
    // The driver's largest texture side, read once (from a context made for
    // the question when none is current, as at the production's start-up).
    GLint textureLimit();
    // Where the note about a scaled-down texture goes (null: nowhere).
    void setErrorBoard(ErrorBoard *board) { errorBoard = board; }

private:
    const ScriptPrimitive *bracket = nullptr;
    struct Texture
    {
        QString path;
        WatchedFile file;   // the version taken is the one last read
        QString shownName; // as loadTexture was given it, for messages
        QImage pending;   // read, not yet uploaded (no context at the time)
        GLuint name = 0;
        std::string note; // why the picture is a scaled-down copy, or ""
    };
    struct TextImage
    {
        GLuint name = 0;
        int width = 0, height = 0;
        bool used = false;
    };

    // GL calls are allowed: inside render() and no bracket open.
    bool canDraw() const;
    void applyLight();
    // Uploads the images read since the last paint.
    void uploadPendingTextures();
    // Shows the note of the latest loaded texture that has one (none: clears it).
    void showTextureNote();
    // Uploads a read image into the texture's GL name (made when needed).
    void upload(Texture &texture);
    const TextImage *textImage(const QString &text, int pixelSize);

    bool inRender = false;
    GLfloat view[16] = {};
    GLfloat projection[16] = {};
    GLint baseDepth = 0;
    GLint maxDepth = 32;
    int scriptDepth = 0;
    GLfloat lineWidthRange[2] = {1.0f, 1.0f};
    GLint maxTextureSize = 1024;
    bool limitsKnown = false;   // the two above read from the driver
    bool textureLimitKnown = false;

    bool lightingOn = false;
    GLfloat lightDirection[3] = {-0.4f, -1.0f, -0.6f};

    std::map<int, Texture> textures;
    std::vector<GLuint> namesToDelete;   // freed outside render()
    int nextTextureId = 1;
    ErrorBoard *errorBoard = nullptr;
    std::string shownNote;   // what the board shows of the notes

    std::map<std::pair<QString, int>, TextImage> textImages;
};
