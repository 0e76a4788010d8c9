// DemoWorld: the world that drives the production. Each frame hook and mouse
// hook runs a short line of Lua naming the script's callback, so whatever
// function that global holds at the moment is the one called.
#pragma once

#include "ErrorBoard.h"
#include "World.h"

class Canvases;
class Scene;
class Shaders;

class DemoWorld : public World
{
public:
    // Sets gDemoWorld to this world.
    DemoWorld();
    // Clears gDemoWorld first.
    ~DemoWorld() override;

    // The latest error of each callback run (and of loading the production,
    // which the application reports here), for the view to show.
    ErrorBoard &errors() { return errorBoard; }
    const ErrorBoard &errors() const { return errorBoard; }

    // The frame calls since beginFrameCalls: the first error of update()
    // and render() ("" when they ran clean), and the error of the one the
    // runaway guard interrupted ("" when none was).
    void beginFrameCalls();
    const std::string &frameError() const { return firstFrameError; }
    const std::string &frameRunaway() const { return runawayError; }

    // The scene state that brackets each render() (null: none).
    void setScene(Scene *state) { scene = state; }
    // The run's shaders: reset after render(), and the post pass.
    void setShaders(Shaders *set) { shaders = set; }
    // The run's canvases: render() starts in the frame and is back in it
    // after, whatever canvas it left set.
    void setCanvases(Canvases *set) { canvases = set; }

protected:
    // Runs "update()"; its output and error go to the debug output, its
    // outcome to the error board (as do those of the hooks below).
    void update() override;
    // Runs "render()"; its output and error go to the debug output. The
    // scene's beginRender and endRender bracket it, and after it (also
    // after an error) drawing is fixed function again.
    void render() override;
    bool beginScene() override;
    void endScene() override;
    void finishScene() override;
    void beginFloorDepth() override;
    void endFloorDepth() override;
    float depthAt(int x, int y) override;
    // Runs OnMouseMove(x, y, dx, dy) with the cursor and its last movement.
    void onMouseMove(int x, int y) override;
    // Runs LMBDown(x, y) with the cursor position of the last move.
    void onLeftButtonDown(int x, int y) override;
    // Runs LMBUp(x, y) with the cursor position of the last move.
    void onLeftButtonUp(int x, int y) override;

private:
    // Runs a mouse callback chunk like RunScript (results dropped, the same
    // debug output) and reports its outcome to the board.
    void runMouseCall(const char *chunk, ErrorBoard::Source source);
    // Runs callback(x, y) with the cursor position, as runMouseCall does.
    void runButtonCall(const char *callback, ErrorBoard::Source source);

    // Reports a frame call's outcome to the board and keeps it for the frame.
    void frameCallDone(ErrorBoard::Source source, const std::string &error);

    ErrorBoard errorBoard;
    std::string firstFrameError;
    std::string runawayError;
    Scene *scene = nullptr;
    Shaders *shaders = nullptr;
    Canvases *canvases = nullptr;
};

// The one DemoWorld while it exists, null otherwise; the camera, input and
// voxel functions of the script interface reach the world through it.
extern DemoWorld *gDemoWorld;
