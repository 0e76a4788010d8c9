// The shader functions: thin bindings of the run's Shaders. They never
// raise a Lua error; a load that fails returns nil and the reason, and
// everything else with wrong arguments does nothing.
#include "ShaderApi.h"

#include "ApiArgs.h"
#include "CanvasTable.h"
#include "Production.h"

#include <string>
#include <vector>

namespace {

// The run's shaders; null for a world made on its own.
Shaders *RunShaders(lua_State *L)
{
    Production *run = Production::Of(L);
    return run ? &run->shaders() : nullptr;
}

// Argument `index` as a stage: `stage` null for nil or none, else `text`.
// False when it is something else (a number, a table).
bool StageArgument(lua_State *L, int index, std::string &text, const std::string *&stage)
{
    stage = nullptr;
    if (lua_isnoneornil(L, index))
        return true;
    if (lua_type(L, index) != LUA_TSTRING)
        return false;
    size_t length = 0;
    const char *s = lua_tolstring(L, index, &length);
    text.assign(s, length);
    stage = &text;
    return true;
}

int PushFailure(lua_State *L, const std::string &why)
{
    lua_pushnil(L);
    lua_pushlstring(L, why.data(), why.size());
    return 2;
}

int PushOutcome(lua_State *L, int id, const std::string &log)
{
    if (!id)
        return PushFailure(L, log);
    lua_pushnumber(L, id);
    return 1;
}

// True between a begin function and endGL of the run's script.
bool BracketOpen(lua_State *L)
{
    Production *run = Production::Of(L);
    return run && run->world().primitive().open();
}

// Why a shader cannot be made now, "" when it can: GL refuses it between
// glBegin and glEnd.
std::string Refusal(lua_State *L, const char *function, Shaders *shaders)
{
    if (!shaders)
        return std::string(function) + ": no production is running";
    if (BracketOpen(L))
        return std::string(function) + ": not between a begin function and endGL";
    return std::string();
}

} // namespace

int ScriptLoadShader(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    std::string why = Refusal(L, "loadShader", shaders);
    std::string texts[2];
    const std::string *stages[2];
    if (why.empty() && (!StageArgument(L, 1, texts[0], stages[0]) || !StageArgument(L, 2, texts[1], stages[1])))
        why = "loadShader: each stage is GLSL text, a file name or nil";
    if (!why.empty())
        return PushFailure(L, why);
    std::string log;
    return PushOutcome(L, shaders->load(stages[0], stages[1], log), log);
}

int ScriptUseShader(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    if (shaders && !BracketOpen(L))
        shaders->use(ArgInt32(L, 1));
    return 0;
}

int ScriptSetUniform(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    // GL takes no uniform or texture between a begin function and endGL.
    if (!shaders || lua_type(L, 2) != LUA_TSTRING || BracketOpen(L))
        return 0;
    float values[4];
    int count = 0;
    while (count < 4 && lua_isnumber(L, 3 + count)) {
        values[count] = ArgFloat(L, 3 + count);
        ++count;
    }
    if (count > 0)
        shaders->setUniform(ArgInt32(L, 1), lua_tostring(L, 2), values, count);
    return 0;
}

int ScriptSetPostShader(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    std::string why = Refusal(L, "setPostShader", shaders);
    const int count = lua_isnoneornil(L, 1) && lua_gettop(L) <= 1 ? 0 : lua_gettop(L);
    if (why.empty())
        why = CanvasTable::CheckChainLength(count);
    // Each pass: a fragment stage made into a pass, or a pass's id.
    std::vector<int> ids;
    for (int index = 1; index <= count && why.empty(); ++index) {
        if (lua_type(L, index) == LUA_TNUMBER) {
            ids.push_back(ArgInt32(L, index));
            continue;
        }
        if (lua_type(L, index) != LUA_TSTRING) {
            why = "setPostShader: each pass is GLSL text, a file name or a pass's id";
            break;
        }
        size_t length = 0;
        const char *text = lua_tolstring(L, index, &length);
        const int id = shaders->loadPass(std::string(text, length), why);
        if (!id)
            break;
        ids.push_back(id);
    }
    if (why.empty())
        why = shaders->setChain(ids);
    if (!why.empty())
        return PushFailure(L, why);
    for (int id : ids)
        lua_pushnumber(L, id);
    return count;
}

int ScriptSetPassScale(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    const std::string why = shaders ? shaders->setPassScale(ArgInt32(L, 1), lua_tonumber(L, 2))
                                    : "setPassScale: no production is running";
    if (!why.empty())
        return PushFailure(L, why);
    lua_pushboolean(L, 1);
    return 1;
}

int ScriptFreeShader(lua_State *L)
{
    Shaders *shaders = RunShaders(L);
    std::string why = Refusal(L, "freeShader", shaders);
    if (why.empty())
        why = shaders->free(ArgInt32(L, 1));
    if (!why.empty())
        return PushFailure(L, why);
    lua_pushboolean(L, 1);
    return 1;
}

const luaL_Reg kShaderFunctions[] = {
    {"loadShader", ScriptLoadShader},
    {"useShader", ScriptUseShader},
    {"setUniform", ScriptSetUniform},
    {"setPostShader", ScriptSetPostShader},
    {"setPassScale", ScriptSetPassScale},
    {"freeShader", ScriptFreeShader},
    {nullptr, nullptr},
};
