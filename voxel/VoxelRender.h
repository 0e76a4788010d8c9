// OpenGL emission of the voxel block: a thin loop over what the render walk
// and the face geometry of VoxelBlock.h decide. Emits colours, normals and
// vertices only, never glBegin or glEnd: call it inside a GL_QUADS bracket.
#pragma once

#include "VoxelBlock.h"

// One cell: glColor4ub with the low 8 bits of its colour, then per visible
// face its outward normal (glNormal3fv) and four glVertex3d.
void DrawVoxelCell(const VoxelCell &cell);

// The render walk: draws every cell of the surface list that has a visible
// face, in list order, and unlinks the cells that have none left.
void RenderVoxelBlock(VoxelBlock &block);
