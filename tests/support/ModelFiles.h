// Small model files written by tests: a cube as glTF 2.0 (text, its
// buffer inline) with a hook to damage its JSON, and as OBJ with its .mtl.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstring>
#include <functional>

// Corners of the cube of edge 2 centred on the origin, and its 12 triangles.
inline QByteArray CubeBuffer()
{
    QByteArray bytes;
    for (int i = 0; i < 8; ++i) {
        const float corner[3] = {i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f};
        bytes.append(reinterpret_cast<const char *>(corner), sizeof corner);
    }
    const std::uint16_t faces[36] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4, 2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    bytes.append(reinterpret_cast<const char *>(faces), sizeof faces);
    return bytes;
}

// The cube in `colour`, its node moved to `at` and scaled by `scale`;
// `edit` may change the JSON before it is written.
inline QByteArray CubeGltf(const QColor &colour, const float at[3], float scale,
                           const std::function<void(QJsonObject &)> &edit = nullptr)
{
    const QByteArray buffer = CubeBuffer();
    QJsonObject root{
        {"asset", QJsonObject{{"version", "2.0"}}},
        {"buffers", QJsonArray{QJsonObject{{"byteLength", buffer.size()},
                                           {"uri", QString("data:application/octet-stream;base64,") + buffer.toBase64()}}}},
        {"bufferViews", QJsonArray{QJsonObject{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", 96}},
                                   QJsonObject{{"buffer", 0}, {"byteOffset", 96}, {"byteLength", 72}}}},
        {"accessors", QJsonArray{QJsonObject{{"bufferView", 0}, {"componentType", 5126}, {"count", 8}, {"type", "VEC3"},
                                             {"min", QJsonArray{-1, -1, -1}}, {"max", QJsonArray{1, 1, 1}}},
                                 QJsonObject{{"bufferView", 1}, {"componentType", 5123}, {"count", 36}, {"type", "SCALAR"}}}},
        {"materials", QJsonArray{QJsonObject{{"pbrMetallicRoughness",
                                              QJsonObject{{"baseColorFactor", QJsonArray{colour.redF(), colour.greenF(), colour.blueF(), 1.0}}}}}}},
        {"meshes", QJsonArray{QJsonObject{{"primitives", QJsonArray{QJsonObject{{"attributes", QJsonObject{{"POSITION", 0}}}, {"indices", 1}, {"material", 0}}}}}}},
        {"nodes", QJsonArray{QJsonObject{{"mesh", 0}, {"translation", QJsonArray{at[0], at[1], at[2]}}, {"scale", QJsonArray{scale, scale, scale}}}}},
        {"scenes", QJsonArray{QJsonObject{{"nodes", QJsonArray{0}}}}},
        {"scene", 0},
    };
    if (edit)
        edit(root);
    return QJsonDocument(root).toJson();
}

// The cube as OBJ using material "paint" of `mtl`, and that .mtl in `colour`.
inline QByteArray CubeObj(const QByteArray &mtl)
{
    QByteArray text = "mtllib " + mtl + "\nusemtl paint\n";
    for (int i = 0; i < 8; ++i)
        text += QByteArray("v ") + (i & 1 ? "1" : "-1") + (i & 2 ? " 1" : " -1") + (i & 4 ? " 1\n" : " -1\n");
    for (const char *face : {"1 3 4 2", "5 6 8 7", "1 2 6 5", "3 7 8 4", "1 5 7 3", "2 4 8 6"})
        text += QByteArray("f ") + face + "\n";
    return text;
}
inline QByteArray Mtl(const QColor &colour)
{
    return "newmtl paint\nKd " + QByteArray::number(colour.redF()) + " " + QByteArray::number(colour.greenF()) + " " +
           QByteArray::number(colour.blueF()) + "\n";
}
