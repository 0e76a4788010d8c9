// The World: its camera and standard mouse camera (look, orbit and its pole
// guard, aim convergence, pan, wheel, projection), the overlays as
// GL_FEEDBACK reports them, and the depth-buffer pick under the cursor.
#include "GLTestSupport.h"

#include <algorithm>

namespace {

float Heading(const Vector3 &d) { return std::atan2(d.x, -d.z); }
float Elevation(const Vector3 &d) { return std::asin(normalized(d).y); }

TEST(World, TheConstructionCameraKeepsItsOrientationForAimsWithoutARightAxis)
{
    ProbeWorld world;
    const Transform before = world.camera();
    const Vector3 p = before.position();
    ExpectNear(p, Vector3(162, 66, 35), 0.0f);
    ExpectNear(Forward(before), normalized(Vector3(144, 60, 45) - p), 1e-6f);
    EXPECT_NEAR(before.transformDirection(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);
    for (const Vector3 &target : {p, p + Vector3(0, 50, 0), p - Vector3(0, 3, 0)}) {
        world.lookAt(target);
        EXPECT_TRUE(Same(world.camera(), before));
    }
    world.orbit(p, 0.3f, 0.2f); // a pivot at distance 0
    EXPECT_TRUE(Same(world.camera(), before));
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

TEST_F(WorldTest, ThePoleGuardRefusesOrbitsTowardTheVerticalOnly)
{
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

// With the button and space held (and the mouse camera on) the aim turns a
// fifth of the way to the pick point each frame.
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

// 90 degrees vertically at the viewport's aspect, 0.1 to 20000 ahead; a
// viewport of height 0 keeps the last projection.
TEST_F(WorldTest, SetupCameraLoadsViewAndProjectionButSkipsAZeroHeightProjection)
{
    const auto expectFrustum = [this] {
        const Transform &cam = world.camera();
        const Vector3 ahead = cam.position() + Forward(cam) * 10.0f;
        ExpectNear(WindowXY(ahead + cam.transformDirection(Vector3(0, 10, 0))), Vector3(400, 600, 0), 0.05f);
        ExpectNear(WindowXY(ahead + cam.transformDirection(Vector3(10.0f * kViewWidth / kViewHeight, 0, 0))), Vector3(800, 300, 0), 0.05f);
        EXPECT_NEAR(Window(cam.position() + Forward(cam) * 0.1f).z, 0.0f, 1e-3f);
        EXPECT_NEAR(Window(cam.position() + Forward(cam) * 20000.0f).z, 1.0f, 1e-3f);
    };
    world.rotateCamera(0.4f, -0.3f);
    world.setupCamera();
    expectFrustum();
    world.setViewport(0, 0, kViewWidth, 0);
    world.camera().translate(Vector3(5, -7, 3));
    world.setupCamera();
    world.setViewport(0, 0, kViewWidth, kViewHeight);
    expectFrustum(); // the old projection, the view matrix following the camera
}

// Grid lines every 10 units (gridCellsX by 40 cells) in purple; the floor
// slab's 12 edges (1.5 times the larger extent, top at y = 0), a
// transparent box; the marker: 15 x 15 meridians and parallels in green,
// 15 pixels in radius wherever the camera is, leaving the line width and
// texturing as they were.
TEST_F(WorldTest, GridFloorAndMarkerAreWhereAndWhatTheyShouldBe)
{
    const auto at = [](const FeedbackVertex &v, const Vector3 &w) {
        return std::fabs(v.x - w.x) < 0.05f && std::fabs(v.y - w.y) < 0.05f && std::fabs(v.z - w.z) < 1e-4f;
    };
    const auto expectLines = [&](const std::vector<Primitive> &lines, const std::vector<std::pair<Vector3, Vector3>> &segments, float r, float g, float b) {
        EXPECT_EQ(lines.size(), segments.size());
        for (const auto &[p, q] : segments)
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const Primitive &l) {
                          return ((at(l[0], Window(p)) && at(l[1], Window(q))) || (at(l[0], Window(q)) && at(l[1], Window(p)))) &&
                                 std::fabs(l[0].r - r) + std::fabs(l[0].g - g) + std::fabs(l[0].b - b) < 1e-3f;
                      }), 1) << p.x << ", " << p.z << " to " << q.x << ", " << q.z;
    };
    for (const auto &[cells, lo, hi] : {std::tuple{40, Vector3(-100, -30, -100), Vector3(500, 0, 500)},
                                        {10, Vector3(-250, -30, -100), Vector3(350, 0, 500)}}) {
        world.gridCellsX = cells;
        world.camera().setPosition(Vector3(200, 500, 200.5f));
        world.lookAt(Vector3(200, 0, 200));
        world.setupCamera();
        std::vector<std::pair<Vector3, Vector3>> grid, edges;
        for (int i = 0; i <= cells; ++i)
            grid.emplace_back(Vector3(i * 10.0f, 0, 0), Vector3(i * 10.0f, 0, 400));
        for (int j = 0; j <= 40; ++j)
            grid.emplace_back(Vector3(0, 0, j * 10.0f), Vector3(cells * 10.0f, 0, j * 10.0f));
        expectLines(CaptureFeedback([this] { world.drawGrid(); }).lines, grid, 0.6f, 0.1f, 0.9f);
        const auto corner = [&](int k) { return Vector3((k & 1 ? hi : lo).x, (k & 2 ? hi : lo).y, (k & 4 ? hi : lo).z); };
        for (int k = 0; k < 8; ++k)
            for (int bit = 1; bit < 8; bit <<= 1)
                if (!(k & bit))
                    edges.emplace_back(corner(k), corner(k | bit));
        const Feedback floor = CaptureFeedback([this] { world.drawFloor(); });
        expectLines(floor.lines, edges, 0.3f, 0.3f, 0.8f);
        EXPECT_GE(floor.polygons.size(), 6u);
        for (const Primitive &poly : floor.polygons)
            for (const FeedbackVertex &v : poly)
                EXPECT_TRUE(v.a == 0.0f && [&] { for (int k = 0; k < 8; ++k) if (at(v, Window(corner(k)))) return true; return false; }());
    }
    world.pickedPoint = Vector3(200, 0, 200);
    glLineWidth(3.0f);
    glEnable(GL_TEXTURE_2D);
    for (const Vector3 &eye : {Vector3(200, 500, 200.5f), Vector3(320, 90, 260), Vector3(-800, 1500, 2000)}) {
        world.camera().setPosition(eye);
        world.lookAt(world.pickedPoint);
        world.setupCamera();
        const Feedback fb = CaptureFeedback([this] { world.drawPickMarker(); });
        EXPECT_EQ(fb.lines.size(), 15u * 15u + 14u * 15u);
        const Vector3 centre = Window(world.pickedPoint);
        float radius = 0.0f;
        for (const Primitive &line : fb.lines) {
            EXPECT_TRUE(line[0].r == 0.0f && line[0].g == 1.0f && line[0].b == 0.0f);
            for (const FeedbackVertex &v : line)
                radius = std::fmax(radius, std::hypot(v.x - centre.x, v.y - centre.y));
        }
        EXPECT_NEAR(radius, 15.0f, 0.2f) << eye.x;
    }
    GLfloat width = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

// The floor about 100 units ahead, the sky as depth 0.1 (just past the near
// plane), what render() draws; rows count up from the bottom.
TEST_F(WorldTest, ThePickFindsTheFloorTheSkyOrTheSceneUnderTheCursor)
{
    RenderAtCursor(400, 450);
    EXPECT_LT(world.pickDepth(), 1.0f);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
    ExpectNear(WindowXY(world.pickPoint()), Vector3(400, kViewHeight - 450, 0), 0.5f);
    RenderAtCursor(400, 5);
    EXPECT_EQ(world.pickDepth(), 0.1f);
    ExpectNear(WindowXY(world.pickPoint()), Vector3(400, kViewHeight - 5, 0), 0.5f);
    world.renderScene = [] { glBegin(GL_QUADS); glVertex3f(-500, 20, -500); glVertex3f(-500, 20, 500); glVertex3f(500, 20, 500); glVertex3f(500, 20, -500); glEnd(); };
    RenderAtCursor(400, 500);
    EXPECT_NEAR(world.pickPoint().y, 20.0f, 0.5f);
    world.renderScene = nullptr;
    world.mouseMove(5, kViewHeight - 1);
    ExpectNear(world.cursorPos(), Vector3(5, 1, 0), 0.0f);
    world.camera().setPosition(Vector3(200, 100, 300)); // the top row looks at the floor: picked inside the view
    world.lookAt(Vector3(200, 0, 250));
    RenderAtCursor(400, 0);
    ExpectNear(world.cursorPos(), Vector3(400, kViewHeight, 0), 0.0f);
    EXPECT_TRUE(world.pickDepth() > 0.5f && world.pickDepth() < 1.0f && std::fabs(world.pickPoint().y) < 1.0f) << world.pickDepth();
}

// A drag pauses the pick (so a pan keeps its grabbed point) only with the
// mouse camera on.
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
        EXPECT_FALSE(world.isPickingEnabled());
        RenderAtCursor(380, 200);
        ExpectNear(world.pickPoint(), before, 0.0f);
        right ? world.rightButtonUp(380, 200) : world.leftButtonUp(380, 200);
        EXPECT_TRUE(world.isPickingEnabled());
        RenderAtCursor(380, 200);
        EXPECT_GT(length(world.pickPoint() - before), 1.0f);
    }
}

} // namespace
