// The mesh and model functions: thin bindings of the run's Meshes. They
// never raise a Lua error: a make or load that fails returns nil and the
// reason; a draw that cannot be done is told in the view's band.
#include "MeshApi.h"

#include "ApiArgs.h"
#include "Production.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Entries of a vertex: x, y, z, then r, g, b, a (0..255), u, v, nx, ny, nz.
const int kColourFrom = 4, kTexCoordFrom = 8, kNormalFrom = 10, kVertexFields = 12;
// drawMeshInstances: x, y, z [, s [, r, g, b, a]] per copy.
const int kCopyFieldChoices[] = {3, 4, 8};
// Room made before reading a table; more as its entries come.
const size_t kReserveAtOnce = 65536;

Meshes *RunMeshes(lua_State *L)
{
    Production *run = Production::Of(L);
    return run ? &run->meshes() : nullptr;
}

int Fail(lua_State *L, const std::string &why)
{
    lua_pushnil(L);
    lua_pushlstring(L, why.data(), why.size());
    return 2;
}

// The attributes a vertex of `length` entries gives.
unsigned AttributesOf(size_t length)
{
    return (length >= kColourFrom + 3 ? kMeshColour : 0u) | (length >= kTexCoordFrom + 1 ? kMeshTexCoord : 0u) |
           (length >= kNormalFrom + 2 ? kMeshNormal : 0u);
}

// The vertex table at `index` read into `vertices`; the attributes its
// longest vertex gives in `attributes`. False with `error` when it is not a
// table of tables, is empty or holds more than a mesh does.
bool ReadVertices(lua_State *L, int index, const char *function, std::vector<MeshVertex> &vertices, unsigned &attributes, std::string &error)
{
    if (!lua_istable(L, index)) {
        error = std::string(function) + ": the vertices are not a table";
        return false;
    }
    const size_t count = lua_objlen(L, index);
    if (count == 0 || count > kMaxMeshVertices) {
        error = std::string(function) + ": " + std::to_string(count) + " vertices (a mesh holds 1 to " + std::to_string(kMaxMeshVertices) + ")";
        return false;
    }
    // Grown vertex by vertex: a sparse table may claim a length its entries
    // do not hold, and memory stays bounded by what the table holds.
    vertices.clear();
    vertices.reserve(std::min<size_t>(count, kReserveAtOnce));
    attributes = 0;
    for (size_t i = 0; i < count; ++i) {
        lua_rawgeti(L, index, static_cast<int>(i + 1));
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            error = std::string(function) + ": vertex " + std::to_string(i + 1) + " is not a table of numbers";
            return false;
        }
        const int table = lua_gettop(L);
        const size_t length = std::min<size_t>(lua_objlen(L, table), kVertexFields);
        attributes |= AttributesOf(length);
        MeshVertex &v = vertices.emplace_back();
        for (int k = 0; k < 3; ++k) {
            v.position[k] = static_cast<float>(FieldNumber(L, table, 1 + k));
            v.normal[k] = static_cast<float>(FieldNumber(L, table, kNormalFrom + k));
        }
        for (int k = 0; k < 4; ++k)
            v.colour[k] = ColourByte(FieldNumber(L, table, kColourFrom + k));
        for (int k = 0; k < 2; ++k)
            v.texCoord[k] = static_cast<float>(FieldNumber(L, table, kTexCoordFrom + k));
        lua_pop(L, 1);
    }
    return true;
}

int NewMesh(lua_State *L)
{
    Meshes *meshes = RunMeshes(L);
    if (!meshes)
        return Fail(L, "newMesh: no production is running");
    MeshData data;
    if (!lua_isnoneornil(L, 2) && (lua_type(L, 2) != LUA_TSTRING || !ParseMeshMode(lua_tostring(L, 2), data.mode)))
        return Fail(L, "newMesh: the mode is \"triangles\", \"quads\", \"lines\" or \"points\"");
    std::string error;
    if (!ReadVertices(L, 1, "newMesh", data.vertices, data.attributes, error))
        return Fail(L, error);
    lua_pushnumber(L, meshes->create(std::move(data)));
    return 1;
}

int SetMeshVertices(lua_State *L)
{
    Meshes *meshes = RunMeshes(L);
    if (!meshes)
        return Fail(L, "setMeshVertices: no production is running");
    const int id = ArgInt32(L, 1);
    const double first = lua_isnoneornil(L, 3) ? 1.0 : lua_tonumber(L, 3);
    if (!(first >= 1.0) || first > static_cast<double>(kMaxMeshVertices))
        return Fail(L, "setMeshVertices: the first vertex is 1 or more");
    std::vector<MeshVertex> vertices;
    unsigned attributes = 0;
    std::string error;
    if (!ReadVertices(L, 2, "setMeshVertices", vertices, attributes, error) ||
        !meshes->setVertices(id, static_cast<size_t>(first) - 1, std::move(vertices), error))
        return Fail(L, error);
    lua_pushboolean(L, 1);
    return 1;
}

int DrawMesh(lua_State *L)
{
    if (Meshes *meshes = RunMeshes(L))
        meshes->draw(ArgInt32(L, 1));
    return 0;
}

int FreeMesh(lua_State *L)
{
    if (Meshes *meshes = RunMeshes(L))
        meshes->free(ArgInt32(L, 1));
    return 0;
}

int DrawMeshInstances(lua_State *L)
{
    Meshes *meshes = RunMeshes(L);
    if (!meshes || !lua_istable(L, 2))
        return 0;
    const int fields = lua_isnoneornil(L, 3) ? 8 : ArgInt32(L, 3);
    if (std::find(std::begin(kCopyFieldChoices), std::end(kCopyFieldChoices), fields) == std::end(kCopyFieldChoices))
        return 0;
    // The copies end at the first whose x is missing (a sparse table may
    // claim a length its entries do not hold).
    const size_t count = lua_objlen(L, 2) / static_cast<size_t>(fields);
    std::vector<MeshCopy> copies;
    copies.reserve(std::min<size_t>(count, kReserveAtOnce));
    for (size_t i = 0; i < count; ++i) {
        const int at = static_cast<int>(i * static_cast<size_t>(fields));
        lua_rawgeti(L, 2, at + 1);
        const bool present = !lua_isnil(L, -1);
        lua_pop(L, 1);
        if (!present)
            break;
        MeshCopy &copy = copies.emplace_back();
        copy.x = static_cast<float>(FieldNumber(L, 2, at + 1));
        copy.y = static_cast<float>(FieldNumber(L, 2, at + 2));
        copy.z = static_cast<float>(FieldNumber(L, 2, at + 3));
        if (fields >= 4)
            copy.scale = static_cast<float>(FieldNumber(L, 2, at + 4));
        for (int k = 0; fields >= 8 && k < 4; ++k)
            copy.colour[k] = ColourByte(FieldNumber(L, 2, at + 5 + k)) / 255.0f;
    }
    meshes->drawCopies(ArgInt32(L, 1), copies, fields >= 8);
    return 0;
}

int LoadModel(lua_State *L)
{
    Meshes *meshes = RunMeshes(L);
    if (!meshes)
        return Fail(L, "loadModel: no production is running");
    if (!lua_isstring(L, 1))
        return Fail(L, "cannot read the model: the file name is not a string");
    size_t length = 0;
    const char *bytes = lua_tolstring(L, 1, &length);
    std::string error, note;
    const int id = meshes->loadModel(QString::fromUtf8(bytes, static_cast<qsizetype>(length)), error, note);
    if (!id)
        return Fail(L, error);
    lua_pushnumber(L, id);
    if (note.empty())
        return 1;
    lua_pushlstring(L, note.data(), note.size());
    return 2;
}

int DrawModel(lua_State *L)
{
    if (Meshes *meshes = RunMeshes(L))
        meshes->drawModel(ArgInt32(L, 1));
    return 0;
}

} // namespace

const luaL_Reg kMeshFunctions[] = {
    {"newMesh", NewMesh},
    {"setMeshVertices", SetMeshVertices},
    {"drawMesh", DrawMesh},
    {"freeMesh", FreeMesh},
    {"drawMeshInstances", DrawMeshInstances},
    {"loadModel", LoadModel},
    {"drawModel", DrawModel},
    {nullptr, nullptr},
};
