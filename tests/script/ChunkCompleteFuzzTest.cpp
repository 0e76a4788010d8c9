// Fuzz test of the console's completeness test on random and damaged Lua
// text: long strings and comments of every level, unbalanced brackets,
// "'<eof>'" inside strings, NUL and random bytes. No call may crash or leave
// the Lua stack changed, and the answer must agree with the compiler: a chunk
// that compiles is complete, an incomplete one fails to compile at its end.
#include "ChunkComplete.h"
#include "FuzzSeed.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string LongBracket(FuzzRandom &random, bool open)
{
    // Levels 0 to 12 mostly, now and then a very deep one.
    const std::size_t level = random.OneIn(50) ? 200 + random.Below(300) : random.Below(13);
    return std::string(open ? "[" : "]") + std::string(level, '=') + (open ? "[" : "]");
}

std::string Piece(FuzzRandom &random)
{
    static const char *const kPieces[] = {
        "for i=1,3 do", "while x do", "repeat", "until x", "if x then", "else", "elseif y then", "end", "function f(",
        "function()", "local x =", "return", "do", "x = 1", "x = = 1", "print(", ")", "(", "{", "}", "[", "]", "'",
        "\"", "\\", "\\\n", "'<eof>'", "\"'<eof>'\"", "'x'", "\"a\\\"b\"", "--", "--[", "-- '<eof>'", "\n", " ", "\t",
        ";", ",", "..", "...", "0x", "1e", "1.5", "#", "~=", "==", "<eof>", "and", "or", "not", "nil"};
    switch (random.Below(10)) {
    case 0: return LongBracket(random, true);
    case 1: return LongBracket(random, false);
    case 2: return "--" + LongBracket(random, true);
    case 3: return std::string(1, char(random.Byte()));
    case 4: return std::string(1, '\0');
    default: return random.Pick(kPieces);
    }
}

std::string Chunk(FuzzRandom &random)
{
    std::string chunk;
    for (std::size_t pieces = random.Below(12); pieces > 0; --pieces)
        chunk += Piece(random) + (random.OneIn(2) ? " " : "");
    return chunk;
}

std::string Damage(FuzzRandom &random, std::string chunk)
{
    if (chunk.empty())
        return chunk;
    switch (random.Below(4)) {
    case 0: chunk.resize(random.Below(chunk.size())); break;
    case 1: chunk[random.Below(chunk.size())] = char(random.Byte()); break;
    case 2: chunk.insert(random.Below(chunk.size()), Piece(random)); break;
    default: chunk.erase(random.Below(chunk.size()), 1 + random.Below(4)); break;
    }
    return chunk;
}

TEST(ChunkCompleteFuzz, AnyTextLeavesTheStackAsFoundAndAgreesWithTheCompiler)
{
    const struct Host { Host() { OpenScriptHost(); } ~Host() { CloseScriptHost(); } } host;
    const std::uint64_t seed = FuzzSeed(0xc4a9c);
    FUZZ_TRACE(seed);
    FuzzRandom random(seed);
    lua_State *L = gLuaState;

    const int kChunks = 40000;
    int incomplete = 0;
    std::string chunk;
    for (int n = 0; n < kChunks && !HasFailure(); ++n) {
        chunk = random.OneIn(3) ? Damage(random, chunk) : Chunk(random);
        // Values left on the stack by the caller must stay where they are.
        const int depth = int(random.Below(3));
        for (int i = 0; i < depth; ++i)
            lua_pushinteger(L, i);
        const int top = lua_gettop(L);
        const bool complete = IsChunkComplete(chunk);
        ASSERT_EQ(lua_gettop(L), top) << "chunk " << n << ": " << chunk;
        for (int i = depth - 1; i >= 0; --i)
            ASSERT_EQ(lua_tointeger(L, -1 - (depth - 1 - i)), i) << "chunk " << n;
        lua_settop(L, top - depth);

        // The compiler's own verdict, on what the console runs ("=expr" is
        // "return expr").
        const std::string source = !chunk.empty() && chunk[0] == '=' ? "return " + chunk.substr(1) : chunk;
        const int status = luaL_loadbuffer(L, source.data(), source.size(), "=stdin");
        const char *message = status == 0 ? "" : lua_tostring(L, -1);
        const std::string text = message ? message : "";
        lua_pop(L, 1);
        ASSERT_TRUE(status != 0 || complete) << "compiles but counted incomplete: " << chunk;
        if (!complete) {
            ++incomplete;
            ASSERT_EQ(status, LUA_ERRSYNTAX) << chunk;
            ASSERT_TRUE(text.size() >= 7 && text.compare(text.size() - 7, 7, "'<eof>'") == 0) << text;
        }
    }
    // Both answers turned up often enough to matter.
    EXPECT_GT(incomplete, kChunks / 20);
    EXPECT_LT(incomplete, kChunks - kChunks / 20);
}

} // namespace
