// OpenGL drawing of the voxel block's visible faces: immediate mode, and
// the cache of vertex arrays that draws the whole block in a few calls.
#include "VoxelDrawCache.h"

#include "Shapes.h"

#include <algorithm>
#include <cmath>

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

namespace {

// The inverse of a 4 x 4 matrix by Gauss-Jordan elimination with partial
// pivoting; false when it is singular. The same steps invert the matrix
// and its transpose, so GL's column order needs no care.
bool Invert(const double m[16], double out[16])
{
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c)
            a[r][c] = c < 4 ? m[r * 4 + c] : (c - 4 == r ? 1.0 : 0.0);
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (a[pivot][col] == 0.0)
            return false;
        std::swap(a[pivot], a[col]);
        const double scale = 1.0 / a[col][col];
        for (double &v : a[col])
            v *= scale;
        for (int r = 0; r < 4; ++r)
            if (r != col && a[r][col] != 0.0) {
                const double f = a[r][col];
                for (int c = 0; c < 8; ++c)
                    a[r][c] -= f * a[col][c];
            }
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[r * 4 + c] = a[r][c + 4];
    return true;
}

// m * v for a matrix in GL's column order.
void Apply(const double m[16], const double v[4], double out[4])
{
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
}

// Whether blending is on but leaves every face of an opaque block as it is
// drawn: blended by its alpha (255: the face replaces what is behind it),
// untextured, no GLSL program, and, when lit, with the colour as the
// diffuse material (the alpha is the diffuse material's).
bool BlendingReplaces(bool blockOpaque)
{
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (!blockOpaque || program != 0 || !BlendingIsAlphaOver() || glIsEnabled(GL_TEXTURE_1D) ||
        glIsEnabled(GL_TEXTURE_2D) || glIsEnabled(GL_TEXTURE_3D) || glIsEnabled(GL_TEXTURE_CUBE_MAP))
        return false;
    if (!glIsEnabled(GL_LIGHTING))
        return true;
    GLint material = 0;
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &material);
    return glIsEnabled(GL_COLOR_MATERIAL) && (material == GL_DIFFUSE || material == GL_AMBIENT_AND_DIFFUSE);
}

// Whether the GL state lets a face hidden behind another be left out
// without changing a pixel: a nearer face must win every pixel it covers
// and leave nothing of what lies behind it. `replacing`: blending is off,
// or BlendingReplaces.
bool StateHidesBackFaces(bool replacing)
{
    GLint mode = 0, depthFunc = 0, program = 0, polygon[2] = {0, 0};
    GLboolean depthMask = GL_FALSE;
    GLdouble range[2] = {0, 0};
    glGetIntegerv(GL_RENDER_MODE, &mode);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    glGetDoublev(GL_DEPTH_RANGE, range);
    glGetIntegerv(GL_POLYGON_MODE, polygon);
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (!replacing || mode != GL_RENDER || !glIsEnabled(GL_DEPTH_TEST) ||
        (depthFunc != GL_LESS && depthFunc != GL_LEQUAL) || !depthMask || !(range[0] < range[1]) ||
        polygon[0] != GL_FILL || polygon[1] != GL_FILL || program != 0 || glIsEnabled(GL_STENCIL_TEST) ||
        glIsEnabled(GL_ALPHA_TEST) || glIsEnabled(GL_CULL_FACE))
        return false;
    for (int p = 0; p < 6; ++p)
        if (glIsEnabled(GL_CLIP_PLANE0 + p))
            return false;
    return true;
}

// Whether the near plane keeps clear of every solid cell, given the
// transform m = P * MV, its inverse and the eye e. Then the way from the
// eye to any face that looks away from it enters the solid through a
// nearer face that is drawn. Either the whole block lies beyond the near
// plane, or (perspective) no cell near the eye, within the reach of the
// near rectangle's corners, is solid.
bool NearPlaneClear(const VoxelBlock &block, const double m[16], const double inverse[16], const double e[4])
{
    const double size = VoxelBlock::kSize * VoxelBlock::kEdge;
    bool beyond = true;
    for (int corner = 0; corner < 8; ++corner) {
        const double p[4] = {corner & 1 ? size : 0, corner & 2 ? size : 0, corner & 4 ? size : 0, 1};
        double clip[4];
        Apply(m, p, clip);
        beyond = beyond && clip[3] > 0 && clip[2] + clip[3] >= 0;
    }
    if (beyond)
        return true;
    if (!(e[3] > 0))
        return false;
    const double eye[3] = {e[0] / e[3], e[1] / e[3], e[2] / e[3]};
    double reach = 0;
    for (int corner = 0; corner < 4; ++corner) {
        const double c[4] = {corner & 1 ? 1.0 : -1.0, corner & 2 ? 1.0 : -1.0, -1, 1};
        double q[4];
        Apply(inverse, c, q);
        if (q[3] == 0)
            return false;
        for (int a = 0; a < 3; ++a)
            reach = std::max(reach, std::fabs(q[a] / q[3] - eye[a]));
    }
    // The cells whose span meets the box of that reach around the eye; i
    // runs along x, j along z, k along y. Too many to look at: unsure.
    int lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = int(std::max(-1.0, std::floor((eye[a] - reach) / VoxelBlock::kEdge) - 1));
        hi[a] = int(std::min(double(VoxelBlock::kSize), std::floor((eye[a] + reach) / VoxelBlock::kEdge)));
    }
    if (double(hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1) > 100000)
        return false;
    for (int k = lo[1]; k <= hi[1]; ++k)
        for (int j = lo[2]; j <= hi[2]; ++j)
            for (int i = lo[0]; i <= hi[0]; ++i) {
                const VoxelCell *cell = block.cellAt(i, j, k);
                if (cell && cell->solid)
                    return false;
            }
    return true;
}

// The eye in the block's coordinates, as a homogeneous point with w >= 0
// (0: a parallel view, looking along -e.xyz), when groups facing away from
// it may be left out; false when everything must be drawn. The eye is where
// the depth test favours: clip space's (0, 0, -1, 0), taken back through
// the inverse of P * MV.
bool CullingEye(const VoxelBlock &block, bool replacing, double e[4])
{
    if (!StateHidesBackFaces(replacing))
        return false;
    double p[16], mv[16], m[16], inverse[16];
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            m[c * 4 + r] = p[r] * mv[c * 4] + p[4 + r] * mv[c * 4 + 1] + p[8 + r] * mv[c * 4 + 2] + p[12 + r] * mv[c * 4 + 3];
    if (!Invert(m, inverse))
        return false;
    // inverse * (0, 0, -1, 0) is minus column 2; as a point, either sign
    // of it is the same, so the one with w >= 0 is taken (w = 0: parallel,
    // where the sign is the direction and stays).
    const double sign = inverse[11] > 0 ? 1.0 : -1.0;
    for (int r = 0; r < 4; ++r)
        e[r] = sign * inverse[8 + r];
    return NearPlaneClear(block, m, inverse, e);
}

// Whether every face of the group looks away from the eye e: the eye lies
// behind each face's plane, at both ends of the planes' offsets. A face
// seen edge-on, or too close to tell, counts as seen.
bool LooksAway(double dMin, double dMax, int face, const double e[4])
{
    const float *n = kCubeFaceNormals[face];
    const double ne = n[0] * e[0] + n[1] * e[1] + n[2] * e[2];
    for (const double d : {dMin, dMax}) {
        const double side = ne - d * e[3];
        if (!(side < -1e-9 * (std::fabs(ne) + std::fabs(d * e[3]))))
            return false;
    }
    return true;
}

} // namespace

void VoxelDrawCache::draw(const VoxelBlock &block)
{
    const bool sameBlock = blockSerial == block.serial();
    bool opaque = true;
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
        if (!sameBlock || built[chunk] != block.chunkVersion(chunk))
            rebuild(block, chunk);
        opaque = opaque && translucent[chunk] == 0;
    }
    blockSerial = block.serial();

    double eye[4];
    // Blending that would leave the opaque faces as drawn is turned off
    // for them: the same pixels, without reading what is behind.
    const bool unblended = BlendingReplaces(opaque);
    const bool cull = CullingEye(block, unblended || !glIsEnabled(GL_BLEND), eye);
    const bool lit = glIsEnabled(GL_LIGHTING);

    // The current colour and normal stay what the script set; so do the
    // client arrays.
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT);
    if (unblended)
        glDisable(GL_BLEND);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    lit ? glEnableClientState(GL_NORMAL_ARRAY) : glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_INDEX_ARRAY);
    glDisableClientState(GL_EDGE_FLAG_ARRAY);
    const GLsizei stride = sizeof(Vertex);
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
        const std::vector<Vertex> &faces = corners[chunk];
        if (faces.empty())
            continue;
        glVertexPointer(3, GL_SHORT, stride, &faces[0].x);
        glColorPointer(4, GL_UNSIGNED_BYTE, stride, &faces[0].red);
        if (lit)
            glNormalPointer(GL_BYTE, stride, &faces[0].nx);
        // The drawn groups, those next to each other in one call.
        int first = 0, count = 0;
        for (int face = 0; face < kCubeFaceCount; ++face) {
            const Group &group = groups[chunk][face];
            if (group.count == 0 || (cull && LooksAway(group.dMin, group.dMax, face, eye)))
                continue;
            if (count > 0 && first + count != group.first) {
                glDrawArrays(GL_QUADS, first * 4, count * 4);
                count = 0;
            }
            if (count == 0)
                first = group.first;
            count += group.count;
        }
        if (count > 0)
            glDrawArrays(GL_QUADS, first * 4, count * 4);
    }
    glPopClientAttrib();
    glPopAttrib();
}

void VoxelDrawCache::rebuild(const VoxelBlock &block, int chunk)
{
    for (std::vector<Vertex> &faces : scratch)
        faces.clear();
    int translucent = 0;
    block.forEachChunkCell(chunk, [this, &translucent](const VoxelCell &cell) {
        Vertex corner{};
        corner.red = static_cast<GLubyte>(cell.red & 0xff);
        corner.green = static_cast<GLubyte>(cell.green & 0xff);
        corner.blue = static_cast<GLubyte>(cell.blue & 0xff);
        corner.alpha = static_cast<GLubyte>(cell.alpha & 0xff);
        std::vector<Vertex> *group = nullptr;
        // Corners of a cell lie on whole units from 0 to 1000: exact in shorts.
        ForEachVoxelFace(
            cell,
            [this, &corner, &group, &translucent](int face) {
                // Signed bytes are read as fractions of 127: 127 is 1.
                corner.nx = static_cast<GLbyte>(127 * kCubeFaceNormals[face][0]);
                corner.ny = static_cast<GLbyte>(127 * kCubeFaceNormals[face][1]);
                corner.nz = static_cast<GLbyte>(127 * kCubeFaceNormals[face][2]);
                group = &scratch[face];
                translucent += corner.alpha != 255;
            },
            [&group, &corner](double x, double y, double z) {
                corner.x = static_cast<GLshort>(x);
                corner.y = static_cast<GLshort>(y);
                corner.z = static_cast<GLshort>(z);
                group->push_back(corner);
            });
    });
    // The groups one after another in the chunk's array, in face order.
    std::vector<Vertex> &all = corners[chunk];
    all.clear();
    for (int face = 0; face < kCubeFaceCount; ++face) {
        const std::vector<Vertex> &faces = scratch[face];
        Group &group = groups[chunk][face];
        group.first = int32_t(all.size() / 4);
        group.count = int32_t(faces.size() / 4);
        const float *n = kCubeFaceNormals[face];
        group.dMin = group.dMax = 0;
        for (size_t v = 0; v < faces.size(); v += 4) {
            const double d = n[0] * faces[v].x + n[1] * faces[v].y + n[2] * faces[v].z;
            group.dMin = v == 0 ? d : std::min(group.dMin, d);
            group.dMax = v == 0 ? d : std::max(group.dMax, d);
        }
        all.insert(all.end(), faces.begin(), faces.end());
    }
    this->translucent[chunk] = translucent;
    built[chunk] = block.chunkVersion(chunk);
}

size_t VoxelDrawCache::bytes() const
{
    size_t total = 0;
    for (const std::vector<Vertex> &faces : corners)
        total += faces.capacity() * sizeof(Vertex);
    return total;
}
