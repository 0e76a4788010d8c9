// The sound analysis functions: thin wrappers around the frame's inputs.
// getMp3Spectrum and getMp3Level give the music's analysis at the frame's
// time (while the music plays, and while the transport holds it paused);
// getSpectrum, getLevel and getOnset the sound the frame follows (the live
// input once setSoundInput chose one, else the music). While nothing is
// heard (no stream, the music stopped or ended, a silent input) they give
// zeros. They never raise a Lua error and read their arguments loosely;
// only setSoundInput wants a string (or nil).
#include "MusicAnalysisApi.h"

#include "ApiArgs.h"
#include "MusicAnalysis.h"
#include "Production.h"

#include <string>
#include <vector>

namespace {

constexpr int kDefaultBands = 16;

} // namespace

int SpectrumBandCount(lua_State *L, int index)
{
    if (!lua_isnumber(L, index)) // missing, nil, a table, "x"
        return kDefaultBands;
    return TruncateInto(lua_tonumber(L, index), 1, kMaxSpectrumBands, kDefaultBands);
}

namespace {

// Pushes the table of the bands that `spectrum` of the run's inputs gives.
int PushSpectrum(lua_State *L, void (FrameInputs::*spectrum)(int, float *) const)
{
    const int bands = SpectrumBandCount(L, 1);
    float values[kMaxSpectrumBands] = {};
    if (Production *run = Production::Of(L))
        (run->inputs().*spectrum)(bands, values);
    lua_createtable(L, bands, 0);
    for (int i = 0; i < bands; ++i) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int PushLevel(lua_State *L, float (FrameInputs::*level)() const)
{
    Production *run = Production::Of(L);
    lua_pushnumber(L, run ? (run->inputs().*level)() : 0.0f);
    return 1;
}

} // namespace

int ScriptGetMp3Spectrum(lua_State *L)
{
    return PushSpectrum(L, &FrameInputs::musicSpectrum);
}

int ScriptGetMp3Level(lua_State *L)
{
    return PushLevel(L, &FrameInputs::musicLevel);
}

int ScriptGetSpectrum(lua_State *L)
{
    return PushSpectrum(L, &FrameInputs::spectrum);
}

int ScriptGetLevel(lua_State *L)
{
    return PushLevel(L, &FrameInputs::level);
}

int ScriptGetOnset(lua_State *L)
{
    Production *run = Production::Of(L);
    lua_pushboolean(L, run && run->inputs().onset());
    return 1;
}

int ScriptSetSpectrumSmoothing(lua_State *L)
{
    if (Production *run = Production::Of(L))
        run->inputs().setSmoothing(ArgFloat(L, 1));
    return 0;
}

int ScriptListSoundInputs(lua_State *L)
{
    Production *run = Production::Of(L);
    const std::vector<std::string> names = run ? run->inputs().inputNames() : std::vector<std::string>();
    lua_createtable(L, static_cast<int>(names.size()), 0);
    for (size_t i = 0; i < names.size(); ++i) {
        lua_pushlstring(L, names[i].data(), names[i].size());
        lua_rawseti(L, -2, static_cast<int>(i) + 1);
    }
    return 1;
}

int ScriptSetSoundInput(lua_State *L)
{
    Production *run = Production::Of(L);
    if (lua_isnoneornil(L, 1)) {
        if (run)
            run->listenToMusic();
        lua_pushboolean(L, 1);
        return 1;
    }
    size_t length = 0;
    const char *name = luaL_checklstring(L, 1, &length);
    const std::string problem = run ? run->listenTo(std::string(name, length)) : "no run to follow it";
    lua_pushboolean(L, problem.empty());
    if (problem.empty())
        return 1;
    lua_pushlstring(L, problem.data(), problem.size());
    return 2;
}

const luaL_Reg kMusicAnalysisFunctions[] = {
    {"getMp3Spectrum", ScriptGetMp3Spectrum},
    {"getMp3Level", ScriptGetMp3Level},
    {"getSpectrum", ScriptGetSpectrum},
    {"getLevel", ScriptGetLevel},
    {"getOnset", ScriptGetOnset},
    {"setSpectrumSmoothing", ScriptSetSpectrumSmoothing},
    {"listSoundInputs", ScriptListSoundInputs},
    {"setSoundInput", ScriptSetSoundInput},
    {nullptr, nullptr},
};
