// The voxel block: a fixed 100 x 100 x 100 grid of coloured cubic cells with a
// surface list, a singly linked list threaded through the cells that holds
// every cell with a visible face. Adding and carving a cell update the face
// bits of the cell and its six neighbours and the list in constant time, and
// move on the version of the chunks (cubes of 20 cells) whose faces they
// change, so a cache of the drawn faces rebuilds only those. This header
// holds the logic, free of GL: the walk, the chunk scan and the face
// geometry hand cells and vertices to callbacks. VoxelDrawCache.h draws them
// through OpenGL.
#pragma once

#include "CubeFaces.h" // the corner signs of the six faces, shared with drawCube
#include "ML_Maths"  // Vector3: the centre of a cell

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One cell. The first fields are the cell's own data in their fixed order;
// `inList` records membership of the surface list, which the face bits alone
// cannot tell (a cell whose bits were all cleared stays in the list until
// the next walk), so that no cell is ever put in twice. It sits in the
// padding after `solid` and costs no space.
struct VoxelCell
{
    uint32_t faceBits = 0;          // visible faces, bits 24-31 (VoxelFace)
    bool solid = false;             // the cell is filled
    bool inList = false;            // the cell is in the surface list
    VoxelCell *successor = nullptr; // next cell in the surface list, or none
    int32_t red = 50;               // colour on the 0-255 scale; drawing uses
    int32_t green = 50;             // the low 8 bits of each
    int32_t blue = 150;
    int32_t alpha = 255;
    int32_t i = -1; // the cell's own indices; i runs along world x,
    int32_t j = -1; // j along world z,
    int32_t k = -1; // k along world y
};

// Face bits: a set bit means the face is visible. The comment names the
// neighbour that lies in that direction and the world face.
namespace VoxelFace {
constexpr uint32_t kNegX = 1u << 28; // (i - 1, j, k), -X
constexpr uint32_t kPosX = 1u << 29; // (i + 1, j, k), +X
constexpr uint32_t kPosZ = 1u << 30; // (i, j + 1, k), +Z
constexpr uint32_t kNegZ = 1u << 31; // (i, j - 1, k), -Z
constexpr uint32_t kPosY = 1u << 24; // (i, j, k + 1), +Y
constexpr uint32_t kNegY = 1u << 25; // (i, j, k - 1), -Y
constexpr uint32_t kAll = kNegX | kPosX | kPosZ | kNegZ | kPosY | kNegY;
} // namespace VoxelFace

class VoxelBlock
{
public:
    static constexpr int32_t kSize = 100;                       // cells along each index
    static constexpr int32_t kCellCount = kSize * kSize * kSize; // 1,000,000
    static constexpr int32_t kEdge = 10;                        // world units per cell edge

    // The six neighbour directions in the order add and carve visit them:
    // i - 1, i + 1, j + 1, j - 1, k + 1, k - 1, with the face bit of that
    // direction and the opposite bit, which the neighbour has for the face
    // that looks back at the cell.
    struct Direction
    {
        int32_t di, dj, dk;
        uint32_t bit, opposite;
    };
    static constexpr Direction kDirections[6] = {
        {-1, 0, 0, VoxelFace::kNegX, VoxelFace::kPosX}, {1, 0, 0, VoxelFace::kPosX, VoxelFace::kNegX},
        {0, 1, 0, VoxelFace::kPosZ, VoxelFace::kNegZ},  {0, -1, 0, VoxelFace::kNegZ, VoxelFace::kPosZ},
        {0, 0, 1, VoxelFace::kPosY, VoxelFace::kNegY},  {0, 0, -1, VoxelFace::kNegY, VoxelFace::kPosY},
    };

    // A full block: every cell solid and coloured by its indices, the six
    // outer sides visible, the surface list holding exactly the 58,808
    // boundary cells. Null when the cells cannot be allocated; nothing is
    // then left behind.
    static std::unique_ptr<VoxelBlock> make();

    VoxelBlock(const VoxelBlock &) = delete;
    VoxelBlock &operator=(const VoxelBlock &) = delete;

    int32_t sizeI() const { return sizeI_; }
    int32_t sizeJ() const { return sizeJ_; }
    int32_t sizeK() const { return sizeK_; }

    // The cell (i, j, k), or null when any index is outside 0..size-1.
    VoxelCell *cellAt(int32_t i, int32_t j, int32_t k)
    {
        if (static_cast<uint32_t>(i) >= static_cast<uint32_t>(sizeI_) ||
            static_cast<uint32_t>(j) >= static_cast<uint32_t>(sizeJ_) ||
            static_cast<uint32_t>(k) >= static_cast<uint32_t>(sizeK_))
            return nullptr;
        return &cells_[i + sizeI_ * (j + sizeJ_ * k)];
    }
    const VoxelCell *cellAt(int32_t i, int32_t j, int32_t k) const
    {
        return const_cast<VoxelBlock *>(this)->cellAt(i, j, k);
    }

    // Fills the cell (i, j, k); its colour stays the one it was made with.
    // Nothing happens for an index outside the block or a solid cell.
    void add(int32_t i, int32_t j, int32_t k);
    // Empties the cell (i, j, k) and exposes the faces of its solid
    // neighbours. Nothing happens for an index outside the block or an empty
    // cell. The emptied cell leaves the surface list at the next walk.
    void carve(int32_t i, int32_t j, int32_t k);

    // --- Bulk edits. Each does what the single-cell edit does to each of
    // its cells in turn, in memory order (i fastest, then j, then k): the
    // same face bits, surface list and colours. Cells outside the block are
    // left out.
    //
    // The box between the corner cells (i0, j0, k0) and (i1, j1, k1), both
    // included, whichever corner comes first along each index.
    void carveBox(int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1);
    void addBox(int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1);
    // The cells whose centres lie within `radius` cells of the centre of
    // the cell (ci, cj, ck), which may itself lie outside the block: the
    // cells (i, j, k) with (i - ci)^2 + (j - cj)^2 + (k - ck)^2 <= radius^2.
    // Radius 0 is the centre cell alone; a negative or NaN radius is no
    // cell, an infinite one every cell.
    void carveSphere(int32_t ci, int32_t cj, int32_t ck, double radius);
    void addSphere(int32_t ci, int32_t cj, int32_t ck, double radius);

    // Sets the colour of the cell (i, j, k), solid or not, to the low 8
    // bits of each component; nothing happens outside the block.
    void setColour(int32_t i, int32_t j, int32_t k, int32_t red, int32_t green, int32_t blue, int32_t alpha);
    // Makes the block what make() made: every cell solid with its made
    // colour, the surface list the 58,808 boundary cells.
    void reset();

    // The first solid cell along a ray, found by walking the grid cell by
    // cell. `face` is the place of the face the ray enters it through in
    // the order +X, +Y, +Z, -X, -Y, -Z (kCubeFaceSigns). A ray that starts
    // inside a solid cell finds that cell, with the face that looks back
    // along the ray's greatest direction component (the first of equals in
    // the order x, y, z).
    struct Hit
    {
        int32_t i = -1, j = -1, k = -1;
        int face = -1;
    };
    // From the world point `origin` along the world direction `direction`
    // (any length). False when the ray meets no solid cell, and for a zero,
    // infinite or NaN direction or origin.
    bool pick(const double origin[3], const double direction[3], Hit &hit) const;

    // First cell of the surface list, or null when it is empty.
    const VoxelCell *surfaceHead() const { return head_; }

    // The render walk: calls visit(const VoxelCell &) for every cell of the
    // surface list that has a face bit, in list order (latest insertion
    // first), and unlinks the cells whose bits are all clear.
    template <typename Visit>
    void walk(Visit &&visit);

    // --- Chunks, for a cache of the drawn faces.
    // The block is cut into kChunkCount cubes of kChunkEdge cells, numbered
    // with i fastest, then j, then k. Every add or carve that may change a
    // face of a chunk's cells moves that chunk's version on, so a cache
    // built from a chunk is current while the version is the one it saw.
    static constexpr int32_t kChunkEdge = 20;
    static constexpr int32_t kChunksPerSide = kSize / kChunkEdge;
    static constexpr int kChunkCount = kChunksPerSide * kChunksPerSide * kChunksPerSide;
    uint32_t chunkVersion(int chunk) const { return chunkVersions_[chunk]; }
    // Moves on when a colour of a cell of the chunk changes (every such
    // change also moves chunkVersion on).
    uint32_t colourVersion(int chunk) const { return colourVersions_[chunk]; }
    // The chunk that holds the cell (i, j, k) of the block.
    static int chunkOf(int32_t i, int32_t j, int32_t k)
    {
        return i / kChunkEdge + kChunksPerSide * (j / kChunkEdge + kChunksPerSide * (k / kChunkEdge));
    }
    // Tells this block apart from every other block made in the process,
    // even one made at the same address after this one is gone.
    uint64_t serial() const { return serial_; }
    // Calls visit(const VoxelCell &) for every cell of the chunk that has a
    // visible face, in memory order.
    template <typename Visit>
    void forEachChunkCell(int chunk, Visit &&visit) const;

private:
    VoxelBlock() = default;

    // The cell array, nothrow-allocated.
    using Cells = std::unique_ptr<VoxelCell[]>;

    // The six neighbours of the cell at (i, j, k), in the neighbour order;
    // null where the block ends.
    void neighbours(VoxelCell *cell, int32_t i, int32_t j, int32_t k, VoxelCell *out[6]) const;

    // Every cell solid with its made colour and the faces on the block's
    // sides, the surface list holding the cells that have one.
    void fill();
    // The edits of add and carve on one cell, without the chunks' versions;
    // true when the cell changed.
    bool addCell(VoxelCell *cell, int32_t i, int32_t j, int32_t k);
    bool carveCell(VoxelCell *cell, int32_t i, int32_t j, int32_t k);
    // Adds (fill) or carves, in memory order, the cells i = span.first ..
    // span.second of each row (j, k) of the box lo..hi (inclusive, inside
    // the block), span(j, k) giving the row's cells (empty when first >
    // second); then moves on the versions of the chunks the box and its
    // neighbours touch.
    template <typename Span>
    void editRows(bool fill, const int32_t lo[3], const int32_t hi[3], Span &&span);
    void editBox(bool fill, int32_t i0, int32_t j0, int32_t k0, int32_t i1, int32_t j1, int32_t k1);
    void editSphere(bool fill, int32_t ci, int32_t cj, int32_t ck, double radius);

    // Moves on the version of every chunk whose faces an edit of the cell
    // (i, j, k) can change: its own, and across each chunk border it lies
    // on, the neighbour's.
    void touch(int32_t i, int32_t j, int32_t k);

    // Puts the cell at the head of the surface list unless it is already in
    // it, wherever; a cell in the list keeps its place.
    void putAtHead(VoxelCell *cell)
    {
        if (cell->inList)
            return;
        cell->successor = head_;
        cell->inList = true;
        head_ = cell;
    }

    int32_t sizeI_ = kSize;
    int32_t sizeJ_ = kSize;
    int32_t sizeK_ = kSize;
    Cells cells_;
    VoxelCell *head_ = nullptr;
    uint64_t serial_ = 0;
    uint32_t chunkVersions_[kChunkCount] = {};
    uint32_t colourVersions_[kChunkCount] = {};
};

// The one block of the process: null until the first makeVoxelBlock, then
// the same block until the process ends; it is never destroyed.
extern VoxelBlock *gVoxelBlock;

template <typename Visit>
void VoxelBlock::walk(Visit &&visit)
{
    VoxelCell *kept = nullptr; // last cell that stays in the list
    for (VoxelCell *cell = head_; cell;) {
        VoxelCell *next = cell->successor;
        if (cell->faceBits != 0) {
            visit(static_cast<const VoxelCell &>(*cell));
            kept = cell;
        } else {
            // Unlink: the predecessor (or the head) skips this cell.
            (kept ? kept->successor : head_) = next;
            cell->successor = nullptr;
            cell->inList = false;
        }
        cell = next;
    }
}

template <typename Visit>
void VoxelBlock::forEachChunkCell(int chunk, Visit &&visit) const
{
    const int32_t i0 = chunk % kChunksPerSide * kChunkEdge;
    const int32_t j0 = chunk / kChunksPerSide % kChunksPerSide * kChunkEdge;
    const int32_t k0 = chunk / (kChunksPerSide * kChunksPerSide) * kChunkEdge;
    for (int32_t k = k0; k < k0 + kChunkEdge; ++k)
        for (int32_t j = j0; j < j0 + kChunkEdge; ++j) {
            const VoxelCell *row = cellAt(i0, j, k);
            for (int32_t n = 0; n < kChunkEdge; ++n)
                if (row[n].faceBits != 0)
                    visit(row[n]);
        }
}

// A rectangle of visible faces that look the same way and lie in one
// plane: the faces of the cells lo..hi (inclusive; lo and hi agree along
// the faces' normal) in direction `face`, a place in the order +X, +Y, +Z,
// -X, -Y, -Z (kCubeFaceSigns).
struct VoxelRect
{
    int face;
    int32_t lo[3], hi[3]; // cell indices i, j, k
};

// The visible faces of a chunk's cells merged into rectangles, appended to
// out[face]: each face of the chunk showing covered by exactly one
// rectangle, and no face that does not show. Greedy, one plane at a time:
// a row's longest run from its first showing face, grown down the rows
// while all of its faces show. Returns how many of the cells that show a
// face are see-through (alpha below 255 in its low 8 bits), which the
// same pass over the cells finds.
int ChunkRectangles(const VoxelBlock &block, int chunk, std::vector<VoxelRect> out[kCubeFaceCount]);

// The four corners of a rectangle as ForEachVoxelFace gives a face's:
// wound counter-clockwise seen from outside, in the same order of the
// face's corner signs, each sign choosing the rectangle's lower or upper
// edge (world x from i, y from k, z from j).
template <typename Vertex>
void ForEachVoxelRectVertex(const VoxelRect &rect, Vertex &&vertex)
{
    const double edge = VoxelBlock::kEdge;
    // Grid index of each world axis: x is i, y is k, z is j.
    static constexpr int kGrid[3] = {0, 2, 1};
    for (const auto &s : kCubeFaceSigns[rect.face]) {
        double at[3];
        for (int w = 0; w < 3; ++w)
            at[w] = s[w] > 0 ? edge * (rect.hi[kGrid[w]] + 1) : edge * rect.lo[kGrid[w]];
        vertex(at[0], at[1], at[2]);
    }
}

// Face geometry of a cell, without GL. Calls vertex(double x, double y,
// double z) four times for each visible face, in the order +X, +Y, +Z, -X,
// -Y, -Z, every face wound counter-clockwise seen from outside. The cell
// (i, j, k) spans (10i, 10k, 10j) to (10i + 10, 10k + 10, 10j + 10); the
// corners are computed in single precision from its centre.
// face(int f) is called before each visible face's vertices with its
// place f in that order (an index of kCubeFaceSigns and kCubeFaceNormals).
template <typename Face, typename Vertex>
void ForEachVoxelFace(const VoxelCell &cell, Face &&face, Vertex &&vertex)
{
    const float edge = static_cast<float>(VoxelBlock::kEdge);
    const float h = edge * 0.5f; // half edge
    const Vector3 centre =
        Vector3(edge * static_cast<float>(cell.i), edge * static_cast<float>(cell.k), edge * static_cast<float>(cell.j)) +
        Vector3(h, h, h);
    // The face bit of each face, in the emission order of kCubeFaceSigns.
    static constexpr uint32_t kFaceBit[kCubeFaceCount] = {VoxelFace::kPosX, VoxelFace::kPosY, VoxelFace::kPosZ,
                                                          VoxelFace::kNegX, VoxelFace::kNegY, VoxelFace::kNegZ};
    // The face bits, bits 24-31, as a mask of places in the emission order
    // above (bit n set: face n shows), so the loop below runs once per
    // visible face instead of testing all six.
    static constexpr auto kOrdered = [] {
        struct Table
        {
            uint8_t mask[256] = {};
        } table;
        for (uint32_t high = 0; high < 256; ++high)
            for (int f = 0; f < kCubeFaceCount; ++f)
                if ((high << 24) & kFaceBit[f])
                    table.mask[high] |= static_cast<uint8_t>(1u << f);
        return table;
    }();
    for (uint32_t faces = kOrdered.mask[cell.faceBits >> 24]; faces != 0; faces &= faces - 1) {
        const int f = __builtin_ctz(faces);
        face(f);
        for (const auto &s : kCubeFaceSigns[f])
            vertex(static_cast<double>(centre.x + h * s[0]), static_cast<double>(centre.y + h * s[1]),
                   static_cast<double>(centre.z + h * s[2]));
    }
}

// The vertices alone.
template <typename Vertex>
void ForEachVoxelFaceVertex(const VoxelCell &cell, Vertex &&vertex)
{
    ForEachVoxelFace(cell, [](int) {}, vertex);
}
