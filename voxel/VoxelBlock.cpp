// The voxel block's logic: making the full block, adding and carving cells
// with their face bits and surface list kept right in constant time.
#include "VoxelBlock.h"

#include <algorithm>
#include <cmath>
#include <new> // std::nothrow: a failed allocation gives null, not an exception
#include <utility>

VoxelBlock *gVoxelBlock = nullptr;

// ---------------------------------------------------------------- make

namespace {

// One colour component of the cell at `index` along an axis of `size`
// cells: a gradient from 0 to 125 computed in single precision, lifted by
// 128 on odd indices, truncated toward zero.
int32_t GradientComponent(int32_t index, int32_t size)
{
    const float step = 1.0f / static_cast<float>(size); // 0.01f for 100 cells
    const float f = static_cast<float>(index) * step;
    const float value = (index % 2 != 0) ? 127.0f * f + 128.0f : 127.0f * f;
    return static_cast<int32_t>(value);
}

} // namespace

std::unique_ptr<VoxelBlock> VoxelBlock::make()
{
    // Every allocation is nothrow, and the cells belong to a unique_ptr
    // until the block owns them: a failure at any step frees whatever was
    // allocated and hands back null.
    Cells cells(new (std::nothrow) VoxelCell[kCellCount]);
    if (!cells)
        return nullptr;
    std::unique_ptr<VoxelBlock> block(new (std::nothrow) VoxelBlock());
    if (!block)
        return nullptr;
    block->cells_ = std::move(cells);
    static uint64_t serials = 0;   // numbers the blocks of the process
    block->serial_ = ++serials;

    block->fill();
    return block;
}

void VoxelBlock::fill()
{
    // The block that adding every cell in turn (i outermost, k innermost)
    // and then walking the list once leaves, built directly: every cell
    // solid with the faces that lie on the block's sides, and the list
    // holding the cells that have one, the last added first. The cells are
    // filled in memory order (k outermost, i innermost).
    const int32_t last = kSize - 1;
    for (int32_t k = 0; k < kSize; ++k) {
        const int32_t blue = GradientComponent(k, kSize);
        for (int32_t j = 0; j < kSize; ++j) {
            const int32_t green = GradientComponent(j, kSize);
            for (int32_t i = 0; i < kSize; ++i) {
                VoxelCell *cell = cellAt(i, j, k);
                cell->i = i;
                cell->j = j;
                cell->k = k;
                cell->red = GradientComponent(i, kSize);
                cell->green = green;
                cell->blue = blue;
                cell->alpha = 255;
                cell->inList = false;
                cell->successor = nullptr;
                cell->solid = true;
                cell->faceBits = (i == 0 ? VoxelFace::kNegX : 0) | (i == last ? VoxelFace::kPosX : 0) |
                                 (j == 0 ? VoxelFace::kNegZ : 0) | (j == last ? VoxelFace::kPosZ : 0) |
                                 (k == 0 ? VoxelFace::kNegY : 0) | (k == last ? VoxelFace::kPosY : 0);
            }
        }
    }
    VoxelCell **tail = &head_;
    for (int32_t i = last; i >= 0; --i)
        for (int32_t j = last; j >= 0; --j) {
            // Inside the sides along i and j only the ends of the k row show.
            const bool side = i == 0 || i == last || j == 0 || j == last;
            for (int32_t k = last; k >= 0; k = side || k == 0 ? k - 1 : 0) {
                VoxelCell *cell = cellAt(i, j, k);
                cell->inList = true;
                *tail = cell;
                tail = &cell->successor;
            }
        }
}

void VoxelBlock::reset()
{
    fill();
    for (int chunk = 0; chunk < kChunkCount; ++chunk) {
        ++chunkVersions_[chunk];
        ++colourVersions_[chunk];
    }
}

// ---------------------------------------------------------------- add, carve

// The six neighbours of the cell at (i, j, k) in the neighbour order, null
// where the block ends. Offsets from the cell itself, since i varies
// fastest in memory.
void VoxelBlock::neighbours(VoxelCell *cell, int32_t i, int32_t j, int32_t k, VoxelCell *out[6]) const
{
    const int32_t strideJ = sizeI_, strideK = sizeI_ * sizeJ_;
    out[0] = i > 0 ? cell - 1 : nullptr;
    out[1] = i + 1 < sizeI_ ? cell + 1 : nullptr;
    out[2] = j + 1 < sizeJ_ ? cell + strideJ : nullptr;
    out[3] = j > 0 ? cell - strideJ : nullptr;
    out[4] = k + 1 < sizeK_ ? cell + strideK : nullptr;
    out[5] = k > 0 ? cell - strideK : nullptr;
}

void VoxelBlock::add(int32_t i, int32_t j, int32_t k)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (cell && addCell(cell, i, j, k))
        touch(i, j, k);
}

void VoxelBlock::carve(int32_t i, int32_t j, int32_t k)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (cell && carveCell(cell, i, j, k))
        touch(i, j, k);
}

bool VoxelBlock::addCell(VoxelCell *cell, int32_t i, int32_t j, int32_t k)
{
    if (cell->solid)
        return false; // already filled: nothing changes
    VoxelCell *n[6];
    neighbours(cell, i, j, k, n);
    const bool wasClear = cell->faceBits == 0;
    cell->solid = true;
    uint32_t bits = cell->faceBits;
    for (int d = 0; d < 6; ++d) {
        if (n[d] && n[d]->solid) {
            bits &= ~kDirections[d].bit; // the two cells now hide each other's face
            n[d]->faceBits &= ~kDirections[d].opposite;
        } else {
            bits |= kDirections[d].bit; // boundary or empty neighbour: face shows
        }
    }
    cell->faceBits = bits;
    // A neighbour whose bits all went clear stays in the list until the
    // next walk. The cell itself ends with no bits only when it was
    // enclosed on all six sides.
    if (wasClear && bits != 0)
        putAtHead(cell);
    return true;
}

bool VoxelBlock::carveCell(VoxelCell *cell, int32_t i, int32_t j, int32_t k)
{
    if (!cell->solid)
        return false; // already empty: nothing changes
    VoxelCell *n[6];
    neighbours(cell, i, j, k, n);
    cell->solid = false;
    cell->faceBits = 0; // stays in the list until the next walk
    for (int d = 0; d < 6; ++d) {
        if (!n[d] || !n[d]->solid)
            continue;
        if (n[d]->faceBits == 0)
            putAtHead(n[d]); // buried until now
        n[d]->faceBits |= kDirections[d].opposite; // its face towards the hole shows
    }
    return true;
}

// ---------------------------------------------------------------- bulk edits

template <typename Span>
void VoxelBlock::editRows(bool fill, const int32_t lo[3], const int32_t hi[3], Span &&span)
{
    bool changed = false;
    for (int32_t k = lo[2]; k <= hi[2]; ++k)
        for (int32_t j = lo[1]; j <= hi[1]; ++j) {
            const std::pair<int32_t, int32_t> row = span(j, k);
            VoxelCell *cell = row.first <= row.second ? cellAt(row.first, j, k) : nullptr;
            for (int32_t i = row.first; i <= row.second; ++i, ++cell)
                changed |= fill ? addCell(cell, i, j, k) : carveCell(cell, i, j, k);
        }
    if (!changed)
        return;
    // Every chunk that holds an edited cell or a neighbour of one.
    int32_t first[3], last[3];
    for (int a = 0; a < 3; ++a) {
        first[a] = std::max(lo[a] - 1, 0) / kChunkEdge;
        last[a] = std::min(hi[a] + 1, kSize - 1) / kChunkEdge;
    }
    for (int32_t ck = first[2]; ck <= last[2]; ++ck)
        for (int32_t cj = first[1]; cj <= last[1]; ++cj)
            for (int32_t ci = first[0]; ci <= last[0]; ++ci)
                ++chunkVersions_[ci + kChunksPerSide * (cj + kChunksPerSide * ck)];
}

void VoxelBlock::editBox(bool fill, int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1)
{
    const int32_t a[3] = {i0, j0, k0}, b[3] = {i1, j1, k1};
    int32_t lo[3], hi[3];
    for (int n = 0; n < 3; ++n) {
        lo[n] = std::max(std::min(a[n], b[n]), 0);
        hi[n] = std::min(std::max(a[n], b[n]), kSize - 1);
        if (lo[n] > hi[n])
            return; // the box misses the block
    }
    editRows(fill, lo, hi, [&](int32_t, int32_t) { return std::pair{lo[0], hi[0]}; });
}

void VoxelBlock::carveBox(int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1)
{
    editBox(false, i0, j0, k0, i1, j1, k1);
}

void VoxelBlock::addBox(int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1)
{
    editBox(true, i0, j0, k0, i1, j1, k1);
}

void VoxelBlock::editSphere(bool fill, int32_t ci, int32_t cj, int32_t ck, double radius)
{
    if (!(radius >= 0))
        return; // negative or NaN: no cell
    // Distances are whole numbers of cells: compared squared, in doubles,
    // exact for every centre a 32-bit index can name. Beyond the block's
    // own span a radius adds no cell.
    const double r = std::min(radius, 1e10), r2 = r * r;
    const int32_t centre[3] = {ci, cj, ck};
    int32_t lo[3], hi[3];
    for (int n = 0; n < 3; ++n) {
        const double from = std::max(double(centre[n]) - std::floor(r), 0.0);
        const double to = std::min(double(centre[n]) + std::floor(r), double(kSize - 1));
        if (from > to)
            return; // the sphere misses the block
        lo[n] = int32_t(from), hi[n] = int32_t(to);
    }
    editRows(fill, lo, hi, [&](int32_t j, int32_t k) {
        const double dj = double(j) - cj, dk = double(k) - ck;
        const double left = r2 - dj * dj - dk * dk; // room for di^2
        if (left < 0)
            return std::pair{int32_t(1), int32_t(0)};
        double w = std::floor(std::sqrt(left));
        while ((w + 1) * (w + 1) <= left) // the square root's rounding put right
            ++w;
        while (w > 0 && w * w > left)
            --w;
        return std::pair{int32_t(std::max(double(ci) - w, double(lo[0]))), int32_t(std::min(double(ci) + w, double(hi[0])))};
    });
}

void VoxelBlock::carveSphere(int32_t ci, int32_t cj, int32_t ck, double radius)
{
    editSphere(false, ci, cj, ck, radius);
}

void VoxelBlock::addSphere(int32_t ci, int32_t cj, int32_t ck, double radius)
{
    editSphere(true, ci, cj, ck, radius);
}

// ---------------------------------------------------------------- colour

void VoxelBlock::setColour(int32_t i, int32_t j, int32_t k, int32_t red, int32_t green, int32_t blue, int32_t alpha)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (!cell)
        return;
    cell->red = red & 0xff;
    cell->green = green & 0xff;
    cell->blue = blue & 0xff;
    cell->alpha = alpha & 0xff;
    const int chunk = chunkOf(i, j, k);
    ++chunkVersions_[chunk];
    ++colourVersions_[chunk];
}

// ---------------------------------------------------------------- pick

bool VoxelBlock::pick(const double origin[3], const double direction[3], Hit &hit) const
{
    // Grid axes: i along world x, j along z, k along y; one unit a cell.
    const int kWorldAxis[3] = {0, 2, 1};
    double p[3], d[3];
    for (int a = 0; a < 3; ++a) {
        p[a] = origin[kWorldAxis[a]] / kEdge;
        d[a] = direction[kWorldAxis[a]];
        if (!std::isfinite(p[a]) || !std::isfinite(d[a]))
            return false;
    }
    if (d[0] == 0 && d[1] == 0 && d[2] == 0)
        return false;
    // The face entered by a step along grid axis a in direction `step`, as
    // a place in the order +X, +Y, +Z, -X, -Y, -Z.
    const auto entered = [](int a, int step) {
        const int positive[3] = {0, 2, 1}; // +X, +Z, +Y
        return positive[a] + (step > 0 ? 3 : 0);
    };
    // Where the ray is inside the block's box: t from tIn to tOut.
    const double size[3] = {double(sizeI_), double(sizeJ_), double(sizeK_)};
    double tIn = 0, tOut = INFINITY;
    int inAxis = -1;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0) {
            if (p[a] < 0 || p[a] >= size[a])
                return false;
            continue;
        }
        double t0 = (0 - p[a]) / d[a], t1 = (size[a] - p[a]) / d[a];
        if (t0 > t1)
            std::swap(t0, t1);
        if (t0 > tIn)
            tIn = t0, inAxis = a;
        tOut = std::min(tOut, t1);
    }
    if (tIn >= tOut)
        return false;
    int32_t cell[3];
    int face;
    if (inAxis < 0) {
        // Starts inside: the face looking back along the greatest component.
        for (int a = 0; a < 3; ++a)
            cell[a] = int32_t(std::min(std::floor(p[a]), size[a] - 1));
        int a = kWorldAxis[0];
        for (int world : {1, 2}) // y, then z: the first of equals stays
            if (std::fabs(d[kWorldAxis[world]]) > std::fabs(d[a]))
                a = kWorldAxis[world];
        face = entered(a, d[a] > 0 ? 1 : -1);
    } else {
        for (int a = 0; a < 3; ++a) {
            const double at = a == inAxis ? (d[a] > 0 ? 0 : size[a] - 1) : std::floor(p[a] + tIn * d[a]);
            cell[a] = int32_t(std::max(0.0, std::min(at, size[a] - 1)));
        }
        face = entered(inAxis, d[inAxis] > 0 ? 1 : -1);
    }
    // Along each axis: the t of the next cell border and the t per cell.
    double next[3], delta[3];
    int step[3];
    for (int a = 0; a < 3; ++a) {
        step[a] = d[a] > 0 ? 1 : -1;
        delta[a] = d[a] == 0 ? INFINITY : 1 / std::fabs(d[a]);
        next[a] = d[a] == 0 ? INFINITY : (cell[a] + (d[a] > 0 ? 1 : 0) - p[a]) / d[a];
    }
    for (;;) {
        if (cellAt(cell[0], cell[1], cell[2])->solid) {
            hit = Hit{cell[0], cell[1], cell[2], face};
            return true;
        }
        // Into the neighbour whose border comes first; past a corner one
        // axis at a time, so no cell the ray touches is skipped.
        int a = 0;
        if (next[1] < next[a])
            a = 1;
        if (next[2] < next[a])
            a = 2;
        if (next[a] >= tOut)
            return false;
        cell[a] += step[a];
        if (cell[a] < 0 || cell[a] >= size[a])
            return false;
        next[a] += delta[a];
        face = entered(a, step[a]);
    }
}

void VoxelBlock::touch(int32_t i, int32_t j, int32_t k)
{
    const int32_t ci = i / kChunkEdge, cj = j / kChunkEdge, ck = k / kChunkEdge;
    const auto chunk = [](int32_t ci, int32_t cj, int32_t ck) {
        return ci + kChunksPerSide * (cj + kChunksPerSide * ck);
    };
    ++chunkVersions_[chunk(ci, cj, ck)];
    // A cell on a chunk's side changes the face its neighbour across the
    // side shows towards it.
    if (i % kChunkEdge == 0 && ci > 0)
        ++chunkVersions_[chunk(ci - 1, cj, ck)];
    if (i % kChunkEdge == kChunkEdge - 1 && ci + 1 < kChunksPerSide)
        ++chunkVersions_[chunk(ci + 1, cj, ck)];
    if (j % kChunkEdge == 0 && cj > 0)
        ++chunkVersions_[chunk(ci, cj - 1, ck)];
    if (j % kChunkEdge == kChunkEdge - 1 && cj + 1 < kChunksPerSide)
        ++chunkVersions_[chunk(ci, cj + 1, ck)];
    if (k % kChunkEdge == 0 && ck > 0)
        ++chunkVersions_[chunk(ci, cj, ck - 1)];
    if (k % kChunkEdge == kChunkEdge - 1 && ck + 1 < kChunksPerSide)
        ++chunkVersions_[chunk(ci, cj, ck + 1)];
}

// ---------------------------------------------------------------- rectangles

int ChunkRectangles(const VoxelBlock &block, int chunk, std::vector<VoxelRect> out[kCubeFaceCount])
{
    constexpr int kEdge = VoxelBlock::kChunkEdge;
    static_assert(kEdge < 32, "a row of a chunk's plane is one 32-bit mask, its top bit clear");
    // Per face place: its bit, and the grid axes along its normal, along a
    // row and down the rows of a plane.
    struct Plane
    {
        uint32_t bit;
        int normal, column, row;
    };
    static constexpr Plane kPlanes[kCubeFaceCount] = {
        {VoxelFace::kPosX, 0, 1, 2}, {VoxelFace::kPosY, 2, 0, 1}, {VoxelFace::kPosZ, 1, 0, 2},
        {VoxelFace::kNegX, 0, 1, 2}, {VoxelFace::kNegY, 2, 0, 1}, {VoxelFace::kNegZ, 1, 0, 2},
    };
    // masks[face][plane][row]: bit c set when that face of the cell shows.
    uint32_t masks[kCubeFaceCount][kEdge][kEdge] = {};
    const int32_t base[3] = {chunk % VoxelBlock::kChunksPerSide * kEdge,
                             chunk / VoxelBlock::kChunksPerSide % VoxelBlock::kChunksPerSide * kEdge,
                             chunk / (VoxelBlock::kChunksPerSide * VoxelBlock::kChunksPerSide) * kEdge};
    int translucent = 0;
    block.forEachChunkCell(chunk, [&](const VoxelCell &cell) {
        translucent += (cell.alpha & 0xff) != 255;
        const int32_t local[3] = {cell.i - base[0], cell.j - base[1], cell.k - base[2]};
        for (int f = 0; f < kCubeFaceCount; ++f)
            if (cell.faceBits & kPlanes[f].bit)
                masks[f][local[kPlanes[f].normal]][local[kPlanes[f].row]] |= 1u << local[kPlanes[f].column];
    });
    for (int f = 0; f < kCubeFaceCount; ++f) {
        const Plane &plane = kPlanes[f];
        for (int n = 0; n < kEdge; ++n) {
            uint32_t *rows = masks[f][n];
            for (int r = 0; r < kEdge; ++r)
                while (rows[r] != 0) {
                    const int c = __builtin_ctz(rows[r]);
                    const int width = __builtin_ctz(~(rows[r] >> c)); // the run of showing faces
                    const uint32_t run = ((1u << width) - 1) << c;
                    int last = r;
                    while (last + 1 < kEdge && (rows[last + 1] & run) == run)
                        ++last;
                    for (int q = r; q <= last; ++q)
                        rows[q] &= ~run;
                    VoxelRect rect{f, {}, {}};
                    rect.lo[plane.normal] = rect.hi[plane.normal] = base[plane.normal] + n;
                    rect.lo[plane.column] = base[plane.column] + c;
                    rect.hi[plane.column] = base[plane.column] + c + width - 1;
                    rect.lo[plane.row] = base[plane.row] + r;
                    rect.hi[plane.row] = base[plane.row] + last;
                    out[f].push_back(rect);
                }
        }
    }
    return translucent;
}
