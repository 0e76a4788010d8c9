// Tests of the six music functions, called from Lua in a bare Lua state,
// with and without a music stream.
#include "FSound.h"
#include "Media.h"
#include "MusicApi.h"
#include "ScratchDir.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <gtest/gtest.h>

#include <string>

namespace {

class SoundEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError(); }
    void TearDown() override { FSOUND_Close(); }
};

class MusicApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        L = luaL_newstate();
        luaL_openlibs(L);
        lua_register(L, "getMp3Time", ScriptGetMp3Time);
        lua_register(L, "setMp3Time", ScriptSetMp3Time);
        lua_register(L, "getMp3Length", ScriptGetMp3Length);
        lua_register(L, "playMp3", ScriptPlayMp3);
        lua_register(L, "stopMp3", ScriptStopMp3);
        lua_register(L, "isMp3Playing", ScriptIsMp3Playing);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }
    void TearDown() override
    {
        lua_close(L);
        if (gMusicStream)
            FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }

    // Runs a chunk that returns one value and gives it back through
    // tostring, or the error text prefixed with "error: ".
    std::string Eval(const std::string &chunk)
    {
        std::string result;
        if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "test") != 0 ||
            lua_pcall(L, 0, 1, 0) != 0) {
            result = std::string("error: ") + lua_tostring(L, -1);
        } else {
            lua_getglobal(L, "tostring");
            lua_insert(L, -2);
            lua_call(L, 1, 1);
            result = lua_tostring(L, -1);
        }
        lua_pop(L, 1);
        return result;
    }

    // Opens a synthesised tone of `seconds` as the music stream.
    void OpenMusic(double seconds)
    {
        ASSERT_TRUE(MakeToneMp3("music.mp3", seconds));
        gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0);
        ASSERT_NE(gMusicStream, nullptr);
    }

    ScratchDir scratch;
    lua_State *L = nullptr;
};

TEST_F(MusicApiTest, WithoutAStreamEverythingIsZeroAndNothingPlays)
{
    EXPECT_EQ(Eval("return getMp3Time()"), "0");
    EXPECT_EQ(Eval("return getMp3Length()"), "0");
    EXPECT_EQ(Eval("setMp3Time(3) return getMp3Time()"), "0");
    EXPECT_EQ(Eval("playMp3() return isMp3Playing()"), "false");
    EXPECT_EQ(gMusicChannel, -1);
    EXPECT_EQ(Eval("stopMp3() return isMp3Playing()"), "false");
    // Surplus and mistyped arguments change nothing.
    EXPECT_EQ(Eval("return getMp3Time(1, 'x', {})"), "0");
}

TEST_F(MusicApiTest, TimesCrossInSinglePrecision)
{
    OpenMusic(2.0);
    EXPECT_EQ(Eval("setMp3Time(1.5) return string.format('%.17g', getMp3Time())"),
              "1.5000001192092896");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 1500);
    EXPECT_EQ(Eval("setMp3Time(1) return string.format('%.17g', getMp3Time())"), "1");

    // Narrowed first: 0.7 becomes 0.69999999 and truncates to 699 ms.
    Eval("setMp3Time(0.7)");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 699);
    Eval("setMp3Time(0.0015)");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 1);
    Eval("setMp3Time(0.75)");
    ASSERT_EQ(FSOUND_Stream_GetTime(gMusicStream), 750);
    Eval("setMp3Time(-0.0004)");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 0);

    // Missing or non-numeric arguments read as 0.
    Eval("setMp3Time(0.75) setMp3Time()");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 0);
    Eval("setMp3Time(0.75) setMp3Time('soon')");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 0);
    Eval("setMp3Time('0.25')");
    EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), 250);

    const float expectedLength = static_cast<float>(FSOUND_Stream_GetLengthMs(gMusicStream)) * 0.001f;
    lua_getglobal(L, "getMp3Length");
    lua_call(L, 0, 1);
    const double length = lua_tonumber(L, -1);
    lua_pop(L, 1);
    EXPECT_EQ(length, static_cast<double>(expectedLength));
    EXPECT_NEAR(length, 2.0, 0.03);
}

TEST_F(MusicApiTest, OneMinuteReadsJustAboveSixty)
{
    OpenMusic(61.0);
    EXPECT_EQ(Eval("setMp3Time(60) return string.format('%.17g', getMp3Time())"),
              "60.000003814697266");
}

TEST_F(MusicApiTest, PlayStopAndTheKeptChannel)
{
    OpenMusic(2.0);
    EXPECT_EQ(Eval("return isMp3Playing()"), "false");
    EXPECT_EQ(Eval("playMp3() return isMp3Playing()"), "true");
    EXPECT_EQ(gMusicChannel, 0);
    EXPECT_EQ(Eval("stopMp3() return isMp3Playing()"), "false");
    EXPECT_EQ(gMusicChannel, 0);
    EXPECT_EQ(Eval("return getMp3Time()"), "0");

    // The kept channel is asked again: the stream started behind the
    // script's back shows up.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0);
    EXPECT_EQ(Eval("return isMp3Playing()"), "true");
    FSOUND_Stream_Stop(gMusicStream);
}

TEST_F(MusicApiTest, BeforeAnyPlayTheLibraryIsNotAsked)
{
    OpenMusic(2.0);
    // The stream plays, but the script never obtained a channel.
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0);
    ASSERT_TRUE(FSOUND_IsPlaying(0));
    EXPECT_EQ(Eval("return isMp3Playing()"), "false");
    FSOUND_Stream_Stop(gMusicStream);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SoundEnvironment);
    return RUN_ALL_TESTS();
}
