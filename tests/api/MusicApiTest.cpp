// The music functions from Lua through the script host on the silent
// driver: times in single precision, play and stop on the kept channel, and
// getMp3Spectrum / getMp3Level (sizes, zeros while nothing plays, the
// analysis at the music time while it plays).
#include "FSound.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "MusicApi.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class MusicApiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() // two.mp3: a 2 s tone; music.mp3: a 3 s full-scale sweep
    {
        scratch = std::make_unique<ScratchDir>();
        ASSERT_TRUE(MakeToneMp3("two.mp3", 2.0));
        ASSERT_TRUE(MakeSynthMp3("music.mp3", {"synth", "3", "sine", "300-6000", "gain", "-n", "-0.1"}));
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    static void TearDownTestSuite() { ReleaseStreamAnalysis(); FSOUND_Close(); scratch.reset(); }
    void SetUp() override { OpenScriptHost(); RegisterScriptApi(); }
    void TearDown() override
    {
        CloseScriptHost();
        FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }
    void Open(const char *file) { ASSERT_NE(gMusicStream = FSOUND_Stream_Open(file, FSOUND_MPEGACCURATE, 0, 0), nullptr); }
    // What `chunk` prints (its first line), expecting no error.
    std::string Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
        return output.substr(0, output.find("\r\n"));
    }
    std::vector<float> Table(const char *name)
    {
        std::vector<float> values;
        lua_getglobal(gLuaState, name);
        for (int i = 1; i <= int(lua_objlen(gLuaState, -1)); ++i, lua_pop(gLuaState, 1)) {
            lua_rawgeti(gLuaState, -1, i);
            values.push_back(float(lua_tonumber(gLuaState, -1)));
        }
        lua_pop(gLuaState, 1);
        return values;
    }

    static inline std::unique_ptr<ScratchDir> scratch;
};

TEST_F(MusicApiTest, TimesCrossInSinglePrecisionAndPlayAndStopAskOnlyTheKeptChannel)
{
    EXPECT_EQ(Run("setMp3Time(3) playMp3() stopMp3() print(getMp3Time() .. ' ' .. getMp3Length() .. ' ' .. tostring(isMp3Playing()))"), "0 0 false");
    EXPECT_EQ(gMusicChannel, -1);
    Open("two.mp3");
    ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 1500));
    EXPECT_EQ(Run("print(string.format('%.17g', getMp3Time()))"), "1.5000001192092896");
    // Narrowed to float, then truncated to ms (0.7 is 0.69999999); missing or not a number: 0.
    for (const auto &[seconds, ms] : {std::pair{"0.0015", 1}, {"-0.0004", 0}, {"0.7", 699}, {"'0.25'", 250}, {"", 0},
                                      {"'soon'", 0}, {"0/0", 0}, {"1/0", 2000}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 750));
        Run("setMp3Time(" + std::string(seconds) + ")");
        EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), ms) << seconds;
    }
    EXPECT_NEAR(std::stod(Run("print(getMp3Length())")), 2.0, 0.03);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0); // behind the script's back
    EXPECT_EQ(Run("print(tostring(isMp3Playing()))"), "false");
    EXPECT_EQ(Run("playMp3() print(tostring(isMp3Playing()))"), "true");
    EXPECT_EQ(Run("stopMp3() print(tostring(isMp3Playing()) .. ' ' .. getMp3Time())"), "false 0");
    EXPECT_EQ(gMusicChannel, 0);
}

TEST_F(MusicApiTest, TheAnalysisIsZeroWhileNothingPlaysAndFollowsTheMusicTimeWhilePlaying)
{
    const auto expectSilent = [this](const char *when) {
        Run("s = getMp3Spectrum(64) level = getMp3Level()");
        EXPECT_EQ(Table("s"), std::vector<float>(64, 0.0f)) << when;
        EXPECT_EQ(Run("print(level)"), "0") << when;
    };
    expectSilent("without music");
    Open("music.mp3");
    Run("setMp3Time(1.5)");
    expectSilent("before playMp3");
    Run("playMp3()");
    for (const auto &[argument, size] : {std::pair{"", 16}, {"0", 1}, {"1e9", 256}, {"0/0", 16}, {"2.9", 2}, {"'32'", 32}, {"-1/0", 1}}) {
        Run(std::string("s = getMp3Spectrum(") + argument + ")");
        EXPECT_EQ(Table("s").size(), size_t(size)) << argument;
    }
    MusicAnalysis reference("music.mp3");
    std::vector<float> expected(32);
    for (const char *move : {"", "setMp3Time(2.2)", "setMp3Time(0.4)"}) { // values read in one chunk, retried until the time holds still
        Run(move);
        int ms = -1;
        for (int attempt = 0; attempt < 100 && ms < 0; ++attempt) {
            const int before = FSOUND_Stream_GetTime(gMusicStream);
            Run("s = getMp3Spectrum(32) level = getMp3Level()");
            ms = FSOUND_Stream_GetTime(gMusicStream) == before ? before : -1;
        }
        ASSERT_GT(ms, 0) << move;
        reference.Spectrum(ms, 32, expected.data());
        EXPECT_EQ(Table("s"), expected) << move << " at " << ms << " ms";
        lua_getglobal(gLuaState, "level");
        EXPECT_FLOAT_EQ(float(lua_tonumber(gLuaState, -1)), reference.Level(ms)) << move;
        lua_pop(gLuaState, 1);
    }
    Run("stopMp3()");
    expectSilent("after stopMp3");
}

} // namespace
