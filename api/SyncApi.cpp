// The timing functions: they read the frame's time from the run's frame
// inputs and the tracks from its sync file. Without a run (a Lua state no
// run opened) they return 0. None raises a Lua error.
#include "SyncApi.h"

#include "Production.h"

#include <lua.hpp>

namespace {

int PushInput(lua_State *L, double (FrameInputs::*reading)() const)
{
    Production *production = Production::Of(L);
    lua_pushnumber(L, production ? (production->inputs().*reading)() : 0.0);
    return 1;
}

} // namespace

int ScriptGetTime(lua_State *L)
{
    return PushInput(L, &FrameInputs::time);
}

int ScriptGetBeat(lua_State *L)
{
    return PushInput(L, &FrameInputs::beat);
}

int ScriptGetRow(lua_State *L)
{
    return PushInput(L, &FrameInputs::row);
}

int ScriptSync(lua_State *L)
{
    // Only strings name tracks; a name the file cannot hold (empty, with a
    // space) reads 0 and makes no track. The lookup allocates nothing. A
    // track that follows its control live reads the control.
    Production *production = Production::Of(L);
    double value = 0.0;
    if (production && lua_type(L, 1) == LUA_TSTRING) {
        size_t length = 0;
        const char *name = lua_tolstring(L, 1, &length);
        value = production->syncValue(std::string_view(name, length));
    }
    lua_pushnumber(L, value);
    return 1;
}

const luaL_Reg kSyncFunctions[] = {
    {"getTime", ScriptGetTime},
    {"getBeat", ScriptGetBeat},
    {"getRow", ScriptGetRow},
    {"sync", ScriptSync},
    {nullptr, nullptr},
};
