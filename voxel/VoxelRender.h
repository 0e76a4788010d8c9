// OpenGL drawing of the voxel block: a thin layer over what VoxelBlock.h
// decides (which faces show, where their corners are).
#pragma once

#include "VoxelBlock.h"

#include <GL/gl.h>
#include <GL/glext.h> // the buffer functions' types (GL 1.5)

#include <cstdint>
#include <memory>
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

// The GL context the cache draws in and its buffer functions (GL 1.5), from
// the caller, which knows how the platform hands them out. `context` tells
// the contexts apart: the same value must not name two contexts, so a
// context that goes is forgotten (VoxelDrawCache::forget) before another
// can take its place.
struct VoxelGL
{
    const void *context = nullptr;
    PFNGLGENBUFFERSPROC genBuffers = nullptr;
    PFNGLBINDBUFFERPROC bindBuffer = nullptr;
    PFNGLBUFFERDATAPROC bufferData = nullptr;
    PFNGLBUFFERSUBDATAPROC bufferSubData = nullptr;

    bool complete() const { return context && genBuffers && bindBuffer && bufferData && bufferSubData; }
    // Fills the functions from getProcAddress(const char *name), which
    // returns the entry point of the named function in the current context.
    template <typename GetProcAddress>
    static VoxelGL Of(const void *context, GetProcAddress &&getProcAddress)
    {
        VoxelGL gl;
        gl.context = context;
        gl.genBuffers = reinterpret_cast<PFNGLGENBUFFERSPROC>(getProcAddress("glGenBuffers"));
        gl.bindBuffer = reinterpret_cast<PFNGLBINDBUFFERPROC>(getProcAddress("glBindBuffer"));
        gl.bufferData = reinterpret_cast<PFNGLBUFFERDATAPROC>(getProcAddress("glBufferData"));
        gl.bufferSubData = reinterpret_cast<PFNGLBUFFERSUBDATAPROC>(getProcAddress("glBufferSubData"));
        return gl;
    }
};

// The visible faces kept in vertex buffers, one per chunk of the block and
// per context drawn in, each rebuilt only when its chunk's version moved on,
// and drawn as quads: the same faces in the same colours as
// RenderVoxelBlock, outside any bracket. A chunk's faces are grouped by
// their outward direction; a group whose faces all look away from the eye
// is not drawn when that cannot change the picture (see draw).
class VoxelDrawCache
{
public:
    VoxelDrawCache();
    ~VoxelDrawCache();
    VoxelDrawCache(const VoxelDrawCache &) = delete;
    VoxelDrawCache &operator=(const VoxelDrawCache &) = delete;

    // Brings every changed chunk up to date in the current context, gl's,
    // and draws the whole block, with each face's outward normal when
    // lighting is on. The groups facing away from the eye are left out only
    // in GL_RENDER mode with the depth test on (GL_LESS or GL_LEQUAL, depth
    // writes on, a depth range that is not reversed), no stencil or alpha
    // test, no user clip plane, no face culling, filled polygons, no GLSL
    // program, the near plane clear of every solid cell, and either blending
    // off or every face of the block opaque (with no texture and, when lit,
    // the colour as the diffuse material).
    void draw(const VoxelBlock &block, const VoxelGL &gl);
    // The context is going away: its buffers go with it, so they are only
    // forgotten here, never deleted.
    void forget(const void *context);
    // Whether the cache holds buffers for the context.
    bool knows(const void *context) const;
    // Bytes the vertex buffers take, over all contexts.
    size_t bytes() const;

    // One corner of a face.
    struct Vertex
    {
        GLshort x, y, z, unused;
        GLubyte red, green, blue, alpha;
        GLbyte nx, ny, nz, unused2;
    };

private:
    struct Context;
    Context &contextFor(const VoxelGL &gl);
    void rebuild(Context &c, const VoxelBlock &block, int chunk, const VoxelGL &gl);

    std::vector<std::unique_ptr<Context>> contexts;
    std::vector<Vertex> scratch[kCubeFaceCount]; // a chunk's faces while it is rebuilt
};
