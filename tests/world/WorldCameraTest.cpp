// The World's camera and standard mouse camera: construction, look, orbit with
// its pole guard and aim convergence, pan, wheel zoom and the projection.
#include "GLTestSupport.h"

namespace {

float heading(const Vector3 &d) { return std::atan2(d.x, -d.z); }
float elevation(const Vector3 &d) { return std::asin(normalized(d).y); }

// Rotation angle between two unit quaternions.
float rotationAngle(const Quaternion &a, const Quaternion &b)
{
    return 2.0f * std::acos(std::fmin(1.0f, std::fabs(dot(a, b))));
}

} // namespace

TEST(WorldCameraTest, ConstructionCameraAndAimsWithoutARightAxis)
{
    ProbeWorld world;
    const Transform before = world.camera();
    const Vector3 p = before.position();
    expectVecNear(p, Vector3(162, 66, 35), 0.0f);
    expectVecNear(forwardOf(before), normalized(Vector3(144, 60, 45) - p), 1e-6f);
    EXPECT_NEAR(before.transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);
    EXPECT_GT(before.transformDirection(Vector3(0, 1, 0)).y, 0.9f);

    // Its own position, straight up or down: the orientation stays; so does
    // everything when orbiting a pivot at distance 0.
    for (const Vector3 &target : {p, p + Vector3(0, 50, 0), p - Vector3(0, 3, 0)}) {
        world.lookAt(target);
        expectSameTransform(world.camera(), before);
    }
    world.orbit(p, 0.3f, 0.2f);
    expectSameTransform(world.camera(), before);
}

TEST_F(WorldGLTest, LeftDragLooksAroundInPlace)
{
    world.mouseMove(400, 300);
    world.leftButtonDown(400, 300);
    const Transform before = world.camera();
    world.mouseMove(410, 300);
    const Vector3 f0 = forwardOf(before), f1 = forwardOf(world.camera());
    expectVecNear(world.camera().position(), before.position(), 0.0f);
    EXPECT_NEAR(f1.y, f0.y, 1e-6f);
    EXPECT_NEAR(heading(f1) - heading(f0), 0.08f, 1e-5f);
    EXPECT_NEAR(world.camera().transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);

    world.mouseMove(410, 290);   // ten pixels up tilts up
    EXPECT_NEAR(elevation(forwardOf(world.camera())) - elevation(f1), 0.08f, 1e-5f);
    expectVecNear(world.camera().position(), before.position(), 0.0f);
}

TEST_F(WorldGLTest, LeftDragWithSpaceOrbitsThePickPointAtConstantDistance)
{
    world.pickedPoint = Vector3(144, 60, 45);   // straight ahead
    const float dist = length(world.pickedPoint - world.camera().position());
    world.mouseMove(400, 300);
    world.keyDown(' ', 400, 300);
    world.leftButtonDown(400, 300);
    const Vector3 p0 = world.camera().position();
    world.mouseMove(410, 300);
    const Vector3 p1 = world.camera().position();
    EXPECT_NEAR(length(world.pickedPoint - p1), dist, 1e-3f);
    EXPECT_NEAR(length(p1 - p0), 2.0f * dist * std::sin(0.04f), 0.05f);   // an arc of 0.08 rad
    EXPECT_NEAR(angleBetween(forwardOf(world.camera()), world.pickedPoint - p1), 0.0f, 1e-3f);

    world.mouseMove(410, 280);   // the aim tilts up: the camera sinks around the pivot
    EXPECT_NEAR(length(world.pickedPoint - world.camera().position()), dist, 1e-3f);
    EXPECT_LT(world.camera().position().y, p1.y - 1.0f);
}

TEST_F(WorldGLTest, PoleGuardRefusesMovesTowardTheVerticalOnly)
{
    const Vector3 pivot(100, 0, 100);
    const float dist = 50.0f;
    const float fromVertical = 8.0f / 57.295776f;
    for (float side : {1.0f, -1.0f}) {   // above looking down, below looking up
        SCOPED_TRACE(side);
        world.camera().setPosition(pivot + Vector3(0, side * std::cos(fromVertical), std::sin(fromVertical)) * dist);
        world.lookAt(pivot);
        const Transform before = world.camera();
        world.orbit(pivot, 0.0f, -side * 0.05f);
        expectSameTransform(world.camera(), before);

        world.orbit(pivot, 0.0f, side * 0.05f);
        EXPECT_GT(length(world.camera().position() - before.position()), 1.0f);
        EXPECT_NEAR(length(pivot - world.camera().position()), dist, 1e-3f);
        EXPECT_GT(angleBetween(pivot - world.camera().position(), Vector3(0, -side, 0)), fromVertical);
    }
}

TEST_F(WorldGLTest, HeldButtonAndSpaceConvergeTheAimByAFifthPerFrame)
{
    world.pickedPoint = Vector3(150, 40, 70);
    const Transform start = world.camera();
    world.leftButtonDown(400, 300);
    world.stepFrame();   // space up
    world.keyDown(' ', 0, 0);
    world.disableStdMouseCam();
    world.stepFrame();
    expectSameTransform(world.camera(), start);
    world.enableStdMouseCam();

    const Quaternion straight = lookRotation(normalized(world.pickedPoint - start.position()), Vector3(0, 1, 0));
    float remaining = rotationAngle(start.rotation(), straight);
    ASSERT_GT(remaining, 0.2f);
    for (int frame = 0; frame < 6; ++frame) {
        world.stepFrame();
        expectVecNear(world.camera().position(), start.position(), 1e-3f);
        const float now = rotationAngle(world.camera().rotation(), straight);
        EXPECT_NEAR(now / remaining, 0.8f, 0.01f) << "frame " << frame;
        remaining = now;
    }
    const Transform held = world.camera();
    world.keyUp(' ', 0, 0);
    world.stepFrame();
    expectSameTransform(world.camera(), held);
}

TEST_F(WorldGLTest, RightDragPansWithTheCursorOnlyWithTheMouseCameraOn)
{
    world.setupCamera();
    world.pickedDepth = 0.98f;
    world.mouseMove(400, 300);
    world.rightButtonDown(400, 300);
    const Vector3 grabbed = unprojectFromWindow(Vector3(400, 300, world.pickedDepth));
    const Quaternion rotation = world.camera().rotation();
    world.mouseMove(420, 290);   // 20 right, 10 up
    world.setupCamera();
    expectVecNear(windowXY(grabbed), Vector3(420, 310, 0), 0.05f);
    EXPECT_NEAR(projectToWindow(grabbed).z, world.pickedDepth, 1e-5f);
    EXPECT_TRUE(sameQuaternion(world.camera().rotation(), rotation));

    // Off: neither a pan nor a look moves the camera; the cursor is still tracked.
    world.disableStdMouseCam();
    world.leftButtonDown(420, 290);
    const Transform before = world.camera();
    world.mouseMove(450, 250);
    expectSameTransform(world.camera(), before);
    expectVecNear(world.cursorDelta(), Vector3(30, 40, 0), 0.0f);
}

TEST_F(WorldGLTest, WheelStepsATenthOfTheDistanceAtMostTwentyUnits)
{
    const Vector3 dir = normalized(Vector3(1, 2, 2));
    // The view sends wheelBackward for a delta of 0 or less: that zooms out.
    const float cases[][3] = {{100, 1, 90}, {500, 1, 480}, {100, 0, 110}, {500, 0, 520}};   // start, forward, end
    for (const auto &c : cases) {
        world.camera().setPosition(Vector3(10, 20, 30));
        world.pickedPoint = world.camera().position() + dir * c[0];
        c[1] > 0 ? world.wheelForward(0, 0) : world.wheelBackward(0, 0);
        const Vector3 offset = world.pickedPoint - world.camera().position();
        EXPECT_NEAR(length(offset), c[2], 1e-3f) << c[0] << (c[1] > 0 ? " forward" : " backward");
        expectVecNear(normalized(offset), dir, 1e-5f);
    }
}

TEST_F(WorldGLTest, SetupCameraLoadsViewAndProjectionButSkipsAZeroHeightProjection)
{
    // The eye sees 90 degrees vertically at the viewport's aspect, 0.1 to 20000 ahead.
    auto expectFrustum = [this] {
        const Transform &cam = world.camera();
        const Vector3 ahead = cam.position() + forwardOf(cam) * 10.0f;
        const Vector3 right = cam.transformDirection(Vector3(10.0f * kViewWidth / kViewHeight, 0, 0));
        expectVecNear(windowXY(ahead + cam.transformDirection(Vector3(0, 10, 0))), Vector3(400, 600, 0), 0.05f);
        expectVecNear(windowXY(ahead + right), Vector3(800, 300, 0), 0.05f);
        EXPECT_NEAR(projectToWindow(cam.position() + forwardOf(cam) * 0.1f).z, 0.0f, 1e-3f);
        EXPECT_NEAR(projectToWindow(cam.position() + forwardOf(cam) * 20000.0f).z, 1.0f, 1e-3f);
    };
    world.rotateCamera(0.4f, -0.3f);
    world.setupCamera();
    expectFrustum();

    GLfloat before[16], after[16];
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    world.setViewport(0, 0, kViewWidth, 0);
    world.camera().translate(Vector3(5, -7, 3));
    world.setupCamera();
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(after[i], before[i]) << i;
    world.setViewport(0, 0, kViewWidth, kViewHeight);
    expectFrustum();   // the view matrix followed the camera
}
