// getMp3Spectrum and getMp3Level called from Lua: loose arguments, zeros
// while nothing plays, the analysis at the music time while it plays, and
// their registration with the rest of the script interface.
#include "FSound.h"
#include "Media.h"
#include "MusicAnalysis.h"
#include "MusicAnalysisApi.h"
#include "MusicApi.h"
#include "ScratchDir.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class MusicAnalysisApiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchDir>();
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

    // Runs a chunk that must not fail; its output is dropped.
    void Run(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        ASSERT_EQ(error, "") << chunk;
    }
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
    double Global(const char *name)
    {
        lua_getglobal(L, name);
        const double value = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return value;
    }
    // Spectrum (32 bands) and level read in one chunk while the music time
    // stays on one millisecond, which the result returns.
    int ReadAtOneTime()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int before = FSOUND_Stream_GetTime(gMusicStream);
            Run("s = getMp3Spectrum(32) level = getMp3Level()");
            if (FSOUND_Stream_GetTime(gMusicStream) == before)
                return before;
        }
        ADD_FAILURE() << "the music time never held still for one read";
        return -1;
    }

    static inline std::unique_ptr<ScratchDir> scratch;
    lua_State *L = nullptr;
};

TEST_F(MusicAnalysisApiTest, RegisteredWithTheOtherScriptFunctions)
{
    for (const luaL_Reg *entry = kMusicAnalysisFunctions; entry->name; ++entry) {
        lua_getglobal(L, entry->name);
        EXPECT_EQ(lua_tocfunction(L, -1), entry->func) << entry->name;
        lua_pop(L, 1);
    }
    EXPECT_EQ(std::string(kMusicAnalysisFunctions[0].name) + " " + kMusicAnalysisFunctions[1].name,
              "getMp3Spectrum getMp3Level");
}

TEST_F(MusicAnalysisApiTest, LooseArgumentsGiveTheSizesAndNeverAnError)
{
    ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
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
    Run("level = getMp3Level('ignored', {})");
    EXPECT_GT(Global("level"), 0.5);
}

TEST_F(MusicAnalysisApiTest, ZerosWhileNothingPlays)
{
    const auto expectSilent = [this](const char *when) {
        Run("s = getMp3Spectrum(64) level = getMp3Level()");
        EXPECT_EQ(Table("s"), std::vector<float>(64, 0.0f)) << when;
        EXPECT_EQ(Global("level"), 0.0) << when;
    };
    expectSilent("without music");
    Run("playMp3()");
    expectSilent("without music, after playMp3");

    ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    Run("setMp3Time(1.5)");
    expectSilent("before playMp3, at 1.5 s");
    Run("playMp3()");
    Run("s = getMp3Spectrum(64) level = getMp3Level()");
    EXPECT_NEAR(Global("level"), 0.707, 0.02);
    Run("stopMp3()");
    expectSilent("after stopMp3");
}

TEST_F(MusicAnalysisApiTest, PlayingAndSeekingReadTheAnalysisAtTheMusicTime)
{
    ASSERT_NE(gMusicStream = FSOUND_Stream_Open("music.mp3", FSOUND_MPEGACCURATE, 0, 0), nullptr);
    MusicAnalysis reference("music.mp3");
    std::vector<float> expected(32);
    Run("playMp3()");
    for (const char *move : {"", "setMp3Time(2.2)", "setMp3Time(0.4)"}) {
        Run(move);
        if (*move == '\0')
            Run("local t = os.clock() while os.clock() - t < 0.3 do end"); // play on for a while
        const int ms = ReadAtOneTime();
        ASSERT_GT(ms, 0) << move;
        reference.Spectrum(ms, 32, expected.data());
        EXPECT_EQ(Table("s"), expected) << move << " at " << ms << " ms";
        EXPECT_FLOAT_EQ(static_cast<float>(Global("level")), reference.Level(ms)) << move;
    }
}

} // namespace
