// Shapes.cpp: immediate-mode drawing of the wire cube, the solid cube and the
// wire sphere, with the geometry of GLUT's shapes of the same names.
#include "Shapes.h"

#include "CubeFaces.h"

#include <GL/gl.h>
#include <cmath>

namespace {

// Corner c (bit 0 = +x, bit 1 = +y, bit 2 = +z) of a cube of half edge h.
void cubeCorner(int c, float h)
{
    glVertex3f((c & 1) ? h : -h, (c & 2) ? h : -h, (c & 4) ? h : -h);
}

} // namespace

void drawWireCube(float size)
{
    const float h = size * 0.5f;
    glBegin(GL_LINES);
    // Every pair of corners that differ in exactly one axis bit is an edge.
    for (int c = 0; c < 8; ++c) {
        for (int bit = 1; bit < 8; bit <<= 1) {
            if (!(c & bit)) {
                cubeCorner(c, h);
                cubeCorner(c | bit, h);
            }
        }
    }
    glEnd();
}

void drawSolidCube(float size)
{
    const float h = size * 0.5f;
    // The shared face table: each face's corners run counter-clockwise seen
    // from outside; its normal is the axis its corners all share.
    glBegin(GL_QUADS);
    for (const auto &face : kCubeFaceSigns) {
        const float n[3] = {face[0][0] == face[2][0] ? face[0][0] : 0.0f,
                            face[0][1] == face[2][1] ? face[0][1] : 0.0f,
                            face[0][2] == face[2][2] ? face[0][2] : 0.0f};
        glNormal3f(n[0], n[1], n[2]);
        for (const auto &c : face)
            glVertex3f(c[0] * h, c[1] * h, c[2] * h);
    }
    glEnd();
}

void drawWireSphere(float radius, int slices, int stacks)
{
    if (slices < 1 || stacks < 1)
        return;
    const double pi = 3.14159265358979323846;

    // Point at polar angle phi (0 at +Z) and azimuth theta, with its normal.
    auto vertex = [radius](double phi, double theta) {
        const float nx = static_cast<float>(std::sin(phi) * std::cos(theta));
        const float ny = static_cast<float>(std::sin(phi) * std::sin(theta));
        const float nz = static_cast<float>(std::cos(phi));
        glNormal3f(nx, ny, nz);
        glVertex3f(nx * radius, ny * radius, nz * radius);
    };

    for (int i = 0; i < slices; ++i) {
        const double theta = 2.0 * pi * i / slices;
        glBegin(GL_LINE_STRIP);
        for (int j = 0; j <= stacks; ++j)
            vertex(pi * j / stacks, theta);
        glEnd();
    }
    for (int j = 1; j < stacks; ++j) {
        const double phi = pi * j / stacks;
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < slices; ++i)
            vertex(phi, 2.0 * pi * i / slices);
        glEnd();
    }
}

bool BlendingIsAlphaOver()
{
    if (!glIsEnabled(GL_BLEND))
        return false;
    GLint blend[5] = {0, 0, 0, 0, 0};
    glGetIntegerv(GL_BLEND_SRC_RGB, &blend[0]);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &blend[1]);
    glGetIntegerv(GL_BLEND_DST_RGB, &blend[2]);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &blend[3]);
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &blend[4]);
    return blend[0] == GL_SRC_ALPHA && blend[1] == GL_SRC_ALPHA && blend[2] == GL_ONE_MINUS_SRC_ALPHA &&
           blend[3] == GL_ONE_MINUS_SRC_ALPHA && blend[4] == GL_FUNC_ADD;
}
