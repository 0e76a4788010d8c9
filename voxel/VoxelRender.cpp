// OpenGL emission of the voxel block's visible faces (immediate mode).
#include "VoxelRender.h"

#include <GL/gl.h>

void DrawVoxelCell(const VoxelCell &cell, bool normals)
{
    // Only the low 8 bits of each component reach GL.
    glColor4ub(static_cast<GLubyte>(cell.red & 0xff), static_cast<GLubyte>(cell.green & 0xff),
               static_cast<GLubyte>(cell.blue & 0xff), static_cast<GLubyte>(cell.alpha & 0xff));
    const auto vertex = [](double x, double y, double z) { glVertex3d(x, y, z); };
    if (normals)
        ForEachVoxelFace(cell, [](int face) { glNormal3fv(kCubeFaceNormals[face]); }, vertex);
    else
        ForEachVoxelFaceVertex(cell, vertex);
}

void RenderVoxelBlock(VoxelBlock &block, bool normals)
{
    block.walk([normals](const VoxelCell &cell) { DrawVoxelCell(cell, normals); });
}
