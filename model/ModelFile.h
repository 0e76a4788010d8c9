// ModelFile: a model file read into meshes in the one vertex layout, their
// materials (base colour, base-colour texture) and the placements of the
// meshes in the model (the node transforms, multiplied down the tree).
// glTF 2.0, OBJ with its .mtl, PLY, STL and whatever else the importer
// reads. No GL: textures are named here and loaded by the drawing side.
#pragma once

#include "MeshData.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

struct ModelMaterial
{
    float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};   // base colour, 0..1
    // The base-colour texture: a file (absolute path) or the bytes of an
    // image held in the model file; neither when it has none.
    QString textureFile;
    QByteArray textureBytes;
    QString textureName;   // as the model names it, for messages
};

struct ModelMesh
{
    MeshData data;
    unsigned material = 0;   // index into materials
};

struct ModelPart
{
    unsigned mesh = 0;
    float transform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};   // column-major, as GL takes it
};

struct ModelData
{
    std::vector<ModelMesh> meshes;
    std::vector<ModelMaterial> materials;
    std::vector<ModelPart> parts;
    size_t vertexCount() const;
};

// The largest model file read (bytes): the importer holds all of it.
constexpr qint64 kMaxModelFileBytes = qint64(1) << 30;

// Reads `fileName`. False with `error` ("cannot read <shownName>: why") for
// a file that is missing, not a regular file, damaged, hostile (a count its
// bytes cannot hold, a reference out of range) or without meshes.
bool ReadModel(const QString &fileName, const QString &shownName, ModelData &model, std::string &error);
