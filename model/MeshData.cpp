// MeshData: the mode names.
#include "MeshData.h"

namespace {

const struct
{
    const char *name;
    MeshMode mode;
    int vertices;
} kModes[] = {
    {"triangles", MeshMode::Triangles, 3},
    {"quads", MeshMode::Quads, 4},
    {"lines", MeshMode::Lines, 2},
    {"points", MeshMode::Points, 1},
};

} // namespace

bool ParseMeshMode(const std::string &name, MeshMode &mode)
{
    for (const auto &entry : kModes)
        if (name == entry.name) {
            mode = entry.mode;
            return true;
        }
    return false;
}

int VerticesPerPrimitive(MeshMode mode)
{
    for (const auto &entry : kModes)
        if (entry.mode == mode)
            return entry.vertices;
    return 1;
}
