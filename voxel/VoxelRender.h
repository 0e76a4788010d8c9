// OpenGL emission of the voxel block: a thin loop over what the render walk
// and the face geometry of VoxelBlock.h decide. Emits colours, normals and
// vertices only, never glBegin or glEnd: call it inside a GL_QUADS bracket.
#pragma once

#include "VoxelBlock.h"

// One cell: glColor4ub with the low 8 bits of its colour, then per visible
// face four glVertex3d, each face led by its outward normal (glNormal3fv)
// when `normals` is set (for lighting; a normal per face costs Mesa's
// immediate mode several times the unlit draw, so it is asked for).
void DrawVoxelCell(const VoxelCell &cell, bool normals = false);

// The render walk: draws every cell of the surface list that has a visible
// face, in list order, and unlinks the cells that have none left.
void RenderVoxelBlock(VoxelBlock &block, bool normals = false);
