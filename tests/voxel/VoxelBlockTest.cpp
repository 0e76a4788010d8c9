// The voxel block without GL, against a model that knows only which cells
// are solid: the made block, scripted edits and a long random sequence of
// them leave the face bits the model gives, a surface list that holds every
// cell showing a face once, and a walk that draws exactly those cells; and
// the quad each face emits.
#include "VoxelBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int N = VoxelBlock::kSize;
using namespace VoxelFace;
using Index = std::array<int, 3>;

int Flat(int i, int j, int k) { return i + N * (j + N * k); }

struct Model
{
    std::vector<char> solid = std::vector<char>(VoxelBlock::kCellCount, 1);

    static bool Inside(const Index &c) { return std::all_of(c.begin(), c.end(), [](int x) { return x >= 0 && x < N; }); }
    bool Solid(int i, int j, int k) const { return Inside({i, j, k}) && solid[Flat(i, j, k)]; }
    // A solid cell shows each face whose neighbour is outside or empty.
    uint32_t Bits(int i, int j, int k) const
    {
        if (!Solid(i, j, k))
            return 0;
        return (Solid(i - 1, j, k) ? 0 : kNegX) | (Solid(i + 1, j, k) ? 0 : kPosX) | (Solid(i, j + 1, k) ? 0 : kPosZ) |
               (Solid(i, j - 1, k) ? 0 : kNegZ) | (Solid(i, j, k + 1) ? 0 : kPosY) | (Solid(i, j, k - 1) ? 0 : kNegY);
    }
};

// Fills or empties the cell in the block and the model alike.
void Edit(VoxelBlock &block, Model &model, const Index &c, bool fill)
{
    fill ? block.add(c[0], c[1], c[2]) : block.carve(c[0], c[1], c[2]);
    if (Model::Inside(c))
        model.solid[Flat(c[0], c[1], c[2])] = fill;
}

// How often each cell is in the surface list; stops one past the cell count (a cycle).
std::vector<int> Listed(const VoxelBlock &block)
{
    std::vector<int> listed(VoxelBlock::kCellCount);
    int length = 0;
    for (const VoxelCell *c = block.surfaceHead(); c && length <= VoxelBlock::kCellCount; c = c->successor, ++length)
        ++listed[Flat(c->i, c->j, c->k)];
    return listed;
}

// Every cell (solidity, face bits, indices, colour as made); the surface
// list holds each cell that shows a face once, and a walk, which this ends
// with, draws exactly those cells, each once, and keeps only them.
void ExpectMatchesModel(VoxelBlock &block, const Model &model, const VoxelBlock &fresh)
{
    const std::vector<int> before = Listed(block);
    std::vector<int> drawn(VoxelBlock::kCellCount);
    block.walk([&](const VoxelCell &c) { ++drawn[Flat(c.i, c.j, c.k)]; });
    const std::vector<int> after = Listed(block);
    int faults = 0;
    for (int f = 0; f < VoxelBlock::kCellCount && faults < 5; ++f) {
        const int i = f % N, j = f / N % N, k = f / (N * N);
        const VoxelCell &c = *block.cellAt(i, j, k), &m = *fresh.cellAt(i, j, k);
        const int shows = model.Bits(i, j, k) != 0;
        if (c.solid != model.Solid(i, j, k) || c.faceBits != model.Bits(i, j, k) || before[f] > 1 || before[f] < shows ||
            drawn[f] != shows || after[f] != shows || Index{c.i, c.j, c.k} != Index{i, j, k} ||
            std::array{c.red, c.green, c.blue, c.alpha} != std::array{m.red, m.green, m.blue, m.alpha})
            ADD_FAILURE() << "cell " << i << ", " << j << ", " << k << " bits " << std::hex << c.faceBits << " expected "
                          << model.Bits(i, j, k) << std::dec << ", listed " << before[f] << " then " << after[f]
                          << ", drawn " << drawn[f] << (++faults, "");
    }
}

// The made block has the model's faces, lists only its 58,808 boundary
// cells, and colours its cells by their indices.
TEST(VoxelBlock, AFreshBlockListsOnlyItsBoundaryAndHasItsColours)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    const std::vector<int> listed = Listed(*block);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 1), 58808) << "the buried cells are dropped";
    for (const auto &[at, rgba] : {std::pair{Index{1, 0, 0}, std::array{129, 0, 0, 255}}, {Index{99, 99, 99}, std::array{253, 253, 253, 255}},
                                   {Index{2, 51, 98}, std::array{2, 192, 124, 255}}}) { // gradients, lifted by 128 on odd indices
        const VoxelCell *c = block->cellAt(at[0], at[1], at[2]);
        EXPECT_EQ((std::array{c->red, c->green, c->blue, c->alpha}), rgba);
    }
    ExpectMatchesModel(*block, Model(), *block);
}

// Steps of each row: c carves, a adds, w walks; indices out of range change
// nothing; a cell carved and added back buries the neighbours it exposed.
TEST(VoxelBlock, ScriptedAndRandomEditsMatchTheModel)
{
    auto fresh = VoxelBlock::make();
    ASSERT_TRUE(fresh);
    const std::vector<std::vector<std::pair<char, Index>>> cases = {
        {{'c', {-1, 0, 0}}, {'a', {100, 0, 0}}, {'c', {0, 0, INT_MIN}}, {'a', {0, INT_MAX, 0}}, {'a', {50, 50, 50}},
         {'c', {7, 7, 7}}, {'c', {7, 7, 7}}},
        {{'c', {50, 50, 50}}, {'a', {50, 50, 50}}},
        {{'c', {50, 50, 50}}, {'w', {}}, {'a', {50, 50, 50}}}};
    for (size_t n = 0; n < cases.size(); ++n) {
        SCOPED_TRACE(n);
        auto block = VoxelBlock::make();
        Model model;
        for (const auto &[step, at] : cases[n]) {
            if (step == 'w')
                block->walk([](const VoxelCell &) {});
            else
                Edit(*block, model, at, step == 'a');
        }
        ExpectMatchesModel(*block, model, *fresh);
    }
    // 100,000 carves and adds, mostly near two corners so that they meet each
    // other and the boundary, walks in between; everything checked every
    // 2000 steps.
    auto block = VoxelBlock::make();
    Model model;
    std::mt19937 rng(20240611);
    const int low[3] = {-1, 93, -2}, high[3] = {7, 100, 101};
    for (int step = 1; step <= 100000 && !HasFailure(); ++step) {
        const int r = std::uniform_int_distribution<int>(0, 9)(rng) % 3;
        std::uniform_int_distribution<int> coordinate(low[r], high[r]);
        const Index c = {coordinate(rng), coordinate(rng), coordinate(rng)};
        Edit(*block, model, c, rng() % 2);
        if (rng() % 300 == 0)
            block->walk([](const VoxelCell &) {});
        if (step % 2000 == 0)
            ExpectMatchesModel(*block, model, *fresh);
    }
}

// Each face bit emits one quad on its side of the cell's box (cell (2, 3, 4)
// spans x 20-30, y 40-50, z 30-40: j is depth, k height), its corners
// turning left about the outward normal; all six come in the order +X, +Y,
// +Z, -X, -Y, -Z.
TEST(VoxelBlock, EachFaceEmitsItsQuadOutwardInTheFixedOrder)
{
    const auto corners = [](uint32_t bits) { // from the centre of the box
        VoxelCell cell;
        cell.i = 2, cell.j = 3, cell.k = 4, cell.faceBits = bits;
        std::vector<Vector3> out;
        ForEachVoxelFaceVertex(cell, [&](double x, double y, double z) { out.push_back(Vector3(x - 25, y - 45, z - 35)); });
        return out;
    };
    const std::vector<Vector3> all = corners(kAll);
    ASSERT_EQ(all.size(), 24u);
    const std::pair<uint32_t, Vector3> faces[] = {{kPosX, Vector3(1, 0, 0)}, {kPosY, Vector3(0, 1, 0)}, {kPosZ, Vector3(0, 0, 1)},
                                                  {kNegX, Vector3(-1, 0, 0)}, {kNegY, Vector3(0, -1, 0)}, {kNegZ, Vector3(0, 0, -1)}};
    for (int f = 0; f < 6; ++f) {
        const auto &[bit, n] = faces[f];
        const std::vector<Vector3> q = corners(bit);
        ASSERT_EQ(q.size(), 4u);
        for (int v = 0; v < 4; ++v) {
            const Vector3 &a = q[v];
            const Vector3 turn = cross(q[(v + 1) % 4] - a, q[(v + 2) % 4] - q[(v + 1) % 4]);
            EXPECT_TRUE(std::fabs(a.x) == 5 && std::fabs(a.y) == 5 && std::fabs(a.z) == 5 && dot(a, n) == 5)
                << "face " << f << " corner " << v << " is no box corner on its side";
            EXPECT_TRUE(dot(turn, n) == 100 && length(turn) == 100) << "face " << f << " corner " << v << " turns the wrong way";
            EXPECT_EQ(length(all[4 * f + v] - a), 0.0f) << "face " << f << " out of order";
        }
    }
}

} // namespace
