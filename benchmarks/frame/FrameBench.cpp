// The real frame: the program (its window at the default 403 x 442, in a
// scratch folder) runs a production with VELKARO_FRAME_TIMING on, and its
// summaries give the time per frame beyond the 10 ms timer and its split
// into parts. Beside it, in the same run, LÖVE (Debian's `love`) draws the
// same number of quads with setColor and polygon("fill") per quad, vsync
// off, in a 403 x 442 window, and prints its mean frame time. Needs a
// display (run under xvfb-run). Counters, medians over the summaries after
// the first (100 frames each; the block seen from the example production's
// camera, whole, with 1,000 single-cell edits a frame, and with a sphere of
// radius 20 carved or added back every frame):
//   beyond_timer_ms  frame start to frame start, less the 10 ms timer
//   work_ms          the frame's own work (UpdateFrame)
// and from a second run with every part finished (glFinish) at its end:
//   split_beyond_ms, split_work_ms (the same, with the finishing's cost)
//   update_ms, clear_ms, grid_ms, render_ms, floor_ms, pick_ms, marker_ms,
//   band_ms, composition_ms
//   love_frame_ms    LÖVE: wall time per frame of its main loop, without
//                    the 1 ms sleep its default loop adds to every frame
// The mesh rows: 20,000 quads built once as one mesh (beside LÖVE's Mesh
// of the same quads), and 10,000 cubes drawn as instanced copies of one
// cube and as one mesh holding all of them.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

const int kSummaries = 6;   // of 100 frames; the first is dropped

const char kEmpty[] = "";
const char kQuads[] =
    "function render()\n"
    "  beginQuadGL()\n"
    "  for i = 0, 19999 do\n"
    "    local x, z = (i % 200) * 2, math.floor(i / 200) * 2\n"
    "    colorGL(i % 256, 128, 255 - i % 256, 255)\n"
    "    vectorGL(x, 1, z) vectorGL(x + 1, 1, z) vectorGL(x + 1, 1, z + 1) vectorGL(x, 1, z + 1)\n"
    "  end\n"
    "  endGL()\n"
    "end\n";
// The same 20,000 quads built once as one mesh, drawn in one call a frame.
const char kQuadsMesh[] =
    "local vertices = {}\n"
    "for i = 0, 19999 do\n"
    "  local x, z = (i % 200) * 2, math.floor(i / 200) * 2\n"
    "  local r, b = i % 256, 255 - i % 256\n"
    "  local n = #vertices\n"
    "  vertices[n + 1] = {x, 1, z, r, 128, b, 255} vertices[n + 2] = {x + 1, 1, z, r, 128, b, 255}\n"
    "  vertices[n + 3] = {x + 1, 1, z + 1, r, 128, b, 255} vertices[n + 4] = {x, 1, z + 1, r, 128, b, 255}\n"
    "end\n"
    "local quads = newMesh(vertices, 'quads')\n"
    "function render() drawMesh(quads) end\n";
// 10,000 unit cubes on a 100 x 100 grid, coloured by place: a cube mesh
// drawn as 10,000 instanced copies (its copies' table made once), or one
// mesh holding all of them.
#define CUBE_FACES                                                              \
    "local faces = {{0,0,0, 1,0,0, 1,1,0, 0,1,0}, {0,0,1, 0,1,1, 1,1,1, 1,0,1}, {0,0,0, 0,1,0, 0,1,1, 0,0,1},\n" \
    "  {1,0,0, 1,0,1, 1,1,1, 1,1,0}, {0,0,0, 0,0,1, 1,0,1, 1,0,0}, {0,1,0, 1,1,0, 1,1,1, 0,1,1}}\n" \
    "local function cube(vertices, x, y, z, r, g, b)\n"                          \
    "  for _, f in ipairs(faces) do for c = 0, 3 do\n"                           \
    "    vertices[#vertices + 1] = {x + f[c * 3 + 1], y + f[c * 3 + 2], z + f[c * 3 + 3], r, g, b, 255}\n" \
    "  end end\n"                                                                \
    "end\n"
const char kCubesInstanced[] =
    CUBE_FACES
    "local one = {} cube(one, 0, 0, 0, 255, 255, 255)\n"
    "local mesh, copies = newMesh(one, 'quads'), {}\n"
    "for i = 0, 9999 do\n"
    "  local n = #copies\n"
    "  copies[n + 1], copies[n + 2], copies[n + 3], copies[n + 4] = (i % 100) * 4, 0, math.floor(i / 100) * 2, 1\n"
    "  copies[n + 5], copies[n + 6], copies[n + 7], copies[n + 8] = i % 256, 128, 255 - i % 256, 255\n"
    "end\n"
    "function render() drawMeshInstances(mesh, copies) end\n";
const char kCubesMesh[] =
    CUBE_FACES
    "local all = {}\n"
    "for i = 0, 9999 do cube(all, (i % 100) * 4, 0, math.floor(i / 100) * 2, i % 256, 128, 255 - i % 256) end\n"
    "local mesh = newMesh(all, 'quads')\n"
    "function render() drawMesh(mesh) end\n";

// The whole block seen from the example's camera; the edit workloads below
// add an update() that moves on every other frame (`n`).
#define BLOCK_SCENE                                                             \
    "makeVoxelBlock()\n"                                                        \
    "setCamPos(-450, 1250, -700)\n"                                             \
    "lookAt(500, 450, 500)\n"                                                   \
    "function render() beginQuadGL() renderVoxelBlock() endGL() end\n"
#define EVERY_OTHER_FRAME                                                       \
    "local frame = 0\n"                                                         \
    "function update()\n"                                                       \
    "  frame = frame + 1\n"                                                     \
    "  local n = math.floor(frame / 2)\n"
const char kBlock[] = BLOCK_SCENE;

// The block with 1,000 single-cell edits a frame from Lua: a 10-cell cube
// carved into the top of the block, added back the next frame, moving on.
const char kBlockEdits[] =
    BLOCK_SCENE EVERY_OTHER_FRAME
    "  local bi, bj = n * 37 % 90, n * 53 % 90\n"
    "  local edit = frame % 2 == 0 and carveVoxelAt or addVoxelAt\n"
    "  for i = bi, bi + 9 do for j = bj, bj + 9 do for k = 90, 99 do edit(i, j, k) end end end\n"
    "end\n";
// The block with a sphere of radius 20 (33,401 cells) carved into its top
// every other frame and added back in between.
const char kBlockSphere[] =
    BLOCK_SCENE EVERY_OTHER_FRAME
    "  local ci, cj = 20 + n * 37 % 60, 20 + n * 53 % 60\n"
    "  if frame % 2 == 0 then carveVoxelSphere(ci, cj, 99, 20) else addVoxelSphere(ci, cj, 99, 20) end\n"
    "end\n";

bool WriteFile(const QString &name, const char *text)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(text) >= 0;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Runs `program` in `folder` until `lines` lines matching `marker` came on
// the chosen channel (or a minute passed), then ends it; returns the lines.
QStringList RunFor(const QString &program, const QStringList &arguments, const QString &folder,
                   const QProcessEnvironment &environment, bool fromStderr, const QString &marker, int lines)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setReadChannel(fromStderr ? QProcess::StandardError : QProcess::StandardOutput);
    process.start(program, arguments);
    QStringList found;
    QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (found.size() < lines && clock.elapsed() < 60000 && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(1000);
        pending += fromStderr ? process.readAllStandardError() : process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            if (line.contains(marker))
                found += line;
        }
    }
    process.kill();
    process.waitForFinished(5000);
    return found;
}

// "name 1.23 ms" pairs of the summaries after the first, medians per name.
std::map<QString, double> MedianFields(const QStringList &summaries)
{
    std::map<QString, std::vector<double>> values;
    const QRegularExpression field("([a-z() -]+?) ([0-9.]+) ms");
    for (int i = 1; i < summaries.size(); ++i) {
        const QString body = summaries[i].mid(summaries[i].indexOf(':') + 1);
        for (QRegularExpressionMatchIterator it = field.globalMatch(body); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            values[m.captured(1).trimmed()].push_back(m.captured(2).toDouble());
        }
    }
    std::map<QString, double> medians;
    for (const auto &[name, list] : values)
        medians[name] = Median(list);
    return medians;
}

void BM_VelkaroFrame(benchmark::State &state, const char *production)
{
    QTemporaryDir folder;
    if (!WriteFile(folder.filePath("prod.lua"), production)) {
        state.SkipWithError("cannot write the production");
        return;
    }
    // First the frame as it runs untimed, then split into its parts.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELKARO_FRAME_TIMING", "100");
    QProcessEnvironment whole = environment;
    whole.insert("VELKARO_FRAME_TIMING_WHOLE", "1");
    QStringList wholeSummaries, summaries;
    for (auto _ : state) {
        wholeSummaries = RunFor(VELKARO_EXE, {}, folder.path(), whole, true, "frame timing", kSummaries);
        summaries = RunFor(VELKARO_EXE, {}, folder.path(), environment, true, "frame timing", kSummaries);
        if (wholeSummaries.size() < 2 || summaries.size() < 2) {
            state.SkipWithError("the program printed no frame timing");
            return;
        }
    }
    std::map<QString, double> medians = MedianFields(wholeSummaries);
    state.counters["beyond_timer_ms"] = medians["beyond timer"];
    state.counters["work_ms"] = medians["work"];
    medians = MedianFields(summaries);
    const std::pair<const char *, const char *> counters[] = {
        {"beyond timer", "split_beyond_ms"}, {"work", "split_work_ms"}, {"mean work", "split_mean_work_ms"}, {"update()", "update_ms"},
        {"clear", "clear_ms"}, {"grid", "grid_ms"}, {"render()", "render_ms"}, {"floor", "floor_ms"},
        {"pick read-back", "pick_ms"}, {"marker", "marker_ms"}, {"error band", "band_ms"},
        {"composition and swap", "composition_ms"}};
    for (const auto &[name, counter] : counters) {
        const auto it = medians.find(name);
        if (it != medians.end())
            state.counters[counter] = it->second;
    }
}
BENCHMARK_CAPTURE(BM_VelkaroFrame, empty, kEmpty)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, quads20000, kQuads)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, quads20000Mesh, kQuadsMesh)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, cubes10000Instanced, kCubesInstanced)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, cubes10000OneMesh, kCubesMesh)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, voxelBlock, kBlock)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, voxelBlockEdits1000, kBlockEdits)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_VelkaroFrame, voxelBlockSphere20, kBlockSphere)->Iterations(1)->Unit(benchmark::kSecond);

const char kLoveConf[] =
    "function love.conf(t)\n"
    "  t.window.width, t.window.height, t.window.vsync = 403, 442, 0\n"
    "  t.modules.audio, t.modules.sound, t.modules.joystick = false, false, false\n"
    "end\n";
// Frame counting in love.draw: every 100 frames the mean wall time per
// frame. LÖVE's own loop sleeps 1 ms a frame (love.timer.sleep); this one is
// that loop without the sleep, so its figure is the frame's work.
const char kLoveCounter[] =
    "io.stdout:setvbuf('no')\n"
    "function love.run()\n"
    "  if love.load then love.load() end\n"
    "  love.timer.step()\n"
    "  return function()\n"
    "    love.event.pump()\n"
    "    for name, a, b, c, d, e, f in love.event.poll() do\n"
    "      if name == 'quit' then return a or 0 end\n"
    "      love.handlers[name](a, b, c, d, e, f)\n"
    "    end\n"
    "    love.timer.step()\n"
    "    love.graphics.origin()\n"
    "    love.graphics.clear(love.graphics.getBackgroundColor())\n"
    "    love.draw()\n"
    "    love.graphics.present()\n"
    "  end\n"
    "end\n"
    "local frames, since = 0, love.timer.getTime()\n"
    "local function count()\n"
    "  frames = frames + 1\n"
    "  if frames == 100 then\n"
    "    local now = love.timer.getTime()\n"
    "    print(string.format('love frame %.3f ms', (now - since) * 1000 / frames))\n"
    "    frames, since = 0, now\n"
    "  end\n"
    "end\n";
const char kLoveEmpty[] = "function love.draw() count() end\n";
const char kLoveQuads[] =
    "function love.draw()\n"
    "  for i = 0, 19999 do\n"
    "    local x, y = (i % 200) * 2, math.floor(i / 200) * 2\n"
    "    love.graphics.setColor((i % 256) / 255, 128 / 255, (255 - i % 256) / 255, 1)\n"
    "    love.graphics.polygon('fill', x, y, x + 1, y, x + 1, y + 1, x, y + 1)\n"
    "  end\n"
    "  count()\n"
    "end\n";

// The 20,000 quads as one LÖVE Mesh (two triangles each), built in love.load.
const char kLoveQuadsMesh[] =
    "local mesh\n"
    "function love.load()\n"
    "  local v = {}\n"
    "  for i = 0, 19999 do\n"
    "    local x, y = (i % 200) * 2, math.floor(i / 200) * 2\n"
    "    local r, g, b = (i % 256) / 255, 128 / 255, (255 - i % 256) / 255\n"
    "    for _, c in ipairs({{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}}) do\n"
    "      v[#v + 1] = {x + c[1], y + c[2], 0, 0, r, g, b, 1}\n"
    "    end\n"
    "  end\n"
    "  mesh = love.graphics.newMesh(v, 'triangles', 'static')\n"
    "end\n"
    "function love.draw() love.graphics.draw(mesh) count() end\n";

void BM_LoveFrame(benchmark::State &state, const char *draw)
{
    QTemporaryDir folder;
    if (!WriteFile(folder.filePath("conf.lua"), kLoveConf) ||
        !WriteFile(folder.filePath("main.lua"), (QByteArray(kLoveCounter) + draw).constData())) {
        state.SkipWithError("cannot write the LÖVE game");
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SDL_AUDIODRIVER", "dummy");
    QStringList lines;
    for (auto _ : state) {
        lines = RunFor("love", {folder.path()}, folder.path(), environment, false, "love frame", kSummaries);
        if (lines.size() < 2) {
            state.SkipWithError("love printed no frame time (is the love package installed?)");
            return;
        }
    }
    state.counters["love_frame_ms"] = MedianFields(lines)["love frame"];
}
BENCHMARK_CAPTURE(BM_LoveFrame, empty, kLoveEmpty)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_LoveFrame, quads20000, kLoveQuads)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_LoveFrame, quads20000Mesh, kLoveQuadsMesh)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
