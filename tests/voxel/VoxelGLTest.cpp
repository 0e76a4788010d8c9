// What the voxel block sends to OpenGL, read back with GL_FEEDBACK in a real
// context (Mesa reports each quad as two triangles): one cell's six faces
// with their corners, colour and winding, and the full block's 60,000 quads.
#include "GLTestSupport.h"
#include "VoxelRender.h"

#include <array>
#include <cmath>

namespace {

using Quad = std::array<Vector3, 4>;
using Rgba = std::array<int, 4>;

class VoxelGLTest : public WorldGLTest
{
protected:
    void SetUp() override
    {
        WorldGLTest::SetUp();
        // Orthographic and turned, so every face of a cube has area on
        // screen and the whole block fits.
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

    // The triangles `draw` emits inside a GL_QUADS bracket, through a
    // feedback buffer of `floats` entries (the shared capture's is too small
    // for the whole block).
    std::vector<Primitive> Capture(const std::function<void()> &draw, size_t floats = 4096)
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
            Primitive &p = polygons.emplace_back();
            for (int n = static_cast<int>(buf[i++]); n > 0; --n, i += 7)
                p.push_back({buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], buf[i + 5], buf[i + 6]});
        }
        return polygons;
    }

    // Triangles a and b use exactly the quad's four projected corners, and
    // every vertex has the colour `rgba` (0-255).
    ::testing::AssertionResult IsQuad(const Primitive &a, const Primitive &b, const Quad &world, const Rgba &rgba) const
    {
        if (a.size() != 3 || b.size() != 3)
            return ::testing::AssertionFailure() << "not two triangles";
        std::array<bool, 4> used{};
        for (const FeedbackVertex &v : Primitive{a[0], a[1], a[2], b[0], b[1], b[2]}) {
            int hit = -1;
            for (int c = 0; c < 4; ++c) {
                GLdouble x, y, z;
                gluProject(world[c].x, world[c].y, world[c].z, mv, pr, vp, &x, &y, &z);
                if (std::fabs(v.x - x) < 0.01 && std::fabs(v.y - y) < 0.01 && std::fabs(v.z - z) < 1e-4)
                    used[hit = c] = true;
            }
            if (hit < 0)
                return ::testing::AssertionFailure() << "vertex (" << v.x << ", " << v.y << ") is no corner";
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

// The cell (2, 3, 4) spans (20, 40, 30) to (30, 50, 40): its six faces in
// the order +X, +Y, +Z, -X, -Y, -Z, first vertex (+, -, +), coloured with
// the low 8 bits of its components; with back faces culled only the faces
// that look at the viewer remain, so the winding is right.
TEST_F(VoxelGLTest, OneCellEmitsItsSixFacesInOrder)
{
    VoxelCell cell;
    cell.i = 2, cell.j = 3, cell.k = 4;
    cell.faceBits = VoxelFace::kAll;
    cell.red = 256 + 10, cell.green = -1, cell.blue = 77, cell.alpha = 200;
    const Rgba rgba{10, 255, 77, 200};
    const float x0 = 20, x1 = 30, y0 = 40, y1 = 50, z0 = 30, z1 = 40;
    const std::pair<Vector3, Quad> faces[6] = { // normal, corners in emission order
        {{1, 0, 0}, {{{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}}}},
        {{0, 1, 0}, {{{x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}, {x0, y1, z1}}}},
        {{0, 0, 1}, {{{x1, y1, z1}, {x0, y1, z1}, {x0, y0, z1}, {x1, y0, z1}}}},
        {{-1, 0, 0}, {{{x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}, {x0, y0, z0}}}},
        {{0, -1, 0}, {{{x0, y0, z1}, {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}}}},
        {{0, 0, -1}, {{{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}}},
    };
    for (const bool culled : {false, true}) {
        SCOPED_TRACE(culled ? "back faces culled" : "all faces");
        if (culled)
            glEnable(GL_CULL_FACE), glCullFace(GL_BACK);
        const std::vector<Primitive> got = Capture([&] { DrawVoxelCell(cell); });
        glDisable(GL_CULL_FACE);
        size_t next = 0;
        for (const auto &[normal, corners] : faces) {
            if (culled && mv[2] * normal.x + mv[6] * normal.y + mv[10] * normal.z <= 0)
                continue; // faces away from the viewer
            ASSERT_LT(next + 1, got.size());
            EXPECT_TRUE(IsQuad(got[next], got[next + 1], corners, rgba)) << "face " << next / 2;
            next += 2;
        }
        EXPECT_EQ(got.size(), next);
        EXPECT_EQ(next, culled ? 6u : 12u);
        if (!culled) {
            GLdouble x, y, z;
            gluProject(x1, y0, z1, mv, pr, vp, &x, &y, &z);
            expectVecNear(Vector3(got[0][0].x, got[0][0].y, got[0][0].z), Vector3(float(x), float(y), float(z)), 0.01f);
        }
    }
}

// The full block: the render walk emits the 60,000 quads that the walk
// without GL decides, in the same order and colours (120,000 triangles).
TEST_F(VoxelGLTest, FullBlockEmitsSixtyThousandQuads)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    std::vector<std::pair<Quad, Rgba>> expected;
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
    for (size_t q = 0; q < expected.size() && faults < 5; ++q)
        if (const auto result = IsQuad(polygons[2 * q], polygons[2 * q + 1], expected[q].first, expected[q].second); !result) {
            ++faults;
            ADD_FAILURE() << "quad " << q << ": " << result.message();
        }
}

} // namespace
