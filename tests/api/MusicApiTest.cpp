// The six music functions called from Lua, with and without a music stream.
#include "FSound.h"
#include "Media.h"
#include "MusicApi.h"
#include "ScratchDir.h"

#include <lua.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

class MusicApiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError(); }
    static void TearDownTestSuite() { FSOUND_Close(); }
    void SetUp() override
    {
        luaL_openlibs(L);
        for (const luaL_Reg *function = kMusicFunctions; function->name; ++function)
            lua_register(L, function->name, function->func);
    }
    void TearDown() override
    {
        lua_close(L);
        FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }

    // The chunk's one result through tostring, or "error: " and the message.
    std::string Eval(const std::string &chunk)
    {
        const bool failed = luaL_dostring(L, ("return tostring((function() " + chunk + " end)())").c_str()) != 0;
        const std::string result = (failed ? "error: " : "") + std::string(lua_tostring(L, -1));
        lua_pop(L, 1);
        return result;
    }

    void OpenTwoSeconds()
    {
        ASSERT_TRUE(MakeToneMp3("music.mp3", 2.0));
        ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    }

    ScratchDir scratch;
    lua_State *L = luaL_newstate();
};

TEST_F(MusicApiTest, TimesCrossInSinglePrecision)
{
    OpenTwoSeconds();
    for (const auto &[ms, seconds] : {std::pair{1500, "1.5000001192092896"}, {1000, "1"}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, ms));
        EXPECT_EQ(Eval("return string.format('%.17g', getMp3Time())"), seconds);
    }
    // Narrowed to float, then truncated to ms (0.7 is 0.69999999); a missing
    // or non-numeric argument is 0.
    for (const auto &[seconds, ms] : {std::pair{"1.5", 1500}, {"0.0015", 1}, {"-0.0004", 0}, {"0.7", 699},
                                      {"'0.25'", 250}, {"", 0}, {"'soon'", 0}, {"0/0", 0},
                                      {"-1e300", 0}, {"1e300", 2000}, {"1/0", 2000}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 750));
        EXPECT_EQ(Eval("setMp3Time(" + std::string(seconds) + ") return 'done'"), "done");
        EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), ms) << seconds;
    }
    EXPECT_NEAR(std::stod(Eval("return getMp3Length()")), 2.0, 0.03);
}

TEST_F(MusicApiTest, PlayAndStopAskOnlyTheChannelThatPlayMp3Kept)
{
    // Without a stream every getter reads 0 and nothing plays.
    EXPECT_EQ(Eval("setMp3Time(3) return getMp3Time() .. ' ' .. getMp3Length()"), "0 0");
    EXPECT_EQ(Eval("playMp3() return isMp3Playing()"), "false");
    EXPECT_EQ(Eval("stopMp3() return isMp3Playing()"), "false");
    EXPECT_EQ(gMusicChannel, -1);

    OpenTwoSeconds();
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0); // behind the script's back
    EXPECT_EQ(Eval("return isMp3Playing()"), "false");
    EXPECT_EQ(Eval("playMp3() return isMp3Playing()"), "true");
    EXPECT_EQ(gMusicChannel, 0);
    EXPECT_EQ(Eval("stopMp3() return isMp3Playing()"), "false");
    EXPECT_EQ(Eval("return getMp3Time()"), "0");
    EXPECT_EQ(gMusicChannel, 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0);
    EXPECT_EQ(Eval("return isMp3Playing()"), "true");
}

} // namespace
