// OpenGL drawing of the voxel block's visible faces: immediate mode, and
// the cache of vertex arrays that draws the whole block in a few calls.
#include "VoxelDrawCache.h"

#include "Shapes.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <type_traits>
#include <utility>

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

// Whether a GLSL program or a texture on the active unit may change the
// colour of what is drawn.
bool ProgramOrTexture()
{
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return program != 0 || glIsEnabled(GL_TEXTURE_1D) || glIsEnabled(GL_TEXTURE_2D) || glIsEnabled(GL_TEXTURE_3D) ||
           glIsEnabled(GL_TEXTURE_CUBE_MAP);
}

// Whether blending is on but leaves every face of an opaque block as it is
// drawn: blended by its alpha (255: the face replaces what is behind it),
// untextured, no GLSL program, and, when lit, with the colour as the
// diffuse material (the alpha is the diffuse material's).
bool BlendingReplaces(bool blockOpaque)
{
    if (!blockOpaque || ProgramOrTexture() || !BlendingIsAlphaOver())
        return false;
    if (!glIsEnabled(GL_LIGHTING))
        return true;
    GLint material = 0;
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &material);
    return glIsEnabled(GL_COLOR_MATERIAL) && (material == GL_DIFFUSE || material == GL_AMBIENT_AND_DIFFUSE);
}

// How the rectangles can be shaded to give the pixels of the faces.
enum class RectShading
{
    None,     // they cannot: the faces are drawn one by one
    Unlit,    // white, times the cell's colour from the texture
    Material, // lit without colour material: the colours do not show
    Halved,   // lit from half white, the texture stage doubling it times the cell's colour
};

// A colour of four floats, all components at least 0; the first three at
// most `most`.
bool Within(const GLfloat c[4], float most)
{
    return c[0] >= 0 && c[1] >= 0 && c[2] >= 0 && c[3] >= 0 && c[0] <= most && c[1] <= most && c[2] <= most;
}

// The shading of the rectangles under the current GL state. Lit with the
// colour as ambient and diffuse material, a face of colour c is lit to
// clamp(c * W), W the light that reaches it; half white is lit to W / 2,
// which stays below 1 while W <= 2, and the texture stage's
// 2 * (W / 2) * c, clamped, is then the same colour.
RectShading ShadingOfRectangles()
{
    if (ProgramOrTexture())
        return RectShading::None;
    if (!glIsEnabled(GL_LIGHTING))
        return RectShading::Unlit;
    if (!glIsEnabled(GL_COLOR_MATERIAL))
        return RectShading::Material;
    GLint parameter = 0, face = 0;
    GLboolean twoSided = GL_FALSE;
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &parameter);
    glGetIntegerv(GL_COLOR_MATERIAL_FACE, &face);
    glGetBooleanv(GL_LIGHT_MODEL_TWO_SIDE, &twoSided);
    if (parameter != GL_AMBIENT_AND_DIFFUSE || !(face == GL_FRONT_AND_BACK || (face == GL_FRONT && !twoSided)))
        return RectShading::None;
    for (const GLenum side : {GL_FRONT, GL_BACK}) {
        GLfloat emission[4], specular[4];
        glGetMaterialfv(side, GL_EMISSION, emission);
        glGetMaterialfv(side, GL_SPECULAR, specular);
        if (emission[0] != 0 || emission[1] != 0 || emission[2] != 0 || specular[0] != 0 || specular[1] != 0 ||
            specular[2] != 0)
            return RectShading::None;
    }
    // The most light that can reach a face: the global ambient and every
    // light's ambient and diffuse, attenuated by at most 1.
    GLfloat sum[4] = {0, 0, 0, 0};
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, sum);
    if (!Within(sum, 2))
        return RectShading::None;
    GLint lights = 0;
    glGetIntegerv(GL_MAX_LIGHTS, &lights);
    for (GLint l = 0; l < lights; ++l) {
        const GLenum light = GLenum(GL_LIGHT0 + l);
        if (!glIsEnabled(light))
            continue;
        GLfloat ambient[4], diffuse[4], position[4], constant = 1, linear = 0, quadratic = 0;
        glGetLightfv(light, GL_AMBIENT, ambient);
        glGetLightfv(light, GL_DIFFUSE, diffuse);
        glGetLightfv(light, GL_POSITION, position);
        glGetLightfv(light, GL_CONSTANT_ATTENUATION, &constant);
        glGetLightfv(light, GL_LINEAR_ATTENUATION, &linear);
        glGetLightfv(light, GL_QUADRATIC_ATTENUATION, &quadratic);
        if (!Within(ambient, 2) || !Within(diffuse, 2) ||
            (position[3] != 0 && !(constant >= 1 && linear >= 0 && quadratic >= 0)))
            return RectShading::None;
        for (int c = 0; c < 3; ++c)
            sum[c] += ambient[c] + diffuse[c];
    }
    return Within(sum, 2) ? RectShading::Halved : RectShading::None;
}

// Whether the depth test alone decides which face shows at a pixel,
// whatever order the faces come in: GL_RENDER mode, the depth test on
// (GL_LESS or GL_LEQUAL, depth writes on, a range that is not reversed),
// filled polygons and no program, stencil or alpha test, face culling or
// user clip plane.
bool DepthDecides()
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
    if (mode != GL_RENDER || !glIsEnabled(GL_DEPTH_TEST) ||
        (depthFunc != GL_LESS && depthFunc != GL_LEQUAL) || !depthMask || !(range[0] < range[1]) ||
        polygon[0] != GL_FILL || polygon[1] != GL_FILL || program != 0 || glIsEnabled(GL_STENCIL_TEST) ||
        glIsEnabled(GL_ALPHA_TEST) || glIsEnabled(GL_CULL_FACE))
        return false;
    for (int p = 0; p < 6; ++p)
        if (glIsEnabled(GL_CLIP_PLANE0 + p))
            return false;
    return true;
}


// Whether the GL state lets a face hidden behind another be left out
// without changing a pixel: a nearer face must win every pixel it covers
// and leave nothing of what lies behind it. `replacing`: blending is off,
// or BlendingReplaces.
bool StateHidesBackFaces(bool replacing)
{
    return replacing && DepthDecides();
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

VoxelDrawCache::~VoxelDrawCache()
{
    if (texture != 0 && glIsTexture(texture))
        glDeleteTextures(1, &texture);
}

template <typename Corner, typename Rebuild>
bool VoxelDrawCache::update(const VoxelBlock &block, Quads<Corner> &quads, Rebuild &&rebuild)
{
    bool opaque = true;
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
        if (!quads.current[chunk] || quads.built[chunk] != block.chunkVersion(chunk)) {
            rebuild(chunk);
            quads.current[chunk] = true;
            quads.built[chunk] = block.chunkVersion(chunk);
        }
        opaque = opaque && translucent[chunk] == 0;
    }
    return opaque;
}

template <typename Corner>
void VoxelDrawCache::drawGroups(const Quads<Corner> &quads, bool cull, const double eye[4])
{
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
        const std::vector<Corner> &corners = quads.corners[chunk];
        if (corners.empty())
            continue;
        const GLsizei stride = sizeof(Corner);
        glVertexPointer(3, GL_SHORT, stride, &corners[0].x);
        glNormalPointer(GL_BYTE, stride, &corners[0].nx);
        if constexpr (std::is_same_v<Corner, Vertex>)
            glColorPointer(4, GL_UNSIGNED_BYTE, stride, &corners[0].red);
        else
            glTexCoordPointer(3, GL_FLOAT, stride, &corners[0].s);
        // The drawn groups, those next to each other in one call.
        int first = 0, count = 0;
        for (int face = 0; face < kCubeFaceCount; ++face) {
            const Group &group = quads.groups[chunk][face];
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
}

void VoxelDrawCache::draw(const VoxelBlock &block)
{
    if (blockSerial != block.serial()) {
        blockSerial = block.serial();
        std::fill(std::begin(faces.current), std::end(faces.current), false);
        std::fill(std::begin(rectangles.current), std::end(rectangles.current), false);
        std::fill(std::begin(texelsCurrent), std::end(texelsCurrent), false);
    }

    // Texture unit 0 is the one the rectangles' colours come through.
    GLint activeTexture = GL_TEXTURE0, clientTexture = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &clientTexture);
    glActiveTexture(GL_TEXTURE0);
    glClientActiveTexture(GL_TEXTURE0);

    RectShading shading = DepthDecides() ? ShadingOfRectangles() : RectShading::None;
    bool opaque = true;
    if (shading != RectShading::None) {
        opaque = update(block, rectangles, [&](int chunk) { rebuildRectangles(block, chunk); });
        // Blended faces could show what lies behind them, which the
        // rectangles would show in another order.
        if (glIsEnabled(GL_BLEND) && !BlendingReplaces(opaque))
            shading = RectShading::None;
    }
    if (shading == RectShading::None)
        opaque = update(block, faces, [&](int chunk) { rebuildFaces(block, chunk); });
    lastMerged = shading != RectShading::None;

    double eye[4];
    // Blending that would leave the opaque faces as drawn is turned off
    // for them: the same pixels, without reading what is behind.
    const bool unblended = BlendingReplaces(opaque);
    const bool cull = CullingEye(block, unblended || !glIsEnabled(GL_BLEND), eye);
    const bool lit = glIsEnabled(GL_LIGHTING);

    // The current colour and normal, the texture unit's state and the
    // client arrays stay what the script set.
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT);
    if (unblended)
        glDisable(GL_BLEND);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT | GL_CLIENT_PIXEL_STORE_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    lit ? glEnableClientState(GL_NORMAL_ARRAY) : glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_INDEX_ARRAY);
    glDisableClientState(GL_EDGE_FLAG_ARRAY);
    if (shading == RectShading::None) {
        glEnableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        drawGroups(faces, cull, eye);
    } else {
        glDisableClientState(GL_COLOR_ARRAY);
        const bool textured = shading != RectShading::Material;
        textured ? glEnableClientState(GL_TEXTURE_COORD_ARRAY) : glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        GLint matrixMode = GL_MODELVIEW;
        if (textured) {
            updateTexture(block);
            glEnable(GL_TEXTURE_3D);
            for (const GLenum coordinate : {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q})
                glDisable(coordinate);
            if (shading == RectShading::Unlit) {
                glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
                glColor4f(1, 1, 1, 1);
            } else {
                glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
                glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
                glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_MODULATE);
                for (const GLenum source : {GL_SOURCE0_RGB, GL_SOURCE0_ALPHA})
                    glTexEnvi(GL_TEXTURE_ENV, source, GL_TEXTURE);
                for (const GLenum source : {GL_SOURCE1_RGB, GL_SOURCE1_ALPHA})
                    glTexEnvi(GL_TEXTURE_ENV, source, GL_PRIMARY_COLOR);
                glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_RGB, GL_SRC_COLOR);
                glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_RGB, GL_SRC_COLOR);
                glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_ALPHA, GL_SRC_ALPHA);
                glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_ALPHA, GL_SRC_ALPHA);
                glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 2.0f);
                glTexEnvf(GL_TEXTURE_ENV, GL_ALPHA_SCALE, 1.0f);
                glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
            }
            glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
            glMatrixMode(GL_TEXTURE);
            glPushMatrix();
            glLoadIdentity();
        }
        drawGroups(rectangles, cull, eye);
        if (textured) {
            glPopMatrix();
            glMatrixMode(GLenum(matrixMode));
        }
    }
    glPopClientAttrib();
    glPopAttrib();
    glActiveTexture(GLenum(activeTexture));
    glClientActiveTexture(GLenum(clientTexture));
}

void VoxelDrawCache::updateTexture(const VoxelBlock &block)
{
    const int size = VoxelBlock::kSize, edge = VoxelBlock::kChunkEdge;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
    glPixelStorei(GL_UNPACK_SKIP_IMAGES, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    // A name this context does not know (a new context, or none yet) gets
    // a new texture, filled chunk by chunk below.
    if (texture == 0 || !glIsTexture(texture)) {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_3D, texture);
        glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAX_LEVEL, 0);
        for (const GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
            glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_EDGE);
        glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA8, size, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        std::fill(std::begin(texelsCurrent), std::end(texelsCurrent), false);
    }
    glBindTexture(GL_TEXTURE_3D, texture);
    // The texel (i, j, k) is the colour of the cell (i, j, k): s runs along
    // i (world x), t along j (world z), r along k (world y).
    texels.resize(size_t(edge) * edge * edge * 4);
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk) {
        if (texelsCurrent[chunk] && texelsBuilt[chunk] == block.colourVersion(chunk))
            continue;
        const int i0 = chunk % VoxelBlock::kChunksPerSide * edge;
        const int j0 = chunk / VoxelBlock::kChunksPerSide % VoxelBlock::kChunksPerSide * edge;
        const int k0 = chunk / (VoxelBlock::kChunksPerSide * VoxelBlock::kChunksPerSide) * edge;
        GLubyte *texel = texels.data();
        for (int k = k0; k < k0 + edge; ++k)
            for (int j = j0; j < j0 + edge; ++j)
                for (int i = i0; i < i0 + edge; ++i, texel += 4) {
                    const VoxelCell &cell = *block.cellAt(i, j, k);
                    texel[0] = GLubyte(cell.red & 0xff);
                    texel[1] = GLubyte(cell.green & 0xff);
                    texel[2] = GLubyte(cell.blue & 0xff);
                    texel[3] = GLubyte(cell.alpha & 0xff);
                }
        glTexSubImage3D(GL_TEXTURE_3D, 0, i0, j0, k0, edge, edge, edge, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        texelsCurrent[chunk] = true;
        texelsBuilt[chunk] = block.colourVersion(chunk);
    }
}

namespace {

// The quads of a chunk, given per direction (four corners each), one group
// after another in face order in `all`, each group with its planes'
// offsets.
template <typename Corner, typename Group>
void Regroup(const std::vector<Corner> (&byFace)[kCubeFaceCount], std::vector<Corner> &all, Group (&groups)[kCubeFaceCount])
{
    // No more room than the corners need: the cache's size is the block's.
    size_t total = 0;
    for (const std::vector<Corner> &quads : byFace)
        total += quads.size();
    all.clear();
    if (all.capacity() > total + total / 4)
        all.shrink_to_fit();
    all.reserve(total);
    for (int face = 0; face < kCubeFaceCount; ++face) {
        const std::vector<Corner> &quads = byFace[face];
        Group &group = groups[face];
        group.first = int32_t(all.size() / 4);
        group.count = int32_t(quads.size() / 4);
        const float *n = kCubeFaceNormals[face];
        group.dMin = group.dMax = 0;
        for (size_t v = 0; v < quads.size(); v += 4) {
            const double d = n[0] * quads[v].x + n[1] * quads[v].y + n[2] * quads[v].z;
            group.dMin = v == 0 ? d : std::min(group.dMin, d);
            group.dMax = v == 0 ? d : std::max(group.dMax, d);
        }
        all.insert(all.end(), quads.begin(), quads.end());
    }
}

// Signed bytes are read as fractions of 127: 127 is 1.
template <typename Corner>
void SetNormal(Corner &corner, int face)
{
    corner.nx = static_cast<GLbyte>(127 * kCubeFaceNormals[face][0]);
    corner.ny = static_cast<GLbyte>(127 * kCubeFaceNormals[face][1]);
    corner.nz = static_cast<GLbyte>(127 * kCubeFaceNormals[face][2]);
}

} // namespace

void VoxelDrawCache::rebuildFaces(const VoxelBlock &block, int chunk)
{
    for (std::vector<Vertex> &quads : scratch)
        quads.clear();
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
                SetNormal(corner, face);
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
    this->translucent[chunk] = translucent;
    Regroup(scratch, faces.corners[chunk], faces.groups[chunk]);
}

void VoxelDrawCache::rebuildRectangles(const VoxelBlock &block, int chunk)
{
    for (std::vector<VoxelRect> &rects : rectScratch)
        rects.clear();
    translucent[chunk] = ChunkRectangles(block, chunk, rectScratch);
    const double units = VoxelBlock::kSize * VoxelBlock::kEdge, half = VoxelBlock::kEdge * 0.5;
    for (int face = 0; face < kCubeFaceCount; ++face) {
        std::vector<RectVertex> &quads = rectCornerScratch[face];
        quads.clear();
        const float *n = kCubeFaceNormals[face];
        RectVertex corner{};
        SetNormal(corner, face);
        for (const VoxelRect &rect : rectScratch[face])
            ForEachVoxelRectVertex(rect, [&](double x, double y, double z) {
                corner.x = static_cast<GLshort>(x);
                corner.y = static_cast<GLshort>(y);
                corner.z = static_cast<GLshort>(z);
                // Half a cell inward: the texel of the cell behind the face.
                // s runs along world x, t along z, r along y.
                corner.s = static_cast<GLfloat>((x - half * n[0]) / units);
                corner.t = static_cast<GLfloat>((z - half * n[2]) / units);
                corner.r = static_cast<GLfloat>((y - half * n[1]) / units);
                quads.push_back(corner);
            });
    }
    Regroup(rectCornerScratch, rectangles.corners[chunk], rectangles.groups[chunk]);
}

size_t VoxelDrawCache::bytes() const
{
    size_t total = texels.capacity();
    for (int chunk = 0; chunk < VoxelBlock::kChunkCount; ++chunk)
        total += faces.corners[chunk].capacity() * sizeof(Vertex) +
                 rectangles.corners[chunk].capacity() * sizeof(RectVertex);
    if (texture != 0)
        total += size_t(VoxelBlock::kCellCount) * 4; // RGBA, a byte each
    return total;
}
