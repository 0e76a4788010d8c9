// The voxel block's logic without GL: the made block, scripted edits and a
// long random sequence of edits, all checked against a brute-force model
// that recomputes every face bit and the whole surface list.
#include "VoxelBlock.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <deque>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int N = VoxelBlock::kSize;
using VoxelFace::kNegX, VoxelFace::kPosX, VoxelFace::kNegY, VoxelFace::kPosY, VoxelFace::kNegZ, VoxelFace::kPosZ;

struct Index
{
    int i, j, k;
    bool operator==(const Index &o) const { return i == o.i && j == o.j && k == o.k; }
};
std::ostream &operator<<(std::ostream &os, const Index &c) { return os << '(' << c.i << ", " << c.j << ", " << c.k << ')'; }
Index IndexOf(const VoxelCell &c) { return {c.i, c.j, c.k}; }
Index Unflat(int f) { return {f % N, f / N % N, f / (N * N)}; }

// The surface list from head to tail; stops one past the cell count (a cycle).
std::vector<Index> SurfaceList(const VoxelBlock &block)
{
    std::vector<Index> list;
    for (const VoxelCell *c = block.surfaceHead(); c && list.size() <= size_t(VoxelBlock::kCellCount); c = c->successor)
        list.push_back(IndexOf(*c));
    return list;
}

// A render walk without GL: the drawn cells in order, faces and vertices.
struct Drawn
{
    std::vector<Index> cells;
    long faces = 0, vertices = 0;
};
Drawn Walk(VoxelBlock &block)
{
    Drawn d;
    if (SurfaceList(block).size() > size_t(VoxelBlock::kCellCount)) {
        ADD_FAILURE() << "the surface list runs in a circle";
        return d;
    }
    block.walk([&](const VoxelCell &c) {
        d.cells.push_back(IndexOf(c));
        d.faces += __builtin_popcount(c.faceBits);
        ForEachVoxelFaceVertex(c, [&](double, double, double) { ++d.vertices; });
    });
    return d;
}

// -------------------------------------------------------------- brute-force model

// Solid cells, and the surface list by the rules in their plainest form: a
// deque with the head in front and a membership flag.
struct Model
{
    std::vector<char> solid = std::vector<char>(VoxelBlock::kCellCount, 1);
    std::vector<char> member = std::vector<char>(VoxelBlock::kCellCount, 0);
    std::deque<int> list;

    static bool Inside(int i, int j, int k) { return i >= 0 && i < N && j >= 0 && j < N && k >= 0 && k < N; }
    static int Flat(int i, int j, int k) { return i + N * (j + N * k); }
    bool Solid(int i, int j, int k) const { return Inside(i, j, k) && solid[Flat(i, j, k)]; }

    // A solid cell shows each face whose neighbour is outside or empty.
    uint32_t Bits(int i, int j, int k) const
    {
        if (!Solid(i, j, k))
            return 0;
        return (Solid(i - 1, j, k) ? 0 : kNegX) | (Solid(i + 1, j, k) ? 0 : kPosX) | (Solid(i, j + 1, k) ? 0 : kPosZ) |
               (Solid(i, j - 1, k) ? 0 : kNegZ) | (Solid(i, j, k + 1) ? 0 : kPosY) | (Solid(i, j, k - 1) ? 0 : kNegY);
    }
    void PutAtHead(int flat)
    {
        if (!member[flat]) {
            member[flat] = 1;
            list.push_front(flat);
        }
    }
    // After make: the boundary cells, the last made first.
    Model()
    {
        for (int i = 0; i < N; ++i)
            for (int j = 0; j < N; ++j)
                for (int k = 0; k < N; ++k)
                    if (Bits(i, j, k))
                        PutAtHead(Flat(i, j, k));
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
        const int n[6][3] = {{i - 1, j, k}, {i + 1, j, k}, {i, j + 1, k}, {i, j - 1, k}, {i, j, k + 1}, {i, j, k - 1}};
        for (const auto &c : n)
            if (Solid(c[0], c[1], c[2]) && Bits(c[0], c[1], c[2]) == 0)
                PutAtHead(Flat(c[0], c[1], c[2]));
        solid[Flat(i, j, k)] = 0;
    }
    // The walk drops the members that show no face; returns what it keeps.
    std::vector<Index> Walk()
    {
        std::deque<int> kept;
        for (int flat : list) {
            const Index c = Unflat(flat);
            if (Bits(c.i, c.j, c.k))
                kept.push_back(flat);
            else
                member[flat] = 0;
        }
        list.swap(kept);
        return Listed();
    }
    std::vector<Index> Listed() const
    {
        std::vector<Index> out;
        for (int f : list)
            out.push_back(Unflat(f));
        return out;
    }
};

// Every cell (solidity, face bits, index, membership, colour against a fresh
// block) and the list entry by entry.
void ExpectMatchesModel(const VoxelBlock &block, const Model &model, const VoxelBlock &fresh)
{
    int faults = 0;
    for (int k = 0; k < N; ++k)
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N && faults < 5; ++i) {
                const VoxelCell &c = *block.cellAt(i, j, k), &f = *fresh.cellAt(i, j, k);
                if (c.solid != model.Solid(i, j, k) || c.faceBits != model.Bits(i, j, k) ||
                    c.inList != bool(model.member[Model::Flat(i, j, k)]) || !(IndexOf(c) == Index{i, j, k}) ||
                    c.red != f.red || c.green != f.green || c.blue != f.blue || c.alpha != f.alpha) {
                    ++faults;
                    ADD_FAILURE() << "cell " << Index{i, j, k} << " solid " << c.solid << " bits " << std::hex
                                  << c.faceBits << " expected " << model.Bits(i, j, k) << " inList " << c.inList;
                }
            }
    EXPECT_EQ(SurfaceList(block), model.Listed());
}

// ---------------------------------------------------------------- tests

TEST(VoxelBlock, FreshBlockListsItsBoundaryAndDrawsTheSixSides)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    EXPECT_EQ((std::array{block->sizeI(), block->sizeJ(), block->sizeK()}), (std::array{100, 100, 100}));
    const std::vector<Index> list = SurfaceList(*block);
    ASSERT_EQ(list.size(), 58808u);
    // Latest added first: the make loop ends with k fastest at (99, 99, 99).
    EXPECT_EQ(list[0], (Index{99, 99, 99}));
    EXPECT_EQ(list[1], (Index{99, 99, 98}));
    EXPECT_EQ(list.back(), (Index{0, 0, 0}));
    const Drawn drawn = Walk(*block);
    EXPECT_EQ(drawn.faces, 60000);
    EXPECT_EQ(drawn.vertices, 240000);
    EXPECT_EQ(drawn.cells, list);
    // Colour gradients, lifted by 128 on odd indices.
    for (const auto &[at, rgba] : {std::pair{Index{0, 0, 0}, std::array{0, 0, 0, 255}},
                                   {Index{1, 0, 0}, std::array{129, 0, 0, 255}},
                                   {Index{99, 99, 99}, std::array{253, 253, 253, 255}},
                                   {Index{2, 51, 98}, std::array{2, 192, 124, 255}}}) {
        const VoxelCell *c = block->cellAt(at.i, at.j, at.k);
        EXPECT_EQ((std::array{c->red, c->green, c->blue, c->alpha}), rgba) << at;
    }
    ExpectMatchesModel(*block, Model(), *block);
}

// Scripted edits applied to the block and the model alike; afterwards every
// cell and the list match the model, and a walk draws the expected faces
// and leaves the expected list. Also: out-of-range indices address no cell,
// a carved cell stays listed until the walk, and no cell is listed twice.
TEST(VoxelBlock, ScriptedEditsMatchTheModel)
{
    struct Both
    {
        VoxelBlock &block;
        Model &model;
        void carve(int i, int j, int k) { block.carve(i, j, k), model.Carve(i, j, k); }
        void add(int i, int j, int k) { block.add(i, j, k), model.Add(i, j, k); }
        void walk() { EXPECT_EQ(Walk(block).cells, model.Walk()); }
    };
    struct Case
    {
        const char *what;
        std::function<void(Both &)> edit;
        long faces;
        size_t listAfterWalk;
    };
    const auto carveAdd = [](Index c, bool walkBetween) {
        return [=](Both &b) { b.carve(c.i, c.j, c.k); if (walkBetween) b.walk(); b.add(c.i, c.j, c.k); };
    };
    const Case cases[] = {
        {"out of range, add to solid, carve empty",
         [](Both &b) {
             for (const Index &c : {Index{-1, 0, 0}, {100, 0, 0}, {0, -1, 0}, {0, 100, 0}, {0, 0, -1}, {0, 0, 100},
                                    {INT_MIN, 0, 0}, {0, INT_MAX, 0}, {0, 0, INT_MIN}}) {
                 EXPECT_EQ(b.block.cellAt(c.i, c.j, c.k), nullptr) << c;
                 b.carve(c.i, c.j, c.k), b.add(c.i, c.j, c.k);
             }
             b.add(50, 50, 50), b.carve(7, 7, 7), b.carve(7, 7, 7);
         },
         60006, 58808 + 6},
        // Buried: the six neighbours enter at the head (the last visited,
        // k - 1, first), each showing only its face towards the hole.
        {"buried carve",
         [](Both &b) {
             b.carve(50, 50, 50);
             const VoxelCell *carved = b.block.cellAt(50, 50, 50);
             EXPECT_TRUE(!carved->solid && carved->faceBits == 0 && !carved->inList);
             const std::vector<std::pair<Index, uint32_t>> bits = {
                 {{50, 50, 49}, kPosY}, {{50, 50, 51}, kNegY}, {{50, 49, 50}, kPosZ},
                 {{50, 51, 50}, kNegZ}, {{51, 50, 50}, kNegX}, {{49, 50, 50}, kPosX}};
             const std::vector<Index> list = SurfaceList(b.block);
             for (size_t n = 0; n < bits.size(); ++n) {
                 EXPECT_EQ(list[n], bits[n].first);
                 EXPECT_EQ(b.block.cellAt(bits[n].first.i, bits[n].first.j, bits[n].first.k)->faceBits, bits[n].second);
             }
         },
         60006, 58808 + 6},
        // Corner: the listed cell stays listed until the walk drops it; its
        // three neighbours keep their places and gain one face each.
        {"corner carve",
         [](Both &b) {
             b.carve(0, 0, 0);
             EXPECT_TRUE(b.block.cellAt(0, 0, 0)->inList);
             EXPECT_EQ(b.block.cellAt(1, 0, 0)->faceBits, kNegZ | kNegY | kNegX);
         },
         60000, 58807},
        {"carve, add at a corner", carveAdd({0, 0, 0}, false), 60000, 58808},
        {"carve, walk, add at a corner", carveAdd({0, 0, 0}, true), 60000, 58808},
        {"carve, add buried", carveAdd({50, 50, 50}, false), 60000, 58808},
        {"carve, walk, add buried", carveAdd({50, 50, 50}, true), 60000, 58808},
        {"carve, walk, add on an edge", carveAdd({99, 0, 42}, true), 60000, 58808},
        {"carve, add one in", carveAdd({1, 1, 1}, false), 60000, 58808},
        {"carve everything, then add one cell",
         [](Both &b) {
             for (int flat = 0; flat < VoxelBlock::kCellCount; ++flat)
                 b.carve(Unflat(flat).i, Unflat(flat).j, Unflat(flat).k);
             b.walk();
             EXPECT_EQ(b.block.surfaceHead(), nullptr);
             b.add(5, 6, 7);
             EXPECT_EQ(b.block.cellAt(5, 6, 7)->faceBits, VoxelFace::kAll);
         },
         6, 1},
    };
    auto fresh = VoxelBlock::make();
    ASSERT_TRUE(fresh);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto block = VoxelBlock::make();
        ASSERT_TRUE(block);
        Model model;
        Both both{*block, model};
        c.edit(both);
        ExpectMatchesModel(*block, model, *fresh);
        const Drawn drawn = Walk(*block);
        EXPECT_EQ(drawn.cells, model.Walk());
        EXPECT_EQ(drawn.faces, c.faces);
        EXPECT_EQ(SurfaceList(*block).size(), c.listAfterWalk);
        ExpectMatchesModel(*block, model, *fresh);
    }
}

// 100,000 carves and adds, mostly near two corners so that they meet each
// other and the boundary, with walks in between; the touched cells are
// checked after every step, every cell and the list every 5000 steps.
TEST(VoxelBlock, RandomEditsKeepEveryInvariant)
{
    auto block = VoxelBlock::make(), fresh = VoxelBlock::make();
    ASSERT_TRUE(block && fresh);
    Model model;
    std::mt19937 rng(20240611);
    const int low[3] = {-1, 93, -2}, high[3] = {7, 100, 101}; // low corner, high corner, anywhere
    for (int step = 1; step <= 100000; ++step) {
        const int r = std::uniform_int_distribution<int>(0, 9)(rng) % 3;
        std::uniform_int_distribution<int> coordinate(low[r], high[r]);
        const int i = coordinate(rng), j = coordinate(rng), k = coordinate(rng);
        if (rng() % 2)
            block->carve(i, j, k), model.Carve(i, j, k);
        else
            block->add(i, j, k), model.Add(i, j, k);
        if (const VoxelCell *c = block->cellAt(i, j, k)) {
            ASSERT_EQ(c->faceBits, model.Bits(i, j, k)) << "step " << step;
        }
        for (const auto &d : VoxelBlock::kDirections)
            if (const VoxelCell *n = block->cellAt(i + d.di, j + d.dj, k + d.dk)) {
                ASSERT_EQ(n->faceBits, model.Bits(n->i, n->j, n->k)) << "step " << step;
            }
        if (rng() % 300 == 0) {
            ASSERT_EQ(Walk(*block).cells, model.Walk()) << "step " << step;
        }
        if (step % 5000 == 0) {
            ExpectMatchesModel(*block, model, *fresh);
            ASSERT_FALSE(HasFailure()) << "step " << step;
        }
    }
}

} // namespace
