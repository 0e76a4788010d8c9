// The script host: captured print, foo, error texts, returned values, the
// stack discipline and the runaway guard.
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

// What a run hands back; `values` and `count` only for value runs.
struct Result
{
    std::string output, error, values;
    int count = 0;
};

Result Captured(const std::string &chunk)
{
    Result run;
    RunScriptCaptured(chunk, run.output, run.error);
    return run;
}

Result Values(const std::string &chunk)
{
    Result run;
    run.count = RunScriptCapturedValues(chunk, run.output, run.error, run.values);
    return run;
}

class ScriptHostTest : public ::testing::Test
{
protected:
    void SetUp() override { OpenScriptHost(); }
    void TearDown() override
    {
        SetRunTimeLimit(5000);
        CloseScriptHost();
    }
};

// Each chunk's printed output and error text, run in order in one state.
TEST_F(ScriptHostTest, OutputAndErrorTextsOfPrintFooAndFailures)
{
    const std::string a1000(1000, 'a'), b21(21, 'b');
    const struct { std::string chunk, output, error; } cases[] = {
        {"print('abc', 42, nil)", "abc\r\n42\r\nNot a string\r\n", ""},
        {"print(true, {}, print, 1.5)", "Not a string\r\nNot a string\r\nNot a string\r\n1.5\r\n", ""},
        {"print() print('a') print() print('b')", "a\r\nb\r\n", ""},
        {"print('before') error('boom') print('after')", "before\r\n",
         "[string \"print('before') error('boom') print('after'...\"]:1: boom\n"},
        {"x = = 1", "", "[string \"x = = 1\"]:1: unexpected symbol near '='\n"},
        {"print(foo(1, 2, 3))", "2\r\n6\r\n", ""},
        {"print(foo(1, '2'))", "1.5\r\n3\r\n", ""},
        {"local a, s = foo() print(tostring(a ~= a), s)", "true\r\n0\r\n", ""}, // NaN average, sum 0
        {"foo(1, {}, 3)", "", "incorrect argument\n"},
        {"print(pcall(foo, 'x'))", "Not a string\r\nincorrect argument\r\n", ""}, // catchable
        {"error({})", "", "(error object is a table value)\n"},
        {"error(nil)", "", "(error object is a nil value)\n"},
        {"error(12, 0)", "", "12\n"},
        {"error(string.rep('e', 5000), 0)", "", std::string(1022, 'e') + "\n"}, // 1022 characters and the line end
        {"print(string.rep('a', 1000)) print(string.rep('b', 1000))", a1000 + "\r\n" + b21, ""}, // first 1023
        {"print('x')", "x\r\n", ""}, // the buffers work on after an overflow
        {"update = nil print('partial') update()", "partial\r\n",
         "[string \"update = nil print('partial') update()\"]:1: attempt to call global 'update' (a nil value)\n"},
        {"print('next')", "next\r\n", ""},
        {"seen = {} function print(s) seen[#seen + 1] = s end", "", ""},
        {"print('hidden')", "", ""}, // a redefined print is no longer collected
        {"error(#seen .. seen[1], 0)", "", "1hidden\n"},
    };
    for (const auto &c : cases) {
        const Result run = Captured(c.chunk);
        EXPECT_EQ(run.output, c.output) << c.chunk;
        EXPECT_EQ(run.error, c.error) << c.chunk;
    }
}

// Values come back joined by tabs as tostring gives them; failures give none.
TEST_F(ScriptHostTest, ReturnedValuesAreJoinedAsTostringGivesThem)
{
    Captured("t = setmetatable({}, {__tostring = function() return 'tee' end})");
    const struct { const char *chunk; int count; const char *output, *values, *error; } cases[] = {
        {"return 1+1", 1, "", "2", nullptr},
        {"return nil, false, 'a b', 0.5", 4, "", "nil\tfalse\ta b\t0.5", nullptr},
        {"return", 0, "", "", nullptr},
        {"print('p') return 7", 1, "p\r\n", "7", nullptr},
        {"return t", 1, "", "tee", nullptr},
        {"return )", 0, "", "", "unexpected symbol near ')'"},
        {"print('p') error('late')", 0, "p\r\n", "", "late"},
        {"return setmetatable({}, {__tostring = function() error('bad tostring') end})", 0, "", "", "bad tostring"},
        {"return setmetatable({}, {__tostring = function() return {} end})", 0, "", "", "'tostring' must return a string"},
    };
    for (const auto &c : cases) {
        const Result run = Values(c.chunk);
        EXPECT_EQ(run.count, c.count) << c.chunk;
        EXPECT_EQ(run.output, c.output) << c.chunk;
        EXPECT_EQ(run.values, c.values) << c.chunk;
        EXPECT_NE(run.error.find(c.error ? c.error : ""), std::string::npos) << c.chunk << ": " << run.error;
        EXPECT_EQ(run.error.empty(), !c.error) << c.chunk;
    }
    const Result run = Values("return {}, print"); // type and address
    EXPECT_EQ(run.count, 2);
    EXPECT_TRUE(run.values.rfind("table: 0x", 0) == 0 && run.values.find("\tfunction: 0x") != std::string::npos)
        << run.values;
}

// Many runs, failing runs and value runs leave the Lua stack as found.
TEST_F(ScriptHostTest, RunsLeaveTheStackAsFound)
{
    const int top = lua_gettop(gLuaState);
    for (int i = 0; i < 10000; ++i) {
        const Result run = Captured("return 1, 2");
        ASSERT_EQ(run.output + run.error, "");
    }
    for (const char *chunk : {"error('x')", "x = = 1"})
        Captured(chunk);
    for (const char *chunk : {"return 1, 2, 3", "return )", "error('x')",
                              "return setmetatable({}, {__tostring = function() error('y') end})"})
        Values(chunk);
    EXPECT_EQ(lua_gettop(gLuaState), top);
}

// The default limit stops a plain loop after five seconds, state kept.
TEST_F(ScriptHostTest, DefaultLimitInterruptsAPlainLoopAfterFiveSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Captured("before = 'kept' while true do end").error,
              "[string \"before = 'kept' while true do end\"]:1: script interrupted: it ran for more than 5 seconds\n");
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(Captured("print(before)").output, "kept\r\n");
}

// Neither pcall, xpcall handlers nor coroutines made earlier escape the
// guard; the state stays usable and keeps what ran before the interrupt.
TEST_F(ScriptHostTest, NoWayOfCatchingOrResumingSwallowsTheInterrupt)
{
    Captured("co = coroutine.create(function() while true do end end) "
             "co2 = coroutine.wrap(function() while true do end end)");
    SetRunTimeLimit(300);
    for (const char *chunk : {"while true do pcall(function() while true do end end) end",
                              "pcall(function() while true do end end) while true do end",
                              "while true do xpcall(function() while true do end end, function(e) return e end) end",
                              "while true do coroutine.resume(co) end", "co2()"}) {
        Captured("before = nil");
        EXPECT_NE(Captured("before = 'kept' " + std::string(chunk)).error.find(
                      "script interrupted: it ran for more than 0.3 seconds"), std::string::npos) << chunk;
        EXPECT_EQ(Captured("print(before) print(1 + 1)").output, "kept\r\n2\r\n") << chunk;
    }
    for (const char *chunk : {"return (function() while true do end end)()",
                              "return setmetatable({}, {__tostring = function() while true do end end})"}) {
        const Result run = Values(chunk);
        EXPECT_EQ(run.count, 0) << chunk;
        EXPECT_EQ(run.values, "") << chunk;
        EXPECT_NE(run.error.find("script interrupted"), std::string::npos) << chunk << ": " << run.error;
    }
    EXPECT_EQ(Values("return 5").values, "5");
}

// Long but finite work, coroutines included, runs to its end under the guard.
TEST_F(ScriptHostTest, OrdinaryRunsAreUntouchedByTheGuard)
{
    SetRunTimeLimit(2000);
    EXPECT_EQ(Captured("local s = 0 for i = 1, 1000000 do s = s + i end print(s)").output, "500000500000\r\n");
    EXPECT_EQ(Captured("local co = coroutine.wrap(function() for i = 1, 3 do coroutine.yield(i) end end)"
                       " print(co(), co(), co())").output,
              "1\r\n2\r\n3\r\n");
}

} // namespace
