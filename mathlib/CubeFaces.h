// The six faces of an axis-aligned cube as corner signs around its centre,
// in the fixed emission order +X, +Y, +Z, -X, -Y, -Z. Each face's four
// corners run counter-clockwise seen from outside, so the right-hand normal
// points outwards. Shared by drawCube and the voxel block.
#pragma once

enum CubeFace { kFacePosX, kFacePosY, kFacePosZ, kFaceNegX, kFaceNegY, kFaceNegZ, kCubeFaceCount };

// kCubeFaceSigns[face][corner] = (sx, sy, sz), each +1 or -1: the corner is
// centre + half-edge * (sx, sy, sz).
constexpr float kCubeFaceSigns[kCubeFaceCount][4][3] = {
    {{+1, -1, +1}, {+1, -1, -1}, {+1, +1, -1}, {+1, +1, +1}},   // +X
    {{+1, +1, +1}, {+1, +1, -1}, {-1, +1, -1}, {-1, +1, +1}},   // +Y
    {{+1, +1, +1}, {-1, +1, +1}, {-1, -1, +1}, {+1, -1, +1}},   // +Z
    {{-1, -1, +1}, {-1, +1, +1}, {-1, +1, -1}, {-1, -1, -1}},   // -X
    {{-1, -1, +1}, {-1, -1, -1}, {+1, -1, -1}, {+1, -1, +1}},   // -Y
    {{-1, -1, -1}, {-1, +1, -1}, {+1, +1, -1}, {+1, -1, -1}},   // -Z
};

// The outward unit normal of each face, in the same order.
constexpr float kCubeFaceNormals[kCubeFaceCount][3] = {
    {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1},
};
