// OpenGL drawing of the voxel block's visible faces: immediate mode, and
// the cache of display lists that draws the whole block in a few calls.
#include "VoxelRender.h"

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

// ---------------------------------------------------------------- the cache

void VoxelDrawCache::draw(const VoxelBlock &block)
{
    const bool sameBlock = blockSerial == block.serial();
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk)
        if (!sameBlock || built[chunk] != block.chunkVersion(chunk))
            rebuild(block, chunk);
    blockSerial = block.serial();

    // The current colour and normal stay what the script set; so do the
    // client arrays.
    glPushAttrib(GL_CURRENT_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_INDEX_ARRAY);
    glDisableClientState(GL_EDGE_FLAG_ARRAY);
    const GLsizei stride = sizeof(Vertex);
    for (const std::vector<Vertex> &faces : corners) {
        if (faces.empty())
            continue;
        glVertexPointer(3, GL_SHORT, stride, &faces[0].x);
        glColorPointer(4, GL_UNSIGNED_BYTE, stride, &faces[0].red);
        glNormalPointer(GL_BYTE, stride, &faces[0].nx);
        glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(faces.size()));
    }
    glPopClientAttrib();
    glPopAttrib();
}

void VoxelDrawCache::rebuild(const VoxelBlock &block, int chunk)
{
    std::vector<Vertex> &faces = corners[chunk];
    faces.clear();
    block.forEachChunkCell(chunk, [&faces](const VoxelCell &cell) {
        Vertex corner{};
        corner.red = static_cast<GLubyte>(cell.red & 0xff);
        corner.green = static_cast<GLubyte>(cell.green & 0xff);
        corner.blue = static_cast<GLubyte>(cell.blue & 0xff);
        corner.alpha = static_cast<GLubyte>(cell.alpha & 0xff);
        // Corners of a cell lie on whole units from 0 to 1000: exact in shorts.
        ForEachVoxelFace(
            cell,
            [&corner](int face) {
                // Signed bytes are read as fractions of 127: 127 is 1.
                corner.nx = static_cast<GLbyte>(127 * kCubeFaceNormals[face][0]);
                corner.ny = static_cast<GLbyte>(127 * kCubeFaceNormals[face][1]);
                corner.nz = static_cast<GLbyte>(127 * kCubeFaceNormals[face][2]);
            },
            [&faces, &corner](double x, double y, double z) {
                corner.x = static_cast<GLshort>(x);
                corner.y = static_cast<GLshort>(y);
                corner.z = static_cast<GLshort>(z);
                faces.push_back(corner);
            });
    });
    built[chunk] = block.chunkVersion(chunk);
}

size_t VoxelDrawCache::bytes() const
{
    size_t total = 0;
    for (const std::vector<Vertex> &faces : corners)
        total += faces.capacity() * sizeof(Vertex);
    return total;
}
