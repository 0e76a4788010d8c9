// The voxel block's cache of vertex arrays against a plain loop over the
// cells: after seeded random carves and adds, the two draw the same faces in
// the same colours (lit and unlit), as GL_FEEDBACK sees them.
#include "GLTestSupport.h"
#include "FuzzSeed.h"
#include "VoxelRender.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Triangle = std::array<float, 21>;   // three feedback vertices, 7 floats each

// A colour component on the 0-255 scale: the two paths turn bytes into
// floats by different, equally right, roundings.
float Byte(float c)
{
    return std::round(c * 255.0f);
}

// The polygons as triangles, each turned to start at its least vertex (the
// winding kept), sorted: the set of faces whatever the order they came in.
std::vector<Triangle> Faces(const Feedback &feedback)
{
    std::vector<Triangle> faces;
    for (const Primitive &p : feedback.polygons) {
        EXPECT_EQ(p.size(), 3u);
        std::array<std::array<float, 7>, 3> v;
        for (int n = 0; n < 3; ++n)
            v[n] = {p[n].x, p[n].y, p[n].z, Byte(p[n].r), Byte(p[n].g), Byte(p[n].b), Byte(p[n].a)};
        std::rotate(v.begin(), std::min_element(v.begin(), v.end()), v.end());
        Triangle t;
        for (int n = 0; n < 21; ++n)
            t[n] = v[n / 7][n % 7];
        faces.push_back(t);
    }
    std::sort(faces.begin(), faces.end());
    return faces;
}

// Every face of a solid cell whose neighbour across it is empty or outside
// the block, found from the cells alone.
void ReferenceLoop(const VoxelBlock &block)
{
    static const int kStep[kCubeFaceCount][3] = {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}, {-1, 0, 0}, {0, 0, -1}, {0, -1, 0}};
    glBegin(GL_QUADS);
    for (int k = 0; k < VoxelBlock::kSize; ++k)
        for (int j = 0; j < VoxelBlock::kSize; ++j)
            for (int i = 0; i < VoxelBlock::kSize; ++i) {
                const VoxelCell *cell = block.cellAt(i, j, k);
                if (!cell->solid)
                    continue;
                VoxelCell faces = *cell;
                faces.faceBits = 0;
                static const uint32_t kBit[kCubeFaceCount] = {VoxelFace::kPosX, VoxelFace::kPosY, VoxelFace::kPosZ,
                                                              VoxelFace::kNegX, VoxelFace::kNegY, VoxelFace::kNegZ};
                for (int f = 0; f < kCubeFaceCount; ++f) {
                    const VoxelCell *n = block.cellAt(i + kStep[f][0], j + kStep[f][1], k + kStep[f][2]);
                    if (!n || !n->solid)
                        faces.faceBits |= kBit[f];
                }
                DrawVoxelCell(faces, true);
            }
    glEnd();
}

class VoxelDrawTest : public WorldGLTest
{
protected:
    void Look()
    {
        // An oblique parallel view with power-of-two factors: every face
        // shows with some area, and every window coordinate is exact, so
        // the two paths' vertices compare equal.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 2048, 0, 2048, -2048, 2048);
        glMatrixMode(GL_MODELVIEW);
        const GLfloat shear[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0.5f, 0.25f, 1, 0, 0, 0, 0, 1};
        glLoadMatrixf(shear);
    }
};

TEST_F(VoxelDrawTest, TheCacheDrawsTheFacesAPlainLoopFindsAfterRandomEdits)
{
    std::unique_ptr<VoxelBlock> block = VoxelBlock::make();
    ASSERT_TRUE(block);
    // A cube of 40 cells across the chunk borders at 20 and 40.
    for (int k = 0; k < VoxelBlock::kSize; ++k)
        for (int j = 0; j < VoxelBlock::kSize; ++j)
            for (int i = 0; i < VoxelBlock::kSize; ++i)
                if (std::min({i, j, k}) < 10 || std::max({i, j, k}) >= 50)
                    block->carve(i, j, k);
    Look();
    VoxelDrawCache cache;
    FuzzRandom random(20261207u);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(random.Trace() + ", round " + std::to_string(round));
        for (int n = 0; n < 300; ++n) {
            // Mostly near the chunk borders at 20, where a cell changes its
            // neighbour's chunk; the rest anywhere around the cube.
            const auto index = [&] { return n % 3 ? 16 + int(random.Below(8)) : 8 + int(random.Below(44)); };
            const int i = index(), j = index(), k = index();
            random.OneIn(2) ? block->carve(i, j, k) : block->add(i, j, k);
        }
        if (round == 3) {   // lit from here on: the normals count too
            glEnable(GL_LIGHTING);
            glEnable(GL_LIGHT0);
        }
        const std::vector<Triangle> expected = Faces(CaptureFeedback([&] { ReferenceLoop(*block); }, 8000000));
        const std::vector<Triangle> cached = Faces(CaptureFeedback([&] { cache.draw(*block); }, 8000000));
        ASSERT_GT(expected.size(), 1000u);
        ASSERT_EQ(cached.size(), expected.size());
        EXPECT_TRUE(cached == expected);
    }
}

} // namespace
