// The console's completeness test against the compiler's own verdict: an
// incomplete chunk fails at its end ("'<eof>'").
#include "ChunkComplete.h"
#include "FuzzSeed.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Piece(FuzzRandom &random)
{
    static const char *const kPieces[] = {
        "for i=1,3 do", "while x do", "repeat", "until x", "if x then", "else", "end", "function f(", "function()",
        "local x =", "return", "do", "x = 1", "x = = 1", "print(", ")", "(", "{", "}", "[", "]", "'", "\"", "\\",
        "\\\n", "'<eof>'", "\"'<eof>'\"", "--", "--[", "\n", " ", ";", ",", "..", "...", "0x", "1e", "#", "==", "=",
        "<eof>", "and", "nil"};
    const std::size_t level = random.OneIn(50) ? 200 + random.Below(300) : random.Below(13);
    switch (random.Below(10)) {
    case 0: return "[" + std::string(level, '=') + "[";
    case 1: return "]" + std::string(level, '=') + "]";
    case 2: return "--[" + std::string(level, '=') + "[";
    case 3: return std::string(1, random.Byte());
    case 4: return std::string(1, '\0');
    default: return random.Pick(kPieces);
    }
}

TEST(ChunkComplete, AgreesWithTheCompilerAndLeavesTheStackAsFound)
{
    const struct Host { Host() { OpenScriptHost(); } ~Host() { CloseScriptHost(); } } host;
    lua_State *L = gLuaState;
    FuzzRandom random(0xc4a9c);
    SCOPED_TRACE(random.Trace());
    const std::vector<std::string> fixed = {"for i=1,3 do\n print(i)", "s = [[abc", "--[[ c", "=f(", "={1,", "",
        "x = = 1 for i=1,3 do", "x = \"'<eof>'\" = 1", "=", "=)", "=f(\n1)", "ran = true"};
    int incomplete = 0;
    std::string chunk;
    for (int n = 0; n < 40000 && !HasFailure(); ++n) {
        if (n < int(fixed.size())) {
            chunk = fixed[n];
        } else if (random.OneIn(3) && !chunk.empty()) { // the last one damaged
            const std::size_t at = random.Below(chunk.size());
            random.OneIn(2) ? chunk.resize(at) : (void)chunk.insert(at, Piece(random));
        } else {
            chunk.clear();
            for (std::size_t pieces = random.Below(12); pieces > 0; --pieces)
                chunk += Piece(random) + (random.OneIn(2) ? " " : "");
        }
        lua_pushinteger(L, 7); // the caller's value stays where it is
        const bool complete = IsChunkComplete(chunk);
        ASSERT_EQ(lua_gettop(L), 1) << chunk;
        ASSERT_EQ(lua_tointeger(L, 1), 7);
        lua_settop(L, 0);
        // The console runs "=expr" as "return expr".
        const std::string source = !chunk.empty() && chunk[0] == '=' ? "return " + chunk.substr(1) : chunk;
        const int status = luaL_loadbuffer(L, source.data(), source.size(), "=stdin");
        const std::string message = status ? lua_tostring(L, -1) : "";
        lua_settop(L, 0);
        const bool atEnd = status == LUA_ERRSYNTAX && message.size() >= 7 &&
                           message.compare(message.size() - 7, 7, "'<eof>'") == 0;
        ASSERT_EQ(complete, !atEnd) << chunk << ": " << message;
        incomplete += !complete;
    }
    EXPECT_GT(incomplete, 2000);
    EXPECT_LT(incomplete, 38000);
    lua_getglobal(L, "ran");
    EXPECT_TRUE(lua_isnil(L, -1)) << "a chunk ran";
}

} // namespace
