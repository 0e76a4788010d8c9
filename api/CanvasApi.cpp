// The canvas functions: thin bindings of the run's Canvases. They never
// raise a Lua error; what cannot be done returns nil and the reason.
#include "CanvasApi.h"

#include "ApiArgs.h"
#include "Production.h"

#include <lua.hpp>

#include <string>

namespace {

int PushOutcome(lua_State *L, const std::string &why)
{
    if (why.empty()) {
        lua_pushboolean(L, 1);
        return 1;
    }
    lua_pushnil(L);
    lua_pushlstring(L, why.data(), why.size());
    return 2;
}

// The run, or null with the reason pushed (nil and why) as `function`'s result.
Production *Run(lua_State *L, const char *function)
{
    Production *run = Production::Of(L);
    if (!run)
        PushOutcome(L, std::string(function) + ": no production is running");
    return run;
}

// Argument `index` as a canvas id: a number, else 0 (which no canvas has).
int CanvasId(lua_State *L, int index)
{
    return lua_type(L, index) == LUA_TNUMBER ? ArgInt32(L, index) : 0;
}

std::string NotACanvas(const char *function, lua_State *L, int index)
{
    const char *given = lua_type(L, index) == LUA_TNUMBER ? lua_tostring(L, index) : luaL_typename(L, index);
    return std::string(function) + ": " + given + " is not a canvas";
}

int NewCanvas(lua_State *L)
{
    Production *run = Run(L, "newCanvas");
    if (!run)
        return 2;
    std::string why;
    if (lua_type(L, 1) != LUA_TNUMBER || lua_type(L, 2) != LUA_TNUMBER)
        why = "newCanvas: give a width and a height in pixels (0: the view's)";
    else if (!lua_isnoneornil(L, 3) && lua_type(L, 3) != LUA_TSTRING)
        why = "newCanvas: the format is \"rgba8\" or \"rgba16f\"";
    if (!why.empty())
        return PushOutcome(L, why);
    const std::string format = lua_isnoneornil(L, 3) ? "rgba8" : lua_tostring(L, 3);
    const int id = run->canvases().create(lua_tonumber(L, 1), lua_tonumber(L, 2), format,
                                          run->scene().textureLimit(), why);
    if (!id)
        return PushOutcome(L, why);
    lua_pushnumber(L, id);
    return 1;
}

int SetCanvas(lua_State *L)
{
    Production *run = Run(L, "setCanvas");
    if (!run)
        return 2;
    if (!lua_isnoneornil(L, 1) && !run->canvases().table().find(CanvasId(L, 1)))
        return PushOutcome(L, NotACanvas("setCanvas", L, 1));
    const bool clear = lua_isnone(L, 2) || lua_toboolean(L, 2);
    return PushOutcome(L, run->canvases().setTarget(CanvasId(L, 1), clear));
}

int BindCanvas(lua_State *L)
{
    Production *run = Run(L, "bindCanvas");
    if (!run)
        return 2;
    const bool off = lua_isnoneornil(L, 1) || (lua_type(L, 1) == LUA_TNUMBER && lua_tonumber(L, 1) == 0);
    if (!run->canvases().bindTexture(CanvasId(L, 1)) && !off)
        return PushOutcome(L, NotACanvas("bindCanvas", L, 1));
    return PushOutcome(L, std::string());
}

int FreeCanvas(lua_State *L)
{
    Production *run = Run(L, "freeCanvas");
    if (!run)
        return 2;
    return PushOutcome(L, run->canvases().free(CanvasId(L, 1)) ? std::string() : NotACanvas("freeCanvas", L, 1));
}

} // namespace

const luaL_Reg kCanvasFunctions[] = {
    {"newCanvas", NewCanvas},
    {"setCanvas", SetCanvas},
    {"bindCanvas", BindCanvas},
    {"freeCanvas", FreeCanvas},
    {nullptr, nullptr},
};
