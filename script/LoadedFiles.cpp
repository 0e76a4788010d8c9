// Noting dofile, loadfile and require: the names go into an array in the
// registry, each once (a set beside it).
#include "LoadedFiles.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kLoadedFilesKey = 0;
const char kLocalModulesKey = 0;   // {module = true} found by require in a relative folder

// Pushes the registry's table {names..., [name] = true}.
void PushLoadedTable(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kLoadedFilesKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
}

void NoteFile(lua_State *L, const char *name)
{
    PushLoadedTable(L);
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, name);
        const bool known = lua_toboolean(L, -1);
        lua_pop(L, 1);
        if (!known) {
            lua_pushboolean(L, 1);
            lua_setfield(L, -2, name);
            lua_pushstring(L, name);
            lua_rawseti(L, -2, static_cast<int>(lua_objlen(L, -2)) + 1);
        }
    }
    lua_pop(L, 1);
}

// dofile([name]) as the base library has it, noting the name.
int NotingDoFile(lua_State *L)
{
    const char *name = luaL_optstring(L, 1, nullptr);
    if (name)
        NoteFile(L, name);
    const int top = lua_gettop(L);
    if (luaL_loadfile(L, name) != 0)
        return lua_error(L);
    lua_call(L, 0, LUA_MULTRET);
    return lua_gettop(L) - top;
}

// loadfile([name]) as the base library has it, noting the name.
int NotingLoadFile(lua_State *L)
{
    const char *name = luaL_optstring(L, 1, nullptr);
    if (name)
        NoteFile(L, name);
    if (luaL_loadfile(L, name) == 0)
        return 1;
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

// A searcher run before require's own Lua file searcher: notes the first
// readable file that package.path gives for the module and finds nothing
// itself, so the searchers after it load the module as always.
int NotingSearcher(lua_State *L)
{
    const char *module = luaL_checkstring(L, 1);
    lua_getglobal(L, "package");
    if (!lua_istable(L, -1))
        return 0;
    lua_getfield(L, -1, "path");
    const char *path = lua_tostring(L, -1);
    if (!path)
        return 0;
    std::string name = module;
    for (char &c : name)
        if (c == '.')
            c = '/';
    const std::string templates = path;
    size_t start = 0;
    while (start <= templates.size()) {
        size_t end = templates.find(';', start);
        if (end == std::string::npos)
            end = templates.size();
        std::string file = templates.substr(start, end - start);
        start = end + 1;
        if (file.empty())
            continue;
        for (size_t mark = file.find('?'); mark != std::string::npos; mark = file.find('?', mark + name.size()))
            file.replace(mark, 1, name);
        if (FILE *f = std::fopen(file.c_str(), "r")) {
            std::fclose(f);
            NoteFile(L, file.c_str());
            if (file[0] != '/') {
                lua_pushlightuserdata(L, const_cast<char *>(&kLocalModulesKey));
                lua_rawget(L, LUA_REGISTRYINDEX);
                if (lua_istable(L, -1)) {
                    lua_pushboolean(L, 1);
                    lua_setfield(L, -2, module);
                }
                lua_pop(L, 1);
            }
            break;
        }
    }
    lua_pushliteral(L, "");   // nothing found here; the next searcher loads it
    return 1;
}

} // namespace

void InstallLoadRecording(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kLocalModulesKey));
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, const_cast<char *>(&kLoadedFilesKey));
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushcfunction(L, NotingDoFile);
    lua_setglobal(L, "dofile");
    lua_pushcfunction(L, NotingLoadFile);
    lua_setglobal(L, "loadfile");
    // package.loaders: preload, Lua files, C libraries, all-in-one. The
    // noting searcher goes in just before the Lua file searcher.
    lua_getglobal(L, "package");
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "loaders");
        if (lua_istable(L, -1) && lua_objlen(L, -1) >= 2) {
            const int count = static_cast<int>(lua_objlen(L, -1));
            for (int i = count; i >= 2; --i) {
                lua_rawgeti(L, -1, i);
                lua_rawseti(L, -2, i + 1);
            }
            lua_pushcfunction(L, NotingSearcher);
            lua_rawseti(L, -2, 2);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
}

void ForgetLoadedFiles(lua_State *L)
{
    lua_pushlightuserdata(L, const_cast<char *>(&kLoadedFilesKey));
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

std::vector<std::string> LoadedFiles(lua_State *L)
{
    std::vector<std::string> names;
    PushLoadedTable(L);
    if (lua_istable(L, -1)) {
        const int count = static_cast<int>(lua_objlen(L, -1));
        for (int i = 1; i <= count; ++i) {
            lua_rawgeti(L, -1, i);
            if (const char *name = lua_tostring(L, -1))
                names.push_back(name);
            lua_pop(L, 1);
        }
    }
    lua_pop(L, 1);
    return names;
}

void UnloadLocalModules(lua_State *L)
{
    lua_getglobal(L, "package");
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "loaded");
        lua_pushlightuserdata(L, const_cast<char *>(&kLocalModulesKey));
        lua_rawget(L, LUA_REGISTRYINDEX);
        if (lua_istable(L, -1) && lua_istable(L, -2)) {
            for (lua_pushnil(L); lua_next(L, -2) != 0; lua_pop(L, 1)) {
                lua_pushvalue(L, -2);
                lua_pushnil(L);
                lua_rawset(L, -6);   // package.loaded[module] = nil
            }
        }
        lua_pop(L, 2);
    }
    lua_pop(L, 1);
    lua_pushlightuserdata(L, const_cast<char *>(&kLocalModulesKey));
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
}
