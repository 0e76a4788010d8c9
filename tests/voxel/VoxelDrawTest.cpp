// The voxel block's cache of vertex buffers against a plain loop over the cells.
#include "GLTestSupport.h"
#include "FuzzSeed.h"
#include "VoxelDrawCache.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <utility>

namespace {

using Triangle = std::array<float, 21>;   // three feedback vertices, 7 floats each

// The two paths turn bytes into floats by different, equally right, roundings.
float Byte(float c)
{
    return std::round(c * 255.0f);
}

// The set of faces whatever their order: each starts at its least vertex, sorted.
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

// Every face of a solid cell whose neighbour is empty or outside, in the
// cache's order (chunks, directions, cells) for drawing without a depth test.
void ReferenceLoop(const VoxelBlock &block)
{
    static const int kStep[kCubeFaceCount][3] = {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}, {-1, 0, 0}, {0, 0, -1}, {0, -1, 0}};
    static const uint32_t kBit[kCubeFaceCount] = {VoxelFace::kPosX, VoxelFace::kPosY, VoxelFace::kPosZ,
                                                  VoxelFace::kNegX, VoxelFace::kNegY, VoxelFace::kNegZ};
    const int edge = VoxelBlock::kChunkEdge, side = VoxelBlock::kChunksPerSide;
    struct Corner
    {
        GLfloat x, y, z;
        GLubyte rgba[4];
        GLfloat n[3];
    };
    std::vector<Corner> corners;
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk)
        for (int f = 0; f < kCubeFaceCount; ++f)
            for (int k = chunk / (side * side) * edge; k < chunk / (side * side) * edge + edge; ++k)
                for (int j = chunk / side % side * edge; j < chunk / side % side * edge + edge; ++j)
                    for (int i = chunk % side * edge; i < chunk % side * edge + edge; ++i) {
                        VoxelCell face = *block.cellAt(i, j, k);
                        const VoxelCell *n = block.cellAt(i + kStep[f][0], j + kStep[f][1], k + kStep[f][2]);
                        face.faceBits = face.solid && (!n || !n->solid) ? kBit[f] : 0;
                        ForEachVoxelFaceVertex(face, [&](double x, double y, double z) {
                            corners.push_back({GLfloat(x), GLfloat(y), GLfloat(z), GLubyte(face.red), GLubyte(face.green),
                                               GLubyte(face.blue), GLubyte(face.alpha), kCubeFaceNormals[f][0],
                                               kCubeFaceNormals[f][1], kCubeFaceNormals[f][2]});
                        });
                    }
    // Drawn through the same vertex path as the cache's, from plain memory.
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(Corner), &corners[0].x);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(Corner), &corners[0].rgba);
    glNormalPointer(GL_FLOAT, sizeof(Corner), &corners[0].n);
    glDrawArrays(GL_QUADS, 0, GLsizei(corners.size()));
    glPopClientAttrib();
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
        Look();
        glEnable(GL_DEPTH_TEST);   // faces that look away still count in feedback
        if (round >= 3) {          // lit from here on: the normals count too
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

// The view's pixels after `draw`, from a cleared view.
std::vector<GLuint> Pixels(const std::function<void()> &draw)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw();
    std::vector<GLuint> pixels(size_t(kViewWidth) * kViewHeight);
    glReadPixels(0, 0, kViewWidth, kViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// Pixels whose colour is none of the expected pixel's and its eight
// neighbours': a rectangle's texture places a cell boundary exactly, the
// rasteriser snaps a face's corners to a sub-pixel grid.
size_t Differing(const std::vector<GLuint> &expected, const std::vector<GLuint> &drawn)
{
    size_t differing = 0;
    for (int y = 0; y < kViewHeight; ++y)
        for (int x = 0; x < kViewWidth; ++x) {
            const GLuint got = drawn[size_t(y) * kViewWidth + x];
            bool seen = false;
            for (int dy = -1; dy <= 1 && !seen; ++dy)
                for (int dx = -1; dx <= 1 && !seen; ++dx) {
                    const int nx = std::clamp(x + dx, 0, kViewWidth - 1), ny = std::clamp(y + dy, 0, kViewHeight - 1);
                    seen = expected[size_t(ny) * kViewWidth + nx] == got;
                }
            differing += !seen;
        }
    return differing;
}

TEST_F(VoxelDrawTest, LeavingOutFacesAndMergingThemChangesNoPixel)
{
    std::unique_ptr<VoxelBlock> block = VoxelBlock::make();
    ASSERT_TRUE(block);
    FuzzRandom random(20261208u);
    // A tunnel of 10 x 10 cells along i through the middle (world y and z
    // 450 to 550), and pits anywhere.
    for (int i = 0; i < VoxelBlock::kSize; ++i)
        for (int j = 45; j < 55; ++j)
            for (int k = 45; k < 55; ++k)
                block->carve(i, j, k);
    for (int n = 0; n < 3000; ++n)
        block->carve(int(random.Below(100)), int(random.Below(100)), int(random.Below(100)));
    block->add(25, 25, 25);   // the eye's cell below
    const auto near = [&](double at) { return at + double(random.Below(801)) - 400; };
    struct Case
    {
        std::string name;
        double eye[3], at[3];
        bool parallel = false, depth = true, blend = false, translucent = false, lit = false;
        // Lit: 0 the colour as ambient and diffuse material, 1 no colour
        // material, 2 a light too bright for the halved colour.
        int lighting = 0;
        bool merged = true; // the rectangles are drawn
    };
    const Case cases[] = {
        {"outside +X", {2200, near(500), near(500)}, {500, 500, 500}},
        {"outside -X", {-1200, near(500), near(500)}, {500, 500, 500}},
        {"outside +Y, lit", {near(500), 2200, near(500)}, {500, 500, 500}, false, true, false, false, true},
        {"outside -Y", {near(500), -1200, near(500)}, {500, 500, 500}},
        {"outside +Z, lit, no colour material", {near(500), near(500), 2200}, {500, 500, 500}, false, true, false, false, true, 1},
        {"outside -Z, blended", {near(500), near(500), -1200}, {500, 500, 500}, false, true, true},
        {"parallel", {near(1500), near(1500), -1500}, {500, 500, 500}, true},
        {"in the tunnel", {near(500), 500, 500}, {1000, near(500), near(500)}},
        {"in a solid cell", {255, 255, 255}, {near(500), near(500), near(500)}},
        {"translucent, blended", {2000, near(500), near(500)}, {500, 500, 500}, false, true, true, true, false, 0, false},
        {"depth test off, lit", {near(500), 2000, 1800}, {500, 500, 500}, false, false, false, false, true, 0, false},
        {"lit too brightly", {near(500), 2000, 1800}, {500, 500, 500}, false, true, false, false, true, 2, false},
    };
    glViewport(0, 0, kViewWidth, kViewHeight);
    glEnable(GL_POLYGON_OFFSET_FILL);   // as every paint has it
    glPolygonOffset(1.0f, 1.0f);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    VoxelDrawCache cache;   // one for every case: the colours it keeps follow the block's
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name + ", " + random.Trace());
        for (int k = 0; k < VoxelBlock::kSize; ++k)   // a cell in 7 see-through, or none
            for (int j = 0; j < VoxelBlock::kSize; ++j)
                for (int i = 0; i < VoxelBlock::kSize; ++i) {
                    const VoxelCell &c = *block->cellAt(i, j, k);
                    const int alpha = t.translucent && (i + 2 * j + 3 * k) % 7 == 0 ? 100 : 255;
                    if (c.alpha != alpha)
                        block->setColour(i, j, k, c.red, c.green, c.blue, alpha);
                }
        // Boxes of 3 x 3 x 3 cells in new colours, where they show.
        for (int n = 0; n < 60; ++n) {
            const int i = int(random.Below(98)), j = int(random.Below(98)), k = int(random.Below(98));
            const int rgb[3] = {int(random.Below(256)), int(random.Below(256)), int(random.Below(256))};
            for (int c = 0; c < 27; ++c)
                block->setColour(i + c % 3, j + c / 3 % 3, k + c / 9, rgb[0], rgb[1], rgb[2], block->cellAt(i, j, k)->alpha);
        }
        GLfloat diffuse[4] = {t.lighting == 2 ? 1.9f : 1.0f, 1, 1, 1};
        glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        t.parallel ? glOrtho(-900, 900, -700, 700, 1, 6000) : gluPerspective(60, double(kViewWidth) / kViewHeight, 1, 6000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(t.eye[0], t.eye[1], t.eye[2], t.at[0], t.at[1], t.at[2], 0.1, 1, 0.2);
        for (const auto &[capability, on] : {std::pair{GL_DEPTH_TEST, t.depth}, {GL_BLEND, t.blend}, {GL_LIGHTING, t.lit},
                                             {GL_LIGHT0, t.lit}, {GL_COLOR_MATERIAL, t.lit && t.lighting != 1}})
            on ? glEnable(capability) : glDisable(capability);
        const std::vector<GLuint> expected = Pixels([&] { ReferenceLoop(*block); });
        const std::vector<GLuint> cached = Pixels([&] { cache.draw(*block); });
        EXPECT_EQ(cache.drewRectangles(), t.merged);
        EXPECT_GT(expected.size() - size_t(std::count(expected.begin(), expected.end(), expected[0])), expected.size() / 4);
        // A back face within the depth precision of the front one shows at a
        // pixel or so in the loop's picture; any real fault changes thousands.
        EXPECT_LE(Differing(expected, cached), size_t(kViewWidth) * kViewHeight / 4000);
    }
}

} // namespace
