// The music analysis functions: thin wrappers around the sound layer's
// analysis of the music stream at its music time. While nothing plays (no
// stream, or the music stopped) they give zeros. They never raise a Lua
// error and read their argument loosely.
#include "MusicAnalysisApi.h"

#include "FSound.h"
#include "MusicAnalysis.h"
#include "MusicApi.h"

#include <cmath>

namespace {

constexpr int kDefaultBands = 16;

// True while the music plays, by the same test as isMp3Playing.
bool MusicPlays()
{
    return gMusicStream && gMusicChannel != -1 && (FSOUND_IsPlaying(gMusicChannel) & 0xff) != 0;
}

} // namespace

int SpectrumBandCount(lua_State *L, int index)
{
    if (!lua_isnumber(L, index)) // missing, nil, a table, "x"
        return kDefaultBands;
    const double n = std::trunc(lua_tonumber(L, index));
    if (std::isnan(n))
        return kDefaultBands;
    // Compared as doubles before converting: huge values and infinities
    // never reach the int conversion.
    return n < 1.0 ? 1 : n > kMaxSpectrumBands ? kMaxSpectrumBands : static_cast<int>(n);
}

int ScriptGetMp3Spectrum(lua_State *L)
{
    const int bands = SpectrumBandCount(L, 1);
    float values[kMaxSpectrumBands] = {};
    if (MusicPlays())
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
    lua_pushnumber(L, MusicPlays() ? StreamLevel(gMusicStream) : 0.0f);
    return 1;
}

const luaL_Reg kMusicAnalysisFunctions[] = {
    {"getMp3Spectrum", ScriptGetMp3Spectrum},
    {"getMp3Level", ScriptGetMp3Level},
    {nullptr, nullptr},
};
