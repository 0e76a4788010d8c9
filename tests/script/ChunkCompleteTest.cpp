// The console's completeness test on the script host's state.
#include "ChunkComplete.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

namespace {

// Unfinished blocks, strings, comments and calls continue; complete chunks and
// early errors do not; "=" commands are judged as the "return" they run as.
TEST(ChunkCompleteTest, OnlyChunksThatFailAtTheirEndAreIncomplete)
{
    const struct Host { Host() { OpenScriptHost(); } ~Host() { CloseScriptHost(); } } host;
    const int top = lua_gettop(gLuaState);
    const struct { const char *chunk; bool complete; } cases[] = {
        {"for i=1,3 do", false}, {"for i=1,3 do\n    print(i)", false}, {"s = [[abc", false}, {"--[[ c", false},
        {"print(", false}, {"function f()", false}, {"if x then", false}, {"=f(", false}, {"={1,", false},
        {"", true}, {"for i=1,3 do\n    print(i)\nend", true}, {"x = = 1", true}, {"x = = 1 for i=1,3 do", true},
        {"x = \"'<eof>'\" = 1", true}, // "'<eof>'" not at the message's end
        {"=", true}, {"=)", true}, {"=f(\n1)", true}, {"ran = true", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsChunkComplete(c.chunk), c.complete) << c.chunk;
    // Nothing ran and the stack is as found.
    EXPECT_EQ(lua_gettop(gLuaState), top);
    lua_getglobal(gLuaState, "ran");
    EXPECT_TRUE(lua_isnil(gLuaState, -1));
}

} // namespace
