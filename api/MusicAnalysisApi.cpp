// The music analysis functions: thin wrappers around the frame's inputs,
// the music's analysis at the frame's time (while the music plays, and
// while the transport holds it paused). While nothing is heard (no
// stream, the music stopped or ended) they give zeros. They never raise a
// Lua error and read their argument loosely.
#include "MusicAnalysisApi.h"

#include "ApiArgs.h"
#include "MusicAnalysis.h"
#include "Production.h"

namespace {

constexpr int kDefaultBands = 16;

} // namespace

int SpectrumBandCount(lua_State *L, int index)
{
    if (!lua_isnumber(L, index)) // missing, nil, a table, "x"
        return kDefaultBands;
    return TruncateInto(lua_tonumber(L, index), 1, kMaxSpectrumBands, kDefaultBands);
}

int ScriptGetMp3Spectrum(lua_State *L)
{
    const int bands = SpectrumBandCount(L, 1);
    float values[kMaxSpectrumBands] = {};
    if (Production *run = Production::Of(L))
        run->inputs().spectrum(bands, values);
    lua_createtable(L, bands, 0);
    for (int i = 0; i < bands; ++i) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int ScriptGetMp3Level(lua_State *L)
{
    Production *run = Production::Of(L);
    lua_pushnumber(L, run ? run->inputs().level() : 0.0f);
    return 1;
}

const luaL_Reg kMusicAnalysisFunctions[] = {
    {"getMp3Spectrum", ScriptGetMp3Spectrum},
    {"getMp3Level", ScriptGetMp3Level},
    {nullptr, nullptr},
};
