// The music functions of the script interface. Times cross into Lua in
// seconds through single-precision arithmetic (milliseconds times 0.001f,
// seconds narrowed to float times 1000), so scripts see the same values a
// float-based engine gives: 1500 ms reads as 1.5000001192092896.
// None of them raises a Lua error or checks its arguments.
#include "MusicApi.h"

#include "ApiArgs.h"
#include "FSound.h"
#include "Music.h"
#include "Production.h"

namespace {

// Milliseconds from the sound layer as seconds, rounded to single precision.
void PushSeconds(lua_State *L, int ms)
{
    const float seconds = static_cast<float>(ms) * 0.001f;
    lua_pushnumber(L, static_cast<lua_Number>(seconds));
}

// The production's time follows a move of the music made by the script.
void TimelineFollowsMusic(lua_State *L)
{
    if (Production *production = Production::Of(L))
        production->followMusic();
}

} // namespace

int ScriptGetMp3Time(lua_State *L)
{
    PushSeconds(L, gMusicStream ? FSOUND_Stream_GetTime(gMusicStream) : 0);
    return 1;
}

int ScriptSetMp3Time(lua_State *L)
{
    if (!gMusicStream)
        return 0;
    // Missing or non-numeric: 0. The product truncates toward zero, so
    // -0.0004 s seeks to 0 ms and 0.0015 s to 1 ms; NaN seeks to 0 and
    // values beyond the int range are clamped (the sound layer clamps into
    // the track anyway).
    FSOUND_Stream_SetTime(gMusicStream, TruncateInto(ArgFloat(L, 1) * 1000.0, INT_MIN, INT_MAX, 0));
    TimelineFollowsMusic(L);
    return 0;
}

int ScriptGetMp3Length(lua_State *L)
{
    PushSeconds(L, gMusicStream ? FSOUND_Stream_GetLengthMs(gMusicStream) : 0);
    return 1;
}

int ScriptPlayMp3(lua_State *L)
{
    if (gMusicStream)
        gMusicChannel = FSOUND_Stream_Play(FSOUND_FREE, gMusicStream);
    TimelineFollowsMusic(L);
    return 0;
}

int ScriptStopMp3(lua_State *L)
{
    if (gMusicStream)
        FSOUND_Stream_Stop(gMusicStream); // gMusicChannel keeps its value
    TimelineFollowsMusic(L);
    return 0;
}

int ScriptIsMp3Playing(lua_State *L)
{
    lua_pushboolean(L, MusicIsPlaying() ? 1 : 0);
    return 1;
}

const luaL_Reg kMusicFunctions[] = {
    {"getMp3Time", ScriptGetMp3Time},
    {"setMp3Time", ScriptSetMp3Time},
    {"getMp3Length", ScriptGetMp3Length},
    {"playMp3", ScriptPlayMp3},
    {"stopMp3", ScriptStopMp3},
    {"isMp3Playing", ScriptIsMp3Playing},
    {nullptr, nullptr},
};
