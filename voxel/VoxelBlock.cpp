// The voxel block's logic: making the full block, adding and carving cells
// with their face bits and surface list kept right in constant time.
#include "VoxelBlock.h"

#include <new> // std::nothrow: a failed allocation gives null, not an exception

VoxelBlock *gVoxelBlock = nullptr;

VoxelBlock::VoxelBlock(std::unique_ptr<VoxelCell[]> cells) : cells_(std::move(cells)) {}

// ---------------------------------------------------------------- make

namespace {

// One colour component of the cell at `index` along an axis of `size`
// cells: a gradient from 0 to 125 computed in single precision, lifted by
// 128 on odd indices, truncated toward zero.
int32_t GradientComponent(int32_t index, int32_t size)
{
    const float step = 1.0f / static_cast<float>(size);
    const float f = static_cast<float>(index) * step;
    const float value = (index % 2 != 0) ? 127.0f * f + 128.0f : 127.0f * f;
    return static_cast<int32_t>(value);
}

} // namespace

std::unique_ptr<VoxelBlock> VoxelBlock::make()
{
    // Both allocations are nothrow, and the cells belong to a unique_ptr
    // until the block owns them: a failure at either step frees whatever
    // was allocated and hands back null.
    std::unique_ptr<VoxelCell[]> cells(new (std::nothrow) VoxelCell[kCellCount]);
    if (!cells)
        return nullptr;
    std::unique_ptr<VoxelBlock> block(new (std::nothrow) VoxelBlock(std::move(cells)));
    if (!block)
        return nullptr;

    // Every cell gets its indices and colour and is added, i outermost and
    // k innermost. Each add sets at least the bits towards the not yet
    // added cells (or the boundary), so every cell enters the list.
    for (int32_t i = 0; i < block->sizeI_; ++i) {
        const int32_t red = GradientComponent(i, block->sizeI_);
        for (int32_t j = 0; j < block->sizeJ_; ++j) {
            const int32_t green = GradientComponent(j, block->sizeJ_);
            for (int32_t k = 0; k < block->sizeK_; ++k) {
                VoxelCell *cell = block->cellAt(i, j, k);
                cell->i = i;
                cell->j = j;
                cell->k = k;
                cell->red = red;
                cell->green = green;
                cell->blue = GradientComponent(k, block->sizeK_);
                cell->alpha = 255;
                block->add(i, j, k);
            }
        }
    }
    // Drop the buried cells from the list: a walk that draws nothing.
    block->walk([](const VoxelCell &) {});
    return block;
}

// ---------------------------------------------------------------- add, carve

void VoxelBlock::add(int32_t i, int32_t j, int32_t k)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (!cell || cell->solid)
        return; // outside the block, or already filled: nothing changes
    const bool wasClear = cell->faceBits == 0;
    cell->solid = true;
    for (const Direction &d : kDirections) {
        VoxelCell *n = cellAt(i + d.di, j + d.dj, k + d.dk);
        if (n && n->solid) {
            cell->faceBits &= ~d.bit; // the two cells now hide each other's face
            n->faceBits &= ~d.opposite;
        } else {
            cell->faceBits |= d.bit; // boundary or empty neighbour: face shows
        }
    }
    // A neighbour whose bits all went clear stays in the list until the
    // next walk. The cell itself cannot end with no bits here unless it was
    // enclosed on all six sides.
    if (wasClear && cell->faceBits != 0)
        putAtHead(cell);
}

void VoxelBlock::carve(int32_t i, int32_t j, int32_t k)
{
    VoxelCell *cell = cellAt(i, j, k);
    if (!cell || !cell->solid)
        return; // outside the block, or already empty: nothing changes
    cell->solid = false;
    cell->faceBits = 0; // stays in the list until the next walk
    for (const Direction &d : kDirections) {
        VoxelCell *n = cellAt(i + d.di, j + d.dj, k + d.dk);
        if (!n || !n->solid)
            continue;
        if (n->faceBits == 0)
            putAtHead(n); // buried until now
        n->faceBits |= d.opposite; // its face towards the hole shows
    }
}
