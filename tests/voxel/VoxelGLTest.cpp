// What the voxel block sends to OpenGL, read back with GL_FEEDBACK in a real
// context (Mesa reports each quad as two triangles): one cell's six faces
// with their corners, colour and winding, and the full block's 60,000 quads.
#include "GLTestSupport.h"
#include "VoxelRender.h"

#include <array>
#include <cmath>

namespace {

using Quad = std::array<Vector3, 4>;

class VoxelGLTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        // An orthographic view turned so that every face of a cube has area
        // on screen and the whole block fits.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1500, 1500, -1125, 1125, -3000, 3000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotated(30, 1, 0, 0);
        glRotated(-40, 0, 1, 0);
        glGetDoublev(GL_MODELVIEW_MATRIX, mv);
        glGetDoublev(GL_PROJECTION_MATRIX, pr);
        glGetIntegerv(GL_VIEWPORT, vp);
    }

    Vector3 Project(const Vector3 &p) const
    {
        GLdouble x, y, z;
        gluProject(p.x, p.y, p.z, mv, pr, vp, &x, &y, &z);
        return Vector3(float(x), float(y), float(z));
    }

    // The polygons of `draw` inside a GL_QUADS bracket, read back through a
    // feedback buffer of `floats` entries.
    std::vector<Primitive> Capture(const std::function<void()> &draw, size_t floats)
    {
        std::vector<GLfloat> buf(floats);
        glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D_COLOR, buf.data());
        glRenderMode(GL_FEEDBACK);
        glBegin(GL_QUADS);
        draw();
        glEnd();
        const GLint count = glRenderMode(GL_RENDER);
        EXPECT_GE(count, 0) << "feedback buffer overflow";
        std::vector<Primitive> polygons;
        for (GLint i = 0; i < count;) {
            if (static_cast<int>(buf[i++]) != GL_POLYGON_TOKEN) {
                ADD_FAILURE() << "not a polygon";
                break;
            }
            const int n = static_cast<int>(buf[i++]);
            Primitive p;
            for (int v = 0; v < n; ++v, i += 7)
                p.push_back({buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], buf[i + 5], buf[i + 6]});
            polygons.push_back(p);
        }
        return polygons;
    }

    // The two triangles use exactly the quad's four projected corners, and
    // every vertex has the colour `rgba` (0-255).
    ::testing::AssertionResult IsQuad(const Primitive &a, const Primitive &b, const Quad &world,
                                      const std::array<int, 4> &rgba) const
    {
        if (a.size() != 3 || b.size() != 3)
            return ::testing::AssertionFailure() << "not two triangles";
        std::array<bool, 4> used{};
        for (const Primitive *t : {&a, &b})
            for (const FeedbackVertex &v : *t) {
                int hit = -1;
                for (int c = 0; c < 4; ++c) {
                    const Vector3 w = Project(world[c]);
                    if (std::fabs(v.x - w.x) < 0.01f && std::fabs(v.y - w.y) < 0.01f && std::fabs(v.z - w.z) < 1e-4f)
                        hit = c;
                }
                if (hit < 0)
                    return ::testing::AssertionFailure() << "vertex (" << v.x << ", " << v.y << ") is no corner";
                used[hit] = true;
                const float colour[4] = {v.r, v.g, v.b, v.a};
                for (int c = 0; c < 4; ++c)
                    if (std::fabs(colour[c] - rgba[c] / 255.0f) > 1e-3f)
                        return ::testing::AssertionFailure() << "colour component " << c << " is " << colour[c] * 255;
            }
        if (used != std::array<bool, 4>{true, true, true, true})
            return ::testing::AssertionFailure() << "a corner is missing";
        return ::testing::AssertionSuccess();
    }

    GLdouble mv[16], pr[16];
    GLint vp[4];
};

// The six faces of the cell (2, 3, 4), which spans (20, 40, 30) to
// (30, 50, 40), in the order +X, +Y, +Z, -X, -Y, -Z, coloured with the low
// 8 bits of its components; with back faces culled only the three faces
// that look at the viewer remain.
TEST_F(VoxelGLTest, OneCellEmitsItsSixFacesInOrder)
{
    VoxelCell cell;
    cell.i = 2;
    cell.j = 3;
    cell.k = 4;
    cell.faceBits = VoxelFace::kAll;
    cell.red = 256 + 10;
    cell.green = -1;
    cell.blue = 77;
    cell.alpha = 200;
    const std::array<int, 4> rgba{10, 255, 77, 200};

    struct Face
    {
        Vector3 normal;
        Quad corners;
    };
    const float x0 = 20, x1 = 30, y0 = 40, y1 = 50, z0 = 30, z1 = 40;
    const Face faces[6] = {
        {{1, 0, 0}, {{{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}}}},
        {{0, 1, 0}, {{{x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}, {x0, y1, z1}}}},
        {{0, 0, 1}, {{{x1, y1, z1}, {x0, y1, z1}, {x0, y0, z1}, {x1, y0, z1}}}},
        {{-1, 0, 0}, {{{x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}, {x0, y0, z0}}}},
        {{0, -1, 0}, {{{x0, y0, z1}, {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}}}},
        {{0, 0, -1}, {{{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}}},
    };

    std::vector<Primitive> all = Capture([&] { DrawVoxelCell(cell); }, 4096);
    ASSERT_EQ(all.size(), 12u);
    for (int f = 0; f < 6; ++f)
        EXPECT_TRUE(IsQuad(all[2 * f], all[2 * f + 1], faces[f].corners, rgba)) << "face " << f;
    // The first vertex emitted: +X face, corner (+, -, +).
    expectVecNear(Vector3(all[0][0].x, all[0][0].y, all[0][0].z), Project(faces[0].corners[0]), 0.01f);

    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    const std::vector<Primitive> front = Capture([&] { DrawVoxelCell(cell); }, 4096);
    glDisable(GL_CULL_FACE);
    size_t next = 0;
    for (const Face &face : faces) {
        const double towardsViewer = mv[2] * face.normal.x + mv[6] * face.normal.y + mv[10] * face.normal.z;
        if (towardsViewer <= 0)
            continue;
        ASSERT_LT(next + 1, front.size());
        EXPECT_TRUE(IsQuad(front[next], front[next + 1], face.corners, rgba));
        next += 2;
    }
    EXPECT_EQ(next, 6u);
    EXPECT_EQ(front.size(), next);
}

// The full block: the render walk emits the 60,000 quads that the walk
// without GL decides, in the same order and colours (120,000 triangles).
TEST_F(VoxelGLTest, FullBlockEmitsSixtyThousandQuads)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    std::vector<std::pair<Quad, std::array<int, 4>>> expected;
    block->walk([&](const VoxelCell &c) {
        std::vector<Vector3> v;
        ForEachVoxelFaceVertex(c, [&](double x, double y, double z) { v.emplace_back(float(x), float(y), float(z)); });
        for (size_t q = 0; q < v.size(); q += 4)
            expected.push_back({{v[q], v[q + 1], v[q + 2], v[q + 3]}, {c.red & 255, c.green & 255, c.blue & 255, c.alpha & 255}});
    });
    ASSERT_EQ(expected.size(), 60000u);

    const std::vector<Primitive> polygons = Capture([&] { RenderVoxelBlock(*block); }, 3000000);
    ASSERT_EQ(polygons.size(), 120000u);
    int faults = 0;
    for (size_t q = 0; q < expected.size() && faults < 5; ++q) {
        const auto result = IsQuad(polygons[2 * q], polygons[2 * q + 1], expected[q].first, expected[q].second);
        if (!result) {
            ++faults;
            ADD_FAILURE() << "quad " << q << ": " << result.message();
        }
    }
}

} // namespace
