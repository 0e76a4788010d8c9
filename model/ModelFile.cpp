// ModelFile: checks before the import, the import, and the conversion of
// the importer's scene into meshes, materials and placements.
#include "ModelFile.h"

#include "GltfCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Nodes deeper than this, or more placements than this, are not followed.
const int kMaxNodeDepth = 256;
const size_t kMaxParts = 1 << 20;

// A PLY header's element counts against the bytes after the header: each
// element of a binary or text body takes at least one byte.
bool CheckPly(const QByteArray &bytes, std::string &error)
{
    const qsizetype end = bytes.indexOf("end_header");
    if (end < 0 || end > (1 << 16)) {
        error = "the PLY header has no end";
        return false;
    }
    const qint64 body = bytes.size() - end;
    for (const QByteArray &line : bytes.left(end).split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 3 || words[0] != "element")
            continue;
        bool ok = false;
        const qulonglong count = words[2].toULongLong(&ok);
        if (!ok || count > static_cast<qulonglong>(body) || count > kMaxMeshIndices) {
            error = "the PLY header claims " + words[2].toStdString() + " " + words[1].toStdString() + " elements, more than its " +
                    std::to_string(body) + " bytes hold";
            return false;
        }
    }
    return true;
}

// A binary STL's triangle count against its size (its 32-bit product can wrap
// round to the size of the file).
bool CheckStl(const QByteArray &bytes, std::string &error)
{
    if (bytes.size() < 84 || bytes.startsWith("solid"))
        return true;
    quint32 count = 0;
    std::memcpy(&count, bytes.constData() + 80, 4);
    const quint64 expected = quint64(count) * 50 + 84;
    if (expected != static_cast<quint64>(bytes.size()) && quint32(expected) == static_cast<quint32>(bytes.size())) {
        error = "the STL claims " + std::to_string(count) + " triangles, more than its " + std::to_string(bytes.size()) + " bytes hold";
        return false;
    }
    return true;
}

bool CheckContent(const QString &fileName, std::string &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (LooksLikeGltf(bytes, fileName))
        return CheckGltf(bytes, QFileInfo(fileName).absolutePath(), error);
    if (bytes.startsWith("ply"))
        return CheckPly(bytes, error);
    if (suffix == QLatin1String("stl"))
        return CheckStl(bytes, error);
    return true;
}

MeshMode ModeOf(const aiMesh &mesh)
{
    if (mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE)
        return MeshMode::Triangles;
    return (mesh.mPrimitiveTypes & aiPrimitiveType_LINE) ? MeshMode::Lines : MeshMode::Points;
}

std::uint8_t Byte(float unit)
{
    return static_cast<std::uint8_t>(std::clamp(std::isfinite(unit) ? unit : 0.0f, 0.0f, 1.0f) * 255.0f + 0.5f);
}

float Finite(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

bool ConvertMesh(const aiMesh &from, ModelMesh &to, std::string &error)
{
    MeshData &data = to.data;
    data.mode = ModeOf(from);
    const unsigned corners = static_cast<unsigned>(VerticesPerPrimitive(data.mode));
    if (from.mNumVertices > kMaxMeshVertices || size_t(from.mNumFaces) * corners > kMaxMeshIndices) {
        error = "a mesh of " + std::to_string(from.mNumVertices) + " vertices is more than one mesh holds";
        return false;
    }
    data.attributes = (from.HasVertexColors(0) ? kMeshColour : 0u) | (from.HasTextureCoords(0) ? kMeshTexCoord : 0u) |
                      (from.HasNormals() ? kMeshNormal : 0u);
    data.vertices.resize(from.mNumVertices);
    for (unsigned i = 0; i < from.mNumVertices; ++i) {
        MeshVertex &v = data.vertices[i];
        for (int k = 0; k < 3; ++k)
            v.position[k] = Finite(from.mVertices[i][k]);
        if (data.attributes & kMeshColour) {
            const aiColor4D &c = from.mColors[0][i];
            v.colour[0] = Byte(c.r), v.colour[1] = Byte(c.g), v.colour[2] = Byte(c.b), v.colour[3] = Byte(c.a);
        }
        if (data.attributes & kMeshTexCoord)
            v.texCoord[0] = Finite(from.mTextureCoords[0][i].x), v.texCoord[1] = Finite(from.mTextureCoords[0][i].y);
        if (data.attributes & kMeshNormal)
            for (int k = 0; k < 3; ++k)
                v.normal[k] = Finite(from.mNormals[i][k]);
    }
    data.indices.reserve(size_t(from.mNumFaces) * corners);
    for (unsigned f = 0; f < from.mNumFaces; ++f) {
        const aiFace &face = from.mFaces[f];
        if (face.mNumIndices != corners)
            continue;   // a face of another kind than the mesh's (the importer sorted them)
        for (unsigned k = 0; k < corners; ++k) {
            if (face.mIndices[k] >= from.mNumVertices) {
                error = "a face refers to vertex " + std::to_string(face.mIndices[k]) + " of " + std::to_string(from.mNumVertices);
                return false;
            }
            data.indices.push_back(face.mIndices[k]);
        }
    }
    return true;
}

void ConvertMaterial(const aiScene &scene, const aiMaterial &from, const QString &folder, ModelMaterial &to)
{
    aiColor4D colour(1.0f, 1.0f, 1.0f, 1.0f);
    if (from.Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS)
        from.Get(AI_MATKEY_COLOR_DIFFUSE, colour);
    const float values[4] = {colour.r, colour.g, colour.b, colour.a};
    for (int k = 0; k < 4; ++k)
        to.colour[k] = std::clamp(Finite(values[k]), 0.0f, 1.0f);
    aiString path;
    if (from.GetTexture(aiTextureType_BASE_COLOR, 0, &path) != AI_SUCCESS && from.GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS)
        return;
    to.textureName = QString::fromUtf8(path.C_Str());
    if (const aiTexture *embedded = scene.GetEmbeddedTexture(path.C_Str())) {
        // Only images kept in their file's format (PNG, JPEG): mHeight 0, mWidth bytes.
        if (embedded->mHeight == 0)
            to.textureBytes = QByteArray(reinterpret_cast<const char *>(embedded->pcData), static_cast<qsizetype>(embedded->mWidth));
        return;
    }
    to.textureFile = QDir::cleanPath(QDir(folder).absoluteFilePath(to.textureName));
}

// The node's meshes at its transform, then its children, depth first.
void Place(const aiNode &node, const aiMatrix4x4 &parent, int depth, ModelData &model)
{
    if (depth > kMaxNodeDepth)
        return;
    const aiMatrix4x4 transform = parent * node.mTransformation;
    for (unsigned i = 0; i < node.mNumMeshes && model.parts.size() < kMaxParts; ++i) {
        if (node.mMeshes[i] >= model.meshes.size())
            continue;
        ModelPart part;
        part.mesh = node.mMeshes[i];
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column)
                part.transform[column * 4 + row] = Finite(transform[row][column]);
        model.parts.push_back(part);
    }
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        if (node.mChildren[i])
            Place(*node.mChildren[i], transform, depth + 1, model);
}

} // namespace

size_t ModelData::vertexCount() const
{
    size_t count = 0;
    for (const ModelMesh &mesh : meshes)
        count += mesh.data.vertices.size();
    return count;
}

bool ReadModel(const QString &fileName, const QString &shownName, ModelData &model, std::string &error)
{
    model = ModelData();
    const std::string prefix = "cannot read " + shownName.toStdString() + ": ";
    const QFileInfo info(fileName);
    std::string why;
    if (!info.exists())
        why = "no such file";
    else if (!info.isFile())
        why = "not a regular file";   // a pipe would block the importer
    else if (info.size() > kMaxModelFileBytes)
        why = "the file is " + std::to_string(info.size()) + " bytes, more than a model may be (" + std::to_string(kMaxModelFileBytes) + ")";
    if (why.empty() && !CheckContent(fileName, why) && why.empty())
        why = "it cannot be read";
    if (!why.empty()) {
        error = prefix + why;
        return false;
    }

    Assimp::Importer importer;
    // Points and lines apart from triangles; normals made where a mesh has
    // none (flat shading needs them under the light).
    const aiScene *scene = importer.ReadFile(QFile::encodeName(fileName).toStdString(),
                                             aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_GenNormals | aiProcess_ValidateDataStructure);
    if (!scene) {
        error = prefix + importer.GetErrorString();
        return false;
    }
    if (!scene->mRootNode || scene->mNumMeshes == 0 || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        error = prefix + "no meshes in it";
        return false;
    }
    size_t total = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
        total += scene->mMeshes[i] ? scene->mMeshes[i]->mNumVertices : 0;
    if (total > kMaxMeshVertices) {
        error = prefix + "its " + std::to_string(total) + " vertices are more than a model holds (" + std::to_string(kMaxMeshVertices) + ")";
        return false;
    }
    const QString folder = info.absolutePath();
    model.materials.resize(std::max(1u, scene->mNumMaterials));
    for (unsigned i = 0; i < scene->mNumMaterials; ++i)
        if (scene->mMaterials[i])
            ConvertMaterial(*scene, *scene->mMaterials[i], folder, model.materials[i]);
    model.meshes.resize(scene->mNumMeshes);
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        if (!scene->mMeshes[i])
            continue;
        if (!ConvertMesh(*scene->mMeshes[i], model.meshes[i], why)) {
            error = prefix + why;
            model = ModelData();
            return false;
        }
        model.meshes[i].material = std::min<unsigned>(scene->mMeshes[i]->mMaterialIndex, static_cast<unsigned>(model.materials.size() - 1));
    }
    Place(*scene->mRootNode, aiMatrix4x4(), 0, model);
    if (model.parts.empty()) {
        error = prefix + "no meshes in it";
        model = ModelData();
        return false;
    }
    return true;
}
