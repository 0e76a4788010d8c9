// Meshes: the run's meshes and models in vertex buffers, and their drawing
// with the current transform, colour, texture, light and program. Kept by
// the Production, so they outlive reloads of the production's script.
//
// Vertices are held in memory only until the first paint uploads them;
// after that a mesh's memory is its buffer (36 bytes a vertex, and for
// quads 6 more: the indices of their triangles). Changes to
// a range wait for the next draw. Drawing happens inside render() with no
// begin/end bracket open; a draw inside a bracket is refused with a
// message for the view's band. Models are files read through the model
// layer; a model file saved while the run goes is read again under the
// same id (the run's watched-file rule), and one that no longer reads
// keeps the last version.
#pragma once

#include "MeshData.h"
#include "ModelFile.h"
#include "WatchedFile.h"

#include <QString>

#include <GL/gl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QOpenGLShaderProgram;
class Scene;

// The numbers of one copy drawMeshInstances draws: offset, scale and
// colour (0..1; used when `coloured`).
struct MeshCopy
{
    float x = 0.0f, y = 0.0f, z = 0.0f, scale = 1.0f;
    float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
};

class Meshes
{
public:
    explicit Meshes(Scene &scene);
    ~Meshes();
    Meshes(const Meshes &) = delete;
    Meshes &operator=(const Meshes &) = delete;

    // A new mesh of these vertices; its id (> 0).
    int create(MeshData data);
    // Replaces vertices first.. (0-based) of mesh `id` with `vertices`
    // (their attributes as the mesh's own). False with `error` for an
    // unknown mesh or a range beyond its end.
    bool setVertices(int id, size_t first, std::vector<MeshVertex> vertices, std::string &error);
    void free(int id);
    // The number of vertices of mesh `id`; -1 when there is none.
    long vertexCount(int id) const;
    size_t meshCount() const { return meshes.size(); }

    // Draws mesh `id`; `function` names the caller in a refusal.
    void draw(int id, const char *function = "drawMesh");
    // Draws mesh `id` once per copy, moved by its offset and scaled, in
    // its colour when `coloured` (in place of the vertices' own); one instanced draw where the context has
    // them and no program of the script is bound, else a draw per copy.
    void drawCopies(int id, const std::vector<MeshCopy> &copies, bool coloured);
    // Whether instanced draws may be used (tests and benchmarks compare
    // both ways); on by default.
    void setInstancing(bool on) { instancing = on; }

    // The id (> 0) of the model at `path` (the same file keeps its id), or
    // 0 with `error`. `note` tells of textures that could not be read (the
    // model is drawn without them), "" when none.
    int loadModel(const QString &path, std::string &error, std::string &note);
    void drawModel(int id);
    size_t modelCount() const { return models.size(); }
    // Once per tick: reads again the models whose files were saved.
    void takeSavedModels(WatchedFile::Clock::time_point now);

    // --- The paint: deletes the buffers freed since the last one and
    // forgets the last frame's refusal; afterwards, what was refused ("").
    void beginFrame();
    const std::string &frameRefusal() const { return refusal; }

private:
    struct Gpu
    {
        MeshData data;   // until uploaded; then only the counts below
        struct Change
        {
            size_t first;
            std::vector<MeshVertex> vertices;
        };
        std::vector<Change> changes;   // waiting for the next draw
        GLuint vertexBuffer = 0, indexBuffer = 0;
        size_t vertices = 0, indices = 0;
        unsigned attributes = 0;
        MeshMode mode = MeshMode::Triangles;
        // A small mesh repeated for batches of copies, with each vertex's
        // place in its batch; made at its first drawMeshInstances.
        struct Batch
        {
            GLuint vertexBuffer = 0, slotBuffer = 0, indexBuffer = 0;
            int copies = 0;   // 0: none made
        } batch;
    };
    struct Model
    {
        QString path, shownName;
        WatchedFile file;
        std::vector<Gpu> meshes;
        std::vector<unsigned> meshMaterial;
        struct Material
        {
            float colour[4];
            int texture = 0;   // the scene's texture id, 0: none
            bool ownTexture = false;   // read from the model file: freed with it
        };
        std::vector<Material> materials;
        std::vector<ModelPart> parts;
    };

    static Gpu Prepare(MeshData data);
    // Puts the model's data in place (textures loaded); the note of the
    // textures that could not be read.
    std::string adopt(Model &model, ModelData data, int id);
    void release(Gpu &mesh);
    void releaseTextures(Model &model);
    // True when GL may draw now; else notes why `function` drew nothing.
    bool mayDraw(const char *function);
    // Uploads what waits (vertices, changes); false when there is nothing.
    bool ready(Gpu &mesh);
    void releaseBatch(Gpu &mesh);
    // Makes the mesh's batch when it is small enough to have one.
    bool batch(Gpu &mesh);
    // The mesh's arrays (or its batch's) on the fixed pipeline's inputs.
    void bindArrays(const Gpu &mesh, bool batched);
    void unbindArrays();
    // `instances` > 0: that many instances of the mesh (`repeats` times over
    // when batched); else one plain draw.
    void drawElements(const Gpu &mesh, int instances, size_t repeats);
    // The copies' program for what they draw; null where the context has
    // no instancing (or it does not build).
    QOpenGLShaderProgram *copiesProgram(bool coloured, bool lit, bool textured);

    Scene &scene;
    std::map<int, Gpu> meshes;
    std::map<int, Model> models;
    int nextMesh = 1, nextModel = 1;
    std::vector<GLuint> buffersToDelete;
    std::string refusal;
    bool instancing = true;
    std::map<int, std::unique_ptr<QOpenGLShaderProgram>> copiesPrograms;   // null: does not build
    std::vector<GLuint> texturesToDelete;   // the copies' numbers of the last frame
};
