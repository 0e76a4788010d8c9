// The console's completeness test, beside the script host whose state it
// compiles in.
#include "ChunkComplete.h"

#include "ScriptHost.h"

#include <cstring>

bool IsChunkComplete(const std::string &chunk)
{
    static const char kEofMark[] = "'<eof>'";
    const size_t markLength = sizeof(kEofMark) - 1;

    // "=expr" is run as "return expr", so it continues as that would.
    const std::string text = ConsoleChunk(chunk);
    bool incomplete = false;
    if (luaL_loadbuffer(gLuaState, text.data(), text.size(), "=stdin") == LUA_ERRSYNTAX) {
        size_t length = 0;
        const char *message = lua_tolstring(gLuaState, -1, &length);
        // Incomplete exactly when the first "'<eof>'" is the message's end.
        const char *first = message ? std::strstr(message, kEofMark) : nullptr;
        incomplete = first && length >= markLength && first == message + length - markLength;
    }
    lua_settop(gLuaState, -2);
    return !incomplete;
}

std::string ConsoleChunk(const std::string &command)
{
    return !command.empty() && command[0] == '=' ? "return " + command.substr(1) : command;
}
