// OpenGL emission of the voxel block's visible faces (immediate mode).
#include "VoxelRender.h"

#include <GL/gl.h>

void DrawVoxelCell(const VoxelCell &cell)
{
    // Only the low 8 bits of each component reach GL.
    glColor4ub(static_cast<GLubyte>(cell.red & 0xff), static_cast<GLubyte>(cell.green & 0xff),
               static_cast<GLubyte>(cell.blue & 0xff), static_cast<GLubyte>(cell.alpha & 0xff));
    // Each face's outward normal, so the block shades when the production
    // turns lighting on (without lighting the normal changes nothing).
    ForEachVoxelFace(
        cell, [](int face) { glNormal3fv(kCubeFaceNormals[face]); },
        [](double x, double y, double z) { glVertex3d(x, y, z); });
}

void RenderVoxelBlock(VoxelBlock &block)
{
    block.walk([](const VoxelCell &cell) { DrawVoxelCell(cell); });
}
