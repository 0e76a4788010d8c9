// The voxel block's logic without GL: the made block, edits of single cells,
// and a long random sequence of edits checked against a brute-force model
// that recomputes every face bit and the whole surface list.
#include "VoxelBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <deque>
#include <memory>
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

// The surface list from head to tail, stopping after more entries than
// there are cells (a cycle).
std::vector<Index> SurfaceList(const VoxelBlock &block)
{
    std::vector<Index> list;
    for (const VoxelCell *c = block.surfaceHead(); c && list.size() <= size_t(VoxelBlock::kCellCount); c = c->successor)
        list.push_back(IndexOf(*c));
    return list;
}

// A render walk without GL: the drawn cells in order, and their face count.
// A list that runs in a circle fails instead of walking forever.
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

std::unique_ptr<VoxelBlock> MakeBlock()
{
    auto block = VoxelBlock::make();
    EXPECT_NE(block, nullptr);
    return block;
}

// -------------------------------------------------------------- brute-force model

// Which cells are solid, and the surface list kept by the rules in their
// plainest form: a deque with the head in front and a membership flag.
struct Model
{
    std::vector<char> solid = std::vector<char>(VoxelBlock::kCellCount, 1);
    std::vector<char> member = std::vector<char>(VoxelBlock::kCellCount, 0);
    std::deque<int> list;

    static bool Inside(int i, int j, int k) { return i >= 0 && i < N && j >= 0 && j < N && k >= 0 && k < N; }
    static int Flat(int i, int j, int k) { return i + N * (j + N * k); }
    bool Solid(int i, int j, int k) const { return Inside(i, j, k) && solid[Flat(i, j, k)]; }

    // Face bits from scratch: a solid cell shows each face whose neighbour
    // is outside the block or empty.
    uint32_t Bits(int i, int j, int k) const
    {
        if (!Solid(i, j, k))
            return 0;
        uint32_t bits = 0;
        bits |= Solid(i - 1, j, k) ? 0 : kNegX;
        bits |= Solid(i + 1, j, k) ? 0 : kPosX;
        bits |= Solid(i, j + 1, k) ? 0 : kPosZ;
        bits |= Solid(i, j - 1, k) ? 0 : kNegZ;
        bits |= Solid(i, j, k + 1) ? 0 : kPosY;
        bits |= Solid(i, j, k - 1) ? 0 : kNegY;
        return bits;
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
    // The walk drops the members that show no face.
    std::vector<int> Walk()
    {
        std::deque<int> kept;
        for (int flat : list) {
            if (Bits(flat % N, flat / N % N, flat / (N * N)))
                kept.push_back(flat);
            else
                member[flat] = 0;
        }
        list.swap(kept);
        return std::vector<int>(list.begin(), list.end());
    }
};

std::vector<Index> Indices(const std::vector<int> &flats)
{
    std::vector<Index> out;
    for (int f : flats)
        out.push_back({f % N, f / N % N, f / (N * N)});
    return out;
}

// Every invariant of the block against the model: solidity, face bits,
// indices, colours (against the colours of a fresh block), membership flags
// and the list itself, entry by entry.
void ExpectMatchesModel(const VoxelBlock &block, const Model &model, const VoxelBlock &fresh)
{
    int faults = 0;
    for (int k = 0; k < N; ++k)
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N && faults < 5; ++i) {
                const VoxelCell &c = *block.cellAt(i, j, k);
                const VoxelCell &f = *fresh.cellAt(i, j, k);
                const bool ok = c.solid == model.Solid(i, j, k) && c.faceBits == model.Bits(i, j, k) &&
                                c.inList == bool(model.member[Model::Flat(i, j, k)]) && IndexOf(c) == Index{i, j, k} &&
                                c.red == f.red && c.green == f.green && c.blue == f.blue && c.alpha == f.alpha;
                if (!ok) {
                    ++faults;
                    ADD_FAILURE() << "cell " << Index{i, j, k} << " solid " << c.solid << " bits " << std::hex << c.faceBits
                                  << " expected " << model.Bits(i, j, k) << " inList " << c.inList;
                }
            }
    EXPECT_EQ(SurfaceList(block), Indices(std::vector<int>(model.list.begin(), model.list.end())));
}

// ---------------------------------------------------------------- tests

TEST(VoxelBlock, FreshBlockListsItsBoundaryAndDrawsTheSixSides)
{
    auto block = MakeBlock();
    ASSERT_TRUE(block);
    EXPECT_EQ(block->sizeI(), 100);
    EXPECT_EQ(block->sizeJ(), 100);
    EXPECT_EQ(block->sizeK(), 100);
    const std::vector<Index> list = SurfaceList(*block);
    EXPECT_EQ(list.size(), 58808u);
    ASSERT_GE(list.size(), 3u);
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

TEST(VoxelBlock, IndicesOutsideTheBlockAddressNoCell)
{
    auto block = MakeBlock();
    ASSERT_TRUE(block);
    EXPECT_EQ(block->cellAt(1, 0, 0) - block->cellAt(0, 0, 0), 1);     // i fastest
    EXPECT_EQ(block->cellAt(0, 1, 0) - block->cellAt(0, 0, 0), 100);
    EXPECT_EQ(block->cellAt(0, 0, 1) - block->cellAt(0, 0, 0), 10000);
    for (const Index &c : {Index{-1, 0, 0}, {100, 0, 0}, {0, -1, 0}, {0, 100, 0}, {0, 0, -1}, {0, 0, 100},
                           {INT_MIN, 0, 0}, {0, INT_MAX, 0}, {0, 0, INT_MIN}}) {
        EXPECT_EQ(block->cellAt(c.i, c.j, c.k), nullptr) << c;
        block->carve(c.i, c.j, c.k);
        block->add(c.i, c.j, c.k);
    }
    // Adding a solid cell and carving an empty one change nothing either.
    block->add(50, 50, 50);
    block->carve(7, 7, 7);
    block->add(7, 7, 7);
    Model expected;
    expected.Carve(7, 7, 7);
    expected.Add(7, 7, 7);
    auto fresh = MakeBlock();
    ExpectMatchesModel(*block, expected, *fresh);
    block->carve(7, 7, 7);
    block->carve(7, 7, 7);
    expected.Carve(7, 7, 7);
    ExpectMatchesModel(*block, expected, *fresh);
}

// Carving one cell: the neighbours' bits, the order they enter the list,
// and what the next walk draws.
TEST(VoxelBlock, CarvingExposesTheFacesAroundTheHole)
{
    struct Case
    {
        Index carved;
        std::vector<std::pair<Index, uint32_t>> bits; // neighbours in list order from the head
        int listAfterWalk;
        long facesDrawn;
    };
    const Case cases[] = {
        // Buried: six new list entries, each showing only its face towards
        // the hole; the last neighbour visited (k - 1) comes first.
        {{50, 50, 50},
         {{{50, 50, 49}, kPosY}, {{50, 50, 51}, kNegY}, {{50, 49, 50}, kPosZ},
          {{50, 51, 50}, kNegZ}, {{51, 50, 50}, kNegX}, {{49, 50, 50}, kPosX}},
         58808 + 6, 60006},
        // Corner: its three neighbours were listed already and keep their
        // places; each gains the face towards the corner.
        {{0, 0, 0},
         {{{1, 0, 0}, kNegZ | kNegY | kNegX}, {{0, 1, 0}, kNegX | kNegY | kNegZ}, {{0, 0, 1}, kNegX | kNegZ | kNegY}},
         58807, 60000},
    };
    for (const Case &c : cases) {
        auto block = MakeBlock();
        ASSERT_TRUE(block);
        const VoxelCell *carved = block->cellAt(c.carved.i, c.carved.j, c.carved.k);
        const bool wasListed = carved->inList;
        block->carve(c.carved.i, c.carved.j, c.carved.k);
        EXPECT_FALSE(carved->solid);
        EXPECT_EQ(carved->faceBits, 0u);
        EXPECT_EQ(carved->inList, wasListed) << "a carved cell stays listed until the walk";
        const std::vector<Index> list = SurfaceList(*block);
        for (size_t n = 0; n < c.bits.size(); ++n) {
            const auto &[at, bits] = c.bits[n];
            EXPECT_EQ(block->cellAt(at.i, at.j, at.k)->faceBits, bits) << at;
            if (!wasListed) {
                EXPECT_EQ(list[n], at);
            }
        }
        const Drawn drawn = Walk(*block);
        EXPECT_EQ(drawn.faces, c.facesDrawn) << c.carved;
        EXPECT_EQ(SurfaceList(*block).size(), size_t(c.listAfterWalk)) << c.carved;
        EXPECT_FALSE(carved->inList);
        EXPECT_EQ(std::count(drawn.cells.begin(), drawn.cells.end(), c.carved), 0);
    }
}

// Carving and adding back, with and without a walk in between, restores
// every face bit and the colour, and never lists a cell twice.
TEST(VoxelBlock, CarveThenAddRestoresTheBlock)
{
    auto fresh = MakeBlock();
    for (const Index &c : {Index{0, 0, 0}, {50, 50, 50}, {99, 0, 42}, {13, 99, 7}, {1, 1, 1}}) {
        for (bool walkBetween : {false, true}) {
            auto block = MakeBlock();
            ASSERT_TRUE(block);
            block->carve(c.i, c.j, c.k);
            if (walkBetween)
                Walk(*block);
            block->add(c.i, c.j, c.k);
            const std::vector<Index> list = SurfaceList(*block);
            EXPECT_LE(std::count(list.begin(), list.end(), c), 1) << c;
            const Drawn drawn = Walk(*block);
            EXPECT_EQ(drawn.faces, 60000) << c;
            Model model;
            model.Carve(c.i, c.j, c.k);
            if (walkBetween)
                model.Walk();
            model.Add(c.i, c.j, c.k);
            model.Walk();
            ExpectMatchesModel(*block, model, *fresh);
        }
    }
}

TEST(VoxelBlock, CarvingEverythingEmptiesTheListAndOneCellComesBackAlone)
{
    auto block = MakeBlock();
    ASSERT_TRUE(block);
    for (int k = 0; k < N; ++k)
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N; ++i)
                block->carve(i, j, k);
    EXPECT_TRUE(Walk(*block).cells.empty());
    EXPECT_EQ(block->surfaceHead(), nullptr);
    block->add(5, 6, 7);
    EXPECT_EQ(SurfaceList(*block), (std::vector<Index>{{5, 6, 7}}));
    const Drawn drawn = Walk(*block);
    EXPECT_EQ(drawn.cells, (std::vector<Index>{{5, 6, 7}}));
    EXPECT_EQ(drawn.faces, 6);
    EXPECT_EQ(block->cellAt(5, 6, 7)->faceBits, VoxelFace::kAll);
}

// 100,000 carves and adds, mostly in two corners so that they meet each
// other and the boundary, with walks in between; every cell and the list
// are compared with the model at intervals, the touched cells after every
// step.
TEST(VoxelBlock, RandomEditsKeepEveryInvariant)
{
    auto block = MakeBlock();
    auto fresh = MakeBlock();
    ASSERT_TRUE(block && fresh);
    Model model;
    std::mt19937 rng(20240611);
    auto coordinate = [&](int region) {
        switch (region) {
        case 0: return std::uniform_int_distribution<int>(-1, 7)(rng);   // near the low corner
        case 1: return std::uniform_int_distribution<int>(93, 100)(rng); // near the high corner
        default: return std::uniform_int_distribution<int>(-2, 101)(rng);
        }
    };
    for (int step = 1; step <= 100000; ++step) {
        const int region = std::uniform_int_distribution<int>(0, 9)(rng) % 3;
        const int i = coordinate(region), j = coordinate(region), k = coordinate(region);
        if (rng() % 2) {
            block->carve(i, j, k);
            model.Carve(i, j, k);
        } else {
            block->add(i, j, k);
            model.Add(i, j, k);
        }
        if (const VoxelCell *c = block->cellAt(i, j, k)) {
            ASSERT_EQ(c->faceBits, model.Bits(i, j, k)) << "step " << step;
        }
        for (const auto &d : VoxelBlock::kDirections) {
            if (const VoxelCell *n = block->cellAt(i + d.di, j + d.dj, k + d.dk)) {
                ASSERT_EQ(n->faceBits, model.Bits(n->i, n->j, n->k)) << "step " << step;
            }
        }
        if (rng() % 300 == 0) {
            const std::vector<int> kept = model.Walk();
            ASSERT_EQ(Walk(*block).cells, Indices(kept)) << "step " << step;
        }
        if (step % 5000 == 0) {
            ExpectMatchesModel(*block, model, *fresh);
            ASSERT_FALSE(HasFailure()) << "step " << step;
        }
    }
}

} // namespace
