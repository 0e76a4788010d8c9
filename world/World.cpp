// World.cpp: the camera, the standard mouse camera, the per-frame matrices,
// and the overlays and picking that renderFrame draws around the scene.
#include "World.h"

#include "Shapes.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

const Vector3 kWorldUp(0.0f, 1.0f, 0.0f);
const float kDegreesPerRadian = 57.295776f;
const float kRadiansPerPixel = 0.008f;     // mouse look and orbit
const float kPoleGuardDegrees = 10.0f;     // orbit refuses to come closer to the vertical
const float kMarkerPixels = 15.0f;         // screen radius of the pick marker

// The current viewport as x, y, width, height.
void readViewport(GLint viewport[4])
{
    glGetIntegerv(GL_VIEWPORT, viewport);
}

// The current model-view and projection matrices, double precision.
void readMatrices(GLdouble modelView[16], GLdouble projection[16])
{
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
}

// Window point (wx, wy, depth) mapped back into world space.
Vector3 unproject(double wx, double wy, double depth, const GLdouble modelView[16],
                  const GLdouble projection[16], const GLint viewport[4])
{
    GLdouble x = 0.0, y = 0.0, z = 0.0;
    gluUnProject(wx, wy, depth, modelView, projection, viewport, &x, &y, &z);
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

// v is exactly the zero vector.
bool isZero(const Vector3 &v)
{
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

// Clamp v into [lo, hi].
int clampInt(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// One wheel step away from target: a tenth of the distance, at most 20
// units; zero when the eye is on the target.
Vector3 zoomStep(const Vector3 &eye, const Vector3 &target)
{
    float k = 0.1f * length(target - eye);
    if (k > 20.0f)
        k = 20.0f;
    else if (k < -20.0f)
        k = -20.0f;
    return normalized(eye - target) * k;
}

} // namespace

World::World()
{
    cameraTransform.setPosition(Vector3(162.0f, 66.0f, 35.0f));
    lookAt(Vector3(144.0f, 60.0f, 45.0f));
    cursorPosition = Vector3(300.0f, 300.0f, 0.0f);
}

World::~World() = default;

// --- Event entries -------------------------------------------------------

void World::stepFrame()
{
    if (stdMouseCam && leftButtonHeld && spaceHeld)
        orbit(pickedPoint, 0.0f, 0.0f);
    update();
}

void World::renderFrame()
{
    setupCamera();
    const bool passed = beginScene();
    if (!passed) {
        drawGrid();
        partDone(FramePart::Grid);
        render();
        partDone(FramePart::Render);
    } else {
        // Post pass: the scene alone, then the grid with the camera it
        // would have had, over the passed picture and against the scene's
        // depth.
        GLfloat projection[16], modelView[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
        render();
        endScene();
        partDone(FramePart::Render);
        for (auto [mode, matrix] : {std::pair{GL_PROJECTION, projection}, std::pair{GL_MODELVIEW, modelView}}) {
            glMatrixMode(mode);
            glPushMatrix();
            glLoadMatrixf(matrix);
        }
        drawGrid();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        partDone(FramePart::Grid);
    }
    drawFloor();
    partDone(FramePart::Floor);
    if (pickingEnabled)
        pickUnderCursor();
    partDone(FramePart::Pick);
    drawPickMarker();
    if (passed)
        finishScene();
    partDone(FramePart::Marker);
}

void World::setViewport(int x, int y, int w, int h)
{
    glViewport(x, y, w, h);
    viewWidth = w;
    viewHeight = h;
}

void World::mouseMove(int x, int y)
{
    GLint viewport[4];
    readViewport(viewport);
    // Height minus y, not minus y + 1: the top edge reads the full height.
    const Vector3 p(static_cast<float>(x), static_cast<float>(viewport[3] - y), 0.0f);
    cursorMovement = p - cursorPosition;
    cursorPosition = p;

    if (stdMouseCam) {
        if (rightButtonHeld)
            pan(cursorMovement.x, cursorMovement.y);
        if (leftButtonHeld) {
            const float a = kRadiansPerPixel * cursorMovement.x;
            const float b = kRadiansPerPixel * cursorMovement.y;
            if (!spaceHeld)
                rotateCamera(a, b);
            else
                orbit(pickedPoint, a, b);
        }
    }
    onMouseMove(x, y);
}

void World::leftButtonDown(int x, int y)
{
    leftButtonHeld = true;
    if (stdMouseCam)
        pickingEnabled = false;
    onLeftButtonDown(x, y);
}

void World::leftButtonUp(int x, int y)
{
    leftButtonHeld = false;
    pickingEnabled = true;
    onLeftButtonUp(x, y);
}

void World::rightButtonDown(int, int)
{
    rightButtonHeld = true;
    if (stdMouseCam)
        pickingEnabled = false;
}

void World::rightButtonUp(int, int)
{
    rightButtonHeld = false;
    pickingEnabled = true;
}

void World::wheelBackward(int, int)
{
    onWheelBackward();
}

void World::wheelForward(int, int)
{
    onWheelForward();
}

void World::keyDown(char key, int, int)
{
    if (key == ' ')
        spaceHeld = true;
}

void World::keyUp(char key, int, int)
{
    if (key == ' ')
        spaceHeld = false;
}

// --- Camera ----------------------------------------------------------------

void World::rotateCamera(float yaw, float pitch)
{
    cameraTransform.rotate(fromAxisAngle(kWorldUp, -yaw));
    const Vector3 right = cameraTransform.transformDirection(Vector3(1.0f, 0.0f, 0.0f));
    cameraTransform.rotate(fromAxisAngle(right, pitch));
}

void World::lookAt(const Vector3 &target)
{
    Vector3 d = target - cameraTransform.position();
    d.normalize();
    // No right axis (target on the camera or on its vertical): lookRotation
    // would be no rotation, so the previous orientation stays.
    if (isZero(cross(d, kWorldUp)))
        return;
    cameraTransform.setRotation(lookRotation(d, kWorldUp));
}

void World::orbit(const Vector3 &pivot, float yaw, float pitch)
{
    const Vector3 p = cameraTransform.position();
    const float dist = length(pivot - p);
    if (dist == 0.0f)
        return;   // on the pivot there is no direction to circle around
    const Vector3 v = normalized(pivot - p);

    // L looks from P straight at the pivot; R is the camera's deviation from it.
    Quaternion l = lookRotation(v, kWorldUp);
    l.normalize();
    const Quaternion lInverse(-l.w, l.x, l.y, l.z);
    const Quaternion r = lInverse * cameraTransform.rotation();

    // M: L turned by yaw about its own up axis, then by pitch about its right axis.
    Quaternion m = l * fromAxisAngle(kWorldUp, -yaw) * fromAxisAngle(Vector3(1.0f, 0.0f, 0.0f), pitch);
    m.normalize();
    const Vector3 f = rotateVector(m, Vector3(0.0f, 0.0f, -1.0f));

    // Pole guard: no move that brings the view closer than 10 degrees to the
    // vertical than it already is, where lookRotation has no right axis.
    const Vector3 down(0.0f, -1.0f, 0.0f);
    const float fd = angleBetween(f, down) * kDegreesPerRadian;
    const float fu = angleBetween(f, kWorldUp) * kDegreesPerRadian;
    const float vd = angleBetween(v, down) * kDegreesPerRadian;
    const float vu = angleBetween(v, kWorldUp) * kDegreesPerRadian;
    if (std::fabs(fd) < kPoleGuardDegrees && std::fabs(vd) > std::fabs(fd))
        return;
    if (std::fabs(fu) < kPoleGuardDegrees && std::fabs(vu) > std::fabs(fu))
        return;

    const Vector3 newPosition = pivot - rotateVector(m, Vector3(0.0f, 0.0f, -dist));
    cameraTransform.setPosition(newPosition);

    // Carry the deviation over to the new straight-at-pivot orientation,
    // reduced by one fifth.
    const Vector3 v2 = normalized(pivot - newPosition);
    const Quaternion l2 = lookRotation(v2, kWorldUp);
    cameraTransform.setRotation(slerp(l2 * r, l2, 0.2f, 0));
    cameraTransform.normalizeRotation();
}

void World::pan(float dx, float dy)
{
    GLdouble modelView[16], projection[16];
    GLint viewport[4];
    readMatrices(modelView, projection);
    readViewport(viewport);
    const double cx = cursorPosition.x;
    const double cy = cursorPosition.y;
    const Vector3 a = unproject(cx, cy, pickedDepth, modelView, projection, viewport);
    const Vector3 b = unproject(cx + dx, cy + dy, pickedDepth, modelView, projection, viewport);
    cameraTransform.translate(a - b);
}

void World::setupCamera()
{
    GLint viewport[4];
    readViewport(viewport);
    // A collapsed view has no aspect ratio; keep the last projection.
    if (viewport[3] != 0) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        const float aspect = static_cast<float>(viewport[2]) / static_cast<float>(viewport[3]);
        gluPerspective(fieldOfView, aspect, nearPlane, farPlane);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    Transform view = cameraTransform;
    view.invert();
    view.updateMatrix();
    const Matrix4 m = toMatrix4(view.matrix());
    glLoadMatrixf(m.m);
}

void World::setFieldOfView(float degrees)
{
    if (std::isfinite(degrees))
        fieldOfView = degrees < 1.0f ? 1.0f : (degrees > 179.0f ? 179.0f : degrees);
}

void World::setClipPlanes(float nearDistance, float farDistance)
{
    if (std::isfinite(nearDistance) && std::isfinite(farDistance) && nearDistance > 0.0f && nearDistance < farDistance) {
        nearPlane = nearDistance;
        farPlane = farDistance;
    }
}

// --- Hooks -------------------------------------------------------------------

void World::update() {}
void World::render() {}
bool World::beginScene() { return false; }
void World::endScene() {}
void World::finishScene() {}
void World::beginFloorDepth() {}
void World::endFloorDepth() {}

float World::depthAt(int x, int y)
{
    GLfloat depth = 0.0f;
    glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    return depth;
}

void World::onMouseMove(int, int) {}
void World::onLeftButtonDown(int, int) {}
void World::onLeftButtonUp(int, int) {}

void World::onWheelBackward()
{
    cameraTransform.translate(zoomStep(cameraTransform.position(), pickedPoint));
}

void World::onWheelForward()
{
    cameraTransform.translate(-zoomStep(cameraTransform.position(), pickedPoint));
}

// --- Overlays and picking --------------------------------------------------

void World::drawGrid()
{
    const float s = gridCellSize;
    const float extentX = static_cast<float>(gridCellsX) * s;
    const float extentZ = static_cast<float>(gridCellsZ) * s;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glColor3f(0.6f, 0.1f, 0.9f);
    if (!overlaysShown) {
        glPopMatrix();
        return;
    }
    glBegin(GL_LINES);
    for (int i = 0; i <= gridCellsX; ++i) {
        glVertex3f(static_cast<float>(i) * s, 0.0f, 0.0f);
        glVertex3f(static_cast<float>(i) * s, 0.0f, extentZ);
    }
    for (int j = 0; j <= gridCellsZ; ++j) {
        glVertex3f(0.0f, 0.0f, static_cast<float>(j) * s);
        glVertex3f(extentX, 0.0f, static_cast<float>(j) * s);
    }
    glEnd();
    glPopMatrix();
}

void World::drawFloor()
{
    const float extentX = static_cast<float>(gridCellsX) * gridCellSize;
    const float extentZ = static_cast<float>(gridCellsZ) * gridCellSize;
    const float e = 1.5f * (extentX > extentZ ? extentX : extentZ);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glScalef(1.0f, 0.05f, 1.0f);
    glTranslatef(extentX / 2.0f, -e / 2.0f, extentZ / 2.0f);
    glColor4f(0.3f, 0.3f, 0.8f, 1.0f);
    if (overlaysShown)
        drawWireCube(e);
    // Alpha 0: with the view's blending the colour stays, the depth is
    // written. Blended that way, unlit and untextured, the colour is left
    // alone outright, which spares reading it back under the whole floor.
    glColor4f(0.3f, 0.3f, 0.3f, 0.0f);
    const bool colourStays = BlendingIsAlphaOver() && !glIsEnabled(GL_LIGHTING) && !glIsEnabled(GL_TEXTURE_2D);
    if (colourStays) {
        glPushAttrib(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    }
    beginFloorDepth();
    drawSolidCube(e);
    endFloorDepth();
    if (colourStays)
        glPopAttrib();
    glPopMatrix();
}

void World::pickUnderCursor()
{
    GLdouble modelView[16], projection[16];
    GLint viewport[4];
    readMatrices(modelView, projection);
    readViewport(viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return;   // nothing on screen to pick; keep the last pick

    // The top edge of the view gives a cursor row one past the last row:
    // read from the nearest pixel inside the viewport.
    const int rx = clampInt(static_cast<int>(cursorPosition.x), viewport[0], viewport[0] + viewport[2] - 1);
    const int ry = clampInt(static_cast<int>(cursorPosition.y), viewport[1], viewport[1] + viewport[3] - 1);
    pickedDepth = depthAt(rx, ry);
    if (pickedDepth == 1.0f)
        pickedDepth = 0.1f;   // background: a point just in front of the camera
    pickedPoint = unproject(cursorPosition.x, cursorPosition.y, pickedDepth, modelView, projection, viewport);
}

void World::drawPickMarker()
{
    GLdouble modelView[16], projection[16];
    GLint viewport[4];
    readMatrices(modelView, projection);
    readViewport(viewport);

    GLdouble wx = 0.0, wy = 0.0, wz = 0.0;
    gluProject(pickedPoint.x, pickedPoint.y, pickedPoint.z, modelView, projection, viewport, &wx, &wy, &wz);
    const Vector3 q = unproject(wx + kMarkerPixels, wy, wz, modelView, projection, viewport);
    const float r = length(q - pickedPoint);

    glLineWidth(1.0f);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(pickedPoint.x, pickedPoint.y, pickedPoint.z);
    glColor4ub(0, 255, 0, 255);
    if (overlaysShown)
        drawWireSphere(r, 15, 15);
    glPopMatrix();
}
