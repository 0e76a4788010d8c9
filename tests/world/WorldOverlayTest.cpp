// The World's overlays as GL_FEEDBACK reports them (grid, floor slab, pick
// marker) and the depth-buffer pick under the cursor.
#include "GLTestSupport.h"

#include <algorithm>
#include <utility>

namespace {

using Segment = std::pair<Vector3, Vector3>;

bool atWindowPoint(const FeedbackVertex &v, const Vector3 &w)
{
    return std::fabs(v.x - w.x) < 0.05f && std::fabs(v.y - w.y) < 0.05f && std::fabs(v.z - w.z) < 1e-4f;
}

void expectColour(const FeedbackVertex &v, float r, float g, float b, float a)
{
    const float d = std::fabs(v.r - r) + std::fabs(v.g - g) + std::fabs(v.b - b) + std::fabs(v.a - a);
    EXPECT_LT(d, 1e-3f) << v.r << ", " << v.g << ", " << v.b << ", " << v.a;
}

// The lines are exactly the window images of the world segments, each once,
// in colour (r, g, b).
void expectLines(const std::vector<Primitive> &lines, const std::vector<Segment> &segments, float r, float g, float b)
{
    EXPECT_EQ(lines.size(), segments.size());
    for (const Primitive &l : lines)
        expectColour(l[0], r, g, b, 1.0f);
    for (const Segment &s : segments) {
        const Vector3 a = projectToWindow(s.first), b = projectToWindow(s.second);
        int n = 0;
        for (const Primitive &l : lines)
            n += (atWindowPoint(l[0], a) && atWindowPoint(l[1], b)) ||
                 (atWindowPoint(l[0], b) && atWindowPoint(l[1], a));
        EXPECT_EQ(n, 1) << "segment " << s.first.x << ", " << s.first.z << " to " << s.second.x << ", " << s.second.z;
    }
}

using WorldOverlayTest = WorldGLTest;

} // namespace

TEST_F(WorldOverlayTest, GridAndFloorSlab)
{
    struct Case
    {
        int cellsX;
        Vector3 lo, hi;   // the slab: edge 1.5 times the larger extent, top at y = 0
    };
    for (const Case &c : {Case{40, Vector3(-100, -30, -100), Vector3(500, 0, 500)},
                          Case{10, Vector3(-250, -30, -100), Vector3(350, 0, 500)}}) {
        SCOPED_TRACE(c.cellsX);
        world.gridCellsX = c.cellsX;
        world.camera().setPosition(Vector3(200, 500, 200.5f));   // sees the whole slab
        world.lookAt(Vector3(200, 0, 200));
        world.setupCamera();
        std::vector<Segment> grid;
        for (int i = 0; i <= c.cellsX; ++i)
            grid.emplace_back(Vector3(i * 10.0f, 0, 0), Vector3(i * 10.0f, 0, 400));
        for (int j = 0; j <= 40; ++j)
            grid.emplace_back(Vector3(0, 0, j * 10.0f), Vector3(c.cellsX * 10.0f, 0, j * 10.0f));
        expectLines(captureFeedback([this] { world.drawGrid(); }).lines, grid, 0.6f, 0.1f, 0.9f);

        Vector3 corners[8];
        std::vector<Segment> edges;
        for (int k = 0; k < 8; ++k)
            corners[k] = Vector3((k & 1 ? c.hi : c.lo).x, (k & 2 ? c.hi : c.lo).y, (k & 4 ? c.hi : c.lo).z);
        for (int k = 0; k < 8; ++k)
            for (int bit = 1; bit < 8; bit <<= 1)
                if (!(k & bit))
                    edges.emplace_back(corners[k], corners[k | bit]);
        const Feedback floor = captureFeedback([this] { world.drawFloor(); });
        expectLines(floor.lines, edges, 0.3f, 0.3f, 0.8f);
        // The solid box (quads, maybe split) has the same corners and is transparent.
        EXPECT_GE(floor.polygons.size(), 6u);
        for (const Primitive &poly : floor.polygons)
            for (const FeedbackVertex &v : poly) {
                expectColour(v, 0.3f, 0.3f, 0.3f, 0.0f);
                EXPECT_TRUE(std::any_of(corners, corners + 8,
                                        [&v](const Vector3 &c) { return atWindowPoint(v, projectToWindow(c)); }));
            }
    }
}

TEST_F(WorldOverlayTest, MarkerKeepsAFifteenPixelRadiusAsTheCameraMoves)
{
    world.pickedPoint = Vector3(200, 0, 200);
    glLineWidth(3.0f);
    glEnable(GL_TEXTURE_2D);
    for (const Vector3 &eye : {Vector3(200, 500, 200.5f), Vector3(320, 90, 260), Vector3(-800, 1500, 2000)}) {
        SCOPED_TRACE(eye.x);
        world.camera().setPosition(eye);
        world.lookAt(world.pickedPoint);
        world.setupCamera();
        const Feedback fb = captureFeedback([this] { world.drawPickMarker(); });
        EXPECT_EQ(fb.lines.size(), 15u * 15u + 14u * 15u);   // meridians and parallels
        const Vector3 centre = projectToWindow(world.pickedPoint);
        float radius = 0.0f;
        for (const Primitive &line : fb.lines) {
            expectColour(line[0], 0.0f, 1.0f, 0.0f, 1.0f);
            for (const FeedbackVertex &v : line)
                radius = std::fmax(radius, std::hypot(v.x - centre.x, v.y - centre.y));
        }
        EXPECT_NEAR(radius, 15.0f, 0.2f);
    }
    GLfloat width = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(WorldOverlayTest, PickFindsTheSceneTheFloorOrAPointJustInFrontOfTheCamera)
{
    // From the construction camera, about 100 units ahead on the floor.
    renderAtCursor(400, 450);
    EXPECT_LT(world.pickDepth(), 1.0f);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
    expectVecNear(windowXY(world.pickPoint()), Vector3(400, kViewHeight - 450, 0), 0.5f);

    renderAtCursor(400, 5);   // the sky: depth 0.1, just past the near plane
    EXPECT_EQ(world.pickDepth(), 0.1f);
    Transform eye = world.camera();
    eye.invert();
    EXPECT_NEAR(-eye.transformPoint(world.pickPoint()).z, 0.1111f, 1e-3f);
    expectVecNear(windowXY(world.pickPoint()), Vector3(400, kViewHeight - 5, 0), 0.5f);

    world.renderScene = [] {   // what render() draws is picked too: a plane above the floor
        glBegin(GL_QUADS);
        glVertex3f(-500, 20, -500);
        glVertex3f(-500, 20, 500);
        glVertex3f(500, 20, 500);
        glVertex3f(500, 20, -500);
        glEnd();
    };
    renderAtCursor(400, 500);
    EXPECT_NEAR(world.pickPoint().y, 20.0f, 0.5f);
}

TEST_F(WorldOverlayTest, CursorRowsCountUpFromTheBottomAndTheTopRowPicksInsideTheView)
{
    world.mouseMove(5, kViewHeight - 1);
    expectVecNear(world.cursorPos(), Vector3(5, 1, 0), 0.0f);
    // The top edge of this view looks at the floor near z = 0.
    world.camera().setPosition(Vector3(200, 100, 300));
    world.lookAt(Vector3(200, 0, 250));
    renderAtCursor(400, 0);
    expectVecNear(world.cursorPos(), Vector3(400, kViewHeight, 0), 0.0f);
    expectVecNear(world.cursorDelta(), Vector3(395, kViewHeight - 1, 0), 0.0f);
    EXPECT_GT(world.pickDepth(), 0.5f);
    EXPECT_LT(world.pickDepth(), 1.0f);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
}

TEST_F(WorldOverlayTest, DragPausesPickingOnlyWithTheMouseCameraOn)
{
    world.disableStdMouseCam();   // off: a held button leaves the pick following the cursor
    world.leftButtonDown(400, 300);
    world.rightButtonDown(400, 300);
    EXPECT_TRUE(world.isPickingEnabled());
    renderAtCursor(400, 5);
    EXPECT_EQ(world.pickDepth(), 0.1f);
    world.leftButtonUp(400, 5);
    world.rightButtonUp(400, 5);
    world.enableStdMouseCam();

    Vector3 before;
    for (bool right : {true, false}) {   // a pan keeps the grabbed point under the cursor; a look does not
        renderAtCursor(400, 300);
        before = world.pickPoint();
        const float depth = world.pickDepth();
        right ? world.rightButtonDown(400, 300) : world.leftButtonDown(400, 300);
        EXPECT_FALSE(world.isPickingEnabled());
        renderAtCursor(380, 200);
        expectVecNear(world.pickPoint(), before, 0.0f);
        EXPECT_EQ(world.pickDepth(), depth);
        right ? world.rightButtonUp(380, 200) : world.leftButtonUp(380, 200);
        EXPECT_TRUE(world.isPickingEnabled());
    }
    renderAtCursor(380, 200);
    EXPECT_GT(length(world.pickPoint() - before), 1.0f);
}
