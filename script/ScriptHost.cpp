// The Lua script host: the state, print and foo, runs of Lua text with
// captured output and error text, and the guard that interrupts runaway runs.
#include "ScriptHost.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

lua_State *gLuaState = nullptr;
char gPrintBuffer[1024];

namespace {

// Characters in use in gPrintBuffer, kept so appending needs no strlen.
size_t gPrintLength = 0;

// The runaway guard. One count hook, installed once, fires every
// kHookInterval VM instructions in every coroutine (new threads inherit it).
// A run sets gRunDeadline; outside runs it is 0 and the hook returns at once.
// Once the deadline has passed the hook fires on every instruction and
// raises each time, so a pcall inside the script cannot swallow it: the
// first instruction outside the innermost pcall raises again.
const int kHookInterval = 10000;
int gRunTimeLimitMs = 5000;
long long gRunDeadlineNs = 0;

long long MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Runs between Lua instructions, so it must not hold C++ objects with
// destructors when it raises: luaL_error leaves through longjmp.
void RunawayHook(lua_State *L, lua_Debug *)
{
    if (gRunDeadlineNs == 0 || MonotonicNs() < gRunDeadlineNs) {
        if (lua_gethookcount(L) != kHookInterval)
            lua_sethook(L, RunawayHook, LUA_MASKCOUNT, kHookInterval);
        return;
    }
    if (lua_gethookcount(L) != 1)
        lua_sethook(L, RunawayHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "script interrupted: it ran for more than %f seconds",
               static_cast<lua_Number>(gRunTimeLimitMs) / 1000);
}

// Appends `text` to gPrintBuffer, keeping what fits (1023 characters).
void AppendToPrintBuffer(const char *text, size_t length)
{
    const size_t room = sizeof(gPrintBuffer) - 1 - gPrintLength;
    const size_t count = std::min(length, room);
    std::memcpy(gPrintBuffer + gPrintLength, text, count);
    gPrintLength += count;
    gPrintBuffer[gPrintLength] = '\0';
}

void ClearPrintBuffer()
{
    gPrintLength = 0;
    gPrintBuffer[0] = '\0';
}

} // namespace

void SetRunTimeLimit(int milliseconds)
{
    gRunTimeLimitMs = std::max(1, milliseconds);
}

int RunTimeLimit()
{
    return gRunTimeLimitMs;
}

void OpenScriptHost()
{
    gLuaState = luaL_newstate();
    if (!gLuaState) {
        // Nothing can run without the interpreter; say so instead of crashing later.
        std::fprintf(stderr, "velkaro: cannot create the Lua state (out of memory)\n");
        std::exit(EXIT_FAILURE);
    }
    luaL_openlibs(gLuaState);
    RegisterFunction("foo", ScriptAverageSum);
    RegisterFunction("print", ScriptPrint);
    lua_sethook(gLuaState, RunawayHook, LUA_MASKCOUNT, kHookInterval);
    ClearPrintBuffer();
}

// --- Runs -------------------------------------------------------------------

namespace {

// Joins the values at stack slots 1 .. top as the global tostring gives
// them, separated by tabs, and returns the text. Called through lua_pcall
// inside a guarded run, so a failing or runaway __tostring becomes the
// run's error.
int JoinAsText(lua_State *L)
{
    const int count = lua_gettop(L);
    luaL_Buffer buffer;
    lua_getglobal(L, "tostring");
    const int tostring = lua_gettop(L);
    luaL_buffinit(L, &buffer);
    for (int i = 1; i <= count; ++i) {
        if (i > 1)
            luaL_addchar(&buffer, '\t');
        lua_pushvalue(L, tostring);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        if (!lua_isstring(L, -1))
            return luaL_error(L, "'tostring' must return a string");
        luaL_addvalue(&buffer);
    }
    luaL_pushresult(&buffer);
    return 1;
}

// Turns the error value on top of the stack into the error text ("message\n",
// at most 1022 characters of message) and writes the host's debug line.
std::string ReportFailure(lua_State *L, const std::string &chunk)
{
    size_t length = 0;
    const char *message = lua_tolstring(L, -1, &length);
    char text[1024];
    if (message) {
        std::snprintf(text, sizeof(text), "%.*s\n",
                      static_cast<int>(std::min<size_t>(length, sizeof(text) - 2)), message);
    } else {
        std::snprintf(text, sizeof(text), "(error object is a %s value)\n", luaL_typename(L, -1));
    }
    qDebug("%s: %s\n", chunk.c_str(), text);
    return text;
}

// The one run path. Compiles and runs `chunk` under the runaway guard; when
// `values` is given, the chunk's returned values are joined into it as text
// (see JoinAsText) and their count is returned, otherwise they are dropped.
int RunChunk(const std::string &chunk, std::string &output, std::string &error, std::string *values)
{
    lua_State *L = gLuaState;
    const int top = lua_gettop(L);
    ClearPrintBuffer();
    error.clear();
    if (values)
        values->clear();

    // Reset the main thread's hook interval, which an interrupted run raised
    // to every instruction; a hook the script installed itself stays.
    if (lua_gethook(L) == RunawayHook && lua_gethookcount(L) != kHookInterval)
        lua_sethook(L, RunawayHook, LUA_MASKCOUNT, kHookInterval);
    gRunDeadlineNs = MonotonicNs() + static_cast<long long>(gRunTimeLimitMs) * 1000000LL;
    int status = luaL_loadstring(L, chunk.c_str());
    if (status == 0)
        status = lua_pcall(L, 0, values ? LUA_MULTRET : 0, 0);
    int count = 0;
    if (status == 0 && values && lua_gettop(L) > top) {
        // Formatting runs Lua (tostring, __tostring), so it stays guarded.
        count = lua_gettop(L) - top;
        lua_pushcfunction(L, JoinAsText);
        lua_insert(L, top + 1);
        status = lua_pcall(L, count, 1, 0);
        if (status == 0) {
            size_t length = 0;
            const char *text = lua_tolstring(L, -1, &length);
            values->assign(text, length);
        } else {
            count = 0;
        }
    }
    gRunDeadlineNs = 0;

    if (status != 0)
        error = ReportFailure(L, chunk);
    lua_settop(L, top);
    output.assign(gPrintBuffer, gPrintLength);
    return count;
}

} // namespace

void RunScriptCaptured(std::string chunk, std::string &output, std::string &error)
{
    RunChunk(chunk, output, error, nullptr);
}

int RunScriptCapturedValues(const std::string &chunk, std::string &output, std::string &error,
                            std::string &values)
{
    return RunChunk(chunk, output, error, &values);
}

void RegisterFunction(const char *name, lua_CFunction function)
{
    lua_pushcclosure(gLuaState, function, 0);
    lua_setfield(gLuaState, LUA_GLOBALSINDEX, name);
}

void RunScript(std::string chunk)
{
    std::string output;
    std::string error;
    RunScriptCaptured(std::move(chunk), output, error);
}

void CloseScriptHost()
{
    lua_close(gLuaState);
}

int ScriptPrint(lua_State *L)
{
    static const char kNotAString[] = "Not a string";
    const int count = lua_gettop(L);
    for (int i = 1; i <= count; ++i) {
        size_t length = sizeof(kNotAString) - 1;
        const char *text = kNotAString;
        if (lua_isstring(L, i))
            text = lua_tolstring(L, i, &length);
        AppendToPrintBuffer(text, length);
        AppendToPrintBuffer("\r\n", 2);
    }
    qDebug("%s\n", gPrintBuffer);
    return 0;
}

int ScriptAverageSum(lua_State *L)
{
    const int count = lua_gettop(L);
    double sum = 0;
    for (int i = 1; i <= count; ++i) {
        if (!lua_isnumber(L, i)) {
            lua_pushstring(L, "incorrect argument");
            return lua_error(L);
        }
        sum += lua_tonumber(L, i);
    }
    lua_pushnumber(L, sum / count);
    lua_pushnumber(L, sum);
    return 2;
}
