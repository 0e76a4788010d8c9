// World: the scene object behind the 3D view. It owns the camera, turns the
// view's mouse, wheel and key events into camera motion (the standard mouse
// camera: look, orbit, pan, wheel zoom), loads the projection and view
// matrices every frame, draws the ground grid, the floor slab and the pick
// marker, and finds the world point under the cursor from the depth buffer.
// A subclass fills in the virtual hooks. Needs a current OpenGL context for
// every entry except the constructor, the camera commands that do not read
// GL state and the accessors; knows nothing of Qt or Lua.
#pragma once

#include "ScriptPrimitive.h"

#include "FrameProbe.h"
#include "ML_Maths"

class World
{
public:
    World();
    virtual ~World();

    // The script's immediate-mode bracket in this world.
    ScriptPrimitive &primitive() { return scriptPrimitive; }
    const ScriptPrimitive &primitive() const { return scriptPrimitive; }

    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // --- Event entries, called by the view (x, y: widget pixels, origin top-left).

    // Per frame tick: the held-button orbit step, then update().
    void stepFrame();
    // Per paint, after the buffers are cleared: matrices, grid, render(),
    // floor, pick, marker (with a post pass: render(), the pass, grid, ...).
    void renderFrame();
    // The probe told as each part of renderFrame ends (null: none).
    void setFrameProbe(FrameProbe *probe) { frameProbe = probe; }
    // Set the OpenGL viewport.
    void setViewport(int x, int y, int w, int h);
    // Width and height of the last viewport set, in pixels (0 before one).
    int viewportWidth() const { return viewWidth; }
    int viewportHeight() const { return viewHeight; }
    // Track the cursor and steer the standard mouse camera, then onMouseMove.
    void mouseMove(int x, int y);
    void leftButtonDown(int x, int y);
    void leftButtonUp(int x, int y);
    void rightButtonDown(int x, int y);
    void rightButtonUp(int x, int y);
    // One wheel step each, whatever the delta; x and y are not used.
    void wheelBackward(int x, int y);
    void wheelForward(int x, int y);
    // The space bar (32) is the orbit modifier; x and y are not used.
    void keyDown(char key, int x, int y);
    void keyUp(char key, int x, int y);

    // --- Camera commands and accessors.

    // The camera transform (the eye); the view matrix is its inverse.
    Transform &camera() { return cameraTransform; }
    const Transform &camera() const { return cameraTransform; }
    // Look around in place: yaw about the world's vertical axis (positive
    // turns right), then pitch about the camera's right axis (positive tilts
    // up); radians, no pitch limit.
    void rotateCamera(float yaw, float pitch);
    // Turn, without moving, to look at target. A target at the camera's own
    // position or straight above or below it has no right axis: the
    // orientation is then kept.
    void lookAt(const Vector3 &target);
    // Circle pivot at constant distance by yaw and pitch (radians), drawing
    // the aim 20% of the way toward the pivot; refuses moves toward within
    // 10 degrees of straight up or down; does nothing at distance 0.
    void orbit(const Vector3 &pivot, float yaw, float pitch);
    // Shift the camera by the world difference of the cursor and the cursor
    // moved by (dx, dy) pixels, both unprojected at pickedDepth.
    void pan(float dx, float dy);
    // Load the projection (fovy fieldOfView, near and far clip distances,
    // 0.1 and 20000 unless a production changed them; kept as it is while
    // the viewport has zero height) and the view matrix.
    void setupCamera();

    // The lens, used from the next setupCamera on by the picture, the pick,
    // the pan and the wheel zoom alike. The vertical field of view in
    // degrees is clamped into 1..179; NaN and infinities are ignored.
    void setFieldOfView(float degrees);
    float fieldOfViewDegrees() const { return fieldOfView; }
    // Ignored unless both are finite and 0 < nearDistance < farDistance.
    void setClipPlanes(float nearDistance, float farDistance);
    float nearClip() const { return nearPlane; }
    float farClip() const { return farPlane; }

    void enableStdMouseCam() { stdMouseCam = true; }
    void disableStdMouseCam() { stdMouseCam = false; }
    bool stdMouseCamEnabled() const { return stdMouseCam; }
    bool isPickingEnabled() const { return pickingEnabled; }

    // The authoring aids (grid, the floor's outline, pick marker) drawn or
    // not. Off, the frame leaves the same GL state and depth as on: the
    // floor still writes depth, so the pick and the mouse camera behave the
    // same, and render() sees the colour the grid would have left.
    void setOverlays(bool shown) { overlaysShown = shown; }
    bool overlays() const { return overlaysShown; }

    // Cursor in OpenGL window pixels (y up from the bottom, z = 0).
    Vector3 cursorPos() const { return cursorPosition; }
    // Cursor movement of the last mouse move.
    Vector3 cursorDelta() const { return cursorMovement; }
    // World point under the cursor found by the last pick.
    Vector3 pickPoint() const { return pickedPoint; }
    // Window depth (0 near .. 1 far) of the last pick.
    float pickDepth() const { return pickedDepth; }

    // --- Overlays and picking, called by renderFrame in this order.

    // The ground grid: gridCellsX + 1 lines along Z and gridCellsZ + 1 along
    // X in the plane y = 0, one corner at the origin, purple.
    void drawGrid();
    // The floor slab under the grid: a blue-grey wire outline and an
    // invisible (alpha 0) solid box that only writes depth.
    void drawFloor();
    // Read one depth value under the cursor into pickedDepth (1.0, nothing
    // drawn, becomes 0.1) and unproject it into pickedPoint.
    void pickUnderCursor();
    // A green wire sphere of 15 pixels' radius at the pick point.
    void drawPickMarker();

protected:
    // --- Hooks for subclasses, in slot order. Only the wheel hooks act here.

    virtual void update();
    virtual void render();
    // A post pass over the scene: beginScene returns true when render()
    // is to draw into a target of its own; endScene then brings the scene
    // over the view, and the overlays drawn after it (grid, floor, marker)
    // are tested against the scene's depth until finishScene.
    virtual bool beginScene();
    virtual void endScene();
    virtual void finishScene();
    // Around the floor's invisible solid, which only gives depth (for the
    // pick and the marker): a post pass sends it to the scene's depth.
    virtual void beginFloorDepth();
    virtual void endFloorDepth();
    // The depth under a view pixel, for the pick.
    virtual float depthAt(int x, int y);
    virtual void onMouseMove(int x, int y);
    virtual void onLeftButtonDown(int x, int y);
    virtual void onLeftButtonUp(int x, int y);
    // Zoom out: a tenth of the distance to the pick point, at most 20 units.
    virtual void onWheelBackward();
    // Zoom in: a tenth of the distance to the pick point, at most 20 units.
    virtual void onWheelForward();

    Transform cameraTransform;
    float fieldOfView = 90.0f;           // vertical field of view, degrees
    float nearPlane = 0.1f;              // clip distances of the projection
    float farPlane = 20000.0f;
    Vector3 cursorPosition;              // window pixels, y up, z = 0
    Vector3 cursorMovement;              // last change of cursorPosition
    Vector3 pickedPoint;                 // world point under the cursor
    float pickedDepth = 0.5f;            // window depth of the last pick
    int gridCellsX = 40;
    int gridCellsZ = 40;
    float gridCellSize = 10.0f;
    bool leftButtonHeld = false;
    bool rightButtonHeld = false;
    bool spaceHeld = false;
    bool stdMouseCam = true;             // the mouse camera reacts to the mouse
    bool pickingEnabled = true;          // off while a button drags the camera
    bool overlaysShown = true;           // grid, floor outline and marker drawn
    FrameProbe *frameProbe = nullptr;    // told the end of each part of a frame
    int viewWidth = 0;                   // the viewport's size, pixels
    int viewHeight = 0;

    void partDone(FramePart part)
    {
        if (frameProbe)
            frameProbe->partDone(part);
    }

private:
    ScriptPrimitive scriptPrimitive;
};
