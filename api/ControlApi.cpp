// The controller functions: they reach the run's controllers and the
// frame's control values. Without a run they return 0, nil or false. A
// device problem is returned (false and the reason), never raised.
#include "ControlApi.h"

#include "ApiArgs.h"
#include "Production.h"

#include <lua.hpp>

namespace {

int Refused(lua_State *L, const std::string &why)
{
    lua_pushboolean(L, 0);
    lua_pushstring(L, why.c_str());
    return 2;
}

// Channel argument `index`: 1 when absent.
int ArgChannel(lua_State *L, int index)
{
    return lua_isnoneornil(L, index) ? 1 : ArgInt32(L, index);
}

// The number of arguments sendOsc takes after its path.
const int kMaxSentArgs = 64;

} // namespace

int ScriptListMidiInputs(lua_State *L)
{
    Production *production = Production::Of(L);
    lua_newtable(L);
    if (!production)
        return 1;
    int i = 0;
    for (const std::string &name : production->controllers().midi().list()) {
        lua_pushstring(L, name.c_str());
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

int ScriptOpenMidi(lua_State *L)
{
    Production *production = Production::Of(L);
    if (!production)
        return Refused(L, "no run");
    const char *part = lua_isstring(L, 1) ? lua_tostring(L, 1) : "";
    const std::string missing = production->controllers().midi().want(part);
    if (!missing.empty())
        return Refused(L, missing);
    lua_pushboolean(L, 1);
    return 1;
}

int ScriptMidiCC(lua_State *L)
{
    Production *production = Production::Of(L);
    lua_pushnumber(L, production ? production->inputs().controls().cc(ArgChannel(L, 2), ArgInt32(L, 1)) : 0.0);
    return 1;
}

int ScriptMidiNote(lua_State *L)
{
    Production *production = Production::Of(L);
    lua_pushnumber(L, production ? production->inputs().controls().note(ArgChannel(L, 2), ArgInt32(L, 1)) : 0.0);
    return 1;
}

int ScriptOpenOsc(lua_State *L)
{
    Production *production = Production::Of(L);
    if (!production)
        return Refused(L, "no run");
    if (!lua_isstring(L, 1))
        return Refused(L, "openOsc needs a port, or \"address:port\"");
    std::string error;
    if (!production->controllers().osc().open(lua_tostring(L, 1), error))
        return Refused(L, error);
    production->controlNote("listening for OSC on " + production->controllers().osc().address(), false);
    lua_pushboolean(L, 1);
    return 1;
}

int ScriptOscValue(lua_State *L)
{
    Production *production = Production::Of(L);
    const ControlMessage *message =
        production && lua_type(L, 1) == LUA_TSTRING ? production->inputs().controls().osc(lua_tostring(L, 1)) : nullptr;
    const int i = lua_isnoneornil(L, 2) ? 0 : ArgInt32(L, 2) - 1;
    if (!message || i < 0 || i >= message->argCount || message->type[i] == '-')
        lua_pushnil(L);
    else if (message->type[i] == 's')
        lua_pushstring(L, message->string(i));
    else
        lua_pushnumber(L, message->number[i]);
    return 1;
}

int ScriptSendOsc(lua_State *L)
{
    if (!lua_isstring(L, 1) || !lua_isnumber(L, 2) || lua_type(L, 3) != LUA_TSTRING)
        return Refused(L, "sendOsc needs a host, a port and a path: sendOsc(\"127.0.0.1\", 9000, \"/x\", 1)");
    const int count = lua_gettop(L) - 3;
    if (count > kMaxSentArgs)
        return Refused(L, "sendOsc sends at most " + std::to_string(kMaxSentArgs) + " values");
    std::vector<OscArgument> args(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int index = 4 + i;
        if (lua_type(L, index) == LUA_TNUMBER) {
            args[i].number = lua_tonumber(L, index);
        } else if (lua_type(L, index) == LUA_TSTRING) {
            args[i].isString = true;
            args[i].text = lua_tostring(L, index);
        } else {
            return Refused(L, "sendOsc sends numbers and strings, not a " + std::string(luaL_typename(L, index)) +
                                  " (value " + std::to_string(i + 1) + ")");
        }
    }
    std::string error;
    if (!SendOsc(lua_tostring(L, 1), ArgInt32(L, 2), lua_tostring(L, 3), args.data(), count, error))
        return Refused(L, error);
    lua_pushboolean(L, 1);
    return 1;
}

const luaL_Reg kControlFunctions[] = {
    {"listMidiInputs", ScriptListMidiInputs},
    {"openMidi", ScriptOpenMidi},
    {"midiCC", ScriptMidiCC},
    {"midiNote", ScriptMidiNote},
    {"openOsc", ScriptOpenOsc},
    {"oscValue", ScriptOscValue},
    {"sendOsc", ScriptSendOsc},
    {nullptr, nullptr},
};
