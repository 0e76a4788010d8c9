// The scene functions. Each reads its arguments loosely (missing or
// non-numeric: 0, or false), never raises a Lua error, and hands over to the
// run's Scene or the world's lens, which ignore what would break the frame
// (NaN, infinities, a pop too many).
#include "SceneApi.h"

#include "ApiArgs.h"
#include "DemoWorld.h"
#include "Production.h"

#include <lua.hpp>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace {

const int kDefaultTextSize = 16;
const int kMaxTextSize = 512;
const int kMaxTextLength = 1024;   // characters of one line of text

Scene *CurrentScene(lua_State *L)
{
    Production *run = Production::Of(L);
    return run ? &run->scene() : nullptr;
}

double Arg(lua_State *L, int index)
{
    return lua_tonumber(L, index);
}

int PushMatrixGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->pushMatrix();
    return 0;
}

int PopMatrixGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->popMatrix();
    return 0;
}

int TranslateGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->translate(Arg(L, 1), Arg(L, 2), Arg(L, 3));
    return 0;
}

int RotateGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->rotate(Arg(L, 1), Arg(L, 2), Arg(L, 3), Arg(L, 4));
    return 0;
}

int ScaleGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->scale(Arg(L, 1), Arg(L, 2), Arg(L, 3));
    return 0;
}

int LoadIdentityGL(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->loadIdentity();
    return 0;
}

int SetFov(lua_State *L)
{
    // Clamped before narrowing, so a huge angle is 179, not infinity.
    const double degrees = lua_tonumber(L, 1);
    if (gDemoWorld && std::isfinite(degrees))
        gDemoWorld->setFieldOfView(static_cast<float>(std::clamp(degrees, 1.0, 179.0)));
    return 0;
}

int SetClipPlanes(lua_State *L)
{
    if (gDemoWorld)
        gDemoWorld->setClipPlanes(ArgFloat(L, 1), ArgFloat(L, 2));
    return 0;
}

int SetLineWidth(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->setLineWidth(Arg(L, 1));
    return 0;
}

int SetLighting(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->setLighting(lua_toboolean(L, 1));
    return 0;
}

int SetLightDir(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->setLightDirection(Arg(L, 1), Arg(L, 2), Arg(L, 3));
    return 0;
}

int NormalGL(lua_State *L)
{
    const float x = ArgFloat(L, 1), y = ArgFloat(L, 2), z = ArgFloat(L, 3);
    if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z))
        glNormal3f(x, y, z);
    return 0;
}

int TexCoordGL(lua_State *L)
{
    const float u = ArgFloat(L, 1), v = ArgFloat(L, 2);
    if (std::isfinite(u) && std::isfinite(v))
        glTexCoord2f(u, v);
    return 0;
}

// The text at `index` and its size after it, as drawText and getTextSize
// read them: false when the text is neither a string nor a number.
bool TextArgs(lua_State *L, int index, QString &text, int &size)
{
    if (!lua_isstring(L, index))
        return false;
    size_t length = 0;
    const char *bytes = lua_tolstring(L, index, &length);
    text = QString::fromUtf8(bytes, static_cast<qsizetype>(length)).left(kMaxTextLength);
    size = lua_isnumber(L, index + 1) ? TruncateInto(lua_tonumber(L, index + 1), 1, kMaxTextSize, kDefaultTextSize)
                                      : kDefaultTextSize;
    return true;
}

int DrawText(lua_State *L)
{
    Scene *scene = CurrentScene(L);
    QString text;
    int size = 0;
    if (scene && TextArgs(L, 3, text, size))
        scene->drawText(Arg(L, 1), Arg(L, 2), text, size);
    return 0;
}

int GetTextSize(lua_State *L)
{
    const Scene *scene = CurrentScene(L);
    QString text;
    int size = 0;
    const QSize box = scene && TextArgs(L, 1, text, size) ? scene->textSize(text, size) : QSize(0, 0);
    lua_pushnumber(L, box.width());
    lua_pushnumber(L, box.height());
    return 2;
}

int LoadTexture(lua_State *L)
{
    Scene *scene = CurrentScene(L);
    std::string error = "cannot load a texture: no production is running";
    int id = 0;
    if (scene && !lua_isstring(L, 1))
        error = "cannot read the texture: the file name is not a string";
    else if (scene) {
        size_t length = 0;
        const char *bytes = lua_tolstring(L, 1, &length);
        id = scene->loadTexture(QString::fromUtf8(bytes, static_cast<qsizetype>(length)), error);
    }
    if (id > 0) {
        lua_pushnumber(L, id);
        return 1;
    }
    lua_pushnil(L);
    lua_pushstring(L, error.c_str());
    return 2;
}

int BindTexture(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->bindTexture(ArgInt32(L, 1));
    return 0;
}

int FreeTexture(lua_State *L)
{
    if (Scene *scene = CurrentScene(L))
        scene->freeTexture(ArgInt32(L, 1));
    return 0;
}

} // namespace

bool SceneLit(lua_State *L)
{
    const Scene *scene = CurrentScene(L);
    return scene && scene->lighting() && scene->rendering();
}

const luaL_Reg kSceneFunctions[] = {
    {"pushMatrixGL", PushMatrixGL},
    {"popMatrixGL", PopMatrixGL},
    {"translateGL", TranslateGL},
    {"rotateGL", RotateGL},
    {"scaleGL", ScaleGL},
    {"loadIdentityGL", LoadIdentityGL},
    {"setFov", SetFov},
    {"setClipPlanes", SetClipPlanes},
    {"setLineWidth", SetLineWidth},
    {"setLighting", SetLighting},
    {"setLightDir", SetLightDir},
    {"normalGL", NormalGL},
    {"drawText", DrawText},
    {"loadTexture", LoadTexture},
    {"bindTexture", BindTexture},
    {"texCoordGL", TexCoordGL},
    {"freeTexture", FreeTexture},
    {"getTextSize", GetTextSize},
    {nullptr, nullptr},
};
