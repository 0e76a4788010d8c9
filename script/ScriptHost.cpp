// The Lua script host: the state, print and foo, runs of Lua text with
// captured output and error text, and the guard that interrupts runaway runs.
#include "ScriptHost.h"

#include "LoadedFiles.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ctime>

lua_State *gLuaState = nullptr;
char gPrintBuffer[1024];

namespace {

// The runaway guard. One count hook, installed once, fires every
// kHookInterval VM instructions in every coroutine (new threads inherit it).
// A run sets the host's deadline; outside runs it is 0 and the hook returns
// at once. Once the deadline has passed the hook fires on every instruction
// and raises each time, so a pcall inside the script cannot swallow it: the
// first instruction outside the innermost pcall raises again. Every raise
// of one run names the place of the first: where the loop was.
const int kHookInterval = 10000;

// The host's own state beside the Lua state it serves: how much of
// gPrintBuffer the current run filled, and the runaway guard's limit,
// deadline and the place it stopped a run. It lives in the state's
// registry as a userdata, so it is made and freed with the state (which
// the run that opened it owns) and every thread of the state reaches it.
struct HostState
{
    size_t printLength = 0;   // characters in use in gPrintBuffer
    bool printCut = false;    // the current (or last) run printed more than it holds
    int runTimeLimitMs = 5000;
    long long runDeadlineNs = 0;
    char interruptedAt[LUA_IDSIZE + 32] = "";
};
const char kHostStateKey = 0;

HostState &Host(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kHostStateKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    HostState *host = static_cast<HostState *>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return *host;
}

// Lua keeps one hook per thread, so the script's own debug.sethook goes
// through the guard: its hook function, mask and count are kept in a
// registry table (weak keys: one entry per thread) and the guard's hook
// calls it for the events it asked for.
const char kScriptHooksKey = 0;
enum ScriptHookField { HookFunction = 1, HookMask, HookCount, HookPending };

long long MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Pushes the thread at stack slot `thread` of L (0: L itself).
void PushThread(lua_State *L, int thread)
{
    if (thread > 0)
        lua_pushvalue(L, thread);
    else
        lua_pushthread(L);
}

// Pushes the script's hook entry (a table) of the thread PushThread names,
// or nil.
void PushScriptHook(lua_State *L, int thread)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kScriptHooksKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) {
        PushThread(L, thread);
        lua_rawget(L, -2);
        lua_remove(L, -2);
    }
}

int HookField(lua_State *L, int entry, ScriptHookField field)
{
    lua_rawgeti(L, entry, field);
    const int value = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return value;
}

void RunawayHook(lua_State *L, lua_Debug *ar);

// Installs the guard's hook on T (at stack slot `thread` of L, 0: T is L)
// at its usual interval, with the events and the count of the script's own
// hook on T, if it has one.
void InstallGuard(lua_State *L, lua_State *T, int thread = 0)
{
    int mask = LUA_MASKCOUNT;
    int count = kHookInterval;
    PushScriptHook(L, thread);
    if (lua_istable(L, -1)) {
        mask |= HookField(L, lua_gettop(L), HookMask);
        const int scriptCount = HookField(L, lua_gettop(L), HookCount);
        if (scriptCount > 0)
            count = std::min(count, scriptCount);
    }
    lua_pop(L, 1);
    lua_sethook(T, RunawayHook, mask, count);
}

// Calls the script's own hook for this event when it asked for it, as the
// debug library would: the event's name and, for "line", the line.
void ForwardToScriptHook(lua_State *L, lua_Debug *ar)
{
    static const char *const kEvents[] = {"call", "return", "line", "count", "tail return"};
    static const int kMasks[] = {LUA_MASKCALL, LUA_MASKRET, LUA_MASKLINE, LUA_MASKCOUNT, LUA_MASKRET};
    if (ar->event < 0 || ar->event > LUA_HOOKTAILRET)
        return;
    PushScriptHook(L, 0);
    const int entry = lua_gettop(L);
    bool call = lua_istable(L, entry) && (HookField(L, entry, HookMask) & kMasks[ar->event]);
    if (call && ar->event == LUA_HOOKCOUNT) {
        // The guard's count may be finer than the script's: count up to it.
        const int pending = HookField(L, entry, HookPending) + lua_gethookcount(L);
        call = pending >= HookField(L, entry, HookCount);
        lua_pushinteger(L, call ? 0 : pending);
        lua_rawseti(L, entry, HookPending);
    }
    if (!call) {
        lua_settop(L, entry - 1);
        return;
    }
    lua_rawgeti(L, entry, HookFunction);
    lua_pushstring(L, kEvents[ar->event]);
    if (ar->currentline >= 0)
        lua_pushinteger(L, ar->currentline);
    else
        lua_pushnil(L);
    lua_call(L, 2, 0);
    lua_settop(L, entry - 1);
}

// Runs between Lua instructions, so it must not hold C++ objects with
// destructors when it raises: lua_error leaves through longjmp.
void RunawayHook(lua_State *L, lua_Debug *ar)
{
    HostState &host = Host(L);
    if (ar->event == LUA_HOOKCOUNT && host.runDeadlineNs != 0 && MonotonicNs() >= host.runDeadlineNs) {
        if (lua_gethookcount(L) != 1 || lua_gethookmask(L) != LUA_MASKCOUNT)
            lua_sethook(L, RunawayHook, LUA_MASKCOUNT, 1);
        char *place = host.interruptedAt;
        if (place[0] == '\0' && lua_getinfo(L, "Sl", ar)) {
            if (ar->currentline > 0)
                std::snprintf(place, sizeof(host.interruptedAt), "%s:%d: ", ar->short_src, ar->currentline);
            else
                std::snprintf(place, sizeof(host.interruptedAt), "%s: ", ar->short_src);
        }
        lua_pushfstring(L, "%sscript interrupted: it ran for more than %f seconds", place,
                        static_cast<lua_Number>(host.runTimeLimitMs) / 1000);
        lua_error(L);
    }
    // An interrupted run left this thread hooked on every instruction.
    if (lua_gethookcount(L) == 1 && lua_gethookmask(L) == LUA_MASKCOUNT)
        InstallGuard(L, L);
    ForwardToScriptHook(L, ar);
}

// debug.sethook([thread,] hook, mask [, count]) and debug.sethook([thread])
// as the debug library has them, kept beside the guard instead of
// replacing it.
int GuardedSetHook(lua_State *L)
{
    int arg = 0;
    lua_State *T = L;
    if (lua_isthread(L, 1)) {
        arg = 1;
        T = lua_tothread(L, 1);
    }
    lua_pushlightuserdata(L, const_cast<char *>(&kScriptHooksKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    const int hooks = lua_gettop(L);
    PushThread(L, arg);
    if (lua_isnoneornil(L, arg + 1)) {
        lua_pushnil(L);
    } else {
        const char *events = luaL_checkstring(L, arg + 2);
        luaL_checktype(L, arg + 1, LUA_TFUNCTION);
        const int count = static_cast<int>(luaL_optinteger(L, arg + 3, 0));
        int mask = 0;
        if (std::strchr(events, 'c'))
            mask |= LUA_MASKCALL;
        if (std::strchr(events, 'r'))
            mask |= LUA_MASKRET;
        if (std::strchr(events, 'l'))
            mask |= LUA_MASKLINE;
        if (count > 0)
            mask |= LUA_MASKCOUNT;
        lua_createtable(L, 4, 0);
        lua_pushvalue(L, arg + 1);
        lua_rawseti(L, -2, HookFunction);
        lua_pushinteger(L, mask);
        lua_rawseti(L, -2, HookMask);
        lua_pushinteger(L, count > 0 ? count : 0);
        lua_rawseti(L, -2, HookCount);
        lua_pushinteger(L, 0);
        lua_rawseti(L, -2, HookPending);
    }
    lua_rawset(L, hooks);
    lua_settop(L, hooks - 1);
    InstallGuard(L, T, arg);
    return 0;
}

// debug.gethook([thread]): the script's own hook, its mask and its count.
int GuardedGetHook(lua_State *L)
{
    PushScriptHook(L, lua_isthread(L, 1) ? 1 : 0);
    if (!lua_istable(L, -1))
        return 1;
    const int entry = lua_gettop(L);
    const int mask = HookField(L, entry, HookMask);
    lua_rawgeti(L, entry, HookFunction);
    char events[4];
    int n = 0;
    if (mask & LUA_MASKCALL)
        events[n++] = 'c';
    if (mask & LUA_MASKRET)
        events[n++] = 'r';
    if (mask & LUA_MASKLINE)
        events[n++] = 'l';
    lua_pushlstring(L, events, static_cast<size_t>(n));
    lua_pushinteger(L, HookField(L, entry, HookCount));
    return 3;
}

// Sets up the table of the script's hooks and puts the two functions above
// into the debug library (when the script has one).
void InstallGuardedDebugHooks(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kScriptHooksKey));
    lua_newtable(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_getglobal(L, "debug");
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, GuardedSetHook);
        lua_setfield(L, -2, "sethook");
        lua_pushcfunction(L, GuardedGetHook);
        lua_setfield(L, -2, "gethook");
    }
    lua_pop(L, 1);
}

// Appends `text` to gPrintBuffer, keeping what fits (1023 characters).
void AppendToPrintBuffer(HostState &host, const char *text, size_t length)
{
    const size_t room = sizeof(gPrintBuffer) - 1 - host.printLength;
    const size_t count = std::min(length, room);
    host.printCut = host.printCut || count < length;
    std::memcpy(gPrintBuffer + host.printLength, text, count);
    host.printLength += count;
    gPrintBuffer[host.printLength] = '\0';
}

void ClearPrintBuffer(HostState &host)
{
    host.printCut = false;
    host.printLength = 0;
    gPrintBuffer[0] = '\0';
}

} // namespace

bool LastRunOutputCut()
{
    return Host(gLuaState).printCut;
}

void SetRunTimeLimit(int milliseconds)
{
    Host(gLuaState).runTimeLimitMs = std::max(1, milliseconds);
}

bool LastRunInterrupted()
{
    return Host(gLuaState).interruptedAt[0] != '\0';
}

int RunTimeLimit()
{
    return Host(gLuaState).runTimeLimitMs;
}

void OpenScriptHost()
{
    gLuaState = luaL_newstate();
    if (!gLuaState) {
        // Nothing can run without the interpreter; say so instead of crashing later.
        std::fprintf(stderr, "velkaro: cannot create the Lua state (out of memory)\n");
        std::exit(EXIT_FAILURE);
    }
    lua_pushlightuserdata(gLuaState, const_cast<char *>(&kHostStateKey));
    new (lua_newuserdata(gLuaState, sizeof(HostState))) HostState();   // plain data: nothing to destroy
    lua_rawset(gLuaState, LUA_REGISTRYINDEX);
    luaL_openlibs(gLuaState);
    InstallLoadRecording(gLuaState);
    RegisterFunction("foo", ScriptAverageSum);
    RegisterFunction("print", ScriptPrint);
    InstallGuardedDebugHooks(gLuaState);
    InstallGuard(gLuaState, gLuaState);
    ClearPrintBuffer(Host(gLuaState));
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

// The one run path. Compiles and runs `chunk` under the runaway guard (or,
// given `call`, runs that function with `data` as its one argument, a light
// userdata, and names it `chunk` in the error's debug line); when `values`
// is given, the chunk's returned values are joined into it as text (see
// JoinAsText) and their count is returned, otherwise they are dropped.
int RunChunk(const std::string &chunk, std::string &output, std::string &error, std::string *values,
             lua_CFunction call = nullptr, void *data = nullptr)
{
    lua_State *L = gLuaState;
    HostState &host = Host(L);
    const int top = lua_gettop(L);
    ClearPrintBuffer(host);
    error.clear();
    if (values)
        values->clear();

    // Reset the main thread's hook, which an interrupted run set to every
    // instruction; the script's own hook, if any, is kept in it.
    InstallGuard(L, L);
    host.interruptedAt[0] = '\0';
    host.runDeadlineNs = MonotonicNs() + static_cast<long long>(host.runTimeLimitMs) * 1000000LL;
    int status = 0;
    if (call) {
        lua_pushcfunction(L, call);
        lua_pushlightuserdata(L, data);
        status = lua_pcall(L, 1, values ? LUA_MULTRET : 0, 0);
    } else {
        status = luaL_loadstring(L, chunk.c_str());
        if (status == 0)
            status = lua_pcall(L, 0, values ? LUA_MULTRET : 0, 0);
    }
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
    host.runDeadlineNs = 0;

    if (status != 0)
        error = ReportFailure(L, chunk);
    lua_settop(L, top);
    output.assign(gPrintBuffer, host.printLength);
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

void RunCallCaptured(const char *label, lua_CFunction function, void *data, std::string &output,
                     std::string &error)
{
    RunChunk(label, output, error, nullptr, function, data);
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
    HostState &host = Host(L);
    const int count = lua_gettop(L);
    for (int i = 1; i <= count; ++i) {
        size_t length = sizeof(kNotAString) - 1;
        const char *text = kNotAString;
        if (lua_isstring(L, i))
            text = lua_tolstring(L, i, &length);
        AppendToPrintBuffer(host, text, length);
        AppendToPrintBuffer(host, "\r\n", 2);
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
