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
// rebuilt only when its chunk's version moved on, and drawn with one
// glDrawArrays of quads per chunk: the same faces in the same colours as
// RenderVoxelBlock, outside any bracket. Plain memory, so it works in any
// context.
class VoxelDrawCache
{
public:
    // Brings every changed chunk up to date and draws the whole block, each
    // face with its outward normal (used when lighting is on).
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
    void rebuild(const VoxelBlock &block, int chunk);

    uint64_t blockSerial = 0;  // the block the arrays were built from
    uint32_t built[VoxelBlock::kChunkCount] = {};
    std::vector<Vertex> corners[VoxelBlock::kChunkCount];
};
