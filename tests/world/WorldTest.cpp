// The World: its camera, the standard mouse camera, the marker and the pick.
#include "GLTestSupport.h"

#include <algorithm>

namespace {

float Heading(const Vector3 &d) { return std::atan2(d.x, -d.z); }
float Elevation(const Vector3 &d) { return std::asin(normalized(d).y); }

// The pole guard refuses orbits toward the vertical only.
TEST(World, AimsWithoutARightAxisAndOrbitsTowardThePolesKeepTheCamera)
{
    ProbeWorld world;
    const Transform start = world.camera();
    const Vector3 p = start.position();
    for (const Vector3 &target : {p, p + Vector3(0, 50, 0), p - Vector3(0, 3, 0)}) {
        world.lookAt(target);
        EXPECT_TRUE(Same(world.camera(), start));
    }
    world.orbit(p, 0.3f, 0.2f);
    EXPECT_TRUE(Same(world.camera(), start));
    const Vector3 pivot(100, 0, 100);
    const float fromVertical = 8.0f / 57.295776f;
    for (float side : {1.0f, -1.0f}) { // above looking down, below looking up
        world.camera().setPosition(pivot + Vector3(0, side * std::cos(fromVertical), std::sin(fromVertical)) * 50.0f);
        world.lookAt(pivot);
        const Transform before = world.camera();
        world.orbit(pivot, 0.0f, -side * 0.05f);
        EXPECT_TRUE(Same(world.camera(), before)) << side;
        world.orbit(pivot, 0.0f, side * 0.05f);
        EXPECT_GT(length(world.camera().position() - before.position()), 1.0f);
        EXPECT_NEAR(length(pivot - world.camera().position()), 50.0f, 1e-3f);
    }
}

using WorldTest = WorldGLTest;

// 0.008 rad per pixel: a plain drag turns in place without roll; with space
// it orbits the pick point at a constant distance, aiming at it.
TEST_F(WorldTest, LeftDragLooksAroundInPlaceAndWithSpaceOrbitsThePickPoint)
{
    world.pickedPoint = Vector3(144, 60, 45);
    const Transform start = world.camera();
    const float dist = length(world.pickedPoint - start.position());
    world.mouseMove(400, 300);
    world.leftButtonDown(400, 300);
    world.mouseMove(410, 290);
    ExpectNear(world.camera().position(), start.position(), 0.0f);
    EXPECT_NEAR(Heading(Forward(world.camera())) - Heading(Forward(start)), 0.08f, 1e-5f);
    EXPECT_NEAR(Elevation(Forward(world.camera())) - Elevation(Forward(start)), 0.08f, 1e-5f);
    EXPECT_NEAR(world.camera().transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);
    world.leftButtonUp(410, 290);
    world.camera() = start;
    world.keyDown(' ', 400, 300);
    world.leftButtonDown(400, 300);
    world.mouseMove(410, 300);
    const Vector3 p1 = world.camera().position();
    EXPECT_NEAR(length(world.pickedPoint - p1), dist, 1e-3f);
    EXPECT_NEAR(length(p1 - start.position()), 2.0f * dist * std::sin(0.04f), 0.05f);
    EXPECT_NEAR(angleBetween(Forward(world.camera()), world.pickedPoint - p1), 0.0f, 1e-3f);
    world.mouseMove(410, 280); // tilting up sinks the camera around the pivot
    EXPECT_NEAR(length(world.pickedPoint - world.camera().position()), dist, 1e-3f);
    EXPECT_LT(world.camera().position().y, p1.y - 1.0f);
}

TEST_F(WorldTest, HeldButtonAndSpaceConvergeTheAimByAFifthPerFrame)
{
    world.pickedPoint = Vector3(150, 40, 70);
    const Transform start = world.camera();
    world.leftButtonDown(400, 300);
    world.stepFrame();
    world.keyDown(' ', 0, 0);
    world.disableStdMouseCam();
    world.stepFrame();
    EXPECT_TRUE(Same(world.camera(), start));
    world.enableStdMouseCam();
    const Quaternion straight = lookRotation(normalized(world.pickedPoint - start.position()), Vector3(0, 1, 0));
    const auto angle = [&] { return 2.0f * std::acos(std::fmin(1.0f, std::fabs(dot(world.camera().rotation(), straight)))); };
    for (int frame = 0; frame < 4; ++frame) {
        const float remaining = angle();
        world.stepFrame();
        EXPECT_NEAR(angle() / remaining, 0.8f, 0.01f) << frame;
    }
    ExpectNear(world.camera().position(), start.position(), 1e-3f);
    const Transform held = world.camera();
    world.keyUp(' ', 0, 0);
    world.stepFrame();
    EXPECT_TRUE(Same(world.camera(), held));
}

TEST_F(WorldTest, RightDragPansWithTheCursorAndTheWheelStepsATenthOfTheDistance)
{
    world.setupCamera();
    world.pickedDepth = 0.98f;
    world.mouseMove(400, 300);
    world.rightButtonDown(400, 300);
    const Vector3 grabbed = Window(Vector3(400, 300, 0.98f), true);
    world.mouseMove(420, 290);
    world.setupCamera();
    ExpectNear(Window(grabbed), Vector3(420, 310, 0.98f), 0.05f);
    world.rightButtonUp(420, 290);
    world.disableStdMouseCam(); // off: neither a pan nor a look; the cursor is still tracked
    world.leftButtonDown(420, 290);
    const Transform before = world.camera();
    world.mouseMove(450, 250);
    EXPECT_TRUE(Same(world.camera(), before));
    ExpectNear(world.cursorDelta(), Vector3(30, 40, 0), 0.0f);
    const Vector3 dir = normalized(Vector3(1, 2, 2));
    for (const auto &[start, forward, end] : {std::tuple{100.0f, true, 90.0f}, {500.0f, true, 480.0f}, {100.0f, false, 110.0f}, {500.0f, false, 520.0f}}) {
        world.camera().setPosition(Vector3(10, 20, 30));
        world.pickedPoint = world.camera().position() + dir * start;
        forward ? world.wheelForward(0, 0) : world.wheelBackward(0, 0);
        ExpectNear(world.pickedPoint - world.camera().position(), dir * end, 1e-3f);
    }
}

TEST_F(WorldTest, AViewportOfHeightZeroKeepsTheLastProjection)
{
    GLfloat before[16], after[16];
    world.setupCamera();
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    world.setViewport(0, 0, kViewWidth, 0);
    world.setupCamera();
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    EXPECT_TRUE(std::equal(before, before + 16, after));
}

TEST_F(WorldTest, TheMarkerIs15PixelsInRadiusFromAnyDistance)
{
    world.pickedPoint = Vector3(200, 0, 200);
    for (const Vector3 &eye : {Vector3(200, 500, 200.5f), Vector3(320, 90, 260), Vector3(-800, 1500, 2000)}) {
        world.camera().setPosition(eye);
        world.lookAt(world.pickedPoint);
        world.setupCamera();
        const Vector3 centre = Window(world.pickedPoint);
        float radius = 0.0f;
        for (const Primitive &line : CaptureFeedback([this] { world.drawPickMarker(); }).lines)
            for (const FeedbackVertex &v : line)
                radius = std::fmax(radius, std::hypot(v.x - centre.x, v.y - centre.y));
        EXPECT_NEAR(radius, 15.0f, 0.2f) << eye.x;
    }
}

// The floor about 100 units ahead, the sky as depth 0.1 (just past the near
// plane); rows count up from the bottom, the top edge reads the full height.
TEST_F(WorldTest, ThePickFindsTheFloorOrTheSkyUnderTheCursor)
{
    RenderAtCursor(400, 450);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
    ExpectNear(Window(world.pickPoint()), Vector3(400, kViewHeight - 450, world.pickDepth()), 0.5f);
    RenderAtCursor(400, 5);
    EXPECT_EQ(world.pickDepth(), 0.1f);
    ExpectNear(Window(world.pickPoint()), Vector3(400, kViewHeight - 5, 0.1f), 0.5f);
    world.camera().setPosition(Vector3(200, 100, 300)); // the top row looks at the floor: picked inside the view
    world.lookAt(Vector3(200, 0, 250));
    RenderAtCursor(400, 0);
    ExpectNear(world.cursorPos(), Vector3(400, kViewHeight, 0), 0.0f);
    EXPECT_TRUE(world.pickDepth() > 0.5f && world.pickDepth() < 1.0f && std::fabs(world.pickPoint().y) < 1.0f) << world.pickDepth();
}

// So that a pan keeps its grabbed point.
TEST_F(WorldTest, ADragPausesPickingOnlyWithTheMouseCameraOn)
{
    world.disableStdMouseCam();
    world.leftButtonDown(400, 300);
    EXPECT_TRUE(world.isPickingEnabled());
    world.leftButtonUp(400, 300);
    world.enableStdMouseCam();
    for (bool right : {true, false}) {
        RenderAtCursor(400, 300);
        const Vector3 before = world.pickPoint();
        right ? world.rightButtonDown(400, 300) : world.leftButtonDown(400, 300);
        RenderAtCursor(380, 200);
        ExpectNear(world.pickPoint(), before, 0.0f);
        right ? world.rightButtonUp(380, 200) : world.leftButtonUp(380, 200);
        RenderAtCursor(380, 200);
        EXPECT_GT(length(world.pickPoint() - before), 1.0f);
    }
}

} // namespace
