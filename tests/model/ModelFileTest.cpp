// Model files read into meshes, and damaged or hostile ones refused with a reason.
#include "Files.h"
#include "ModelFile.h"
#include "ModelFiles.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstring>
#include <functional>

namespace {

const QString kModels = QStringLiteral("/usr/share/assimp/models/");
const float kOrigin[3] = {0, 0, 0};

std::string Read(const QString &file, ModelData &model)
{
    std::string error;
    const bool read = ReadModel(file, file, model, error);
    EXPECT_EQ(read, error.empty()) << error;
    return error;
}

QByteArray Edited(const std::function<void(QJsonObject &)> &edit)
{
    return CubeGltf(Qt::red, kOrigin, 1.0f, edit);
}

// `path` in `root` set to `value` (keys and array indices).
void Set(QJsonObject &root, const QStringList &path, const QJsonValue &value)
{
    std::function<QJsonValue(const QJsonValue &, int)> at = [&](const QJsonValue &node, int depth) -> QJsonValue {
        if (depth == path.size())
            return value;
        bool number = false;
        const int index = path[depth].toInt(&number);
        if (number) {
            QJsonArray array = node.toArray();
            array[index] = at(array[index], depth + 1);
            return array;
        }
        QJsonObject object = node.toObject();
        object[path[depth]] = at(object[path[depth]], depth + 1);
        return object;
    };
    root = at(root, 0).toObject();
}

} // namespace

TEST(ModelFile, ReadsTheCubeItsPlacementAndMaterialAndRealFilesOfEachFormat)
{
    ScratchDir scratch;
    const float at[3] = {10, 20, 30};
    ASSERT_TRUE(WriteFile("cube.gltf", CubeGltf(QColor(255, 0, 0), at, 5.0f)));
    ModelData model;
    ASSERT_EQ(Read("cube.gltf", model), "");
    ASSERT_EQ(model.parts.size(), 1u);
    const float *m = model.parts[0].transform;
    EXPECT_EQ((std::vector<float>{m[0], m[5], m[10], m[12], m[13], m[14]}), (std::vector<float>{5, 5, 5, 10, 20, 30}));
    EXPECT_EQ(model.meshes[0].data.indices.size(), 36u);
    EXPECT_EQ(model.materials[model.meshes[0].material].colour[0], 1.0f);
    EXPECT_EQ(model.materials[model.meshes[0].material].colour[1], 0.0f);
    for (const char *file : {"glTF2/BoxTextured-glTF/BoxTextured.gltf", "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "OBJ/box.obj",
                             "PLY/cube_binary.ply", "PLY/cube.ply", "STL/Spider_binary.stl", "STL/triangle.stl", "OBJ/spider.obj"}) {
        ASSERT_EQ(Read(kModels + file, model), "") << file;
        EXPECT_GT(model.vertexCount(), 2u) << file;
        EXPECT_FALSE(model.parts.empty()) << file;
    }
    Read(kModels + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", model);
    ASSERT_FALSE(model.materials.empty());
    EXPECT_TRUE(model.materials[model.meshes[0].material].textureBytes.startsWith("\x89PNG")) << "the image inside the file";
}

// Each refused before the importer allocates for it, with the reason; never
// read out of bounds (the sanitizer pass runs this).
TEST(ModelFile, DamagedAndHostileFilesAreRefusedWithAReason)
{
    ScratchDir scratch;
    const QByteArray glb = ReadFile(kModels + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb");
    ASSERT_GT(glb.size(), 1000);
    quint32 jsonLength = 0;
    std::memcpy(&jsonLength, glb.constData() + 12, 4);
    QByteArray noBin = glb.left(20 + jsonLength);
    const quint32 total = static_cast<quint32>(noBin.size());
    std::memcpy(noBin.data() + 8, &total, 4);
    QByteArray wrapped(84 + 50, 0);   // 2^31 + 1 triangles: 50 times that wraps round to 50 in 32 bits
    const quint32 count = 2147483649u;
    std::memcpy(wrapped.data() + 80, &count, 4);
    QDir().mkdir("folder");
    const struct
    {
        const char *name;
        QByteArray bytes;
        const char *reason;
    } cases[] = {
        {"missing.obj", QByteArray(), "no such file"},
        {"folder", QByteArray(), "not a regular file"},
        {"cut.glb", glb.left(glb.size() / 2), "the binary glTF claims"},
        {"nobin.glb", noBin, "has no file and the binary chunk is missing"},
        {"garbage.gltf", "\x01\x02garbage", "does not parse"},
        {"garbage.obj", QByteArray(3000, '\x07'), "cannot read garbage.obj: "},
        {"picture.stl", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"), "cannot read picture.stl: "},
        {"empty.ply", "", "cannot read empty.ply: "},
        {"faces.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99999999\n", "cannot read faces.obj: "},
        {"billions.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 3000000000\nproperty float x\nend_header\n\x01\x02",
         "the PLY header claims 3000000000 vertex elements"},
        {"wrapped.stl", wrapped, "the STL claims 2147483649 triangles"},
        {"attribute.gltf", Edited([](QJsonObject &r) { Set(r, {"meshes", "0", "primitives", "0", "attributes", "POSITION"}, 7); }),
         "mesh 0 primitive 0 POSITION refers to accessors 7, and there are 2"},
        {"view.gltf", Edited([](QJsonObject &r) { Set(r, {"accessors", "0", "bufferView"}, 9); }), "accessor 0 refers to bufferViews 9"},
        {"node.gltf", Edited([](QJsonObject &r) { Set(r, {"nodes", "0", "children"}, QJsonArray{5}); }), "node 0 has child 5"},
        {"scene.gltf", Edited([](QJsonObject &r) { Set(r, {"scenes", "0", "nodes"}, QJsonArray{3}); }), "scene 0 refers to node 3"},
        {"material.gltf", Edited([](QJsonObject &r) { Set(r, {"meshes", "0", "primitives", "0", "material"}, 4); }), "refers to materials 4"},
        {"count.gltf", Edited([](QJsonObject &r) { Set(r, {"accessors", "0", "count"}, 4000000000.0); }), "claims 4000000000 elements, more than a mesh holds"},
        {"longer.gltf", Edited([](QJsonObject &r) { Set(r, {"accessors", "1", "count"}, 37); }),
         "accessor 1 claims 37 elements, reaching byte 74 of buffer view 1, which holds 72"},
        {"view-beyond.gltf", Edited([](QJsonObject &r) { Set(r, {"bufferViews", "1", "byteLength"}, 80); }),
         "buffer view 1 reaches byte 176 of buffer 0, which holds 168"},
        {"buffer-beyond.gltf", Edited([](QJsonObject &r) { Set(r, {"buffers", "0", "byteLength"}, 1000); }), "buffer 0 claims 1000 bytes, beyond the 168"},
        {"external.gltf", Edited([](QJsonObject &r) { Set(r, {"buffers", "0", "uri"}, "cube.bin"); }), "buffer 0: no such file cube.bin"},
        {"version.gltf", Edited([](QJsonObject &r) { Set(r, {"asset", "version"}, "1.0"); }), "not 2.0"},
    };
    for (const auto &c : cases) {
        if (!c.bytes.isNull() || QString(c.name).endsWith(".ply")) {
            ASSERT_TRUE(WriteFile(c.name, c.bytes));
        }
        ModelData model;
        const std::string error = Read(c.name, model);
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(model.meshes.empty()) << c.name;
    }
    ASSERT_TRUE(WriteFile("cube.bin", CubeBuffer().left(100)));
    ModelData model;
    EXPECT_NE(Read("external.gltf", model).find("buffer 0 claims 168 bytes, beyond the 100 there are"), std::string::npos);
}
