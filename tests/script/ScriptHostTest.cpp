// The script host (captured print, foo, error texts, returned values, the
// stack, the runaway guard) and the error board the frames report to.
#include "ErrorBoard.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Result
{
    std::string output, error, values;
    int count = 0;
};

// One run through RunScriptCapturedValues, or through RunScriptCaptured
// (the path of the frames' calls, which keeps no values).
Result Captured(const std::string &chunk, bool values = true)
{
    Result r;
    if (values)
        r.count = RunScriptCapturedValues(chunk, r.output, r.error, r.values);
    else
        RunScriptCaptured(chunk, r.output, r.error);
    return r;
}

class ScriptHostTest : public ::testing::Test
{
protected:
    void SetUp() override { OpenScriptHost(); }
    void TearDown() override { SetRunTimeLimit(5000); CloseScriptHost(); }
};

// Values are joined by tabs as tostring gives them; none when the run fails.
TEST_F(ScriptHostTest, OutputErrorTextsValuesAndTheStack)
{
    const int top = lua_gettop(gLuaState);
    const struct { std::string chunk, output, error, values; } cases[] = {
        {"print('abc', 42, nil, true, 1.5)", "abc\r\n42\r\nNot a string\r\nNot a string\r\n1.5\r\n", "", ""},
        {"print() print('a')", "a\r\n", "", ""},
        {"print(foo(1, 2, 3))", "2\r\n6\r\n", "", ""},
        {"print(foo(1, '2'))", "1.5\r\n3\r\n", "", ""},
        {"local a, s = foo() print(tostring(a ~= a), s)", "true\r\n0\r\n", "", ""}, // NaN average, sum 0
        {"foo(1, {}, 3)", "", "incorrect argument\n", ""},
        {"print(pcall(foo, 'x'))", "Not a string\r\nincorrect argument\r\n", "", ""},
        {"error({})", "", "(error object is a table value)\n", ""},
        {"error(12, 0)", "", "12\n", ""},
        {"error(string.rep('e', 5000), 0)", "", std::string(1022, 'e') + "\n", ""},
        {"print(string.rep('a', 1000)) print(string.rep('b', 1000))",
         std::string(1000, 'a') + "\r\n" + std::string(21, 'b'), "", ""},
        {"print('x')", "x\r\n", "", ""}, // usable after an overflow
        {"t = setmetatable({}, {__tostring = function() return 'tee' end})", "", "", ""},
        {"return nil, false, 'a b', 0.5", "", "", "nil\tfalse\ta b\t0.5"},
        {"return", "", "", ""},
        {"print('p') return t", "p\r\n", "", "tee"},
        {"print('p') error('late')", "p\r\n", "[string \"print('p') error('late')\"]:1: late\n", ""},
        {"return setmetatable({}, {__tostring = function() error('bad') end})", "",
         "[string \"return setmetatable({}, {__tostring = funct...\"]:1: bad\n", ""},
        {"return setmetatable({}, {__tostring = function() return {} end})", "", "'tostring' must return a string\n", ""},
        {"function print(s) seen = s end print('hidden')", "", "", ""}, // a redefined print is not collected
        {"error(seen, 0)", "", "hidden\n", ""},
    };
    for (const auto &c : cases) {
        const Result r = Captured(c.chunk);
        EXPECT_EQ(r.output, c.output) << c.chunk;
        EXPECT_EQ(r.error, c.error) << c.chunk;
        EXPECT_EQ(r.values, c.values) << c.chunk;
        EXPECT_EQ(r.count, c.values.empty() ? 0 : 1 + std::count(c.values.begin(), c.values.end(), '\t')) << c.chunk;
    }
    for (int i = 0; i < 100; ++i)
        Captured(i % 2 ? "return 1, 2" : "error('x')");
    EXPECT_EQ(lua_gettop(gLuaState), top);
}

// Neither pcall, xpcall nor coroutines escape the guard; the state keeps
// what ran before the interrupt; finite work is untouched.
TEST_F(ScriptHostTest, TheGuardInterruptsEveryRunawayAndNothingElse)
{
    Captured("co = coroutine.create(function() while true do end end) co2 = coroutine.wrap(function() while true do end end)");
    SetRunTimeLimit(300);
    for (const char *chunk : {"while true do pcall(function() while true do end end) end",
                              "while true do xpcall(function() while true do end end, function(e) return e end) end",
                              "while true do coroutine.resume(co) end", "co2()"}) {
        Captured("before = nil");
        EXPECT_NE(Captured("before = 'kept' " + std::string(chunk), false).error.find(
                      "script interrupted: it ran for more than 0.3 seconds"), std::string::npos) << chunk;
        EXPECT_EQ(Captured("print(before)").output, "kept\r\n") << chunk;
    }
    const Result r = Captured("return setmetatable({}, {__tostring = function() while true do end end})");
    EXPECT_EQ(r.count, 0);
    EXPECT_NE(r.error.find("script interrupted"), std::string::npos) << r.error;
    SetRunTimeLimit(2000);
    EXPECT_EQ(Captured("local s = 0 for i = 1, 1000000 do s = s + i end print(s)", false).output, "500000500000\r\n");
}

TEST(ErrorBoard, KeepsTheLatestErrorOfEachSourceWithItsCount)
{
    using B = ErrorBoard;
    const struct { const char *what; std::vector<std::pair<B::Source, const char *>> reports; std::vector<std::string> lines; } cases[] = {
        {"successes only", {{B::Update, ""}, {B::Production, ""}}, {}},
        {"repeats counted, line end dropped", {{B::Render, "e\n"}, {B::Render, "e\n"}, {B::Render, "e\n"}}, {"render(): e (\u00d73)"}},
        {"another message starts over", {{B::Update, "a"}, {B::Update, "a"}, {B::Update, "b"}}, {"update(): b"}},
        {"a good run clears its own source", {{B::Update, "u"}, {B::Render, "r"}, {B::Update, ""}, {B::Render, "r"}}, {"render(): r (\u00d72)"}},
        {"after clearing the count starts over", {{B::Update, "u"}, {B::Update, ""}, {B::Update, "u"}}, {"update(): u"}},
        {"breaks and tabs become spaces", {{B::Production, "x\ny\tz\r\n"}}, {"prod.lua: x y z"}},
        {"a message naming its file shows the name once", {{B::Production, "prod.lua:45: '=' expected near 'x'\n"}, {B::Update, "prod.lua:3: u"}},
         {"update(): prod.lua:3: u", "prod.lua:45: '=' expected near 'x'"}},
        {"fixed order", {{B::Production, "p"}, {B::LeftButtonUp, "m"}, {B::Render, "r"}, {B::Update, "u"}},
         {"update(): u", "render(): r", "LMBUp(): m", "prod.lua: p"}},
        {"one mouse line, the latest", {{B::LeftButtonDown, "down"}, {B::MouseMove, "move"}}, {"OnMouseMove(): move"}},
        {"a good move leaves LMBDown shown", {{B::LeftButtonDown, "down"}, {B::MouseMove, "move"}, {B::MouseMove, ""}}, {"LMBDown(): down"}},
    };
    for (const auto &c : cases) {
        ErrorBoard board;
        for (const auto &[source, error] : c.reports)
            board.report(source, error);
        std::vector<std::string> lines;
        for (const B::Line &line : board.lines())
            lines.push_back(B::format(line));
        EXPECT_EQ(lines, c.lines) << c.what;
        EXPECT_EQ(board.empty(), lines.empty()) << c.what;
    }
}

} // namespace
