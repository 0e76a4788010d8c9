// Tests of the World's camera and standard mouse camera: construction, look,
// orbit with its pole guard and aim convergence, pan, wheel zoom, the drag
// states that pause picking, cursor tracking, keys and the projection.
#include "GLTestSupport.h"

namespace {

void expectVecNear(const Vector3 &a, const Vector3 &b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

void expectSameTransform(const Transform &a, const Transform &b)
{
    EXPECT_EQ(a.position().x, b.position().x);
    EXPECT_EQ(a.position().y, b.position().y);
    EXPECT_EQ(a.position().z, b.position().z);
    EXPECT_EQ(a.rotation().w, b.rotation().w);
    EXPECT_EQ(a.rotation().x, b.rotation().x);
    EXPECT_EQ(a.rotation().y, b.rotation().y);
    EXPECT_EQ(a.rotation().z, b.rotation().z);
}

// Heading of a direction in the horizontal plane, radians.
float heading(const Vector3 &d)
{
    return std::atan2(d.x, -d.z);
}

// Elevation of a direction above the horizontal plane, radians.
float elevation(const Vector3 &d)
{
    return std::asin(normalized(d).y);
}

} // namespace

TEST(WorldConstructionTest, CameraAndInitialState)
{
    ProbeWorld world;
    const Transform &cam = world.camera();
    EXPECT_EQ(cam.position().x, 162.0f);
    EXPECT_EQ(cam.position().y, 66.0f);
    EXPECT_EQ(cam.position().z, 35.0f);
    EXPECT_EQ(cam.scale(), 1.0f);
    const Vector3 toTarget = normalized(Vector3(144, 60, 45) - cam.position());
    expectVecNear(forwardOf(cam), toTarget, 1e-6f);
    // No roll: the right axis is horizontal, the up axis leans up.
    EXPECT_NEAR(cam.transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);
    EXPECT_GT(cam.transformDirection(Vector3(0, 1, 0)).y, 0.9f);

    EXPECT_EQ(world.fieldOfView, 90.0f);
    expectVecNear(world.cursorPos(), Vector3(300, 300, 0), 0.0f);
    expectVecNear(world.cursorDelta(), Vector3(), 0.0f);
    expectVecNear(world.pickPoint(), Vector3(), 0.0f);
    EXPECT_EQ(world.pickDepth(), 0.5f);
    EXPECT_EQ(world.gridCellsX, 40);
    EXPECT_EQ(world.gridCellsZ, 40);
    EXPECT_EQ(world.gridCellSize, 10.0f);
    EXPECT_FALSE(world.leftButtonHeld);
    EXPECT_FALSE(world.rightButtonHeld);
    EXPECT_FALSE(world.spaceHeld);
    EXPECT_TRUE(world.stdMouseCamEnabled());
    EXPECT_TRUE(world.isPickingEnabled());
}

TEST(WorldConstructionTest, LookAtWithoutARightAxisKeepsTheOrientation)
{
    ProbeWorld world;
    const Transform before = world.camera();
    world.lookAt(before.position());
    expectSameTransform(world.camera(), before);
    world.lookAt(before.position() + Vector3(0, 50, 0));
    expectSameTransform(world.camera(), before);
    world.lookAt(before.position() - Vector3(0, 3, 0));
    expectSameTransform(world.camera(), before);

    // Any other target is looked at, the position kept.
    world.lookAt(Vector3(0, 0, 0));
    expectVecNear(forwardOf(world.camera()), normalized(-before.position()), 1e-6f);
    expectVecNear(world.camera().position(), before.position(), 0.0f);
}

TEST(WorldConstructionTest, OrbitAtDistanceZeroDoesNothing)
{
    ProbeWorld world;
    const Transform before = world.camera();
    world.orbit(before.position(), 0.3f, 0.2f);
    expectSameTransform(world.camera(), before);
}

TEST(WorldConstructionTest, RotateCameraYawsAboutWorldVerticalThenPitchesUp)
{
    ProbeWorld world;
    const Vector3 f0 = forwardOf(world.camera());
    world.rotateCamera(0.3f, 0.0f);
    const Vector3 f1 = forwardOf(world.camera());
    EXPECT_NEAR(f1.y, f0.y, 1e-6f);
    EXPECT_NEAR(heading(f1) - heading(f0), 0.3f, 1e-5f);   // to the right
    world.rotateCamera(0.0f, 0.2f);
    EXPECT_NEAR(elevation(forwardOf(world.camera())) - elevation(f1), 0.2f, 1e-5f);
    EXPECT_NEAR(world.camera().transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-5f);
}

TEST_F(WorldGLTest, LeftDragLooksAroundInPlace)
{
    world.mouseMove(400, 300);
    world.leftButtonDown(400, 300);
    const Transform before = world.camera();
    world.mouseMove(410, 300);

    const Vector3 f0 = forwardOf(before);
    const Vector3 f1 = forwardOf(world.camera());
    expectVecNear(world.camera().position(), before.position(), 0.0f);
    EXPECT_NEAR(f1.y, f0.y, 1e-6f);
    EXPECT_NEAR(heading(f1) - heading(f0), 0.08f, 1e-5f);
    EXPECT_NEAR(world.camera().transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);

    // Ten pixels up tilts the view up by 0.08.
    world.mouseMove(410, 290);
    EXPECT_NEAR(elevation(forwardOf(world.camera())) - elevation(f1), 0.08f, 1e-5f);
    expectVecNear(world.camera().position(), before.position(), 0.0f);
}

TEST_F(WorldGLTest, LeftDragWithSpaceOrbitsThePickPointAtConstantDistance)
{
    world.pickedPoint = Vector3(144, 60, 45);
    const float dist = length(world.pickedPoint - world.camera().position());
    world.mouseMove(400, 300);
    world.keyDown(' ', 400, 300);
    world.leftButtonDown(400, 300);
    const Vector3 p0 = world.camera().position();
    world.mouseMove(410, 300);
    const Vector3 p1 = world.camera().position();
    EXPECT_NEAR(length(world.pickedPoint - p1), dist, 1e-3f);
    // An arc of 0.08 rad at that distance.
    EXPECT_NEAR(length(p1 - p0), 2.0f * dist * std::sin(0.04f), 0.05f);
    // Still looking at the pivot: it was straight ahead before.
    EXPECT_NEAR(angleBetween(forwardOf(world.camera()), world.pickedPoint - p1), 0.0f, 1e-3f);

    world.mouseMove(410, 280);
    EXPECT_NEAR(length(world.pickedPoint - world.camera().position()), dist, 1e-3f);
    // Moving the mouse up tilts the aim up: the camera sinks around the pivot.
    EXPECT_LT(world.camera().position().y, p1.y - 1.0f);
}

TEST_F(WorldGLTest, PoleGuardRefusesMovesTowardTheVerticalOnly)
{
    const Vector3 pivot(100, 0, 100);
    const float dist = 50.0f;
    const float fromVertical = 8.0f / 57.295776f;
    for (float side : {1.0f, -1.0f}) {
        // side 1: above the pivot looking down; side -1: below it looking up.
        SCOPED_TRACE(side > 0 ? "looking down" : "looking up");
        world.camera().setPosition(pivot + Vector3(0, side * dist * std::cos(fromVertical), dist * std::sin(fromVertical)));
        world.lookAt(pivot);
        const Transform before = world.camera();

        // Pitch down (negative) when looking down, up when looking up: closer to the pole.
        world.orbit(pivot, 0.0f, -side * 0.05f);
        expectSameTransform(world.camera(), before);

        // The other way is carried out.
        world.orbit(pivot, 0.0f, side * 0.05f);
        EXPECT_GT(length(world.camera().position() - before.position()), 1.0f);
        EXPECT_NEAR(length(pivot - world.camera().position()), dist, 1e-3f);
        const Vector3 v = pivot - world.camera().position();
        EXPECT_GT(angleBetween(v, Vector3(0, -side, 0)), fromVertical);
    }
}

TEST_F(WorldGLTest, HeldButtonAndSpaceConvergeTheAimByAFifthPerFrame)
{
    world.pickedPoint = Vector3(150, 40, 70);
    world.keyDown(' ', 0, 0);
    world.leftButtonDown(400, 300);
    const Vector3 p0 = world.camera().position();
    const Vector3 toPivot = normalized(world.pickedPoint - p0);
    Quaternion straight = lookRotation(toPivot, Vector3(0, 1, 0));
    straight.normalize();

    float remaining = rotationAngle(world.camera().rotation(), straight);
    ASSERT_GT(remaining, 0.2f);
    for (int frame = 0; frame < 6; ++frame) {
        world.stepFrame(0.05f);
        expectVecNear(world.camera().position(), p0, 1e-3f);
        const float now = rotationAngle(world.camera().rotation(), straight);
        EXPECT_NEAR(now / remaining, 0.8f, 0.01f) << "frame " << frame;
        remaining = now;
    }
    EXPECT_EQ(world.calls.back(), "update " + std::to_string(0.05f));
}

TEST_F(WorldGLTest, StepFrameOrbitsOnlyWithButtonSpaceAndMouseCamera)
{
    world.pickedPoint = Vector3(150, 40, 70);
    const Transform start = world.camera();
    world.leftButtonDown(400, 300);
    world.stepFrame(0.05f);   // space up
    expectSameTransform(world.camera(), start);
    world.keyDown(' ', 0, 0);
    world.disableStdMouseCam();
    world.stepFrame(0.05f);   // mouse camera off
    expectSameTransform(world.camera(), start);
    world.enableStdMouseCam();
    world.stepFrame(0.05f);
    EXPECT_GT(rotationAngle(world.camera().rotation(), start.rotation()), 1e-3f);
}

TEST_F(WorldGLTest, RightDragPansTheSceneWithTheCursor)
{
    world.setupCamera();
    world.pickedDepth = 0.98f;
    world.mouseMove(400, 300);
    world.rightButtonDown(400, 300);
    const Vector3 grabbed = unprojectFromWindow(400, 300, world.pickedDepth);
    const Quaternion rotation = world.camera().rotation();
    world.mouseMove(420, 290);   // 20 right, 10 up

    world.setupCamera();
    const Vector3 w = projectToWindow(grabbed);
    EXPECT_NEAR(w.x, 420.0f, 0.05f);
    EXPECT_NEAR(w.y, 310.0f, 0.05f);
    EXPECT_NEAR(w.z, world.pickedDepth, 1e-5f);
    EXPECT_EQ(world.camera().rotation().w, rotation.w);
    EXPECT_EQ(world.camera().rotation().y, rotation.y);
}

TEST_F(WorldGLTest, RightDragDoesNothingWithTheMouseCameraOff)
{
    world.setupCamera();
    world.disableStdMouseCam();
    world.mouseMove(400, 300);
    world.rightButtonDown(400, 300);
    const Transform before = world.camera();
    world.mouseMove(450, 250);
    expectSameTransform(world.camera(), before);
    EXPECT_TRUE(world.isPickingEnabled());

    // Switching it off mid-drag stops a look at once, too.
    world.enableStdMouseCam();
    world.leftButtonDown(450, 250);
    world.disableStdMouseCam();
    world.mouseMove(470, 240);
    expectSameTransform(world.camera(), before);
    expectVecNear(world.cursorDelta(), Vector3(20, 10, 0), 0.0f);
}

TEST_F(WorldGLTest, WheelStepsATenthOfTheDistanceAtMostTwentyUnits)
{
    const Vector3 dir = normalized(Vector3(1, 2, 2));
    struct Case
    {
        float start;
        bool forward;
        float expected;
    };
    for (const Case &c : {Case{100, true, 90}, Case{500, true, 480}, Case{100, false, 110}, Case{500, false, 520}}) {
        world.camera().setPosition(Vector3(10, 20, 30));
        world.pickedPoint = world.camera().position() + dir * c.start;
        if (c.forward)
            world.wheelForward(0, 0);
        else
            world.wheelBackward(0, 0);
        const Vector3 offset = world.pickedPoint - world.camera().position();
        EXPECT_NEAR(length(offset), c.expected, 1e-3f) << c.start << (c.forward ? " forward" : " backward");
        expectVecNear(normalized(offset), dir, 1e-5f);
    }

    // The wheel zooms with the mouse camera off as well; on the pick point it stays.
    world.disableStdMouseCam();
    world.camera().setPosition(Vector3(0, 0, 0));
    world.pickedPoint = Vector3(0, 0, 50);
    world.wheelForward(0, 0);
    EXPECT_NEAR(world.camera().position().z, 5.0f, 1e-5f);
    world.camera().setPosition(world.pickedPoint);
    world.wheelForward(0, 0);
    world.wheelBackward(0, 0);
    expectVecNear(world.camera().position(), world.pickedPoint, 0.0f);
}

TEST_F(WorldGLTest, PressesPausePickingOnlyWithTheMouseCameraOn)
{
    world.leftButtonDown(1, 2);
    EXPECT_TRUE(world.leftButtonHeld);
    EXPECT_FALSE(world.isPickingEnabled());
    world.leftButtonUp(1, 2);
    EXPECT_TRUE(world.isPickingEnabled());
    world.rightButtonDown(1, 2);
    EXPECT_TRUE(world.rightButtonHeld);
    EXPECT_FALSE(world.isPickingEnabled());
    // Any release turns it on again, whatever button is still held.
    world.leftButtonDown(1, 2);
    world.leftButtonUp(1, 2);
    EXPECT_TRUE(world.isPickingEnabled());
    EXPECT_TRUE(world.rightButtonHeld);
    world.rightButtonUp(1, 2);
    EXPECT_FALSE(world.rightButtonHeld);

    world.disableStdMouseCam();
    world.leftButtonDown(1, 2);
    EXPECT_TRUE(world.isPickingEnabled());
    world.rightButtonDown(1, 2);
    EXPECT_TRUE(world.isPickingEnabled());
}

TEST_F(WorldGLTest, CursorCountsRowsUpFromTheBottom)
{
    world.mouseMove(5, 0);
    expectVecNear(world.cursorPos(), Vector3(5, kViewHeight, 0), 0.0f);
    expectVecNear(world.cursorDelta(), Vector3(-295, kViewHeight - 300, 0), 0.0f);
    world.mouseMove(5, kViewHeight - 1);
    expectVecNear(world.cursorPos(), Vector3(5, 1, 0), 0.0f);
    expectVecNear(world.cursorDelta(), Vector3(0, 1 - kViewHeight, 0), 0.0f);
    // The hook gets the widget coordinates.
    EXPECT_EQ(world.calls.back(), "move 5 599");
}

TEST_F(WorldGLTest, EntriesCallTheirHooksAfterRecordingState)
{
    world.leftButtonDown(3, 4);
    world.rightButtonDown(5, 6);
    world.rightButtonUp(7, 8);
    world.leftButtonUp(9, 10);
    world.keyDown('a', 11, 12);
    EXPECT_FALSE(world.spaceHeld);
    world.keyDown(' ', 13, 14);
    EXPECT_TRUE(world.spaceHeld);
    world.keyUp('a', 15, 16);
    EXPECT_TRUE(world.spaceHeld);
    world.keyUp(' ', 17, 18);
    EXPECT_FALSE(world.spaceHeld);
    const std::vector<std::string> expected = {"leftDown 3 4", "rightDown 5 6", "rightUp 7 8", "leftUp 9 10",
                                               "keyDown a 11 12", "keyDown   13 14", "keyUp a 15 16", "keyUp   17 18"};
    EXPECT_EQ(world.calls, expected);
}

TEST_F(WorldGLTest, SetupCameraLoadsTheViewAndTheProjection)
{
    world.rotateCamera(0.4f, -0.3f);
    world.setupCamera();
    const Transform &cam = world.camera();
    // The eye is the origin of eye space; points ahead lie on -Z.
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    auto toEye = [&mv](const Vector3 &p) {
        return Vector3(mv[0] * p.x + mv[4] * p.y + mv[8] * p.z + mv[12], mv[1] * p.x + mv[5] * p.y + mv[9] * p.z + mv[13],
                       mv[2] * p.x + mv[6] * p.y + mv[10] * p.z + mv[14]);
    };
    expectVecNear(toEye(cam.position()), Vector3(), 1e-4f);
    expectVecNear(toEye(cam.position() + forwardOf(cam) * 7.0f), Vector3(0, 0, -7), 1e-4f);

    // Near plane at 0.1, far plane at 20000, 90 degrees vertically.
    EXPECT_NEAR(projectToWindow(cam.position() + forwardOf(cam) * 0.1f).z, 0.0f, 1e-3f);
    EXPECT_NEAR(projectToWindow(cam.position() + forwardOf(cam) * 20000.0f).z, 1.0f, 1e-3f);
    const Vector3 up = cam.transformDirection(Vector3(0, 1, 0));
    const Vector3 topEdge = projectToWindow(cam.position() + forwardOf(cam) * 10.0f + up * 10.0f);
    EXPECT_NEAR(topEdge.y, kViewHeight, 0.05f);
    EXPECT_NEAR(topEdge.x, kViewWidth / 2, 0.05f);
}

TEST_F(WorldGLTest, ZeroHeightViewportKeepsTheLastProjection)
{
    world.setupCamera();
    GLfloat before[16];
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    world.setViewport(0, 0, kViewWidth, 0);
    world.rotateCamera(0.5f, 0.0f);
    world.setupCamera();
    GLfloat after[16];
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    for (int i = 0; i < 16; ++i) {
        ASSERT_FALSE(std::isnan(after[i]));
        EXPECT_EQ(after[i], before[i]);
    }
    // The view matrix still follows the camera.
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    const Vector3 p = world.camera().position();
    EXPECT_NEAR(mv[0] * p.x + mv[4] * p.y + mv[8] * p.z + mv[12], 0.0f, 1e-4f);
}
