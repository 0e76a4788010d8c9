// OpenGL drawing of the voxel block: a thin layer over what VoxelBlock.h
// decides (which faces show, where their corners are).
#pragma once

#include "VoxelBlock.h"

#include <GL/gl.h>

#include <cstdint>
#include <vector>

// One cell in immediate mode: glColor4ub with the low 8 bits of its colour,
// then per visible face four glVertex3d, each face led by its outward
// normal (glNormal3fv) when `normals` is set. Emits no glBegin or glEnd:
// call it inside a bracket.
void DrawVoxelCell(const VoxelCell &cell, bool normals = false);

// The render walk in immediate mode: draws every cell of the surface list
// that has a visible face, in list order, and unlinks the cells that have
// none left. Inside a bracket of any kind.
void RenderVoxelBlock(VoxelBlock &block, bool normals = false);

// The visible faces kept as vertex arrays, one set per chunk of the block,
// each rebuilt only when its chunk's version moved on, and drawn as quads:
// the same faces in the same colours as RenderVoxelBlock, outside any
// bracket. A chunk's faces are grouped by their outward direction; a group
// whose faces all look away from the eye is not drawn when that cannot
// change the picture (see draw).
//
// Where the picture cannot change, the cache draws instead each chunk's
// faces merged into rectangles (ChunkRectangles), coloured from a 3D
// texture of the cells' colours (one texel a cell, nearest filtering, the
// texture coordinates from the position half a cell inside the face, so a
// face samples its own cell). The face-by-face arrays are then not built.
class VoxelDrawCache
{
public:
    VoxelDrawCache() = default;
    // Deletes the colour texture when it exists in the current context.
    ~VoxelDrawCache();
    VoxelDrawCache(const VoxelDrawCache &) = delete;
    VoxelDrawCache &operator=(const VoxelDrawCache &) = delete;

    // Brings the changed chunks up to date and draws the whole block, with
    // each face's outward normal when lighting is on, leaving the GL state
    // as it found it.
    //
    // The groups facing away from the eye are left out only in GL_RENDER
    // mode with the depth test on (GL_LESS or GL_LEQUAL, depth writes on, a
    // depth range that is not reversed), no stencil or alpha test, no user
    // clip plane, no face culling, filled polygons, no GLSL program, the
    // near plane clear of every solid cell, and either blending off or
    // every face of the block opaque (with no texture and, when lit, the
    // colour as the diffuse material).
    //
    // The rectangles are drawn under the same conditions less the near
    // plane's, with no texture on texture unit 0 and, when lit, either no
    // colour material (the colours do not show) or the colour as the
    // ambient and diffuse material with no emission or specular material
    // and lights whose ambient and diffuse sum to at most 2 (then half the
    // lit colour, doubled by the texture stage, is the lit colour of the
    // cell). Otherwise the faces are drawn one by one.
    void draw(const VoxelBlock &block);
    // Bytes the arrays and the colour texture take.
    size_t bytes() const;
    // Whether the last draw drew merged rectangles.
    bool drewRectangles() const { return lastMerged; }

    // One corner of a face.
    struct Vertex
    {
        GLshort x, y, z, unused;
        GLubyte red, green, blue, alpha;
        GLbyte nx, ny, nz, unused2;
    };
    // One corner of a rectangle: its texture coordinates pick the texel of
    // the cell behind it.
    struct RectVertex
    {
        GLshort x, y, z, unused;
        GLfloat s, t, r;
        GLbyte nx, ny, nz, unused2;
    };

private:
    // A chunk's faces (or rectangles) of one outward direction: a run of
    // quads in the chunk's array, and the least and greatest offset d of
    // their planes n.x = d.
    struct Group
    {
        int32_t first = 0, count = 0;
        double dMin = 0, dMax = 0;
    };
    // Arrays of quads for every chunk, grouped by direction, with the
    // chunk version each was built from.
    template <typename Corner>
    struct Quads
    {
        bool current[VoxelBlock::kChunkCount] = {};
        uint32_t built[VoxelBlock::kChunkCount] = {};
        std::vector<Corner> corners[VoxelBlock::kChunkCount];
        Group groups[VoxelBlock::kChunkCount][kCubeFaceCount];
    };
    void rebuildFaces(const VoxelBlock &block, int chunk);
    void rebuildRectangles(const VoxelBlock &block, int chunk);
    // Brings every chunk of `quads` up to date with `rebuild`; true when
    // every face of the block is opaque.
    template <typename Corner, typename Rebuild>
    bool update(const VoxelBlock &block, Quads<Corner> &quads, Rebuild &&rebuild);
    // Creates the colour texture or brings the chunks whose colours changed
    // up to date in it; leaves it bound to GL_TEXTURE_3D.
    void updateTexture(const VoxelBlock &block);
    template <typename Corner>
    void drawGroups(const Quads<Corner> &quads, bool cull, const double eye[4]);

    uint64_t blockSerial = 0;  // the block the arrays were built from
    Quads<Vertex> faces;
    Quads<RectVertex> rectangles;
    int translucent[VoxelBlock::kChunkCount] = {};  // faces with an alpha below 255
    GLuint texture = 0;                             // the cells' colours, 100 x 100 x 100
    uint32_t texelsBuilt[VoxelBlock::kChunkCount] = {};  // colour version in the texture
    bool texelsCurrent[VoxelBlock::kChunkCount] = {};
    bool lastMerged = false;
    std::vector<Vertex> scratch[kCubeFaceCount];    // a chunk's faces while it is rebuilt
    std::vector<VoxelRect> rectScratch[kCubeFaceCount];
    std::vector<RectVertex> rectCornerScratch[kCubeFaceCount];
    std::vector<GLubyte> texels;                    // a chunk's colours on their way to the texture
};
