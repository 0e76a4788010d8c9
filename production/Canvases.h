// Canvases: textures that render() draws into. Each has its own colour
// (8 bits or half floats a channel) and its own depth; what render() draws
// after setTarget(id) lands in the canvas, until setTarget(0) or the end of
// render(), which always goes back to the frame (also after an error or the
// runaway guard). A canvas is then read as a texture: bound for drawing
// like a loaded texture, or given to a program's sampler. Owned by the
// Production, so canvases and their pictures outlive reloads.
//
// A canvas read while it is being drawn into reads as black (GL would give
// undefined colours): the board says so once while it happens.
//
// GL objects are made when a canvas is first drawn into or read, at its
// size then (a canvas of size 0 follows the view), in the context current
// then; those of a canvas freed while no context is current are deleted at
// the next render().
#pragma once

#include "CanvasTable.h"

#include <GL/gl.h>

#include <map>
#include <string>
#include <vector>

class ErrorBoard;
class QOpenGLContext;
class ScriptPrimitive;

class Canvases
{
public:
    Canvases() = default;
    ~Canvases();
    Canvases(const Canvases &) = delete;
    Canvases &operator=(const Canvases &) = delete;

    // The bracket of the world render() draws in (nothing acts while it is
    // open) and where the message of a canvas read while drawn into goes.
    void setBracket(const ScriptPrimitive *primitive) { bracket = primitive; }
    void setErrorBoard(ErrorBoard *board) { errorBoard = board; }

    CanvasTable &table() { return canvasTable; }
    // See CanvasTable::create; `limit` is the driver's largest texture side.
    int create(double width, double height, const std::string &format, int limit, std::string &why)
    {
        return canvasTable.create(width, height, format, limit, why);
    }
    // False for an id that is not a canvas.
    bool free(int id);

    // --- The frame (GL context current).

    // Notes the framebuffer and viewport render() starts with (the frame).
    void beginRender();
    // Back to the frame's framebuffer and viewport, canvas textures unbound;
    // the board told whether a canvas was read while drawn into.
    void endRender();
    // What render() draws next goes into canvas `id` (cleared, colour to
    // transparent black and depth, when `clear`), or into the frame for 0.
    // "" or why not (not a canvas, outside render()).
    std::string setTarget(int id, bool clear);
    // The canvas's picture as the texture of what render() draws next, like
    // a loaded texture; false for an id that is not a canvas.
    bool bindTexture(int id);
    // The GL texture of canvas `id` for a program's sampler (black while it
    // is being drawn into); 0 for an id that is not a canvas or none can be
    // made.
    GLuint texture(int id);
    // The canvas being drawn into, 0 for the frame.
    int target() const { return current; }

    // The texture units of programs' canvas samplers: kSamplerUnits from
    // kFirstSamplerUnit, away from the script's texture (unit 0).
    static const int kFirstSamplerUnit = 8;
    static const int kSamplerUnits = 8;

private:
    struct Picture
    {
        GLuint framebuffer = 0, colour = 0, depth = 0;
        CanvasSize size;
        CanvasFormat format = CanvasFormat::Rgba8;
        bool refused = false;   // the driver could not make it at this size
    };

    bool canDraw() const;
    // The canvas's picture at its size now, made or made again when needed
    // (in the current context); null when it cannot be.
    Picture *picture(int id);
    void release(Picture &picture);
    // The 1 x 1 black texture read in place of a canvas drawn into.
    GLuint black();
    // Counts a read of the canvas being drawn into.
    void readWhileDrawn(int id);
    // Forgets the GL names of another context (they went with it).
    void followContext();

    CanvasTable canvasTable;
    std::map<int, Picture> pictures;
    std::vector<Picture> toRelease;   // freed with no context current
    QOpenGLContext *context = nullptr;
    GLuint blackTexture = 0;
    const ScriptPrimitive *bracket = nullptr;
    ErrorBoard *errorBoard = nullptr;

    bool inRender = false;
    int current = 0;
    int boundForDrawing = 0;   // bindTexture's canvas in this render()
    GLint frameBuffer = 0;
    GLint frameViewport[4] = {0, 0, 0, 0};
    std::string conflict;      // this render()'s message, "" without one
};
