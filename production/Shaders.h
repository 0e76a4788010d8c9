// Shaders: the GLSL programs of a run and its post pass. A program is made
// from a vertex and a fragment stage, each GLSL text or a file in the
// production's folder (either may be missing: that stage stays fixed
// function). Programs are compiled in the compatibility profile, so the
// built-in inputs of immediate-mode drawing work. Files are watched: a save
// relinks the program under the same id between frames; a failing compile
// keeps the last good program and holds its first error for the view.
//
// Every program that declares them gets the automatic uniforms `time`,
// `resolution`, `level`, `spectrum` (64 x 1, red 0..1) and `mouse` each
// time it is bound. The post pass draws the scene into a texture with its
// depth and brings it over the view through a chain of fragment shaders,
// each reading the one before as `frame` (the first, the scene) and the
// scene's `depth`, each at its own fraction of the view's size; the
// overlays drawn after it are tested against the scene's depth, and the
// pick reads it, so both see the same depth as without the pass. A program
// that declares `previous` reads the finished picture of the frame before
// (without the overlays), kept after the chain; the scene then goes
// through the pass's target even without a chain.
//
// GL calls need a current context. Programs are made in the context that
// is current when they are first used; one loaded while none is current
// (prod.lua's start-up run, before the view exists) is checked in a small
// context of its own, so its errors still come back at once.
#pragma once

#include "WatchedFile.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Canvases;
class FrameInputs;
class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLExtraFunctions;

class Shaders
{
public:
    Shaders();
    ~Shaders();
    Shaders(const Shaders &) = delete;
    Shaders &operator=(const Shaders &) = delete;

    // Each stage: null for fixed function, else GLSL text or a file name
    // (no line break, ending in .vert, .frag or .glsl). Returns the new id
    // (the same id for the same two arguments as an earlier program), or 0
    // with `log`: the first error as "file:line: message", then the
    // compiler's whole log.
    int load(const std::string *vertex, const std::string *fragment, std::string &log);
    // What is drawn next goes through program `id`; 0 or an unknown id:
    // fixed function again.
    void use(int id);
    // Sets `count` (1..4) floats of uniform `name` of program `id`; a
    // single number given to a sampler2D is a canvas id: the sampler reads
    // that canvas. Kept for every later bind and relink. Ignored for an
    // unknown program, name or a uniform of another type.
    void setUniform(int id, const std::string &name, const float *values, int count);
    // A post pass's fragment stage (text or file) made into a program of
    // its own (the same argument again: the same id), not yet run. Returns
    // the id (usable with setUniform and setChain) or 0 with `log`.
    int loadPass(const std::string &fragment, std::string &log);
    // The post chain: the passes in order, each reading the result of the
    // one before as `frame` (the first, the scene), the last writing the
    // view; empty turns the post pass off. "" or why not (nothing changes).
    std::string setChain(const std::vector<int> &ids);
    // Pass `id` runs at `scale` (0 < scale <= 1) of the view's size. "" or
    // why not.
    std::string setPassScale(int id, double scale);
    // Forgets program `id`; "" or why not (unknown, or in the chain).
    std::string free(int id);
    // The canvases programs' samplers read (null: none).
    void setCanvases(Canvases *set) { canvases = set; }
    // The next frames' `previous` is black until a frame has been drawn
    // (after a seek).
    void forgetPrevious() { previousValid = false; }
    // Keeps the finished picture of every frame, before the overlays, as
    // `previous` is kept (the scene goes through the pass's target even
    // without a chain): the output screen shows it. Off again with false.
    void keepPicture(bool on) { pictureKept = on; }
    // That picture of the latest frame, in the current context: its
    // framebuffer and size; 0 when none is kept.
    unsigned keptPicture(int &width, int &height) const;

    // --- The frame (the context that draws is current).

    // The frame's inputs that the automatic uniforms read (time, level,
    // spectrum, mouse); set once by the run that owns these shaders.
    void setInputs(const FrameInputs *frameInputs) { inputs = frameInputs; }
    // Once per tick: notes the programs whose files were saved (the run's
    // watched-file rule); they are relinked at the next paint.
    void takeSavedFiles(WatchedFile::Clock::time_point now);
    // Start of a paint: relinks programs whose files were saved, and fixed
    // function.
    void beginFrame();
    // After render(): fixed function, whatever render() left bound.
    void endRender();
    // True when the post pass writes every pixel of the view (its last
    // pass has no `discard`, or the scene only goes through for `previous`):
    // the paint then leaves the view's clearing to beginScene.
    bool postCoversView() const;
    // With a post chain, or a program that reads `previous`: binds the
    // pass's target, clears it and returns true; render() then draws into
    // it. False without one (the view cleared when a chain is set but
    // cannot run).
    bool beginScene();
    // Runs the chain over the framebuffer that was bound (the scene alone
    // when there is none), keeps the result as the next frame's `previous`
    // when a program reads it, then binds the overlay program: what is
    // drawn until finishScene keeps only the fragments nearer than the
    // scene's depth, as a view holding that depth would.
    void endScene();
    // Fixed function again after the overlays.
    void finishScene();
    // While a pass runs (between beginScene and finishScene), what is drawn
    // between these two adds to the scene's depth and draws no colour (the
    // floor's solid, which the pick and the marker meet).
    void beginSceneDepth();
    void endSceneDepth();
    // The scene's depth at view pixel (x, y); false when no pass runs.
    bool sceneDepthAt(int x, int y, float &depth);

    // The first error of a saved shader file that failed to compile
    // ("post.frag:3: error: ..."), "" while every file compiles.
    std::string reloadError() const;

    static const int kSpectrumBands = 64;

private:
    // One stage's origin: a file (watched) or text.
    struct Stage
    {
        bool present = false;
        bool isFile = false;
        std::string argument;   // as given
        std::string text;       // the source of the last good link
        WatchedFile file;       // the version taken is the one last read
    };

    struct Uniform
    {
        int location = -1;
        unsigned type = 0;
    };

    struct Program
    {
        bool post = false;
        bool discards = false;             // its fragment text has `discard`
        Stage vertex, fragment;
        unsigned name = 0;                 // GL program, 0 until built
        QOpenGLContext *context = nullptr; // where `name` lives
        std::map<std::string, Uniform> uniforms;
        std::map<std::string, std::vector<float>> values;   // from setUniform
        std::string reloadError;
        bool saved = false;                // a file was saved: relink at the next paint
        float scale = 1.0f;                // of the view's size, as a pass
        std::map<std::string, int> samplers;   // sampler name -> canvas id
    };

    // A picture a pass draws into (all but a last pass at full size).
    struct PassPicture
    {
        unsigned framebuffer = 0, colour = 0;
        int width = 0, height = 0;
    };

    // The post pass's target and the spectrum texture, in one context.
    struct PassTarget
    {
        QOpenGLContext *context = nullptr;
        unsigned framebuffer = 0, colour = 0, depth = 0, spectrum = 0;
        int width = 0, height = 0;
        unsigned depthFormat = 0;
        int viewFramebuffer = 0;           // bound when the scene began
        unsigned overlay = 0;              // the overlays' program
        int overlayDepth = -1, overlaySize = -1;
        std::vector<PassPicture> passes;   // by the pass's place in the chain
        PassPicture previous;              // the last frame, before the overlays
    };

    // Reads a stage's file into `text` (the version read becomes the one
    // taken); false with `log` when it cannot.
    static bool readStage(Stage &stage, std::string &text, std::string &log);
    // Makes `program` from the two texts in the current context; on
    // success it replaces program.name, else `log` says why.
    bool link(Program &program, const std::string &vertexText, const std::string &fragmentText,
              std::string &log);
    // Compiles in a context of our own when none is current.
    bool check(Program &program, const std::string &vertexText, const std::string &fragmentText,
               std::string &log);
    // The program built in the current context (lazily); null when it
    // cannot be.
    Program *built(int id);
    // Re-reads the saved files of `program` and relinks it.
    void reload(Program &program);
    // Sets the automatic uniforms it declares and the kept values.
    void applyUniforms(Program &program);
    // The spectrum texture of this frame, bound on kSpectrumUnit.
    void bindSpectrum(QOpenGLExtraFunctions *f);
    bool ensureTarget(QOpenGLExtraFunctions *f, int view, int width, int height);
    void releaseTarget();
    bool makeOverlayProgram(QOpenGLExtraFunctions *f);
    // `picture` at width x height (made again at another size; colour
    // only, cleared to black when made); false when it cannot be.
    bool ensurePicture(QOpenGLExtraFunctions *f, PassPicture &picture, int width, int height);
    void releasePicture(QOpenGLExtraFunctions *f, PassPicture &picture);
    // True when a program declares `previous`, or the picture is kept.
    bool wantsPrevious() const;
    // Binds the canvases of the program's samplers and `previous`.
    void bindSamplers(Program &program);
    // Runs the chain from the scene's target; the view is bound.
    void runChain(QOpenGLExtraFunctions *f);
    int add(Program program, std::string &log);

    std::map<int, Program> programs;
    int nextId = 1;
    int bound = 0;
    std::vector<int> chain;
    bool previousValid = false;   // `previous` holds the last frame
    bool pictureKept = false;     // keepPicture
    bool previousRoute = false;   // this frame goes through the target only for `previous`
    Canvases *canvases = nullptr;
    std::vector<std::pair<unsigned, QOpenGLContext *>> freedNames;   // deleted in their context
    bool passing = false;   // between beginScene and finishScene
    PassTarget target;
    // Per frame, worked out when a program first needs them.
    const FrameInputs *inputs = nullptr;
    long long spectrumFrame = -1, levelFrame = -1;
    float level = 0.0f;
    // A context of our own for checking programs loaded with none current.
    std::unique_ptr<QOpenGLContext> checkContext;
    std::unique_ptr<QOffscreenSurface> checkSurface;
};
