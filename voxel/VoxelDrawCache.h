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

// The visible faces kept as vertex arrays, one per chunk of the block, each
// rebuilt only when its chunk's version moved on, and drawn as quads: the
// same faces in the same colours as RenderVoxelBlock, outside any bracket.
// Plain memory, so it works in any context. A chunk's faces are grouped by
// their outward direction; a group whose faces all look away from the eye
// is not drawn when that cannot change the picture (see draw).
class VoxelDrawCache
{
public:
    // Brings every changed chunk up to date and draws the whole block, with each face's outward normal when
    // lighting is on. The groups facing away from the eye are left out only
    // in GL_RENDER mode with the depth test on (GL_LESS or GL_LEQUAL, depth
    // writes on, a depth range that is not reversed), no stencil or alpha
    // test, no user clip plane, no face culling, filled polygons, no GLSL
    // program, the near plane clear of every solid cell, and either blending
    // off or every face of the block opaque (with no texture and, when lit,
    // the colour as the diffuse material).
    void draw(const VoxelBlock &block);
    // Bytes the arrays take.
    size_t bytes() const;

    // One corner of a face.
    struct Vertex
    {
        GLshort x, y, z, unused;
        GLubyte red, green, blue, alpha;
        GLbyte nx, ny, nz, unused2;
    };

private:
    // A chunk's faces of one outward direction: a run of quads in the
    // chunk's array, and the least and greatest offset d of their planes
    // n.x = d.
    struct Group
    {
        int32_t first = 0, count = 0;
        double dMin = 0, dMax = 0;
    };
    void rebuild(const VoxelBlock &block, int chunk);

    uint64_t blockSerial = 0;  // the block the arrays were built from
    uint32_t built[VoxelBlock::kChunkCount] = {};
    std::vector<Vertex> corners[VoxelBlock::kChunkCount];   // each chunk's groups in face order
    Group groups[VoxelBlock::kChunkCount][kCubeFaceCount];
    int translucent[VoxelBlock::kChunkCount] = {};          // faces with an alpha below 255
    std::vector<Vertex> scratch[kCubeFaceCount];            // a chunk's faces while it is rebuilt
};
