// The script host: captured print, foo, error texts, the stack discipline
// and the runaway guard.
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

namespace {

class ScriptHostTest : public ::testing::Test
{
protected:
    void SetUp() override { OpenScriptHost(); }
    void TearDown() override
    {
        SetRunTimeLimit(5000);
        CloseScriptHost();
    }

    // Runs `chunk`, expecting success, and returns what it printed.
    std::string Output(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        EXPECT_EQ(error, "") << chunk;
        return output;
    }

    std::string Error(const std::string &chunk)
    {
        std::string output, error;
        RunScriptCaptured(chunk, output, error);
        return error;
    }

    double Number(const std::string &expression)
    {
        std::string output, error;
        RunScriptCaptured("print(string.format('%.17g', " + expression + "))", output, error);
        EXPECT_EQ(error, "") << expression;
        return std::stod(output);
    }
};

TEST_F(ScriptHostTest, PrintCollectsEachValueOnItsOwnLine)
{
    EXPECT_EQ(Output("print('abc', 42, nil)"), "abc\r\n42\r\nNot a string\r\n");
    EXPECT_EQ(Output("print(true, {}, print, 1.5)"),
              "Not a string\r\nNot a string\r\nNot a string\r\n1.5\r\n");
    EXPECT_EQ(Output("print()"), "");
    EXPECT_EQ(Output("print('a') print() print('b')"), "a\r\nb\r\n");
}

TEST_F(ScriptHostTest, OutputBeforeAnErrorIsKept)
{
    std::string output, error;
    RunScriptCaptured("print('before') error('boom') print('after')", output, error);
    EXPECT_EQ(output, "before\r\n");
    EXPECT_EQ(error, "[string \"print('before') error('boom') print('after'...\"]:1: boom\n");
}

TEST_F(ScriptHostTest, CompileErrorsAreReported)
{
    EXPECT_EQ(Error("x = = 1"), "[string \"x = = 1\"]:1: unexpected symbol near '='\n");
}

TEST_F(ScriptHostTest, RunsLeaveTheStackAsFound)
{
    const int top = lua_gettop(gLuaState);
    for (int i = 0; i < 10000; ++i) {
        std::string output, error;
        RunScriptCaptured("return 1, 2", output, error);
        ASSERT_EQ(output, "");
        ASSERT_EQ(error, "");
    }
    EXPECT_EQ(lua_gettop(gLuaState), top);
    Error("error('x')");
    Error("x = = 1");
    EXPECT_EQ(lua_gettop(gLuaState), top);
}

TEST_F(ScriptHostTest, FooAveragesAndSums)
{
    EXPECT_EQ(Output("print(foo(1, 2, 3))"), "2\r\n6\r\n");
    EXPECT_EQ(Output("print(foo(1, '2'))"), "1.5\r\n3\r\n");
    EXPECT_EQ(Output("local a, s = foo() print(a ~= a, s)"), "Not a string\r\n0\r\n");
    EXPECT_TRUE(std::isnan(Number("(foo())")));
    EXPECT_EQ(Error("foo(1, {}, 3)"), "incorrect argument\n");
    // The error is catchable like any other and leaves the state usable.
    EXPECT_EQ(Output("print(pcall(foo, 'x'))"), "Not a string\r\nincorrect argument\r\n");
}

TEST_F(ScriptHostTest, RedefinedPrintIsNoLongerCollected)
{
    Output("seen = {} function print(s) seen[#seen + 1] = s end");
    EXPECT_EQ(Output("print('hidden')"), "");
    EXPECT_EQ(Error("error(#seen .. seen[1], 0)"), "1hidden\n");
}

TEST_F(ScriptHostTest, CallingANilCallbackFailsAndTheNextRunStartsClean)
{
    Output("update = nil");
    std::string output, error;
    RunScriptCaptured("print('partial') update()", output, error);
    EXPECT_EQ(output, "partial\r\n");
    EXPECT_EQ(error,
              "[string \"print('partial') update()\"]:1: attempt to call global 'update' (a nil value)\n");
    EXPECT_EQ(Output("print('next')"), "next\r\n");
}

TEST_F(ScriptHostTest, OverlongOutputKeepsItsFirst1023Characters)
{
    const std::string output = Output("print(string.rep('a', 1000)) print(string.rep('b', 1000))");
    ASSERT_EQ(output.size(), 1023u);
    EXPECT_EQ(output.substr(0, 1002), std::string(1000, 'a') + "\r\n");
    EXPECT_EQ(output.substr(1002), std::string(21, 'b'));
    // The buffer keeps working afterwards.
    EXPECT_EQ(Output("print('x')"), "x\r\n");
}

TEST_F(ScriptHostTest, OverlongErrorKeepsIts1022FirstCharactersAndTheLineEnd)
{
    const std::string error = Error("error(string.rep('e', 5000), 0)");
    ASSERT_EQ(error.size(), 1023u);
    EXPECT_EQ(error, std::string(1022, 'e') + "\n");
}

TEST_F(ScriptHostTest, NonStringErrorValuesGetAReadableText)
{
    EXPECT_EQ(Error("error({})"), "(error object is a table value)\n");
    EXPECT_EQ(Error("error(nil)"), "(error object is a nil value)\n");
    EXPECT_EQ(Error("error(12, 0)"), "12\n");
}

// What a run of `chunk` with its values kept hands back.
struct ValuesRun
{
    int count;
    std::string output, error, values;
};

ValuesRun RunValues(const std::string &chunk)
{
    ValuesRun run;
    run.count = RunScriptCapturedValues(chunk, run.output, run.error, run.values);
    return run;
}

TEST_F(ScriptHostTest, ReturnedValuesAreJoinedAsTostringGivesThem)
{
    Output("t = setmetatable({}, {__tostring = function() return 'tee' end})");
    struct Case
    {
        const char *chunk;
        int count;
        const char *output, *values, *error;   // error: a part of the error text
    } const cases[] = {
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
    for (const Case &c : cases) {
        const ValuesRun run = RunValues(c.chunk);
        EXPECT_EQ(run.count, c.count) << c.chunk;
        EXPECT_EQ(run.output, c.output) << c.chunk;
        EXPECT_EQ(run.values, c.values) << c.chunk;
        if (c.error)
            EXPECT_NE(run.error.find(c.error), std::string::npos) << c.chunk << ": " << run.error;
        else
            EXPECT_EQ(run.error, "") << c.chunk;
    }
    // Tables and functions show their type and address.
    const ValuesRun run = RunValues("return {}, print");
    EXPECT_EQ(run.count, 2);
    EXPECT_TRUE(run.values.rfind("table: 0x", 0) == 0 && run.values.find("\tfunction: 0x") != std::string::npos)
        << run.values;
}

TEST_F(ScriptHostTest, ValueRunsLeaveTheStackAsFound)
{
    const int top = lua_gettop(gLuaState);
    for (const char *chunk : {"return 1, 2, 3", "return )", "error('x')", "return setmetatable({}, "
                              "{__tostring = function() error('y') end})"})
        RunValues(chunk);
    EXPECT_EQ(lua_gettop(gLuaState), top);
}

class RunawayTest : public ScriptHostTest
{
protected:
    // Runs `chunk` with a short limit and checks it was interrupted, with
    // the state still usable and what it did before the interrupt kept.
    void ExpectInterrupted(const std::string &chunk)
    {
        SetRunTimeLimit(300);
        const std::string error = Error(chunk);
        EXPECT_NE(error.find("script interrupted: it ran for more than 0.3 seconds"), std::string::npos)
            << error;
        EXPECT_EQ(Output("print(before)"), "kept\r\n");
        EXPECT_EQ(Output("print(1 + 1)"), "2\r\n");
    }
};

TEST_F(RunawayTest, DefaultLimitInterruptsAPlainLoopAfterFiveSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string error = Error("before = 'kept' while true do end");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(error, "script interrupted: it ran for more than 5 seconds\n");
    EXPECT_GE(seconds, 5.0);
    EXPECT_EQ(Output("print(before)"), "kept\r\n");
}

TEST_F(RunawayTest, PcallCannotSwallowTheInterrupt)
{
    ExpectInterrupted("before = 'kept' while true do pcall(function() while true do end end) end");
    ExpectInterrupted("before = 'kept' pcall(function() while true do end end) while true do end");
}

TEST_F(RunawayTest, ErrorHandlersCannotSwallowTheInterrupt)
{
    ExpectInterrupted("before = 'kept' while true do "
                      "xpcall(function() while true do end end, function(e) return e end) end");
}

TEST_F(RunawayTest, CoroutinesCreatedEarlierAreInterruptedToo)
{
    Output("co = coroutine.create(function() while true do end end)");
    ExpectInterrupted("before = 'kept' while true do coroutine.resume(co) end");
    Output("co2 = coroutine.wrap(function() while true do end end)");
    ExpectInterrupted("before = 'kept' co2()");
}

TEST_F(RunawayTest, InterruptedValueRunsShowTheErrorAndNoValues)
{
    SetRunTimeLimit(300);
    for (const char *chunk : {"return (function() while true do end end)()",
                              "return setmetatable({}, {__tostring = function() while true do end end})"}) {
        const ValuesRun run = RunValues(chunk);
        EXPECT_EQ(run.count, 0) << chunk;
        EXPECT_EQ(run.values, "") << chunk;
        EXPECT_NE(run.error.find("script interrupted"), std::string::npos) << chunk << ": " << run.error;
    }
    EXPECT_EQ(RunValues("return 5").values, "5");
}

TEST_F(RunawayTest, OrdinaryRunsAreUntouched)
{
    SetRunTimeLimit(2000);
    EXPECT_EQ(Output("local s = 0 for i = 1, 1000000 do s = s + i end print(s)"), "500000500000\r\n");
    EXPECT_EQ(Output("local co = coroutine.wrap(function() for i = 1, 3 do coroutine.yield(i) end end)"
                     " print(co(), co(), co())"),
              "1\r\n2\r\n3\r\n");
}

} // namespace
