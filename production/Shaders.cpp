// Shaders: compiling and linking, the watch on shader files, the uniforms
// and the post pass's target.
#include "Shaders.h"

#include "Canvases.h"
#include "FrameInputs.h"
#include "MusicAnalysis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QRegularExpression>

#include <GL/gl.h>

#include <sys/stat.h>

#include <algorithm>

namespace {

const int kSpectrumUnit = 7;         // texture unit of `spectrum`, away from the script's
const int kPreviousUnit = 6;         // texture unit of `previous`
const GLuint kCornerAttribute = 0;   // the post pass's one vertex input

QOpenGLExtraFunctions *Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

bool EndsWith(const std::string &s, const char *end)
{
    const std::string e(end);
    return s.size() > e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

// A stage argument names a file when it is one line ending in a shader
// file's extension; anything else is GLSL text.
bool IsFileName(const std::string &s)
{
    return s.find('\n') == std::string::npos &&
           (EndsWith(s, ".vert") || EndsWith(s, ".frag") || EndsWith(s, ".glsl"));
}

// The #version line of a shader text: its number and the line itself
// (without its end), or none.
struct VersionLine
{
    explicit VersionLine(const QString &text)
    {
        static const QRegularExpression version(QStringLiteral("^[ \\t]*#[ \\t]*version[ \\t]+(\\d+)[^\\n]*"),
                                                QRegularExpression::MultilineOption);
        const QRegularExpressionMatch m = version.match(text);
        found = m.hasMatch();
        number = found ? m.captured(1).toInt() : 110;
        line = m.captured(0).toStdString();
    }
    // The line with its end, to start a stage of ours in the same version.
    std::string lead() const { return found ? line + "\n" : std::string(); }
    bool modern() const { return number >= 130; }   // in/out, texture()

    bool found = false;
    int number = 110;
    std::string line;
};

// The post pass's vertex stage: one triangle over the whole view with `uv`
// running 0..1 across it, in the language version of the fragment stage it
// is linked with (the two must agree).
std::string PostVertexText(const std::string &fragment)
{
    const VersionLine version(QString::fromStdString(fragment));
    std::string text = version.lead();
    text += version.modern() ? "in vec2 velkaroCorner;\nout vec2 uv;\n" : "attribute vec2 velkaroCorner;\nvarying vec2 uv;\n";
    text += "void main() { uv = velkaroCorner * 0.5 + 0.5; gl_Position = vec4(velkaroCorner, 0.0, 1.0); }\n";
    return text;
}

// The overlays drawn over the view after the pass (grid, floor outline,
// marker) in the fixed function's colours, each fragment kept only where it
// is nearer than the scene's depth at its pixel: the depth test they would
// have met in a view holding the scene's depth.
const char kOverlayVertexText[] =
    "void main() { gl_Position = ftransform(); gl_FrontColor = gl_Color; }\n";
const char kOverlayFragmentText[] =
    "uniform sampler2D velkaroSceneDepth;\n"
    "uniform vec2 velkaroSceneSize;\n"
    "void main() {\n"
    "    if (gl_FragCoord.z >= texture2D(velkaroSceneDepth, gl_FragCoord.xy / velkaroSceneSize).r) discard;\n"
    "    gl_FragColor = gl_Color;\n"
    "}\n";

// The first error of a compiler or linker log as "name:line: message"
// (Mesa's "0:3(12): error: ...", and the forms of the other drivers), or
// "name: line" when it names no line.
std::string FirstError(const std::string &log, const std::string &name)
{
    const QStringList lines = QString::fromStdString(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString first = lines.isEmpty() ? QStringLiteral("failed without a message") : lines.first().trimmed();
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
            first = line.trimmed();
            break;
        }
    }
    static const QRegularExpression forms[] = {
        QRegularExpression(QStringLiteral("^\\d+:(\\d+)\\(\\d+\\):\\s*(.*)$")),   // 0:3(12): error: ...
        QRegularExpression(QStringLiteral("^\\d+\\((\\d+)\\)\\s*:\\s*(.*)$")),    // 0(3) : error C0000: ...
        QRegularExpression(QStringLiteral("^ERROR:\\s*\\d+:(\\d+):\\s*(.*)$")),   // ERROR: 0:3: ...
    };
    for (const QRegularExpression &form : forms) {
        const QRegularExpressionMatch m = form.match(first);
        if (m.hasMatch())
            return name + ":" + m.captured(1).toStdString() + ": " + m.captured(2).toStdString();
    }
    return name + ": " + first.toStdString();
}

std::string InfoLog(QOpenGLExtraFunctions *f, GLuint object, bool program)
{
    GLint length = 0;
    program ? f->glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length)
            : f->glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    GLsizei written = 0;
    program ? f->glGetProgramInfoLog(object, static_cast<GLsizei>(log.size()), &written, &log[0])
            : f->glGetShaderInfoLog(object, static_cast<GLsizei>(log.size()), &written, &log[0]);
    log.resize(static_cast<size_t>(written));
    return log;
}

// Compiles one stage; 0 with `log` (first error, then the whole log) when
// it fails.
GLuint Compile(QOpenGLExtraFunctions *f, GLenum type, const std::string &text, const std::string &name,
               std::string &log)
{
    GLuint shader = f->glCreateShader(type);
    const char *source = text.c_str();
    const GLint length = static_cast<GLint>(text.size());
    f->glShaderSource(shader, 1, &source, &length);
    f->glCompileShader(shader);
    GLint ok = GL_FALSE;
    f->glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE)
        return shader;
    const std::string raw = InfoLog(f, shader, false);
    log = FirstError(raw, name) + "\n" + raw;
    f->glDeleteShader(shader);
    return 0;
}

} // namespace

Shaders::Shaders() = default;

Shaders::~Shaders()
{
    // GL names can only go in their own context; a context that is gone (or
    // not current now) takes its names with it.
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (!current)
        return;
    for (auto &entry : programs) {
        if (entry.second.name && entry.second.context == current)
            Gl()->glDeleteProgram(entry.second.name);
    }
    if (target.context == current)
        releaseTarget();
}

// --- Loading ----------------------------------------------------------------

int Shaders::load(const std::string *vertex, const std::string *fragment, std::string &log)
{
    if (!vertex && !fragment) {
        log = "loadShader: give a vertex or a fragment stage (GLSL text or a file name)";
        return 0;
    }
    Program program;
    for (auto [stage, argument] : {std::pair{&program.vertex, vertex}, std::pair{&program.fragment, fragment}}) {
        stage->present = argument != nullptr;
        if (argument) {
            stage->argument = *argument;
            stage->isFile = IsFileName(*argument);
            stage->text = *argument;
        }
    }
    return add(std::move(program), log);
}

int Shaders::loadPass(const std::string &fragment, std::string &log)
{
    Program program;
    program.post = true;
    program.fragment.present = true;
    program.fragment.argument = fragment;
    program.fragment.isFile = IsFileName(fragment);
    program.fragment.text = fragment;
    return add(std::move(program), log);
}

std::string Shaders::setChain(const std::vector<int> &ids)
{
    std::string why = CanvasTable::CheckChainLength(static_cast<int>(ids.size()));
    for (size_t n = 0; n < ids.size() && why.empty(); ++n) {
        const auto found = programs.find(ids[n]);
        if (found == programs.end() || !found->second.post)
            why = "setPostShader: " + std::to_string(ids[n]) +
                  " is not a pass (a fragment stage given to setPostShader)";
    }
    if (why.empty())
        chain = ids;
    return why;
}

std::string Shaders::setPassScale(int id, double scale)
{
    const auto found = programs.find(id);
    if (found == programs.end() || !found->second.post)
        return "setPassScale: " + std::to_string(id) + " is not a pass (a fragment stage given to setPostShader)";
    const std::string why = CanvasTable::CheckPassScale(scale);
    if (why.empty())
        found->second.scale = static_cast<float>(scale);
    return why;
}

std::string Shaders::free(int id)
{
    const auto found = programs.find(id);
    if (found == programs.end())
        return "freeShader: " + std::to_string(id) + " is not a program";
    if (std::find(chain.begin(), chain.end(), id) != chain.end())
        return "freeShader: program " + std::to_string(id) +
               " is in the post chain; set the chain without it first";
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (bound == id && current) {
        Gl()->glUseProgram(0);
        bound = 0;
    }
    if (found->second.name) {
        if (found->second.context == current)
            Gl()->glDeleteProgram(found->second.name);
        else
            freedNames.emplace_back(found->second.name, found->second.context);
    }
    programs.erase(found);
    return std::string();
}

bool Shaders::postCoversView() const
{
    if (chain.empty())
        return wantsPrevious();
    const auto last = programs.find(chain.back());
    return last != programs.end() && !last->second.discards;
}

unsigned Shaders::keptPicture(int &width, int &height) const
{
    if (!pictureKept || !previousValid || target.context != QOpenGLContext::currentContext())
        return 0;
    width = target.previous.width;
    height = target.previous.height;
    return target.previous.framebuffer;
}

bool Shaders::wantsPrevious() const
{
    if (pictureKept)
        return true;
    for (const auto &entry : programs) {
        const auto uniform = entry.second.uniforms.find("previous");
        if (uniform != entry.second.uniforms.end() && uniform->second.type == GL_SAMPLER_2D)
            return true;
    }
    return false;
}

int Shaders::add(Program program, std::string &log)
{
    // The same arguments again (prod.lua saved and run once more): the
    // program already made, which follows its files by itself.
    for (const auto &entry : programs) {
        const Program &p = entry.second;
        if (p.post == program.post && p.vertex.present == program.vertex.present &&
            p.fragment.present == program.fragment.present && p.vertex.argument == program.vertex.argument &&
            p.fragment.argument == program.fragment.argument)
            return entry.first;
    }
    std::string texts[2];
    Stage *stages[2] = {&program.vertex, &program.fragment};
    for (int i = 0; i < 2; ++i) {
        Stage &stage = *stages[i];
        texts[i] = stage.text;
        if (stage.present && stage.isFile && !readStage(stage, texts[i], log))
            return 0;
    }
    const bool ok = QOpenGLContext::currentContext() ? link(program, texts[0], texts[1], log)
                                                     : check(program, texts[0], texts[1], log);
    if (!ok)
        return 0;
    program.vertex.text = texts[0];
    program.fragment.text = texts[1];
    programs.emplace(nextId, std::move(program));
    return nextId++;
}

bool Shaders::readStage(Stage &stage, std::string &text, std::string &log)
{
    const QString name = QString::fromStdString(stage.argument);
    if (QDir::isAbsolutePath(name) || name.split(QLatin1Char('/')).contains(QStringLiteral(".."))) {
        log = "cannot read " + stage.argument + ": not a file in the production's folder";
        return false;
    }
    const QFileInfo info(name);
    QFile file(name);
    // A pipe or a device would block the read; only plain files are read.
    if (!info.exists() || !info.isFile() || !file.open(QIODevice::ReadOnly)) {
        log = "cannot read " + stage.argument + ": " +
              (!info.exists() ? "no such file" : !info.isFile() ? "not a regular file" : "not readable");
        return false;
    }
    if (stage.file.path() != name)
        stage.file = WatchedFile(name);
    else
        stage.file.take();
    text = file.readAll().toStdString();
    return true;
}

bool Shaders::link(Program &program, const std::string &vertexText, const std::string &fragmentText,
                   std::string &log)
{
    QOpenGLExtraFunctions *f = Gl();
    const std::string fragmentName = program.fragment.isFile ? program.fragment.argument : "fragment";
    const std::string vertexName = program.vertex.isFile ? program.vertex.argument : "vertex";
    GLuint stages[2] = {0, 0};
    if (program.vertex.present || program.post) {
        stages[0] = Compile(f, GL_VERTEX_SHADER, program.post ? PostVertexText(fragmentText) : vertexText,
                            program.post ? fragmentName : vertexName, log);
        if (!stages[0])
            return false;
    }
    if (program.fragment.present) {
        stages[1] = Compile(f, GL_FRAGMENT_SHADER, fragmentText, fragmentName, log);
        if (!stages[1]) {
            if (stages[0])
                f->glDeleteShader(stages[0]);
            return false;
        }
    }
    const GLuint name = f->glCreateProgram();
    for (GLuint stage : stages) {
        if (stage) {
            f->glAttachShader(name, stage);
            f->glDeleteShader(stage);   // goes with the program
        }
    }
    if (program.post)
        f->glBindAttribLocation(name, kCornerAttribute, "velkaroCorner");
    f->glLinkProgram(name);
    GLint ok = GL_FALSE;
    f->glGetProgramiv(name, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        const std::string raw = InfoLog(f, name, true);
        log = FirstError(raw, program.fragment.present ? fragmentName : vertexName) + "\n" + raw;
        f->glDeleteProgram(name);
        return false;
    }

    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (program.name && program.context == context)
        f->glDeleteProgram(program.name);
    program.discards = fragmentText.find("discard") != std::string::npos;
    program.name = name;
    program.context = context;
    program.uniforms.clear();
    GLint count = 0;
    f->glGetProgramiv(name, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char uniform[256];
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        f->glGetActiveUniform(name, static_cast<GLuint>(i), sizeof(uniform), &length, &size, &type, uniform);
        program.uniforms[uniform] = Uniform{f->glGetUniformLocation(name, uniform), type};
    }
    return true;
}

bool Shaders::check(Program &program, const std::string &vertexText, const std::string &fragmentText,
                    std::string &log)
{
    if (!checkContext) {
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
            log = "no OpenGL to compile the shader with";
            return false;
        }
        checkSurface = std::make_unique<QOffscreenSurface>();
        checkSurface->setFormat(QSurfaceFormat::defaultFormat());
        checkSurface->create();
        checkContext = std::make_unique<QOpenGLContext>();
        checkContext->setFormat(QSurfaceFormat::defaultFormat());
        checkContext->create();
    }
    if (!checkContext->isValid() || !checkContext->makeCurrent(checkSurface.get())) {
        log = "no OpenGL to compile the shader with";
        return false;
    }
    // Only the verdict is kept: the program is made again where it is used.
    const bool ok = link(program, vertexText, fragmentText, log);
    if (ok)
        Gl()->glDeleteProgram(program.name);
    program.name = 0;
    program.context = nullptr;
    checkContext->doneCurrent();
    return ok;
}

Shaders::Program *Shaders::built(int id)
{
    const auto found = programs.find(id);
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (found == programs.end() || !context)
        return nullptr;
    Program &program = found->second;
    if (program.name && program.context == context)
        return &program;
    std::string log;
    if (!link(program, program.vertex.text, program.fragment.text, log)) {
        program.reloadError = log.substr(0, log.find('\n'));
        return nullptr;
    }
    return &program;
}

// --- Use and uniforms -------------------------------------------------------------

void Shaders::use(int id)
{
    if (!QOpenGLContext::currentContext())
        return;
    Program *program = id ? built(id) : nullptr;
    Gl()->glUseProgram(program ? program->name : 0);
    bound = program ? id : 0;
    if (program)
        applyUniforms(*program);
}

namespace {

// Sets `count` floats of the uniform if it has that many (a float or a vecN).
void SetFloats(QOpenGLExtraFunctions *f, int location, unsigned type, const float *values, int count)
{
    const GLenum types[] = {GL_FLOAT, GL_FLOAT_VEC2, GL_FLOAT_VEC3, GL_FLOAT_VEC4};
    if (count < 1 || count > 4 || type != types[count - 1])
        return;
    switch (count) {
    case 1: f->glUniform1fv(location, 1, values); break;
    case 2: f->glUniform2fv(location, 1, values); break;
    case 3: f->glUniform3fv(location, 1, values); break;
    default: f->glUniform4fv(location, 1, values); break;
    }
}

} // namespace

void Shaders::setUniform(int id, const std::string &name, const float *values, int count)
{
    const auto found = programs.find(id);
    if (found == programs.end() || count < 1 || count > 4)
        return;
    Program &program = found->second;
    const auto uniform = program.uniforms.find(name);
    if (uniform != program.uniforms.end() && uniform->second.type == GL_SAMPLER_2D && count == 1 &&
        name != "previous" && name != "spectrum") {
        program.samplers[name] = static_cast<int>(values[0]);
        if (bound == id && program.context == QOpenGLContext::currentContext())
            bindSamplers(program);
        return;
    }
    const GLenum types[] = {GL_FLOAT, GL_FLOAT_VEC2, GL_FLOAT_VEC3, GL_FLOAT_VEC4};
    if (uniform == program.uniforms.end() || uniform->second.type != types[count - 1])
        return;
    program.values[name].assign(values, values + count);
    // Bound now (inside render()): it counts for what is drawn next.
    if (bound == id && program.context == QOpenGLContext::currentContext())
        SetFloats(Gl(), uniform->second.location, uniform->second.type, values, count);
}

void Shaders::applyUniforms(Program &program)
{
    QOpenGLExtraFunctions *f = Gl();
    const auto set = [&](const char *name, const float *values, int count) {
        const auto uniform = program.uniforms.find(name);
        if (uniform != program.uniforms.end())
            SetFloats(f, uniform->second.location, uniform->second.type, values, count);
    };
    const auto has = [&](const char *name) { return program.uniforms.count(name) != 0; };
    if (has("time")) {
        const float time = inputs ? static_cast<float>(inputs->time()) : 0.0f;
        set("time", &time, 1);
    }
    if (has("resolution") || has("passResolution")) {
        // The size of what is drawn into: the view, a canvas or a pass.
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        const float resolution[2] = {static_cast<float>(viewport[2]), static_cast<float>(viewport[3])};
        set("resolution", resolution, 2);
        set("passResolution", resolution, 2);
    }
    if (has("level")) {
        const long long frame = inputs ? inputs->frame() : 0;
        if (levelFrame != frame) {
            level = inputs ? inputs->level() : 0.0f;
            levelFrame = frame;
        }
        set("level", &level, 1);
    }
    const float still[2] = {0.0f, 0.0f};
    set("mouse", inputs ? inputs->mouse() : still, 2);
    const auto spectrum = program.uniforms.find("spectrum");
    if (spectrum != program.uniforms.end() && spectrum->second.type == GL_SAMPLER_2D) {
        bindSpectrum(f);
        f->glUniform1i(spectrum->second.location, kSpectrumUnit);
    }
    for (const auto &value : program.values) {
        const auto uniform = program.uniforms.find(value.first);
        if (uniform != program.uniforms.end())
            SetFloats(f, uniform->second.location, uniform->second.type, value.second.data(),
                      static_cast<int>(value.second.size()));
    }
    bindSamplers(program);
}

void Shaders::bindSamplers(Program &program)
{
    QOpenGLExtraFunctions *f = Gl();
    const auto previous = program.uniforms.find("previous");
    if (previous != program.uniforms.end() && previous->second.type == GL_SAMPLER_2D) {
        f->glActiveTexture(GL_TEXTURE0 + kPreviousUnit);
        // Before the first frame drawn with it: texture 0, which reads black.
        f->glBindTexture(GL_TEXTURE_2D, target.context == QOpenGLContext::currentContext() ? target.previous.colour : 0);
        f->glUniform1i(previous->second.location, kPreviousUnit);
    }
    int unit = Canvases::kFirstSamplerUnit;
    for (const auto &sampler : program.samplers) {
        const auto uniform = program.uniforms.find(sampler.first);
        if (uniform == program.uniforms.end() || unit == Canvases::kFirstSamplerUnit + Canvases::kSamplerUnits)
            continue;
        f->glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        f->glBindTexture(GL_TEXTURE_2D, canvases ? canvases->texture(sampler.second) : 0);
        f->glUniform1i(uniform->second.location, unit++);
    }
    f->glActiveTexture(GL_TEXTURE0);
}

void Shaders::bindSpectrum(QOpenGLExtraFunctions *f)
{
    if (target.context != QOpenGLContext::currentContext()) {
        target = PassTarget();   // the names of another context stay with it
        target.context = QOpenGLContext::currentContext();
    }
    f->glActiveTexture(GL_TEXTURE0 + kSpectrumUnit);
    if (!target.spectrum) {
        f->glGenTextures(1, &target.spectrum);
        f->glBindTexture(GL_TEXTURE_2D, target.spectrum);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        f->glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, kSpectrumBands, 1, 0, GL_RED, GL_FLOAT, nullptr);
        spectrumFrame = -1;
    }
    f->glBindTexture(GL_TEXTURE_2D, target.spectrum);
    const long long frame = inputs ? inputs->frame() : 0;
    if (spectrumFrame != frame) {
        float values[kSpectrumBands] = {};
        if (inputs)
            inputs->spectrum(kSpectrumBands, values);
        f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        f->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kSpectrumBands, 1, GL_RED, GL_FLOAT, values);
        spectrumFrame = frame;
    }
    f->glActiveTexture(GL_TEXTURE0);
}

// --- The frame ----------------------------------------------------------------

void Shaders::takeSavedFiles(WatchedFile::Clock::time_point now)
{
    for (auto &entry : programs)
        for (Stage *stage : {&entry.second.vertex, &entry.second.fragment})
            if (stage->present && stage->isFile && stage->file.poll(now))
                entry.second.saved = true;
}

void Shaders::beginFrame()
{
    QOpenGLContext *current = QOpenGLContext::currentContext();
    for (auto it = freedNames.begin(); it != freedNames.end();) {
        if (it->second != current) {
            ++it;
            continue;
        }
        Gl()->glDeleteProgram(it->first);
        it = freedNames.erase(it);
    }
    if (programs.empty())
        return;
    if (bound) {
        Gl()->glUseProgram(0);
        bound = 0;
    }
    for (auto &entry : programs) {
        if (entry.second.saved)
            reload(entry.second);
    }
}

void Shaders::reload(Program &program)
{
    std::string texts[2] = {program.vertex.text, program.fragment.text};
    Stage *stages[2] = {&program.vertex, &program.fragment};
    std::string log;
    bool ok = true;
    for (int i = 0; i < 2 && ok; ++i) {
        if (stages[i]->present && stages[i]->isFile)
            ok = readStage(*stages[i], texts[i], log);
    }
    ok = ok && link(program, texts[0], texts[1], log);
    // A failed save is not tried again until the next one.
    program.saved = false;
    if (!ok) {
        program.reloadError = log.substr(0, log.find('\n'));
        return;
    }
    program.vertex.text = texts[0];
    program.fragment.text = texts[1];
    program.reloadError.clear();
}

void Shaders::endRender()
{
    if (bound) {
        Gl()->glUseProgram(0);
        bound = 0;
    }
}

std::string Shaders::reloadError() const
{
    for (const auto &entry : programs) {
        if (!entry.second.reloadError.empty())
            return entry.second.reloadError;
    }
    return std::string();
}

// --- The post pass ------------------------------------------------------------

bool Shaders::ensureTarget(QOpenGLExtraFunctions *f, int view, int width, int height)
{
    if (target.context != QOpenGLContext::currentContext()) {
        target = PassTarget();
        target.context = QOpenGLContext::currentContext();
    }
    target.viewFramebuffer = view;
    if (!target.overlay && !makeOverlayProgram(f))
        return false;
    // The scene's depth in the view's own format, so the pick reads the
    // values it reads without a pass; with a stencil buffer when the view
    // has one for render() to use.
    GLint depthBits = 0, stencilBits = 0;
    const auto query = [&](GLenum windowName, GLenum attachment, GLenum what, GLint *value) {
        GLint objectType = GL_NONE;
        const GLenum name = view == 0 ? windowName : attachment;
        f->glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, name, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                                 &objectType);
        if (objectType != GL_NONE)
            f->glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, name, what, value);
    };
    query(GL_DEPTH, GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &depthBits);
    query(GL_STENCIL, GL_STENCIL_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE, &stencilBits);
    const GLenum depthFormat = stencilBits > 0 ? GL_DEPTH24_STENCIL8
                               : depthBits > 24 ? GL_DEPTH_COMPONENT32
                               : depthBits > 16 ? GL_DEPTH_COMPONENT24 : GL_DEPTH_COMPONENT16;
    if (target.framebuffer && target.width == width && target.height == height && target.depthFormat == depthFormat)
        return true;

    if (target.framebuffer) {
        f->glDeleteFramebuffers(1, &target.framebuffer);
        GLuint textures[2] = {target.colour, target.depth};
        f->glDeleteTextures(2, textures);
    }
    target.width = width;
    target.height = height;
    target.depthFormat = depthFormat;
    // Made on the spectrum's unit, so the script's texture stays bound.
    f->glActiveTexture(GL_TEXTURE0 + kSpectrumUnit);
    GLuint textures[2];
    f->glGenTextures(2, textures);
    target.colour = textures[0];
    target.depth = textures[1];
    for (GLuint texture : textures) {
        const bool colour = texture == target.colour;
        f->glBindTexture(GL_TEXTURE_2D, texture);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, colour ? GL_LINEAR : GL_NEAREST);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, colour ? GL_LINEAR : GL_NEAREST);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        if (colour)
            f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        else if (depthFormat == GL_DEPTH24_STENCIL8)
            f->glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH24_STENCIL8, width, height, 0, GL_DEPTH_STENCIL,
                            GL_UNSIGNED_INT_24_8, nullptr);
        else
            f->glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(depthFormat), width, height, 0,
                            GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
    }
    f->glBindTexture(GL_TEXTURE_2D, target.spectrum);
    f->glActiveTexture(GL_TEXTURE0);
    f->glGenFramebuffers(1, &target.framebuffer);
    f->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.colour, 0);
    f->glFramebufferTexture2D(GL_FRAMEBUFFER,
                              depthFormat == GL_DEPTH24_STENCIL8 ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                              GL_TEXTURE_2D, target.depth, 0);
    const bool complete = f->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    f->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(target.viewFramebuffer));
    if (!complete)
        releaseTarget();
    return complete;
}

bool Shaders::makeOverlayProgram(QOpenGLExtraFunctions *f)
{
    std::string log;
    const GLuint vertex = Compile(f, GL_VERTEX_SHADER, kOverlayVertexText, "overlay", log);
    const GLuint fragment = vertex ? Compile(f, GL_FRAGMENT_SHADER, kOverlayFragmentText, "overlay", log) : 0;
    if (!fragment) {
        if (vertex)
            f->glDeleteShader(vertex);
        qWarning("the post pass cannot run: %s", log.c_str());
        return false;
    }
    target.overlay = f->glCreateProgram();
    for (GLuint stage : {vertex, fragment}) {
        f->glAttachShader(target.overlay, stage);
        f->glDeleteShader(stage);
    }
    f->glLinkProgram(target.overlay);
    GLint ok = GL_FALSE;
    f->glGetProgramiv(target.overlay, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        qWarning("the post pass cannot run: %s", InfoLog(f, target.overlay, true).c_str());
        f->glDeleteProgram(target.overlay);
        target.overlay = 0;
        return false;
    }
    target.overlayDepth = f->glGetUniformLocation(target.overlay, "velkaroSceneDepth");
    target.overlaySize = f->glGetUniformLocation(target.overlay, "velkaroSceneSize");
    return true;
}

void Shaders::releaseTarget()
{
    QOpenGLExtraFunctions *f = Gl();
    if (target.framebuffer)
        f->glDeleteFramebuffers(1, &target.framebuffer);
    if (target.overlay)
        f->glDeleteProgram(target.overlay);
    GLuint textures[3] = {target.colour, target.depth, target.spectrum};
    f->glDeleteTextures(3, textures);
    for (PassPicture &picture : target.passes)
        releasePicture(f, picture);
    releasePicture(f, target.previous);
    const PassTarget kept = target;
    target = PassTarget();
    target.context = kept.context;
    target.viewFramebuffer = kept.viewFramebuffer;
}

bool Shaders::ensurePicture(QOpenGLExtraFunctions *f, PassPicture &picture, int width, int height)
{
    if (picture.framebuffer && picture.width == width && picture.height == height)
        return true;
    releasePicture(f, picture);
    GLint texture = 0, framebuffer = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    f->glGenTextures(1, &picture.colour);
    f->glBindTexture(GL_TEXTURE_2D, picture.colour);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    f->glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    f->glGenFramebuffers(1, &picture.framebuffer);
    f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, picture.framebuffer);
    f->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, picture.colour, 0);
    const bool complete = f->glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        picture.width = width;
        picture.height = height;
        glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        f->glClearBufferfv(GL_COLOR, 0, black);
        glPopAttrib();
    }
    f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
    if (!complete)
        releasePicture(f, picture);
    return complete;
}

void Shaders::releasePicture(QOpenGLExtraFunctions *f, PassPicture &picture)
{
    if (picture.framebuffer)
        f->glDeleteFramebuffers(1, &picture.framebuffer);
    if (picture.colour)
        f->glDeleteTextures(1, &picture.colour);
    picture = PassPicture();
}

bool Shaders::beginScene()
{
    passing = false;
    previousRoute = false;
    const bool previous = wantsPrevious();
    if ((chain.empty() && !previous) || !QOpenGLContext::currentContext())
        return false;
    // The paint may have left the view's colour uncleared for the pass
    // (which then covers every pixel); if the pass cannot run, clear it now.
    const auto noPass = [] {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return false;
    };
    for (int id : chain)
        if (!built(id))
            return noPass();
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return noPass();
    QOpenGLExtraFunctions *f = Gl();
    GLint view = 0;
    f->glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &view);
    if (!ensureTarget(f, view, viewport[0] + viewport[2], viewport[1] + viewport[3]))
        return noPass();
    if (previous) {
        // A new size (a resize) starts black, as does a frame after a seek.
        const bool sameSize = target.previous.width == target.width && target.previous.height == target.height;
        if (!sameSize || !previousValid) {
            releasePicture(f, target.previous);
            if (!ensurePicture(f, target.previous, target.width, target.height))
                return noPass();
        }
    } else if (target.previous.framebuffer) {
        releasePicture(f, target.previous);
    }
    previousValid = false;   // until this frame is kept
    previousRoute = chain.empty();
    f->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT |
            (target.depthFormat == GL_DEPTH24_STENCIL8 ? GL_STENCIL_BUFFER_BIT : 0));
    passing = true;
    return true;
}

void Shaders::runChain(QOpenGLExtraFunctions *f)
{
    std::vector<float> scales;
    for (int id : chain)
        scales.push_back(programs[id].scale);
    const std::vector<CanvasSize> sizes = CanvasTable::PassSizes(scales, CanvasSize{target.width, target.height});
    if (target.passes.size() > chain.size())
        for (size_t n = chain.size(); n < target.passes.size(); ++n)
            releasePicture(f, target.passes[n]);
    target.passes.resize(chain.size());
    const GLuint view = static_cast<GLuint>(target.viewFramebuffer);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLuint input = target.colour;
    const PassPicture *last = nullptr;   // the picture the last pass drew, when not the view
    for (size_t n = 0; n < chain.size(); ++n) {
        Program *program = built(chain[n]);
        const bool full = sizes[n].width == target.width && sizes[n].height == target.height;
        const bool intoView = n + 1 == chain.size() && full;
        PassPicture &picture = target.passes[n];
        if (intoView) {
            releasePicture(f, picture);
            f->glBindFramebuffer(GL_FRAMEBUFFER, view);
            glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        } else if (!program || !ensurePicture(f, picture, sizes[n].width, sizes[n].height)) {
            continue;   // this pass cannot run: the next reads what it would have
        } else {
            f->glBindFramebuffer(GL_FRAMEBUFFER, picture.framebuffer);
            glViewport(0, 0, picture.width, picture.height);
            if (program->discards)
                glClear(GL_COLOR_BUFFER_BIT);
        }
        if (!program)
            continue;
        f->glUseProgram(program->name);
        bound = chain[n];
        applyUniforms(*program);
        for (auto [name, unit] : {std::pair{"frame", 0}, std::pair{"depth", 1}}) {
            const auto uniform = program->uniforms.find(name);
            if (uniform != program->uniforms.end() && uniform->second.type == GL_SAMPLER_2D)
                f->glUniform1i(uniform->second.location, unit);
        }
        f->glActiveTexture(GL_TEXTURE1);
        f->glBindTexture(GL_TEXTURE_2D, target.depth);
        f->glActiveTexture(GL_TEXTURE0);
        f->glBindTexture(GL_TEXTURE_2D, input);
        glBegin(GL_TRIANGLES);
        const float corners[3][2] = {{-1.0f, -1.0f}, {3.0f, -1.0f}, {-1.0f, 3.0f}};   // one triangle over the view
        for (const auto &corner : corners)
            f->glVertexAttrib2f(kCornerAttribute, corner[0], corner[1]);
        glEnd();
        bound = 0;
        last = intoView ? nullptr : &picture;
        input = intoView ? input : picture.colour;
    }
    f->glUseProgram(0);
    f->glBindFramebuffer(GL_FRAMEBUFFER, view);
    // A last pass at a fraction of the size is stretched over the view.
    if (last) {
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, last->framebuffer);
        f->glBlitFramebuffer(0, 0, last->width, last->height, 0, 0, target.width, target.height, GL_COLOR_BUFFER_BIT,
                             GL_LINEAR);
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, view);
    }
}

void Shaders::endScene()
{
    QOpenGLExtraFunctions *f = Gl();
    const GLuint view = static_cast<GLuint>(target.viewFramebuffer);
    // The view is bound before the state is saved: the draw buffer kept
    // with it must be one of the view's (a window's is not the pass's
    // colour attachment).
    f->glBindFramebuffer(GL_FRAMEBUFFER, view);
    GLint scriptTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &scriptTexture);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_POLYGON_BIT | GL_VIEWPORT_BIT);
    glDisable(GL_SCISSOR_TEST);
    // Every pixel of the view's colour once, whatever render() left
    // enabled; the view's depth stays as the paint cleared it.
    for (GLenum capability : {GL_BLEND, GL_CULL_FACE, GL_ALPHA_TEST, GL_STENCIL_TEST, GL_DEPTH_TEST})
        glDisable(capability);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (previousRoute) {
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
        f->glBlitFramebuffer(0, 0, target.width, target.height, 0, 0, target.width, target.height,
                             GL_COLOR_BUFFER_BIT, GL_NEAREST);
        f->glBindFramebuffer(GL_READ_FRAMEBUFFER, view);
    } else {
        runChain(f);
    }
    // The finished picture, before the overlays, is the next `previous`.
    if (target.previous.framebuffer) {
        f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.previous.framebuffer);
        f->glBlitFramebuffer(0, 0, target.width, target.height, 0, 0, target.width, target.height,
                             GL_COLOR_BUFFER_BIT, GL_NEAREST);
        f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, view);
        previousValid = true;
    }
    glPopAttrib();
    // The overlays that follow: tested against the scene's depth, on unit 1.
    f->glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(scriptTexture));
    f->glActiveTexture(GL_TEXTURE1);
    f->glBindTexture(GL_TEXTURE_2D, target.depth);
    f->glActiveTexture(GL_TEXTURE0);
    f->glUseProgram(target.overlay);
    f->glUniform1i(target.overlayDepth, 1);
    f->glUniform2f(target.overlaySize, static_cast<float>(target.width), static_cast<float>(target.height));
}

void Shaders::finishScene()
{
    QOpenGLExtraFunctions *f = Gl();
    f->glUseProgram(0);
    f->glActiveTexture(GL_TEXTURE1);
    f->glBindTexture(GL_TEXTURE_2D, 0);
    f->glActiveTexture(GL_TEXTURE0);
    passing = false;
}

void Shaders::beginSceneDepth()
{
    if (!passing)
        return;
    QOpenGLExtraFunctions *f = Gl();
    f->glUseProgram(0);
    f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.framebuffer);
    glPushAttrib(GL_COLOR_BUFFER_BIT);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
}

void Shaders::endSceneDepth()
{
    if (!passing)
        return;
    QOpenGLExtraFunctions *f = Gl();
    glPopAttrib();
    f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(target.viewFramebuffer));
    f->glUseProgram(target.overlay);
}

bool Shaders::sceneDepthAt(int x, int y, float &depth)
{
    if (!passing)
        return false;
    QOpenGLExtraFunctions *f = Gl();
    f->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    f->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(target.viewFramebuffer));
    return true;
}
