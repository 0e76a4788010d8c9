// The voxel block without GL, against a model that knows only which cells are solid.
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

// Every cell as the model has it; the list and a walk (which this ends with)
// hold each cell that shows a face once, and only those.
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

// c carves, a adds, w walks.
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
    // Mostly near two corners, so that edits meet each other and the boundary.
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

// The cells (i, j, k) of the list in order, ending with a walk.
std::vector<Index> ListOrder(VoxelBlock &block)
{
    std::vector<Index> order;
    block.walk([&](const VoxelCell &c) { order.push_back({c.i, c.j, c.k}); });
    return order;
}

// Random boxes and spheres (bad ones among them), colours and resets against
// single-cell edits over the cells a plain loop finds.
TEST(VoxelBlock, BulkEditsAreTheSingleCellEditsOverTheirCells)
{
    auto bulk = VoxelBlock::make(), single = VoxelBlock::make(), fresh = VoxelBlock::make();
    ASSERT_TRUE(bulk && single && fresh);
    Model model;
    std::mt19937 rng(20261207);
    const auto coordinate = [&] { return std::uniform_int_distribution<int>(-30, 129)(rng); };
    const double radii[] = {0, 1, 2, 5, 7.5, 12, 20, -1, NAN, INFINITY, 1e30};
    for (int step = 0; step < 60 && !HasFailure(); ++step) {
        SCOPED_TRACE(step);
        const bool fill = step % 3 == 2;
        const Index a = {coordinate(), coordinate(), coordinate()}, b = {coordinate(), coordinate(), coordinate()};
        const double r = radii[rng() % std::size(radii)];
        const bool sphere = step % 2;
        // The cells the edit takes, found plainly.
        std::vector<char> in(VoxelBlock::kCellCount);
        for (int f = 0; f < VoxelBlock::kCellCount; ++f) {
            const int i = f % N, j = f / N % N, k = f / (N * N);
            const double di = i - a[0], dj = j - a[1], dk = k - a[2];
            in[f] = sphere ? di * di + dj * dj + dk * dk <= r * r
                           : std::min(a[0], b[0]) <= i && i <= std::max(a[0], b[0]) && std::min(a[1], b[1]) <= j &&
                                 j <= std::max(a[1], b[1]) && std::min(a[2], b[2]) <= k && k <= std::max(a[2], b[2]);
        }
        std::vector<uint32_t> versions(VoxelBlock::kChunkCount), bits(VoxelBlock::kCellCount);
        for (int c = 0; c < VoxelBlock::kChunkCount; ++c)
            versions[c] = bulk->chunkVersion(c);
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            bits[f] = bulk->cellAt(f % N, f / N % N, f / (N * N))->faceBits;
        if (sphere)
            fill ? bulk->addSphere(a[0], a[1], a[2], r) : bulk->carveSphere(a[0], a[1], a[2], r);
        else
            fill ? bulk->addBox(a[0], a[1], a[2], b[0], b[1], b[2]) : bulk->carveBox(a[0], a[1], a[2], b[0], b[1], b[2]);
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            if (in[f])
                Edit(*single, model, {f % N, f / N % N, f / (N * N)}, fill);
        for (int f = 0; f < VoxelBlock::kCellCount; ++f) {
            const int i = f % N, j = f / N % N, k = f / (N * N);
            if (bulk->cellAt(i, j, k)->faceBits != bits[f] && bulk->chunkVersion(VoxelBlock::chunkOf(i, j, k)) == versions[VoxelBlock::chunkOf(i, j, k)]) {
                ADD_FAILURE() << "the chunk of cell " << i << ", " << j << ", " << k << " changed, its version did not";
                break;
            }
        }
        // Now and then colours, the same on both, and a walk or a reset.
        for (int n = 0; n < 20; ++n) {
            const Index c = {coordinate(), coordinate(), coordinate()};
            const int rgba[4] = {int(rng()), int(rng() % 256), -int(rng() % 300), int(rng())};
            bulk->setColour(c[0], c[1], c[2], rgba[0], rgba[1], rgba[2], rgba[3]);
            single->setColour(c[0], c[1], c[2], rgba[0] & 0xff, rgba[1] & 0xff, rgba[2] & 0xff, rgba[3] & 0xff);
        }
        if (step % 7 == 6) {
            const uint32_t version = bulk->colourVersion(0);
            bulk->reset();
            single = VoxelBlock::make();
            model = Model();
            EXPECT_NE(bulk->colourVersion(0), version);
        }
        if (step % 5 == 4 || step % 7 == 6) {
            ASSERT_EQ(ListOrder(*bulk), ListOrder(*single));
            for (int f = 0; f < VoxelBlock::kCellCount; ++f) {
                const VoxelCell &x = *bulk->cellAt(f % N, f / N % N, f / (N * N)), &y = *single->cellAt(f % N, f / N % N, f / (N * N));
                if (x.solid != y.solid || x.faceBits != y.faceBits ||
                    std::array{x.red, x.green, x.blue, x.alpha} != std::array{y.red, y.green, y.blue, y.alpha}) {
                    ADD_FAILURE() << "cell " << x.i << ", " << x.j << ", " << x.k << " differs";
                    break;
                }
            }
        }
    }
    // Colours aside (the model keeps the made ones), the block is the model's.
    bulk->reset();
    ExpectMatchesModel(*bulk, Model(), *fresh);
}

// A rectangle of one face has that face's corners in their order.
TEST(VoxelBlock, RectanglesCoverExactlyTheFacesThatShow)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    std::mt19937 rng(20261209);
    static const uint32_t kBit[6] = {kPosX, kPosY, kPosZ, kNegX, kNegY, kNegZ};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        for (int n = 0; n < 4000; ++n) {
            const int i = int(rng() % 100), j = int(rng() % 100), k = int(rng() % 100);
            n % 40 == 0 ? block->carveSphere(i, j, k, rng() % 9) : block->carve(i, j, k);
            if (n % 3 == 0)
                block->add(i + 1, j, k);
        }
        std::vector<uint32_t> covered(VoxelBlock::kCellCount);
        int single = 0;
        for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
            std::vector<VoxelRect> rects[kCubeFaceCount];
            ChunkRectangles(*block, chunk, rects);
            for (int f = 0; f < kCubeFaceCount; ++f)
                for (const VoxelRect &r : rects[f]) {
                    ASSERT_EQ(r.face, f);
                    for (int k = r.lo[2]; k <= r.hi[2]; ++k)
                        for (int j = r.lo[1]; j <= r.hi[1]; ++j)
                            for (int i = r.lo[0]; i <= r.hi[0]; ++i) {
                                ASSERT_EQ(VoxelBlock::chunkOf(i, j, k), chunk);
                                uint32_t &seen = covered[Flat(i, j, k)];
                                ASSERT_FALSE(seen & kBit[f]) << "face " << f << " of " << i << ", " << j << ", " << k << " twice";
                                seen |= kBit[f];
                            }
                    if (r.lo[0] == r.hi[0] && r.lo[1] == r.hi[1] && r.lo[2] == r.hi[2]) {
                        VoxelCell cell = *block->cellAt(r.lo[0], r.lo[1], r.lo[2]);
                        cell.faceBits = kBit[f];
                        std::vector<double> face, rect;
                        ForEachVoxelFaceVertex(cell, [&](double x, double y, double z) { face.insert(face.end(), {x, y, z}); });
                        ForEachVoxelRectVertex(r, [&](double x, double y, double z) { rect.insert(rect.end(), {x, y, z}); });
                        EXPECT_EQ(rect, face);
                        ++single;
                    }
                }
        }
        EXPECT_GT(single, 100);
        int wrong = 0;
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            wrong += covered[f] != block->cellAt(f % N, f / N % N, f / (N * N))->faceBits;
        EXPECT_EQ(wrong, 0) << "cells whose faces that show are not all covered";
    }
}

// Against every solid cell's box: the least entry t (a cell the ray starts in
// aside), through the face of the axis it enters last.
TEST(VoxelBlock, PickFindsTheFirstSolidCellAlongTheRay)
{
    auto block = VoxelBlock::make();
    ASSERT_TRUE(block);
    std::mt19937 rng(20261210);
    std::uniform_real_distribution<double> unit(-1, 1);
    const char *faces[] = {"+x", "+y", "+z", "-x", "-y", "-z"};
    int hits = 0;
    for (int round = 0; round < 4; ++round) {
        block->carveBox(0, 0, 0, 99, 99, 99);
        for (int n = 0; n < 3000; ++n)
            block->add(40 + int(rng() % 30), 30 + int(rng() % 40), 35 + int(rng() % 30));
        if (round == 3)
            block->addBox(0, 0, 0, 99, 99, 0); // a floor: rays that start in it
        std::vector<const VoxelCell *> solid;
        for (int f = 0; f < VoxelBlock::kCellCount; ++f)
            if (block->cellAt(f % N, f / N % N, f / (N * N))->solid)
                solid.push_back(block->cellAt(f % N, f / N % N, f / (N * N)));
        for (int ray = 0; ray < 2000; ++ray) {
            double o[3], d[3];
            const bool inside = ray % 2;
            for (int a = 0; a < 3; ++a) {
                o[a] = inside ? 500 + 400 * unit(rng) : 500 + 1500 * unit(rng);
                d[a] = unit(rng);
            }
            if (round == 3)
                o[1] = 5 * (unit(rng) + 1); // world y in the floor's cells
            // Aim at the cluster from outside, so that most rays hit.
            if (!inside)
                for (int a = 0; a < 3; ++a)
                    d[a] = 500 + 200 * unit(rng) - o[a];
            // Brute force: the least entry over every solid cell's box.
            double best = INFINITY;
            VoxelBlock::Hit expected;
            for (const VoxelCell *cell : solid) {
                const VoxelCell &c = *cell;
                const double lo[3] = {10.0 * c.i, 10.0 * c.k, 10.0 * c.j};
                double tIn = -INFINITY, tOut = INFINITY;
                int axis = -1;
                for (int a = 0; a < 3; ++a) {
                    double t0 = (lo[a] - o[a]) / d[a], t1 = (lo[a] + 10 - o[a]) / d[a];
                    if (t0 > t1)
                        std::swap(t0, t1);
                    if (t0 > tIn)
                        tIn = t0, axis = a;
                    tOut = std::min(tOut, t1);
                }
                if (tIn > tOut || tOut < 0)
                    continue;
                int face;
                if (tIn < 0) { // starts inside: the face back along the greatest component
                    axis = 0;
                    for (int a = 1; a < 3; ++a)
                        if (std::fabs(d[a]) > std::fabs(d[axis]))
                            axis = a;
                    tIn = -INFINITY;
                }
                face = axis + (d[axis] > 0 ? 3 : 0);
                if (tIn < best)
                    best = tIn, expected = VoxelBlock::Hit{c.i, c.j, c.k, face};
            }
            VoxelBlock::Hit hit;
            const bool found = block->pick(o, d, hit);
            ASSERT_EQ(found, best < INFINITY) << "ray " << ray << " of round " << round;
            hits += found;
            if (found) {
                ASSERT_EQ((std::array{hit.i, hit.j, hit.k, hit.face}), (std::array{expected.i, expected.j, expected.k, expected.face}))
                    << "ray " << ray << " of round " << round << ", face " << faces[hit.face] << " expected " << faces[expected.face];
            }
        }
    }
    EXPECT_GT(hits, 3000) << "most rays meet a cell";
    // Rays that miss, and rays that are no rays: nothing.
    VoxelBlock::Hit hit;
    const double away[3] = {2000, 0, 0}, out[3] = {1, 0, 0}, zero[3] = {0, 0, 0}, nan[3] = {NAN, 0, 0}, inf[3] = {INFINITY, 1, 0};
    EXPECT_FALSE(block->pick(away, out, hit));
    EXPECT_FALSE(block->pick(away, zero, hit));
    EXPECT_FALSE(block->pick(nan, out, hit));
    EXPECT_FALSE(block->pick(away, inf, hit));
}

// Cell (2, 3, 4) spans x 20-30, y 40-50, z 30-40 (j is depth, k height).
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
