// Tests of the World's overlays and picking: the grid, floor slab and pick
// marker as reported by GL_FEEDBACK (window coordinates of what survives
// clipping), and the depth-buffer pick over the floor, the background, the
// top row and the script's scene, with picking paused during a drag.
#include "GLTestSupport.h"

#include <set>
#include <utility>

namespace {

// Seen from here the whole floor slab (x, z from -100 to 500) is in view.
const Vector3 kOverheadEye(200, 500, 200.5f);
const Vector3 kOverheadTarget(200, 0, 200);

bool sameWindowPoint(const FeedbackVertex &v, const Vector3 &w)
{
    return std::fabs(v.x - w.x) < 0.05f && std::fabs(v.y - w.y) < 0.05f && std::fabs(v.z - w.z) < 1e-4f;
}

void expectColour(const FeedbackVertex &v, float r, float g, float b, float a)
{
    EXPECT_NEAR(v.r, r, 1e-3f);
    EXPECT_NEAR(v.g, g, 1e-3f);
    EXPECT_NEAR(v.b, b, 1e-3f);
    EXPECT_NEAR(v.a, a, 1e-3f);
}

// Counts the feedback lines that join the window images of a and b.
int countLinesBetween(const Feedback &fb, const Vector3 &a, const Vector3 &b)
{
    const Vector3 wa = projectToWindow(a);
    const Vector3 wb = projectToWindow(b);
    int n = 0;
    for (const auto &line : fb.lines) {
        if ((sameWindowPoint(line[0], wa) && sameWindowPoint(line[1], wb)) ||
            (sameWindowPoint(line[0], wb) && sameWindowPoint(line[1], wa)))
            ++n;
    }
    return n;
}

class WorldOverlayTest : public WorldGLTest
{
protected:
    void lookFromOverhead()
    {
        world.camera().setPosition(kOverheadEye);
        world.lookAt(kOverheadTarget);
        world.setupCamera();
    }

    // The grid's lines, each once, at the window images of their ends.
    void expectGrid(int cellsX, int cellsZ)
    {
        const Feedback fb = captureFeedback([this] { world.drawGrid(); });
        ASSERT_FALSE(fb.overflow);
        EXPECT_EQ(fb.lines.size(), static_cast<size_t>(cellsX + 1 + cellsZ + 1));
        const float extentX = cellsX * 10.0f;
        const float extentZ = cellsZ * 10.0f;
        for (int i = 0; i <= cellsX; ++i)
            EXPECT_EQ(countLinesBetween(fb, Vector3(i * 10.0f, 0, 0), Vector3(i * 10.0f, 0, extentZ)), 1) << "x line " << i;
        for (int j = 0; j <= cellsZ; ++j)
            EXPECT_EQ(countLinesBetween(fb, Vector3(0, 0, j * 10.0f), Vector3(extentX, 0, j * 10.0f)), 1) << "z line " << j;
        for (const auto &line : fb.lines)
            expectColour(line[0], 0.6f, 0.1f, 0.9f, 1.0f);
    }

    // The slab's 12 edges and its faces, between the corners of the box
    // lo .. hi in world space.
    void expectFloor(const Vector3 &lo, const Vector3 &hi)
    {
        const Feedback fb = captureFeedback([this] { world.drawFloor(); });
        ASSERT_FALSE(fb.overflow);
        Vector3 corners[8];
        for (int c = 0; c < 8; ++c)
            corners[c] = Vector3((c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z);

        EXPECT_EQ(fb.lines.size(), 12u);
        for (int c = 0; c < 8; ++c) {
            for (int bit = 1; bit < 8; bit <<= 1) {
                if (!(c & bit)) {
                    EXPECT_EQ(countLinesBetween(fb, corners[c], corners[c | bit]), 1) << "edge " << c << "-" << (c | bit);
                }
            }
        }
        for (const auto &line : fb.lines)
            expectColour(line[0], 0.3f, 0.3f, 0.8f, 1.0f);

        // Solid faces: every vertex is a corner, all six sides are covered,
        // and the colour is transparent.
        ASSERT_GE(fb.polygons.size(), 6u);
        std::set<int> cornersUsed;
        for (const auto &poly : fb.polygons) {
            for (const FeedbackVertex &v : poly) {
                int found = -1;
                for (int c = 0; c < 8; ++c) {
                    if (sameWindowPoint(v, projectToWindow(corners[c])))
                        found = c;
                }
                EXPECT_GE(found, 0) << "polygon vertex off the box at " << v.x << ", " << v.y;
                cornersUsed.insert(found);
                expectColour(v, 0.3f, 0.3f, 0.3f, 0.0f);
            }
        }
        EXPECT_EQ(cornersUsed.size(), 8u);
    }

    // Largest window distance of the marker's vertices from the pick point.
    float markerScreenRadius()
    {
        const Feedback fb = captureFeedback([this] { world.drawPickMarker(); });
        EXPECT_FALSE(fb.overflow);
        // 15 meridians of 15 segments and 14 parallels of 15 segments.
        EXPECT_EQ(fb.lines.size(), 15u * 15u + 14u * 15u);
        const Vector3 centre = projectToWindow(world.pickedPoint);
        float radius = 0.0f;
        for (const auto &line : fb.lines) {
            expectColour(line[0], 0.0f, 1.0f, 0.0f, 1.0f);
            for (const FeedbackVertex &v : line)
                radius = std::fmax(radius, std::hypot(v.x - centre.x, v.y - centre.y));
        }
        return radius;
    }

    void renderAtCursor(int x, int y)
    {
        world.mouseMove(x, y);
        prepareFrameLikeTheView();
        world.renderFrame();
    }
};

} // namespace

TEST_F(WorldOverlayTest, GridHas41LinesEachWay)
{
    lookFromOverhead();
    expectGrid(40, 40);
}

TEST_F(WorldOverlayTest, FloorSlabLiesUnderAndAroundTheGrid)
{
    lookFromOverhead();
    expectFloor(Vector3(-100, -30, -100), Vector3(500, 0, 500));
}

TEST_F(WorldOverlayTest, FewerCellsAlongXNarrowTheGridButNotTheFloor)
{
    world.gridCellsX = 10;
    lookFromOverhead();
    expectGrid(10, 40);
    // The larger extent, Z = 400, sets the edge: 600, centred on (50, 200).
    expectFloor(Vector3(-250, -30, -100), Vector3(350, 0, 500));
}

TEST_F(WorldOverlayTest, MarkerKeepsAFifteenPixelRadiusAsTheCameraMoves)
{
    world.pickedPoint = kOverheadTarget;
    lookFromOverhead();
    glLineWidth(3.0f);
    glEnable(GL_TEXTURE_2D);
    EXPECT_NEAR(markerScreenRadius(), 15.0f, 0.2f);
    GLfloat width = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    for (const Vector3 &eye : {Vector3(320, 90, 260), Vector3(-800, 1500, 2000)}) {
        world.camera().setPosition(eye);
        world.lookAt(world.pickedPoint);
        world.setupCamera();
        EXPECT_NEAR(markerScreenRadius(), 15.0f, 0.2f) << "eye " << eye.x << ", " << eye.y << ", " << eye.z;
    }
}

TEST_F(WorldOverlayTest, SolidFloorWritesDepthButNoColour)
{
    prepareFrameLikeTheView();
    world.setupCamera();
    world.drawFloor();
    // Mid-screen from the construction camera lies inside the slab's top face.
    GLfloat depth = 1.0f;
    GLubyte rgba[4] = {1, 1, 1, 1};
    glReadPixels(400, 300, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    glReadPixels(400, 300, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    EXPECT_LT(depth, 1.0f);
    EXPECT_EQ(rgba[0], 0);
    EXPECT_EQ(rgba[1], 0);
    EXPECT_EQ(rgba[2], 0);
}

TEST_F(WorldOverlayTest, PickOverTheFloorFindsTheGroundUnderTheCursor)
{
    // About 100 units ahead. The polygon offset pushes the floor's depth
    // back in proportion to its depth slope, so far off and at grazing
    // angles (mid-screen here: 240 units, 16 degrees) the pick sinks further.
    renderAtCursor(400, 450);
    EXPECT_LT(world.pickDepth(), 1.0f);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
    const Vector3 w = projectToWindow(world.pickPoint());
    EXPECT_NEAR(w.x, 400.0f, 0.5f);
    EXPECT_NEAR(w.y, kViewHeight - 450.0f, 0.5f);
}

TEST_F(WorldOverlayTest, PickOverTheBackgroundLiesJustInFrontOfTheCamera)
{
    renderAtCursor(400, 5);   // sky above the horizon
    EXPECT_EQ(world.pickDepth(), 0.1f);
    Transform eye = world.camera();
    eye.invert();
    const Vector3 local = eye.transformPoint(world.pickPoint());
    EXPECT_NEAR(-local.z, 0.1111f, 1e-3f);
    const Vector3 w = projectToWindow(world.pickPoint());
    EXPECT_NEAR(w.x, 400.0f, 0.5f);
    EXPECT_NEAR(w.y, kViewHeight - 5.0f, 0.5f);
}

TEST_F(WorldOverlayTest, PickOnTheTopRowReadsInsideTheView)
{
    // The top edge of this view looks at the floor near z = 0.
    world.camera().setPosition(Vector3(200, 100, 300));
    world.lookAt(Vector3(200, 0, 250));
    renderAtCursor(400, 0);
    EXPECT_EQ(world.cursorPos().y, static_cast<float>(kViewHeight));
    EXPECT_LT(world.pickDepth(), 1.0f);
    EXPECT_GT(world.pickDepth(), 0.5f);
    EXPECT_LT(std::fabs(world.pickPoint().y), 1.0f);
}

TEST_F(WorldOverlayTest, ScriptSceneIsDrawnAfterTheGridAndPicked)
{
    world.renderScene = [] {
        glBegin(GL_QUADS);
        glVertex3f(-500, 20, -500);
        glVertex3f(-500, 20, 500);
        glVertex3f(500, 20, 500);
        glVertex3f(500, 20, -500);
        glEnd();
    };
    renderAtCursor(400, 500);
    EXPECT_NEAR(world.colourAtRender[0], 0.6f, 1e-6f);
    EXPECT_NEAR(world.colourAtRender[1], 0.1f, 1e-6f);
    EXPECT_NEAR(world.colourAtRender[2], 0.9f, 1e-6f);
    EXPECT_EQ(world.colourAtRender[3], 1.0f);
    EXPECT_NEAR(world.pickPoint().y, 20.0f, 0.5f);
}

TEST_F(WorldOverlayTest, DragKeepsThePickOnlyWithTheMouseCameraOn)
{
    renderAtCursor(400, 300);
    const Vector3 before = world.pickPoint();
    const float depthBefore = world.pickDepth();

    world.leftButtonDown(400, 300);
    renderAtCursor(380, 200);   // looks around and moves over other ground
    EXPECT_EQ(world.pickPoint().x, before.x);
    EXPECT_EQ(world.pickPoint().y, before.y);
    EXPECT_EQ(world.pickPoint().z, before.z);
    EXPECT_EQ(world.pickDepth(), depthBefore);

    world.leftButtonUp(380, 200);
    prepareFrameLikeTheView();
    world.renderFrame();
    EXPECT_GT(length(world.pickPoint() - before), 1.0f);

    // With the mouse camera off the pick follows the cursor during a press.
    world.disableStdMouseCam();
    world.leftButtonDown(380, 200);
    renderAtCursor(400, 5);
    EXPECT_EQ(world.pickDepth(), 0.1f);
}
