// GltfCheck: the references and byte ranges of a glTF file, checked.
#include "GltfCheck.h"

#include "MeshData.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const quint32 kGlbMagic = 0x46546c67;   // "glTF"
const quint32 kJsonChunk = 0x4e4f534a;  // "JSON"
const quint32 kBinChunk = 0x004e4942;   // "BIN\0"

quint32 Word(const QByteArray &bytes, qsizetype at)
{
    // glTF's words are little-endian, whatever this machine's order; the
    // callers checked that the four bytes are there.
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// A JSON number that is a whole number from 0 to 2^53; -1 when it is not.
qint64 Whole(const QJsonValue &value)
{
    if (!value.isDouble())
        return -1;
    const double d = value.toDouble();
    if (!(d >= 0.0) || d > 9007199254740992.0 || std::floor(d) != d)
        return -1;
    return static_cast<qint64>(d);
}

class Checker
{
public:
    Checker(const QJsonObject &root, std::string &error) : root(root), error(error) {}

    // `key` of `object`, when present, is an index into the top-level array `into`.
    bool reference(const QJsonObject &object, const char *key, const char *into, const QString &where)
    {
        if (!object.contains(QLatin1String(key)))
            return true;
        const qint64 index = Whole(object.value(QLatin1String(key)));
        const qsizetype count = root.value(QLatin1String(into)).toArray().size();
        if (index < 0 || index >= count)
            return fail(QStringLiteral("%1 refers to %2 %3, and there are %4").arg(where, QLatin1String(into)).arg(Whole(object.value(QLatin1String(key)))).arg(count));
        return true;
    }
    bool fail(const QString &why)
    {
        error = why.toStdString();
        return false;
    }
    QJsonArray array(const char *key) const { return root.value(QLatin1String(key)).toArray(); }

    const QJsonObject &root;
    std::string &error;
};

int Components(const QString &type)
{
    static const struct { const char *name; int count; } kTypes[] = {
        {"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4}, {"MAT2", 4}, {"MAT3", 9}, {"MAT4", 16}};
    for (const auto &t : kTypes)
        if (type == QLatin1String(t.name))
            return t.count;
    return 0;
}

int ComponentBytes(qint64 componentType)
{
    switch (componentType) {
    case 5120: case 5121: return 1;   // byte, unsigned byte
    case 5122: case 5123: return 2;   // short, unsigned short
    case 5125: case 5126: return 4;   // unsigned int, float
    default: return 0;
    }
}

// The number of bytes a base64 data URI's payload decodes to; -1 for a URI
// that is not data.
qint64 DataUriBytes(const QString &uri)
{
    if (!uri.startsWith(QLatin1String("data:")))
        return -1;
    const qsizetype comma = uri.indexOf(QLatin1Char(','));
    if (comma < 0)
        return 0;
    const qsizetype payload = uri.size() - comma - 1;
    qint64 padding = 0;
    for (qsizetype i = uri.size() - 1; i > comma && uri.at(i) == QLatin1Char('=') && padding < 2; --i)
        ++padding;
    return payload / 4 * 3 - padding;
}

bool CheckBuffers(Checker &c, const QString &folder, qint64 binChunk, std::vector<qint64> &bufferBytes)
{
    const QJsonArray buffers = c.array("buffers");
    for (qsizetype i = 0; i < buffers.size(); ++i) {
        const QJsonObject buffer = buffers.at(i).toObject();
        const QString where = QStringLiteral("buffer %1").arg(i);
        const qint64 length = Whole(buffer.value(QLatin1String("byteLength")));
        if (length < 0)
            return c.fail(where + QStringLiteral(" has no byte length"));
        qint64 available = 0;
        if (!buffer.contains(QLatin1String("uri"))) {
            if (i != 0 || binChunk < 0)
                return c.fail(where + QStringLiteral(" has no file and the binary chunk is missing"));
            available = binChunk;
        } else {
            const QString uri = buffer.value(QLatin1String("uri")).toString();
            available = DataUriBytes(uri);
            if (available < 0) {
                const QFileInfo file(QDir(folder).filePath(QUrl::fromPercentEncoding(uri.toUtf8())));
                if (!file.isFile())
                    return c.fail(where + QStringLiteral(": no such file ") + uri);
                available = file.size();
            }
        }
        if (length > available)
            return c.fail(QStringLiteral("%1 claims %2 bytes, beyond the %3 there are").arg(where).arg(length).arg(available));
        bufferBytes.push_back(length);
    }
    return true;
}

bool CheckViews(Checker &c, const std::vector<qint64> &bufferBytes, std::vector<qint64> &viewBytes, std::vector<qint64> &viewStride)
{
    const QJsonArray views = c.array("bufferViews");
    for (qsizetype i = 0; i < views.size(); ++i) {
        const QJsonObject view = views.at(i).toObject();
        const QString where = QStringLiteral("buffer view %1").arg(i);
        if (!view.contains(QLatin1String("buffer")))
            return c.fail(where + QStringLiteral(" names no buffer"));
        if (!c.reference(view, "buffer", "buffers", where))
            return false;
        const qint64 buffer = Whole(view.value(QLatin1String("buffer")));
        const qint64 offset = view.contains(QLatin1String("byteOffset")) ? Whole(view.value(QLatin1String("byteOffset"))) : 0;
        const qint64 length = Whole(view.value(QLatin1String("byteLength")));
        const qint64 stride = view.contains(QLatin1String("byteStride")) ? Whole(view.value(QLatin1String("byteStride"))) : 0;
        if (offset < 0 || length < 0 || stride < 0 || stride > 252)
            return c.fail(where + QStringLiteral(" has a bad offset, length or stride"));
        if (offset + length > bufferBytes[static_cast<size_t>(buffer)])
            return c.fail(QStringLiteral("%1 reaches byte %2 of buffer %3, which holds %4")
                              .arg(where).arg(offset + length).arg(buffer).arg(bufferBytes[static_cast<size_t>(buffer)]));
        viewBytes.push_back(length);
        viewStride.push_back(stride);
    }
    return true;
}

// `count` elements of `elementBytes` at `offset` of view `view`, `stride` apart (0: packed).
bool CheckRange(Checker &c, const QString &where, qint64 view, qint64 offset, qint64 count, qint64 elementBytes, qint64 stride,
                const std::vector<qint64> &viewBytes)
{
    if (count == 0)
        return true;
    const qint64 step = stride ? stride : elementBytes;
    const qint64 end = offset + (count - 1) * step + elementBytes;
    if (end > viewBytes[static_cast<size_t>(view)])
        return c.fail(QStringLiteral("%1 claims %2 elements, reaching byte %3 of buffer view %4, which holds %5")
                          .arg(where).arg(count).arg(end).arg(view).arg(viewBytes[static_cast<size_t>(view)]));
    return true;
}

bool CheckAccessors(Checker &c, const std::vector<qint64> &viewBytes, const std::vector<qint64> &viewStride)
{
    const QJsonArray accessors = c.array("accessors");
    for (qsizetype i = 0; i < accessors.size(); ++i) {
        const QJsonObject accessor = accessors.at(i).toObject();
        const QString where = QStringLiteral("accessor %1").arg(i);
        const qint64 count = Whole(accessor.value(QLatin1String("count")));
        const int components = Components(accessor.value(QLatin1String("type")).toString());
        const int bytes = ComponentBytes(Whole(accessor.value(QLatin1String("componentType"))));
        if (count < 0 || !components || !bytes)
            return c.fail(where + QStringLiteral(" has no valid count, type or component type"));
        if (count > static_cast<qint64>(kMaxMeshIndices))
            return c.fail(QStringLiteral("%1 claims %2 elements, more than a mesh holds (%3)").arg(where).arg(count).arg(kMaxMeshIndices));
        if (!c.reference(accessor, "bufferView", "bufferViews", where))
            return false;
        if (accessor.contains(QLatin1String("bufferView"))) {
            const qint64 view = Whole(accessor.value(QLatin1String("bufferView")));
            const qint64 offset = accessor.contains(QLatin1String("byteOffset")) ? Whole(accessor.value(QLatin1String("byteOffset"))) : 0;
            if (offset < 0)
                return c.fail(where + QStringLiteral(" has a bad byte offset"));
            if (!CheckRange(c, where, view, offset, count, components * bytes, viewStride[static_cast<size_t>(view)], viewBytes))
                return false;
        }
        const QJsonObject sparse = accessor.value(QLatin1String("sparse")).toObject();
        if (sparse.isEmpty())
            continue;
        const qint64 sparseCount = Whole(sparse.value(QLatin1String("count")));
        if (sparseCount < 0 || sparseCount > count)
            return c.fail(where + QStringLiteral(": its sparse count is beyond its count"));
        const struct { const char *key; qint64 elementBytes; } parts[] = {
            {"indices", ComponentBytes(Whole(sparse.value(QLatin1String("indices")).toObject().value(QLatin1String("componentType"))))},
            {"values", components * bytes}};
        for (const auto &part : parts) {
            const QJsonObject object = sparse.value(QLatin1String(part.key)).toObject();
            const QString partWhere = where + QStringLiteral(" sparse ") + QLatin1String(part.key);
            if (!object.contains(QLatin1String("bufferView")) || !part.elementBytes)
                return c.fail(partWhere + QStringLiteral(" names no buffer view or type"));
            if (!c.reference(object, "bufferView", "bufferViews", partWhere))
                return false;
            const qint64 offset = object.contains(QLatin1String("byteOffset")) ? Whole(object.value(QLatin1String("byteOffset"))) : 0;
            if (offset < 0 || !CheckRange(c, partWhere, Whole(object.value(QLatin1String("bufferView"))), offset, sparseCount, part.elementBytes, 0, viewBytes))
                return offset < 0 ? c.fail(partWhere + QStringLiteral(" has a bad byte offset")) : false;
        }
    }
    return true;
}

// Every index reference of the meshes, nodes, scenes, materials, textures and images.
bool CheckReferences(Checker &c)
{
    const QJsonArray meshes = c.array("meshes");
    for (qsizetype m = 0; m < meshes.size(); ++m) {
        const QJsonArray primitives = meshes.at(m).toObject().value(QLatin1String("primitives")).toArray();
        for (qsizetype p = 0; p < primitives.size(); ++p) {
            const QJsonObject primitive = primitives.at(p).toObject();
            const QString where = QStringLiteral("mesh %1 primitive %2").arg(m).arg(p);
            if (!c.reference(primitive, "indices", "accessors", where) || !c.reference(primitive, "material", "materials", where))
                return false;
            const QJsonObject attributes = primitive.value(QLatin1String("attributes")).toObject();
            for (auto it = attributes.begin(); it != attributes.end(); ++it)
                if (!c.reference(attributes, it.key().toUtf8().constData(), "accessors", where + QLatin1Char(' ') + it.key()))
                    return false;
            const QJsonArray targets = primitive.value(QLatin1String("targets")).toArray();
            for (const QJsonValue &target : targets) {
                const QJsonObject object = target.toObject();
                for (auto it = object.begin(); it != object.end(); ++it)
                    if (!c.reference(object, it.key().toUtf8().constData(), "accessors", where + QStringLiteral(" target")))
                        return false;
            }
        }
    }
    const QJsonArray nodes = c.array("nodes");
    for (qsizetype n = 0; n < nodes.size(); ++n) {
        const QJsonObject node = nodes.at(n).toObject();
        const QString where = QStringLiteral("node %1").arg(n);
        if (!c.reference(node, "mesh", "meshes", where) || !c.reference(node, "skin", "skins", where) || !c.reference(node, "camera", "cameras", where))
            return false;
        const QJsonArray children = node.value(QLatin1String("children")).toArray();
        for (qsizetype k = 0; k < children.size(); ++k) {
            const qint64 child = Whole(children.at(k));
            if (child < 0 || child >= nodes.size() || child == n)
                return c.fail(QStringLiteral("%1 has child %2, and there are %3 nodes").arg(where).arg(child).arg(nodes.size()));
        }
    }
    const QJsonArray scenes = c.array("scenes");
    for (qsizetype s = 0; s < scenes.size(); ++s)
        for (const QJsonValue &node : scenes.at(s).toObject().value(QLatin1String("nodes")).toArray())
            if (Whole(node) < 0 || Whole(node) >= nodes.size())
                return c.fail(QStringLiteral("scene %1 refers to node %2, and there are %3").arg(s).arg(Whole(node)).arg(nodes.size()));
    if (!c.reference(c.root, "scene", "scenes", QStringLiteral("the file")))
        return false;
    const QJsonArray materials = c.array("materials");
    for (qsizetype m = 0; m < materials.size(); ++m) {
        const QJsonObject material = materials.at(m).toObject();
        const QString where = QStringLiteral("material %1").arg(m);
        const QJsonObject pbr = material.value(QLatin1String("pbrMetallicRoughness")).toObject();
        for (const QJsonObject &texture : {pbr.value(QLatin1String("baseColorTexture")).toObject(), pbr.value(QLatin1String("metallicRoughnessTexture")).toObject(),
                                           material.value(QLatin1String("normalTexture")).toObject(), material.value(QLatin1String("occlusionTexture")).toObject(),
                                           material.value(QLatin1String("emissiveTexture")).toObject()})
            if (!c.reference(texture, "index", "textures", where))
                return false;
    }
    const QJsonArray textures = c.array("textures");
    for (qsizetype t = 0; t < textures.size(); ++t)
        if (!c.reference(textures.at(t).toObject(), "source", "images", QStringLiteral("texture %1").arg(t)) ||
            !c.reference(textures.at(t).toObject(), "sampler", "samplers", QStringLiteral("texture %1").arg(t)))
            return false;
    const QJsonArray images = c.array("images");
    for (qsizetype i = 0; i < images.size(); ++i)
        if (!c.reference(images.at(i).toObject(), "bufferView", "bufferViews", QStringLiteral("image %1").arg(i)))
            return false;
    return true;
}

} // namespace

bool LooksLikeGltf(const QByteArray &bytes, const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("gltf") || suffix == QLatin1String("glb") || (bytes.size() >= 4 && Word(bytes, 0) == kGlbMagic);
}

bool CheckGltf(const QByteArray &bytes, const QString &folder, std::string &error)
{
    QByteArray json = bytes;
    qint64 binChunk = -1;
    if (bytes.size() >= 4 && Word(bytes, 0) == kGlbMagic) {
        if (bytes.size() < 20) {
            error = "the binary glTF is cut short in its header";
            return false;
        }
        if (Word(bytes, 4) != 2) {
            error = "the binary glTF is version " + std::to_string(Word(bytes, 4)) + ", not 2";
            return false;
        }
        if (Word(bytes, 8) > static_cast<quint64>(bytes.size())) {
            error = "the binary glTF claims " + std::to_string(Word(bytes, 8)) + " bytes and the file holds " + std::to_string(bytes.size());
            return false;
        }
        const qint64 total = Word(bytes, 8);
        const qint64 jsonLength = Word(bytes, 12);
        if (Word(bytes, 16) != kJsonChunk || 20 + jsonLength > total) {
            error = "the binary glTF's first chunk is not its JSON, or runs past the end";
            return false;
        }
        json = bytes.mid(20, jsonLength);
        const qint64 next = 20 + ((jsonLength + 3) & ~qint64(3));
        if (next + 8 <= total) {
            const qint64 binLength = Word(bytes, next);
            if (Word(bytes, next + 4) != kBinChunk || next + 8 + binLength > total) {
                error = "the binary glTF's second chunk is not its binary data, or runs past the end";
                return false;
            }
            binChunk = binLength;
        }
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (!document.isObject()) {
        error = "the glTF's JSON does not parse: " + parse.errorString().toStdString();
        return false;
    }
    const QJsonObject root = document.object();
    Checker c(root, error);
    const QString version = root.value(QLatin1String("asset")).toObject().value(QLatin1String("version")).toString();
    if (!version.startsWith(QLatin1String("2")))
        return c.fail(QStringLiteral("the glTF is version \"%1\", not 2.0").arg(version));
    std::vector<qint64> bufferBytes, viewBytes, viewStride;
    return CheckBuffers(c, folder, binChunk, bufferBytes) && CheckViews(c, bufferBytes, viewBytes, viewStride) &&
           CheckAccessors(c, viewBytes, viewStride) && CheckReferences(c);
}
