// Reading a glTF binary of 1,000,000 triangles (a 708 x 708 grid of
// squares, positions and normals, 32-bit indices; the benchmark writes it)
// through ReadModel. Counters:
//   load_s               wall time of one read
//   vertex_bytes         what the read model holds: 36 bytes a vertex and 4 an index
//   bytes_per_vertex     the mesh layout's size of one vertex
//   peak_rss_over_data   the process's peak resident memory growth during the read,
//                        over vertex_bytes
//   kept_heap_over_data  heap in use once read (the importer's copy gone),
//                        over vertex_bytes
#include "ModelFile.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <malloc.h>

namespace {

const int kSide = 708;   // squares a side: 2 x 708² = 1,002,528 triangles

// Resident memory now, from /proc/self/statm, in bytes.
long long ResidentBytes()
{
    long long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lld %lld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4096;
}

// Resets the peak the kernel reports (VmHWM) to the current size.
void ResetPeak()
{
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

long long PeakBytes()
{
    long long kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %lld kB", &kb) == 1)
                break;
        std::fclose(f);
    }
    return kb * 1024;
}

void Append(QByteArray &bytes, const void *data, size_t size)
{
    bytes.append(static_cast<const char *>(data), static_cast<qsizetype>(size));
}

bool WriteGrid(const QString &path)
{
    const int corners = kSide + 1;
    QByteArray bin;
    for (int z = 0; z < corners; ++z)
        for (int x = 0; x < corners; ++x) {
            const float p[3] = {float(x), 0.0f, float(z)};
            Append(bin, p, sizeof p);
        }
    const qsizetype normalsAt = bin.size();
    for (int i = 0; i < corners * corners; ++i) {
        const float n[3] = {0.0f, 1.0f, 0.0f};
        Append(bin, n, sizeof n);
    }
    const qsizetype indicesAt = bin.size();
    for (int z = 0; z < kSide; ++z)
        for (int x = 0; x < kSide; ++x) {
            const quint32 a = quint32(z * corners + x), b = a + 1, c = a + quint32(corners), d = c + 1;
            const quint32 two[6] = {a, c, b, b, c, d};
            Append(bin, two, sizeof two);
        }
    const qint64 vertices = qint64(corners) * corners, indices = qint64(kSide) * kSide * 6;
    const QJsonObject root{
        {"asset", QJsonObject{{"version", "2.0"}}},
        {"buffers", QJsonArray{QJsonObject{{"byteLength", bin.size()}}}},
        {"bufferViews", QJsonArray{QJsonObject{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", normalsAt}},
                                   QJsonObject{{"buffer", 0}, {"byteOffset", normalsAt}, {"byteLength", indicesAt - normalsAt}},
                                   QJsonObject{{"buffer", 0}, {"byteOffset", indicesAt}, {"byteLength", bin.size() - indicesAt}}}},
        {"accessors", QJsonArray{QJsonObject{{"bufferView", 0}, {"componentType", 5126}, {"count", vertices}, {"type", "VEC3"},
                                             {"min", QJsonArray{0, 0, 0}}, {"max", QJsonArray{kSide, 0, kSide}}},
                                 QJsonObject{{"bufferView", 1}, {"componentType", 5126}, {"count", vertices}, {"type", "VEC3"}},
                                 QJsonObject{{"bufferView", 2}, {"componentType", 5125}, {"count", indices}, {"type", "SCALAR"}}}},
        {"meshes", QJsonArray{QJsonObject{{"primitives", QJsonArray{QJsonObject{{"attributes", QJsonObject{{"POSITION", 0}, {"NORMAL", 1}}}, {"indices", 2}}}}}}},
        {"nodes", QJsonArray{QJsonObject{{"mesh", 0}}}},
        {"scenes", QJsonArray{QJsonObject{{"nodes", QJsonArray{0}}}}},
        {"scene", 0}};
    QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Compact);
    while (json.size() % 4)
        json.append(' ');
    QByteArray glb;
    const quint32 header[3] = {0x46546c67, 2, quint32(12 + 8 + json.size() + 8 + bin.size())};
    Append(glb, header, sizeof header);
    const quint32 jsonChunk[2] = {quint32(json.size()), 0x4e4f534a};
    Append(glb, jsonChunk, sizeof jsonChunk);
    glb += json;
    const quint32 binChunk[2] = {quint32(bin.size()), 0x004e4942};
    Append(glb, binChunk, sizeof binChunk);
    glb += bin;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(glb) == glb.size();
}

void BM_ReadMillionTriangleGltf(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("grid.glb");
    if (!WriteGrid(path)) {
        state.SkipWithError("cannot write the model");
        return;
    }
    double seconds = 0.0, peak = 0.0, kept = 0.0, bytes = 0.0;
    for (auto _ : state) {
        ModelData model;
        std::string error;
        const long long before = ResidentBytes();
        const size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
        ResetPeak();
        const auto start = std::chrono::steady_clock::now();
        const bool read = ReadModel(path, path, model, error);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!read) {
            state.SkipWithError(error.c_str());
            return;
        }
        bytes = 0;
        for (const ModelMesh &mesh : model.meshes)
            bytes += double(mesh.data.vertices.size() * sizeof(MeshVertex) + mesh.data.indices.size() * 4);
        peak = double(PeakBytes() - before) / bytes;
        kept = double(mallinfo2().uordblks + mallinfo2().hblkhd - heapBefore) / bytes;
        state.counters["triangles"] = double(model.meshes[0].data.indices.size() / 3);
    }
    state.counters["load_s"] = seconds;
    state.counters["vertex_bytes"] = bytes;
    state.counters["bytes_per_vertex"] = double(sizeof(MeshVertex));
    state.counters["peak_rss_over_data"] = peak;
    state.counters["kept_heap_over_data"] = kept;
}
BENCHMARK(BM_ReadMillionTriangleGltf)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
