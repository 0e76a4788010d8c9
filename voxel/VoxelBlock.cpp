// The voxel block's logic: making the full block, adding and carving cells
// with their face bits and surface list kept right in constant time.
#include "VoxelBlock.h"

#include <sys/mman.h> // madvise: ask for huge pages for the cells

#include <new> // std::nothrow: a failed allocation gives null, not an exception

VoxelBlock *gVoxelBlock = nullptr;

VoxelBlock::VoxelBlock(Cells cells, std::unique_ptr<const VoxelCell *[]> hints)
    : cells_(std::move(cells)), hints_(std::move(hints))
{
}

// ---------------------------------------------------------------- cells

void VoxelBlock::CellsDeleter::operator()(VoxelCell *cells) const
{
    ::operator delete[](cells, std::align_val_t(kCellAlignment));
}

// kCellCount new cells, or null. The 48 MB are aligned to 2 MB and the
// kernel is asked to back them with huge pages where it can: the walks and
// the make loop jump through the array in strides of 480 KB, and with 4 KB
// pages nearly every such step misses the address translation cache.
VoxelBlock::Cells VoxelBlock::NewCells()
{
    const size_t bytes = sizeof(VoxelCell) * kCellCount;
    void *memory = ::operator new[](bytes, std::align_val_t(kCellAlignment), std::nothrow);
    if (!memory)
        return nullptr;
    madvise(memory, bytes, MADV_HUGEPAGE); // a hint; without it the block only runs slower
    VoxelCell *cells = static_cast<VoxelCell *>(memory);
    for (int32_t n = 0; n < kCellCount; ++n)
        new (cells + n) VoxelCell();
    return Cells(cells);
}

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
    // Every allocation is nothrow, and each array belongs to a unique_ptr
    // until the block owns it: a failure at any step frees whatever was
    // allocated and hands back null.
    Cells cells = NewCells();
    std::unique_ptr<const VoxelCell *[]> hints(new (std::nothrow) const VoxelCell *[kHintCapacity]);
    if (!cells || !hints)
        return nullptr;
    std::unique_ptr<VoxelBlock> block(new (std::nothrow) VoxelBlock(std::move(cells), std::move(hints)));
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
                // The add below first touches (i + 1, j, k), 480 KB from the
                // cell that the last one first touched: too far for the
                // hardware to guess, so ask for one a few k further on now.
                __builtin_prefetch(block->cellAt(i + 1, j, k + kLookahead));
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
    // Drop the buried cells from the list: a walk that draws nothing. Every
    // add above put its cell at the head, so the walk meets the cells in
    // reverse loop order, which tells it where to fetch ahead.
    // (ai, aj, ak) runs kLookahead places ahead of the walk, one place per
    // step, counting down the loop.
    const int32_t sizeJ = block->sizeJ_, sizeK = block->sizeK_;
    const int32_t start = kCellCount - 1 - static_cast<int32_t>(kLookahead);
    int32_t ai = start / (sizeJ * sizeK), aj = start / sizeK % sizeJ, ak = start % sizeK;
    auto visitNone = [](const VoxelCell &) {};
    block->walkList(visitNone, [&](uint32_t) -> const VoxelCell * {
        if (ai < 0)
            return nullptr;
        const VoxelCell *soon = block->cellAt(ai, aj, ak);
        if (--ak < 0) {
            ak = sizeK - 1;
            if (--aj < 0) {
                aj = sizeJ - 1;
                --ai;
            }
        }
        return soon;
    });
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
#pragma GCC unroll 6
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
#pragma GCC unroll 6
    for (int d = 0; d < 6; ++d) {
        if (!n[d] || !n[d]->solid)
            continue;
        if (n[d]->faceBits == 0)
            putAtHead(n[d]); // buried until now
        n[d]->faceBits |= kDirections[d].opposite; // its face towards the hole shows
    }
}
