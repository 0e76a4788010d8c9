// Meshes: vertex buffers, their draws, the instanced copies and models.
#include "Meshes.h"

#include "Scene.h"

#include <QDebug>
#include <QDir>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>

#include <algorithm>
#include <cstddef>

namespace {

// The generic attribute of the copies' program: a vertex's place in its
// batch (0 is the position's slot).
const GLuint kCopySlot = 1;
// A small mesh is drawn in batches: its vertices repeated this many times
// in a buffer of their own, one instance a batch, since a driver that draws
// each instance apart pays per instance, not per vertex.
const size_t kBatchVertices = 4096;
const int kMaxBatchCopies = 256;
// The texture unit the copies' numbers are read from (unit 0 is the script's).
const GLenum kCopyUnit = GL_TEXTURE1;

// The copies' program: each copy moved and scaled, coloured, lit by the
// one light with the current material as the fixed pipeline lights it
// (ambient of the light model and the light, plus diffuse), textured when
// the texture unit is on; the same picture as a draw per copy. The copies'
// numbers come from a buffer texture, two texels a copy (x, y, z, scale;
// colour); a batch slot past the last copy is clipped away. Whether the
// copies are coloured, lit and textured is fixed in each of the program's
// variants, so none of them pays for what it does not draw.
const char kCopiesVertex[] =
    "in float copySlot;\n"
    "uniform samplerBuffer copies;\n"
    "uniform int perInstance;\n"
    "uniform int count;\n"
    "void main() {\n"
    "  int copy = gl_InstanceID * perInstance + int(copySlot);\n"
    "  if (copy >= count) { gl_Position = vec4(0.0, 0.0, -2.0, 1.0); return; }\n"
    "  vec4 place = texelFetch(copies, 2 * copy);\n"
    "  gl_Position = gl_ModelViewProjectionMatrix * vec4(gl_Vertex.xyz * place.w + place.xyz, 1.0);\n"
    "  vec4 base = coloured ? texelFetch(copies, 2 * copy + 1) : gl_Color;\n"
    "  if (lit) {\n"
    "    vec3 n = normalize(gl_NormalMatrix * gl_Normal);\n"
    "    float d = max(dot(n, normalize(gl_LightSource[0].position.xyz)), 0.0);\n"
    "    vec3 light = gl_LightModel.ambient.rgb + gl_LightSource[0].ambient.rgb + d * gl_LightSource[0].diffuse.rgb;\n"
    "    base = vec4(clamp(base.rgb * light, 0.0, 1.0), base.a);\n"
    "  }\n"
    "  gl_FrontColor = base;\n"
    "  gl_BackColor = base;\n"
    "  gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "}\n";
const char kCopiesFragment[] =
    "uniform sampler2D picture;\n"
    "void main() {\n"
    "  gl_FragColor = textured ? gl_Color * texture2D(picture, gl_TexCoord[0].st) : gl_Color;\n"
    "}\n";

GLenum GlMode(MeshMode mode)
{
    switch (mode) {
    case MeshMode::Quads: return GL_QUADS;
    case MeshMode::Lines: return GL_LINES;
    case MeshMode::Points: return GL_POINTS;
    default: return GL_TRIANGLES;
    }
}

QOpenGLExtraFunctions *Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

const void *Offset(size_t bytes)
{
    return reinterpret_cast<const void *>(bytes);
}

// a × b of two column-major 4 × 4 matrices.
void Multiply(const GLfloat *a, const GLfloat *b, GLfloat *out)
{
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            GLfloat sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
}

} // namespace

Meshes::Meshes(Scene &scene) : scene(scene) {}

Meshes::~Meshes()
{
    // The buffers go with the context when there is none to delete them in.
    if (!QOpenGLContext::currentContext())
        return;
    for (auto &entry : meshes)
        release(entry.second);
    for (auto &entry : models)
        for (Gpu &mesh : entry.second.meshes)
            release(mesh);
    if (!texturesToDelete.empty())
        glDeleteTextures(static_cast<GLsizei>(texturesToDelete.size()), texturesToDelete.data());
    if (!buffersToDelete.empty())
        Gl()->glDeleteBuffers(static_cast<GLsizei>(buffersToDelete.size()), buffersToDelete.data());
    copiesPrograms.clear();
}

Meshes::Gpu Meshes::Prepare(MeshData data)
{
    Gpu mesh;
    mesh.vertices = data.vertices.size();
    mesh.indices = data.indices.size();
    mesh.attributes = data.attributes;
    mesh.mode = data.mode;
    mesh.data = std::move(data);
    return mesh;
}

int Meshes::create(MeshData data)
{
    const int id = nextMesh++;
    meshes[id] = Prepare(std::move(data));
    return id;
}

bool Meshes::setVertices(int id, size_t first, std::vector<MeshVertex> vertices, std::string &error)
{
    const auto found = meshes.find(id);
    if (found == meshes.end()) {
        error = "setMeshVertices: there is no mesh " + std::to_string(id);
        return false;
    }
    Gpu &mesh = found->second;
    if (first > mesh.vertices || vertices.size() > mesh.vertices - first) {
        error = "setMeshVertices: vertices " + std::to_string(first + 1) + " to " + std::to_string(first + vertices.size()) +
                " are beyond the mesh's " + std::to_string(mesh.vertices);
        return false;
    }
    if (!mesh.data.vertices.empty())
        std::copy(vertices.begin(), vertices.end(), mesh.data.vertices.begin() + static_cast<std::ptrdiff_t>(first));
    else if (!vertices.empty())
        mesh.changes.push_back({first, std::move(vertices)});
    return true;
}

void Meshes::release(Gpu &mesh)
{
    releaseBatch(mesh);
    for (GLuint buffer : {mesh.vertexBuffer, mesh.indexBuffer})
        if (buffer)
            buffersToDelete.push_back(buffer);
    mesh.vertexBuffer = mesh.indexBuffer = 0;
}

void Meshes::releaseBatch(Gpu &mesh)
{
    for (GLuint buffer : {mesh.batch.vertexBuffer, mesh.batch.slotBuffer, mesh.batch.indexBuffer})
        if (buffer)
            buffersToDelete.push_back(buffer);
    mesh.batch = Gpu::Batch();
}

void Meshes::free(int id)
{
    const auto found = meshes.find(id);
    if (found == meshes.end())
        return;
    release(found->second);
    meshes.erase(found);
}

long Meshes::vertexCount(int id) const
{
    const auto found = meshes.find(id);
    return found == meshes.end() ? -1 : static_cast<long>(found->second.vertices);
}

void Meshes::beginFrame()
{
    refusal.clear();
    if (!QOpenGLContext::currentContext())
        return;
    if (!buffersToDelete.empty())
        Gl()->glDeleteBuffers(static_cast<GLsizei>(buffersToDelete.size()), buffersToDelete.data());
    if (!texturesToDelete.empty())
        glDeleteTextures(static_cast<GLsizei>(texturesToDelete.size()), texturesToDelete.data());
    buffersToDelete.clear();
    texturesToDelete.clear();
}

bool Meshes::mayDraw(const char *function)
{
    if (!scene.rendering() || !QOpenGLContext::currentContext())
        return false;   // outside render() GL calls do nothing, as everywhere
    if (scene.canDraw())
        return true;
    if (refusal.empty())
        refusal = std::string(function) + ": not between a begin function and endGL (drawn outside brackets)";
    return false;
}

bool Meshes::ready(Gpu &mesh)
{
    if (mesh.vertices == 0 || (mesh.mode == MeshMode::Quads && mesh.vertices < 4))
        return false;
    QOpenGLExtraFunctions *gl = Gl();
    if (!mesh.vertexBuffer) {
        // Quads go to the driver as indexed triangles: drivers that draw no
        // quads of their own otherwise convert them again at every draw.
        if (mesh.mode == MeshMode::Quads && mesh.data.indices.empty()) {
            const std::uint32_t corners[6] = {0, 1, 2, 0, 2, 3};
            mesh.data.indices.reserve(mesh.vertices / 4 * 6);
            for (std::uint32_t quad = 0; quad + 4 <= mesh.vertices; quad += 4)
                for (const std::uint32_t corner : corners)
                    mesh.data.indices.push_back(quad + corner);
            mesh.indices = mesh.data.indices.size();
            mesh.mode = MeshMode::Triangles;
        }
        gl->glGenBuffers(1, &mesh.vertexBuffer);
        gl->glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
        gl->glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.vertices * sizeof(MeshVertex)), mesh.data.vertices.data(), GL_STATIC_DRAW);
        if (mesh.indices) {
            gl->glGenBuffers(1, &mesh.indexBuffer);
            gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer);
            gl->glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.indices * sizeof(std::uint32_t)), mesh.data.indices.data(),
                             GL_STATIC_DRAW);
            gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        }
        gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
        mesh.data = MeshData();   // from now on the buffer holds them
    }
    if (!mesh.changes.empty()) {
        gl->glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
        for (const Gpu::Change &change : mesh.changes)
            gl->glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(change.first * sizeof(MeshVertex)),
                                static_cast<GLsizeiptr>(change.vertices.size() * sizeof(MeshVertex)), change.vertices.data());
        gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
        mesh.changes.clear();
        releaseBatch(mesh);   // made again from the changed vertices
    }
    return true;
}

namespace {

// The first `bytes` of `buffer` bound at `target`, read back.
template <typename T> std::vector<T> ReadBack(GLenum target, GLuint buffer, size_t count)
{
    QOpenGLExtraFunctions *gl = Gl();
    std::vector<T> values;
    gl->glBindBuffer(target, buffer);
    const void *mapped = gl->glMapBufferRange(target, 0, static_cast<GLsizeiptr>(count * sizeof(T)), GL_MAP_READ_BIT);
    if (mapped) {
        const T *first = static_cast<const T *>(mapped);
        values.assign(first, first + count);
        gl->glUnmapBuffer(target);
    }
    gl->glBindBuffer(target, 0);
    return values;
}

} // namespace

bool Meshes::batch(Gpu &mesh)
{
    if (mesh.batch.copies)
        return true;
    const size_t copies = std::min<size_t>(kMaxBatchCopies, kBatchVertices / std::max<size_t>(mesh.vertices, 1));
    if (copies < 2)
        return false;
    const std::vector<MeshVertex> vertices = ReadBack<MeshVertex>(GL_ARRAY_BUFFER, mesh.vertexBuffer, mesh.vertices);
    const std::vector<std::uint32_t> indices =
        mesh.indexBuffer ? ReadBack<std::uint32_t>(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer, mesh.indices) : std::vector<std::uint32_t>();
    if (vertices.size() != mesh.vertices || indices.size() != mesh.indices)
        return false;
    std::vector<MeshVertex> batchVertices;
    std::vector<float> batchSlots;
    std::vector<std::uint32_t> batchIndices;
    batchVertices.reserve(copies * mesh.vertices);
    batchSlots.reserve(copies * mesh.vertices);
    for (size_t copy = 0; copy < copies; ++copy) {
        batchVertices.insert(batchVertices.end(), vertices.begin(), vertices.end());
        batchSlots.insert(batchSlots.end(), mesh.vertices, static_cast<float>(copy));
        for (const std::uint32_t index : indices)
            batchIndices.push_back(index + static_cast<std::uint32_t>(copy * mesh.vertices));
    }
    QOpenGLExtraFunctions *gl = Gl();
    const auto upload = [&](GLenum target, GLuint &buffer, const void *data, size_t bytes) {
        gl->glGenBuffers(1, &buffer);
        gl->glBindBuffer(target, buffer);
        gl->glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STATIC_DRAW);
        gl->glBindBuffer(target, 0);
    };
    upload(GL_ARRAY_BUFFER, mesh.batch.vertexBuffer, batchVertices.data(), batchVertices.size() * sizeof(MeshVertex));
    upload(GL_ARRAY_BUFFER, mesh.batch.slotBuffer, batchSlots.data(), batchSlots.size() * sizeof(float));
    if (!batchIndices.empty())
        upload(GL_ELEMENT_ARRAY_BUFFER, mesh.batch.indexBuffer, batchIndices.data(), batchIndices.size() * sizeof(std::uint32_t));
    mesh.batch.copies = static_cast<int>(copies);
    return true;
}

void Meshes::bindArrays(const Gpu &mesh, bool batched)
{
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    Gl()->glBindBuffer(GL_ARRAY_BUFFER, batched ? mesh.batch.vertexBuffer : mesh.vertexBuffer);
    const GLsizei stride = sizeof(MeshVertex);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, Offset(offsetof(MeshVertex, position)));
    if (mesh.attributes & kMeshColour) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_UNSIGNED_BYTE, stride, Offset(offsetof(MeshVertex, colour)));
    }
    if (mesh.attributes & kMeshTexCoord) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, stride, Offset(offsetof(MeshVertex, texCoord)));
    }
    if (mesh.attributes & kMeshNormal) {
        glEnableClientState(GL_NORMAL_ARRAY);
        glNormalPointer(GL_FLOAT, stride, Offset(offsetof(MeshVertex, normal)));
    }
    if (mesh.indexBuffer)
        Gl()->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, batched ? mesh.batch.indexBuffer : mesh.indexBuffer);
}

void Meshes::unbindArrays()
{
    Gl()->glBindBuffer(GL_ARRAY_BUFFER, 0);
    Gl()->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glPopClientAttrib();
}

void Meshes::drawElements(const Gpu &mesh, int instances, size_t repeats)
{
    const GLenum mode = GlMode(mesh.mode);
    const GLsizei indices = static_cast<GLsizei>(mesh.indices * repeats), vertices = static_cast<GLsizei>(mesh.vertices * repeats);
    if (instances <= 0 && mesh.indexBuffer)
        glDrawElements(mode, indices, GL_UNSIGNED_INT, nullptr);
    else if (instances <= 0)
        glDrawArrays(mode, 0, vertices);
    else if (mesh.indexBuffer)
        Gl()->glDrawElementsInstanced(mode, indices, GL_UNSIGNED_INT, nullptr, instances);
    else
        Gl()->glDrawArraysInstanced(mode, 0, vertices, instances);
}

void Meshes::draw(int id, const char *function)
{
    if (!mayDraw(function))
        return;
    const auto found = meshes.find(id);
    if (found == meshes.end()) {
        if (refusal.empty())
            refusal = std::string(function) + ": there is no mesh " + std::to_string(id);
        return;
    }
    if (!ready(found->second))
        return;
    // The colour array leaves the current colour undefined: it is kept.
    glPushAttrib(GL_CURRENT_BIT);
    bindArrays(found->second, false);
    drawElements(found->second, 0, 1);
    unbindArrays();
    glPopAttrib();
}

QOpenGLShaderProgram *Meshes::copiesProgram(bool coloured, bool lit, bool textured)
{
    const int variant = (coloured ? 1 : 0) | (lit ? 2 : 0) | (textured ? 4 : 0);
    const auto found = copiesPrograms.find(variant);
    if (found != copiesPrograms.end())
        return found->second.get();
    std::unique_ptr<QOpenGLShaderProgram> &kept = copiesPrograms[variant];
    if (QOpenGLContext::currentContext()->format().version() < qMakePair(3, 3))
        return nullptr;
    const QByteArray settings = QByteArray("#version 150 compatibility\nconst bool coloured = ") + (coloured ? "true" : "false") +
                                ";\nconst bool lit = " + (lit ? "true" : "false") + ";\nconst bool textured = " + (textured ? "true" : "false") + ";\n";
    auto program = std::make_unique<QOpenGLShaderProgram>();
    program->bindAttributeLocation("copySlot", kCopySlot);
    if (program->addShaderFromSourceCode(QOpenGLShader::Vertex, settings + kCopiesVertex) &&
        program->addShaderFromSourceCode(QOpenGLShader::Fragment, settings + kCopiesFragment) && program->link())
        kept = std::move(program);
    else
        qDebug("meshes: copies are drawn one by one: %s", qUtf8Printable(program->log()));
    return kept.get();
}

void Meshes::drawCopies(int id, const std::vector<MeshCopy> &copies, bool coloured)
{
    if (!mayDraw("drawMeshInstances"))
        return;
    const auto found = meshes.find(id);
    if (found == meshes.end()) {
        if (refusal.empty())
            refusal = "drawMeshInstances: there is no mesh " + std::to_string(id);
        return;
    }
    Gpu &mesh = found->second;
    if (copies.empty() || !ready(mesh))
        return;
    GLint scriptProgram = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &scriptProgram);
    glPushAttrib(GL_CURRENT_BIT);
    bindArrays(mesh, false);
    QOpenGLShaderProgram *program =
        instancing && scriptProgram == 0 ? copiesProgram(coloured, glIsEnabled(GL_LIGHTING), glIsEnabled(GL_TEXTURE_2D)) : nullptr;
    if (program) {
        QOpenGLExtraFunctions *gl = Gl();
        const bool batched = batch(mesh);
        const int perInstance = batched ? mesh.batch.copies : 1;
        if (batched) {
            unbindArrays();
            bindArrays(mesh, true);
            if (coloured)
                glDisableClientState(GL_COLOR_ARRAY);
            gl->glBindBuffer(GL_ARRAY_BUFFER, mesh.batch.slotBuffer);
            gl->glEnableVertexAttribArray(kCopySlot);
            gl->glVertexAttribPointer(kCopySlot, 1, GL_FLOAT, GL_FALSE, sizeof(float), nullptr);
        } else {
            gl->glVertexAttrib1f(kCopySlot, 0.0f);
        }
        // A fresh buffer and texture for every call, let go at the next
        // paint: writing into one that a draw still queued reads would wait
        // for that draw to finish.
        GLuint copyBuffer = 0, copyTexture = 0;
        gl->glGenBuffers(1, &copyBuffer);
        glGenTextures(1, &copyTexture);
        buffersToDelete.push_back(copyBuffer);
        texturesToDelete.push_back(copyTexture);
        gl->glBindBuffer(GL_TEXTURE_BUFFER, copyBuffer);
        gl->glBufferData(GL_TEXTURE_BUFFER, static_cast<GLsizeiptr>(copies.size() * sizeof(MeshCopy)), copies.data(), GL_STREAM_DRAW);
        gl->glBindBuffer(GL_TEXTURE_BUFFER, 0);
        gl->glActiveTexture(kCopyUnit);
        glBindTexture(GL_TEXTURE_BUFFER, copyTexture);
        gl->glTexBuffer(GL_TEXTURE_BUFFER, GL_RGBA32F, copyBuffer);
        gl->glActiveTexture(GL_TEXTURE0);
        program->bind();
        program->setUniformValue("copies", 1);
        program->setUniformValue("perInstance", perInstance);
        program->setUniformValue("count", static_cast<int>(copies.size()));
        program->setUniformValue("picture", 0);
        const int instances = static_cast<int>((copies.size() + static_cast<size_t>(perInstance) - 1) / static_cast<size_t>(perInstance));
        drawElements(mesh, instances, static_cast<size_t>(perInstance));
        program->release();
        gl->glActiveTexture(kCopyUnit);
        glBindTexture(GL_TEXTURE_BUFFER, 0);
        gl->glActiveTexture(GL_TEXTURE0);
        if (batched)
            gl->glDisableVertexAttribArray(kCopySlot);
    } else {
        // One draw per copy, its move and scale loaded onto the model-view
        // matrix (no push: the script may have filled the stack).
        GLfloat base[16], moved[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, base);
        if (coloured)
            glDisableClientState(GL_COLOR_ARRAY);
        for (const MeshCopy &copy : copies) {
            const GLfloat place[16] = {copy.scale, 0, 0, 0, 0, copy.scale, 0, 0, 0, 0, copy.scale, 0, copy.x, copy.y, copy.z, 1};
            Multiply(base, place, moved);
            glLoadMatrixf(moved);
            if (coloured)
                glColor4fv(copy.colour);
            drawElements(mesh, 0, 1);
        }
        glLoadMatrixf(base);
    }
    unbindArrays();
    glPopAttrib();
}

// --- Models --------------------------------------------------------------------

std::string Meshes::adopt(Model &model, ModelData data, int id)
{
    releaseTextures(model);
    for (Gpu &mesh : model.meshes)
        release(mesh);
    model.meshes.clear();
    model.meshMaterial.clear();
    for (ModelMesh &mesh : data.meshes) {
        model.meshMaterial.push_back(mesh.material);
        model.meshes.push_back(Prepare(std::move(mesh.data)));
    }
    model.parts = std::move(data.parts);
    model.materials.clear();
    std::string note;
    int unread = 0;
    for (const ModelMaterial &from : data.materials) {
        Model::Material material;
        std::copy(from.colour, from.colour + 4, material.colour);
        std::string error;
        if (!from.textureBytes.isEmpty()) {
            material.texture = scene.loadTextureBytes(from.textureBytes, model.shownName + QLatin1Char(' ') + from.textureName, error);
            material.ownTexture = material.texture > 0;
        } else if (!from.textureFile.isEmpty()) {
            material.texture = scene.loadTexture(from.textureFile, error);
        } else if (!from.textureName.isEmpty()) {
            error = "cannot read " + from.textureName.toStdString() + ": its pixels are not in an image format";
        }
        if (!error.empty() && !material.texture && unread++ == 0)
            note = error;
        model.materials.push_back(material);
    }
    if (!note.empty()) {
        note = model.shownName.toStdString() + " is drawn without " + (unread > 1 ? std::to_string(unread) + " of its textures: " : "a texture: ") + note;
        qDebug("model %d: %s", id, note.c_str());
    }
    return note;
}

void Meshes::releaseTextures(Model &model)
{
    for (const Model::Material &material : model.materials)
        if (material.ownTexture)
            scene.freeTexture(material.texture);
}

int Meshes::loadModel(const QString &path, std::string &error, std::string &note)
{
    note.clear();
    if (path.isEmpty()) {
        error = "cannot read the model: no file name";
        return 0;
    }
    const QString fileName = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    for (const auto &entry : models)
        if (entry.second.path == fileName)
            return entry.first;   // a changed file is read again by the tick
    ModelData data;
    const WatchedFile file(fileName);   // the version read below is the one taken
    if (!ReadModel(fileName, path, data, error))
        return 0;
    const int id = nextModel++;
    Model &model = models[id];
    model.path = fileName;
    model.shownName = path;
    model.file = file;
    note = adopt(model, std::move(data), id);
    return id;
}

void Meshes::takeSavedModels(WatchedFile::Clock::time_point now)
{
    for (auto &entry : models) {
        Model &model = entry.second;
        if (!model.file.poll(now))
            continue;
        ModelData data;
        std::string error;
        if (ReadModel(model.path, model.shownName, data, error)) {
            qDebug("model %d reloaded from %s", entry.first, qUtf8Printable(model.path));
            adopt(model, std::move(data), entry.first);
        } else {
            qDebug("model %d kept: %s", entry.first, error.c_str());
        }
    }
}

void Meshes::drawModel(int id)
{
    if (!mayDraw("drawModel"))
        return;
    const auto found = models.find(id);
    if (found == models.end()) {
        if (refusal.empty())
            refusal = "drawModel: there is no model " + std::to_string(id);
        return;
    }
    Model &model = found->second;
    GLfloat base[16], placed[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, base);
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT);
    for (const ModelPart &part : model.parts) {
        Gpu &mesh = model.meshes[part.mesh];
        if (!ready(mesh))
            continue;
        const Model::Material &material = model.materials[model.meshMaterial[part.mesh]];
        Multiply(base, part.transform, placed);
        glLoadMatrixf(placed);
        glColor4fv(material.colour);
        scene.bindTexture(mesh.attributes & kMeshTexCoord ? material.texture : 0);
        bindArrays(mesh, false);
        drawElements(mesh, 0, 1);
        unbindArrays();
    }
    glLoadMatrixf(base);
    glPopAttrib();
}
