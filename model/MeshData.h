// MeshData: a mesh's vertices in the one layout every mesh is stored and
// drawn in, its primitive mode, and which of the optional attributes its
// vertices carry. Plain data: no GL, no Lua.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One vertex: 36 bytes. Colours are bytes 0..255 as colorGL takes them.
struct MeshVertex
{
    float position[3] = {0.0f, 0.0f, 0.0f};
    std::uint8_t colour[4] = {0, 0, 0, 0};
    float texCoord[2] = {0.0f, 0.0f};
    float normal[3] = {0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(MeshVertex) == 36, "the vertex layout is packed");

enum class MeshMode { Triangles, Quads, Lines, Points };

// The optional attributes; a mesh without one draws with the current
// colour, texture coordinate or normal.
enum MeshAttribute : unsigned { kMeshColour = 1, kMeshTexCoord = 2, kMeshNormal = 4 };

// The most vertices (and indices) one mesh holds: 16,777,216 vertices are
// 604 MB. Counts are checked against it before anything is allocated.
constexpr std::size_t kMaxMeshVertices = std::size_t(1) << 24;
constexpr std::size_t kMaxMeshIndices = std::size_t(1) << 26;

struct MeshData
{
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> indices;   // empty: the vertices in order
    MeshMode mode = MeshMode::Triangles;
    unsigned attributes = 0;   // MeshAttribute bits
};

// "triangles", "quads", "lines" or "points"; false for anything else.
bool ParseMeshMode(const std::string &name, MeshMode &mode);
// The number of vertices one primitive of `mode` takes.
int VerticesPerPrimitive(MeshMode mode);
