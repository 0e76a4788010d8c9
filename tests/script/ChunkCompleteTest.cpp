// The console's completeness test on the script host's state.
#include "ChunkComplete.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

namespace {

class ChunkCompleteTest : public ::testing::Test
{
protected:
    void SetUp() override { OpenScriptHost(); }
    void TearDown() override { CloseScriptHost(); }
};

TEST_F(ChunkCompleteTest, UnfinishedBlocksStringsAndCommentsAreIncomplete)
{
    EXPECT_FALSE(IsChunkComplete("for i=1,3 do"));
    EXPECT_FALSE(IsChunkComplete("for i=1,3 do\n    print(i)"));
    EXPECT_FALSE(IsChunkComplete("s = [[abc"));
    EXPECT_FALSE(IsChunkComplete("--[[ c"));
    EXPECT_FALSE(IsChunkComplete("print("));
    EXPECT_FALSE(IsChunkComplete("function f()"));
}

TEST_F(ChunkCompleteTest, CompleteChunksAndEarlyErrorsAreComplete)
{
    EXPECT_TRUE(IsChunkComplete(""));
    EXPECT_TRUE(IsChunkComplete("for i=1,3 do\n    print(i)\nend"));
    EXPECT_TRUE(IsChunkComplete("x = = 1"));
    EXPECT_TRUE(IsChunkComplete("x = = 1 for i=1,3 do"));
    // "'<eof>'" earlier in the message than its end does not count.
    EXPECT_TRUE(IsChunkComplete("x = \"'<eof>'\" = 1"));
}

TEST_F(ChunkCompleteTest, ValueCommandsContinueAsTheReturnTheyRunAs)
{
    EXPECT_FALSE(IsChunkComplete("=f("));
    EXPECT_FALSE(IsChunkComplete("={1,"));
    EXPECT_TRUE(IsChunkComplete("="));
    EXPECT_TRUE(IsChunkComplete("=)"));
    EXPECT_TRUE(IsChunkComplete("=f(\n1)"));
}

TEST_F(ChunkCompleteTest, RunsNothingAndLeavesTheStackAsFound)
{
    const int top = lua_gettop(gLuaState);
    EXPECT_TRUE(IsChunkComplete("ran = true"));
    EXPECT_FALSE(IsChunkComplete("if x then"));
    EXPECT_EQ(lua_gettop(gLuaState), top);
    lua_getglobal(gLuaState, "ran");
    EXPECT_TRUE(lua_isnil(gLuaState, -1));
    lua_pop(gLuaState, 1);
}

} // namespace
