// The drawing functions: each reads its arguments loosely, makes its
// OpenGL immediate-mode calls and returns nothing. They draw into whatever
// context is current, which is the view's during render().
#include "DrawApi.h"

#include "ApiArgs.h"
#include "CubeFaces.h"
#include "ML_Maths"
#include "SceneApi.h"
#include "Production.h"

#include <GL/gl.h>

int ScriptDrawLine(lua_State *L)
{
    const float x1 = ArgFloat(L, 1), y1 = ArgFloat(L, 2), z1 = ArgFloat(L, 3);
    const float x2 = ArgFloat(L, 4), y2 = ArgFloat(L, 5), z2 = ArgFloat(L, 6);
    glBegin(GL_LINES);
    glColor3ub(255, 255, 255);
    glVertex3f(x1, y1, z1);
    glVertex3f(x2, y2, z2);
    glEnd();
    // Inside a script's bracket this glEnd has ended that bracket.
    if (Production *run = Production::Of(L))
        run->world().primitive().forget();
    return 0;
}

namespace {

// Opens the run's bracket in `mode`; nothing without a run.
int BeginBracket(lua_State *L, GLenum mode)
{
    if (Production *run = Production::Of(L))
        run->world().primitive().begin(mode);
    return 0;
}

} // namespace

int ScriptBeginTriGL(lua_State *L)
{
    return BeginBracket(L, GL_TRIANGLES);
}

int ScriptBeginQuadGL(lua_State *L)
{
    return BeginBracket(L, GL_QUADS);
}

int ScriptBeginLinGL(lua_State *L)
{
    return BeginBracket(L, GL_LINES);
}

int ScriptEndGL(lua_State *L)
{
    if (Production *run = Production::Of(L))
        run->world().primitive().end();
    return 0;
}

int ScriptVectorGL(lua_State *L)
{
    glVertex3f(ArgFloat(L, 1), ArgFloat(L, 2), ArgFloat(L, 3));
    return 0;
}

int ScriptColorGL(lua_State *L)
{
    // A missing alpha is 0 (invisible when blended).
    glColor4ub(ColourByte(lua_tonumber(L, 1)), ColourByte(lua_tonumber(L, 2)), ColourByte(lua_tonumber(L, 3)),
               ColourByte(lua_tonumber(L, 4)));
    return 0;
}

int ScriptDrawCube(lua_State *L)
{
    const Vector3 corner(ArgFloat(L, 1), ArgFloat(L, 2), ArgFloat(L, 3));
    const float h = ArgFloat(L, 4) * 0.5f;
    const Vector3 centre = corner + Vector3(h, h, h);
    // The face arguments come as -X, +X, -Y, +Y, -Z, +Z; the faces are
    // emitted in the order of kCubeFaceSigns.
    static const int kArgumentOfFace[kCubeFaceCount] = {6, 8, 10, 5, 7, 9};
    const bool normals = SceneLit(L);
    for (int face = 0; face < kCubeFaceCount; ++face) {
        if (!lua_toboolean(L, kArgumentOfFace[face]))
            continue;
        // Under lighting the outward normal shades the face.
        if (normals)
            glNormal3fv(kCubeFaceNormals[face]);
        for (const auto &s : kCubeFaceSigns[face]) {
            const Vector3 v = centre + Vector3(s[0] * h, s[1] * h, s[2] * h);
            glVertex3d(v.x, v.y, v.z);
        }
    }
    return 0;
}

const luaL_Reg kDrawFunctions[] = {
    {"drawLine", ScriptDrawLine},
    {"beginTriGL", ScriptBeginTriGL},
    {"beginQuadGL", ScriptBeginQuadGL},
    {"beginLinGL", ScriptBeginLinGL},
    {"endGL", ScriptEndGL},
    {"vectorGL", ScriptVectorGL},
    {"colorGL", ScriptColorGL},
    {"drawCube", ScriptDrawCube},
    {nullptr, nullptr},
};
