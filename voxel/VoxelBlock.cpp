// The voxel block's logic: making the full block, adding and carving cells
// with their face bits and surface list kept right in constant time.
#include "VoxelBlock.h"

#include <new> // std::nothrow: a failed allocation gives null, not an exception

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
                VoxelCell *cell = block->cellAt(i, j, k);
                cell->i = i;
                cell->j = j;
                cell->k = k;
                cell->red = GradientComponent(i, kSize);
                cell->green = green;
                cell->blue = blue;
                cell->alpha = 255;
                cell->solid = true;
                cell->faceBits = (i == 0 ? VoxelFace::kNegX : 0) | (i == last ? VoxelFace::kPosX : 0) |
                                 (j == 0 ? VoxelFace::kNegZ : 0) | (j == last ? VoxelFace::kPosZ : 0) |
                                 (k == 0 ? VoxelFace::kNegY : 0) | (k == last ? VoxelFace::kPosY : 0);
            }
        }
    }
    VoxelCell **tail = &block->head_;
    for (int32_t i = last; i >= 0; --i)
        for (int32_t j = last; j >= 0; --j) {
            // Inside the sides along i and j only the ends of the k row show.
            const bool side = i == 0 || i == last || j == 0 || j == last;
            for (int32_t k = last; k >= 0; k = side || k == 0 ? k - 1 : 0) {
                VoxelCell *cell = block->cellAt(i, j, k);
                cell->inList = true;
                *tail = cell;
                tail = &cell->successor;
            }
        }
    return block;
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
    if (!cell || cell->solid)
        return; // outside the block, or already filled: nothing changes
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
    touch(i, j, k);
}

void VoxelBlock::carve(int32_t i, int32_t j, int32_t k)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (!cell || !cell->solid)
        return; // outside the block, or already empty: nothing changes
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
    touch(i, j, k);
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
