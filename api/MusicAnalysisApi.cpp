// The music analysis functions: thin wrappers around the sound layer's
// analysis of the music stream at its music time. While nothing plays (no
// stream, or the music stopped) they give zeros. They never raise a Lua
// error and read their argument loosely.
#include "MusicAnalysisApi.h"

#include "ApiArgs.h"
#include "FSound.h" // StreamSpectrum, StreamLevel
#include "Music.h"
#include "MusicAnalysis.h"

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
    if (MusicIsPlaying())
        StreamSpectrum(gMusicStream, bands, values);
    lua_createtable(L, bands, 0);
    for (int i = 0; i < bands; ++i) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int ScriptGetMp3Level(lua_State *L)
{
    lua_pushnumber(L, MusicIsPlaying() ? StreamLevel(gMusicStream) : 0.0f);
    return 1;
}

const luaL_Reg kMusicAnalysisFunctions[] = {
    {"getMp3Spectrum", ScriptGetMp3Spectrum},
    {"getMp3Level", ScriptGetMp3Level},
    {nullptr, nullptr},
};
