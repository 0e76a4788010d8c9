// The voxel block without GL, against a brute-force model that recomputes
// every face bit and the surface list: the made block, scripted edits, a
// long random sequence of edits; and the geometry each face emits.
#include "VoxelBlock.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <deque>
#include <functional>
#include <random>

namespace {

constexpr int N = VoxelBlock::kSize;
using namespace VoxelFace;
using Index = std::array<int, 3>;

Index Unflat(int f) { return {f % N, f / N % N, f / (N * N)}; }

// The surface list from head to tail; stops one past the cell count (a cycle).
std::vector<Index> SurfaceList(const VoxelBlock &block)
{
    std::vector<Index> list;
    for (const VoxelCell *c = block.surfaceHead(); c && list.size() <= size_t(VoxelBlock::kCellCount); c = c->successor)
        list.push_back({c->i, c->j, c->k});
    return list;
}

// The cells a render walk draws, in order, and their faces.
std::pair<std::vector<Index>, long> Walk(VoxelBlock &block)
{
    std::pair<std::vector<Index>, long> drawn;
    block.walk([&](const VoxelCell &c) { drawn.first.push_back({c.i, c.j, c.k}); drawn.second += __builtin_popcount(c.faceBits); });
    return drawn;
}

// Solid cells and the surface list by the rules in their plainest form: a
// deque with the head in front and a membership flag.
struct Model
{
    std::vector<char> solid = std::vector<char>(VoxelBlock::kCellCount, 1), member = std::vector<char>(VoxelBlock::kCellCount, 0);
    std::deque<int> list;

    static int Flat(int i, int j, int k) { return i + N * (j + N * k); }
    static bool Inside(int i, int j, int k) { return i >= 0 && i < N && j >= 0 && j < N && k >= 0 && k < N; }
    bool Solid(int i, int j, int k) const { return Inside(i, j, k) && solid[Flat(i, j, k)]; }
    // A solid cell shows each face whose neighbour is outside or empty.
    uint32_t Bits(int i, int j, int k) const
    {
        return !Solid(i, j, k) ? 0 : (Solid(i - 1, j, k) ? 0 : kNegX) | (Solid(i + 1, j, k) ? 0 : kPosX) | (Solid(i, j + 1, k) ? 0 : kPosZ) |
                                         (Solid(i, j - 1, k) ? 0 : kNegZ) | (Solid(i, j, k + 1) ? 0 : kPosY) | (Solid(i, j, k - 1) ? 0 : kNegY);
    }
    void PutAtHead(int flat)
    {
        if (!member[flat])
            member[flat] = 1, list.push_front(flat);
    }
    Model() // made in i, j, k order, k fastest: the boundary, the last made first
    {
        for (int f = 0; f < VoxelBlock::kCellCount; ++f) {
            const int k = f % N, j = f / N % N, i = f / (N * N);
            if (Bits(i, j, k))
                PutAtHead(Flat(i, j, k));
        }
    }
    void Add(int i, int j, int k)
    {
        if (!Inside(i, j, k) || Solid(i, j, k))
            return;
        solid[Flat(i, j, k)] = 1;
        if (Bits(i, j, k))
            PutAtHead(Flat(i, j, k));
    }
    void Carve(int i, int j, int k)
    {
        if (!Solid(i, j, k))
            return;
        for (const Index &n : {Index{i - 1, j, k}, {i + 1, j, k}, {i, j + 1, k}, {i, j - 1, k}, {i, j, k + 1}, {i, j, k - 1}})
            if (Solid(n[0], n[1], n[2]) && Bits(n[0], n[1], n[2]) == 0)
                PutAtHead(Flat(n[0], n[1], n[2]));
        solid[Flat(i, j, k)] = 0;
    }
    std::vector<Index> Listed() const
    {
        std::vector<Index> out;
        for (int f : list)
            out.push_back(Unflat(f));
        return out;
    }
    // The walk drops the members that show no face and draws the rest.
    std::vector<Index> Walk()
    {
        std::deque<int> kept;
        for (int f : list)
            Bits(Unflat(f)[0], Unflat(f)[1], Unflat(f)[2]) ? kept.push_back(f) : (void)(member[f] = 0);
        list.swap(kept);
        return Listed();
    }
};

// Every cell (solidity, face bits, index, membership, colour as made) and the list.
void ExpectMatchesModel(const VoxelBlock &block, const Model &model, const VoxelBlock &fresh)
{
    int faults = 0;
    for (int f = 0; f < VoxelBlock::kCellCount && faults < 5; ++f) {
        const auto [i, j, k] = Unflat(f);
        const VoxelCell &c = *block.cellAt(i, j, k), &m = *fresh.cellAt(i, j, k);
        if (c.solid != model.Solid(i, j, k) || c.faceBits != model.Bits(i, j, k) || c.inList != bool(model.member[f]) ||
            Index{c.i, c.j, c.k} != Index{i, j, k} || std::array{c.red, c.green, c.blue, c.alpha} != std::array{m.red, m.green, m.blue, m.alpha})
            ADD_FAILURE() << "cell " << i << ", " << j << ", " << k << " bits " << std::hex << c.faceBits << " expected " << model.Bits(i, j, k) << (++faults, "");
    }
    EXPECT_EQ(SurfaceList(block), model.Listed());
}

TEST(VoxelBlock, AFreshBlockListsItsBoundaryAndDrawsTheSixSidesInItsColours)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    EXPECT_EQ((std::array{block->sizeI(), block->sizeJ(), block->sizeK()}), (std::array{100, 100, 100}));
    const std::vector<Index> list = SurfaceList(*block);
    ASSERT_EQ(list.size(), 58808u);
    EXPECT_EQ(list.front(), (Index{99, 99, 99}));
    EXPECT_EQ(list[1], (Index{99, 99, 98}));
    EXPECT_EQ(list.back(), (Index{0, 0, 0}));
    EXPECT_EQ(Walk(*block), std::make_pair(list, 60000L));
    for (const auto &[at, rgba] : {std::pair{Index{1, 0, 0}, std::array{129, 0, 0, 255}}, {Index{99, 99, 99}, std::array{253, 253, 253, 255}},
                                   {Index{2, 51, 98}, std::array{2, 192, 124, 255}}}) { // gradients, lifted by 128 on odd indices
        const VoxelCell *c = block->cellAt(at[0], at[1], at[2]);
        EXPECT_EQ((std::array{c->red, c->green, c->blue, c->alpha}), rgba);
    }
    ExpectMatchesModel(*block, Model(), *block);
}

// Edits applied to the block and the model alike: every cell and the list
// match, before and after a walk, which draws what the model draws.
TEST(VoxelBlock, ScriptedAndRandomEditsMatchTheModel)
{
    auto fresh = VoxelBlock::make();
    ASSERT_TRUE(fresh);
    using Edit = std::function<void(VoxelBlock &, Model &)>;
    const auto carve = [](Index c) -> Edit { return [=](VoxelBlock &b, Model &m) { b.carve(c[0], c[1], c[2]), m.Carve(c[0], c[1], c[2]); }; };
    const auto add = [](Index c) -> Edit { return [=](VoxelBlock &b, Model &m) { b.add(c[0], c[1], c[2]), m.Add(c[0], c[1], c[2]); }; };
    const Edit walk = [](VoxelBlock &b, Model &m) { EXPECT_EQ(Walk(b).first, m.Walk()); };
    const Edit everything = [](VoxelBlock &b, Model &m) { for (int f = 0; f < VoxelBlock::kCellCount; ++f) b.carve(Unflat(f)[0], Unflat(f)[1], Unflat(f)[2]), m.Carve(Unflat(f)[0], Unflat(f)[1], Unflat(f)[2]); };
    const std::vector<std::vector<Edit>> cases = {
        {carve({-1, 0, 0}), add({100, 0, 0}), carve({0, 0, INT_MIN}), add({0, INT_MAX, 0}), add({50, 50, 50}), carve({7, 7, 7}), carve({7, 7, 7})},
        {carve({0, 0, 0})}, {carve({0, 0, 0}), walk, add({0, 0, 0})}, {carve({50, 50, 50}), add({50, 50, 50})},
        {carve({50, 50, 50}), walk, add({50, 50, 50})}, {carve({99, 0, 42}), walk, add({99, 0, 42})}, {carve({1, 1, 1}), add({1, 1, 1})},
        {everything, walk, add({5, 6, 7})}};
    for (size_t n = 0; n < cases.size(); ++n) {
        SCOPED_TRACE(n);
        auto block = VoxelBlock::make();
        Model model;
        for (const Edit &edit : cases[n])
            edit(*block, model);
        ExpectMatchesModel(*block, model, *fresh);
        walk(*block, model);
        ExpectMatchesModel(*block, model, *fresh);
    }
    // 100,000 carves and adds, mostly near two corners so that they meet each
    // other and the boundary, walks in between; the touched cells checked
    // after every step, everything every 5000 steps.
    auto block = VoxelBlock::make();
    Model model;
    std::mt19937 rng(20240611);
    const int low[3] = {-1, 93, -2}, high[3] = {7, 100, 101};
    for (int step = 1; step <= 100000 && !HasFailure(); ++step) {
        const int r = std::uniform_int_distribution<int>(0, 9)(rng) % 3;
        std::uniform_int_distribution<int> coordinate(low[r], high[r]);
        const Index c = {coordinate(rng), coordinate(rng), coordinate(rng)};
        (rng() % 2 ? carve : add)(c)(*block, model);
        for (const Index &n : {c, Index{c[0] - 1, c[1], c[2]}, {c[0] + 1, c[1], c[2]}, {c[0], c[1] - 1, c[2]}, {c[0], c[1] + 1, c[2]}, {c[0], c[1], c[2] - 1}, {c[0], c[1], c[2] + 1}})
            if (const VoxelCell *cell = block->cellAt(n[0], n[1], n[2])) {
                ASSERT_EQ(cell->faceBits, model.Bits(n[0], n[1], n[2])) << "step " << step;
            }
        if (rng() % 300 == 0)
            walk(*block, model);
        if (step % 5000 == 0)
            ExpectMatchesModel(*block, model, *fresh);
    }
}

// Each face bit emits one quad on its side of the cell's box (cell (2, 3, 4)
// spans x 20-30, y 40-50, z 30-40: j is depth, k height), its four corners
// counter-clockwise seen from outside; all six in the order +X, +Y, +Z, -X,
// -Y, -Z, the first vertex at (+, -, +).
TEST(VoxelBlock, EachFaceEmitsItsQuadOutwardInTheFixedOrder)
{
    VoxelCell cell;
    cell.i = 2, cell.j = 3, cell.k = 4;
    const double centre[3] = {25, 45, 35};
    const std::pair<uint32_t, std::array<int, 3>> faces[] = {{kPosX, {1, 0, 0}}, {kPosY, {0, 1, 0}}, {kPosZ, {0, 0, 1}},
                                                            {kNegX, {-1, 0, 0}}, {kNegY, {0, -1, 0}}, {kNegZ, {0, 0, -1}}};
    std::vector<std::array<double, 3>> all, one;
    cell.faceBits = kAll;
    ForEachVoxelFaceVertex(cell, [&](double x, double y, double z) { all.push_back({x - centre[0], y - centre[1], z - centre[2]}); });
    ASSERT_EQ(all.size(), 24u);
    EXPECT_EQ(all[0], (std::array<double, 3>{5, -5, 5}));
    for (size_t f = 0; f < 6; ++f) {
        const auto &[bit, n] = faces[f];
        cell.faceBits = bit;
        one.clear();
        ForEachVoxelFaceVertex(cell, [&](double x, double y, double z) { one.push_back({x - centre[0], y - centre[1], z - centre[2]}); });
        ASSERT_EQ(one.size(), 4u) << f;
        EXPECT_TRUE(std::equal(one.begin(), one.end(), all.begin() + 4 * f)) << "face " << f << " out of order";
        for (size_t v = 0; v < 4; ++v) {
            for (int a = 0; a < 3; ++a)
                EXPECT_EQ(std::fabs(one[v][a]), 5.0) << f;
            EXPECT_EQ(one[v][0] * n[0] + one[v][1] * n[1] + one[v][2] * n[2], 5.0) << "face " << f << " off its side";
            EXPECT_NE(one[v], one[(v + 1) % 4]);
            EXPECT_NE(one[v], one[(v + 2) % 4]);
        }
        const auto d = [&](int p, int a) { return one[p][a] - one[0][a]; };
        const double normal[3] = {d(1, 1) * d(2, 2) - d(1, 2) * d(2, 1), d(1, 2) * d(2, 0) - d(1, 0) * d(2, 2), d(1, 0) * d(2, 1) - d(1, 1) * d(2, 0)};
        EXPECT_GT(normal[0] * n[0] + normal[1] * n[1] + normal[2] * n[2], 0.0) << "face " << f << " wound inward";
    }
}

} // namespace
