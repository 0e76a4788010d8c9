// The music functions called from Lua through the script host: the six
// playback functions with and without a stream and their single-precision
// times, and getMp3Spectrum / getMp3Level (loose arguments, zeros while
// nothing plays, the analysis at the music time while it plays).
#include "FSound.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "MusicApi.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class MusicApiTest : public ::testing::Test
{
protected:
    // Encoding is slow: the files are made once. two.mp3 is a 2 s tone,
    // music.mp3 a 3 s full-scale sweep for the analysis.
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
        ASSERT_TRUE(MakeToneMp3("two.mp3", 2.0));
        ASSERT_TRUE(MakeSynthMp3("music.mp3", {"synth", "3", "sine", "300-6000", "gain", "-n", "-0.1"}));
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    static void TearDownTestSuite()
    {
        ReleaseStreamAnalysis();
        FSOUND_Close();
        scratch.reset();
    }
    void SetUp() override
    {
        OpenScriptHost();
        RegisterScriptApi();
        L = gLuaState;
    }
    void TearDown() override
    {
        CloseScriptHost();
        FSOUND_Stream_Close(gMusicStream);
        gMusicStream = nullptr;
        gMusicChannel = -1;
    }

    void Open(const char *file) { ASSERT_NE(gMusicStream = FSOUND_Stream_Open(file, FSOUND_MPEGACCURATE, 0, 0), nullptr); }
    // Runs a chunk that must not fail; what it prints, without the line end.
    std::string Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
        return output.substr(0, output.find("\r\n"));
    }
    // The value of `expression` through tostring (the host's print takes strings and numbers).
    std::string Eval(const std::string &expression) { return Run("print(tostring(" + expression + "))"); }
    // The global table `name` as numbers.
    std::vector<float> Table(const char *name)
    {
        std::vector<float> values;
        lua_getglobal(L, name);
        for (int i = 1; i <= static_cast<int>(lua_objlen(L, -1)); ++i) {
            lua_rawgeti(L, -1, i);
            values.push_back(static_cast<float>(lua_tonumber(L, -1)));
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        return values;
    }
    double Level() { return std::stod(Eval("getMp3Level()")); }

    static inline std::unique_ptr<ScratchDir> scratch;
    lua_State *L = nullptr;
};

TEST_F(MusicApiTest, TimesCrossInSinglePrecision)
{
    Open("two.mp3");
    for (const auto &[ms, seconds] : {std::pair{1500, "1.5000001192092896"}, {1000, "1"}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, ms));
        EXPECT_EQ(Eval("string.format('%.17g', getMp3Time())"), seconds);
    }
    // Narrowed to float, then truncated to ms (0.7 is 0.69999999); a missing
    // or non-numeric argument is 0.
    for (const auto &[seconds, ms] : {std::pair{"1.5", 1500}, {"0.0015", 1}, {"-0.0004", 0}, {"0.7", 699},
                                      {"'0.25'", 250}, {"", 0}, {"'soon'", 0}, {"0/0", 0},
                                      {"-1e300", 0}, {"1e300", 2000}, {"1/0", 2000}}) {
        ASSERT_TRUE(FSOUND_Stream_SetTime(gMusicStream, 750));
        Run("setMp3Time(" + std::string(seconds) + ")");
        EXPECT_EQ(FSOUND_Stream_GetTime(gMusicStream), ms) << seconds;
    }
    EXPECT_NEAR(std::stod(Eval("getMp3Length()")), 2.0, 0.03);
}

TEST_F(MusicApiTest, PlayAndStopAskOnlyTheChannelThatPlayMp3Kept)
{
    // Without a stream every getter reads 0 and nothing plays.
    EXPECT_EQ(Run("setMp3Time(3) print(getMp3Time() .. ' ' .. getMp3Length())"), "0 0");
    EXPECT_EQ(Run("playMp3() print(tostring(isMp3Playing()))"), "false");
    EXPECT_EQ(Run("stopMp3() print(tostring(isMp3Playing()))"), "false");
    EXPECT_EQ(gMusicChannel, -1);

    Open("two.mp3");
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0); // behind the script's back
    EXPECT_EQ(Eval("isMp3Playing()"), "false");
    EXPECT_EQ(Run("playMp3() print(tostring(isMp3Playing()))"), "true");
    EXPECT_EQ(gMusicChannel, 0);
    EXPECT_EQ(Run("stopMp3() print(tostring(isMp3Playing()) .. ' ' .. getMp3Time())"), "false 0");
    EXPECT_EQ(gMusicChannel, 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, gMusicStream), 0);
    EXPECT_EQ(Eval("isMp3Playing()"), "true");
}

TEST_F(MusicApiTest, SpectrumSizesFollowLooseArgumentsAndNeverRaise)
{
    Open("music.mp3");
    Run("playMp3() setMp3Time(1.5)");
    for (const auto &[argument, size] : {std::pair{"", 16}, {"nil", 16}, {"0", 1}, {"-5", 1}, {"1e9", 256},
                                         {"0/0", 16}, {"'x'", 16}, {"{}", 16}, {"true", 16}, {"1/0", 256},
                                         {"-1/0", 1}, {"2.9", 2}, {"-0.5", 1}, {"'32'", 32}, {"256.9", 256},
                                         {"1e300", 256}, {"-1e300", 1}, {"64, 'surplus'", 64}}) {
        Run(std::string("s = getMp3Spectrum(") + argument + ")");
        const std::vector<float> values = Table("s");
        EXPECT_EQ(values.size(), static_cast<size_t>(size)) << argument;
        for (const float value : values)
            ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << argument << ": " << value;
    }
    EXPECT_GT(std::stod(Eval("getMp3Level('ignored', {})")), 0.5);
}

TEST_F(MusicApiTest, AnalysisIsZeroWhileNothingPlays)
{
    const auto expectSilent = [this](const char *when) {
        Run("s = getMp3Spectrum(64)");
        EXPECT_EQ(Table("s"), std::vector<float>(64, 0.0f)) << when;
        EXPECT_EQ(Level(), 0.0) << when;
    };
    expectSilent("without music");
    Run("playMp3()");
    expectSilent("without music, after playMp3");
    Open("music.mp3");
    Run("setMp3Time(1.5)");
    expectSilent("before playMp3, at 1.5 s");
    Run("playMp3()");
    EXPECT_NEAR(Level(), 0.707, 0.02);
    Run("stopMp3()");
    expectSilent("after stopMp3");
}

// Playing on and seeking both ways: the values read in one chunk are the
// analysis at the music time (retried until that time holds still).
TEST_F(MusicApiTest, AnalysisFollowsTheMusicTimeWhilePlaying)
{
    Open("music.mp3");
    MusicAnalysis reference("music.mp3");
    std::vector<float> expected(32);
    Run("playMp3()");
    for (const char *move : {"local t = os.clock() while os.clock() - t < 0.3 do end", "setMp3Time(2.2)",
                             "setMp3Time(0.4)"}) {
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
        lua_getglobal(L, "level");
        EXPECT_FLOAT_EQ(static_cast<float>(lua_tonumber(L, -1)), reference.Level(ms)) << move;
        lua_pop(L, 1);
    }
}

} // namespace
