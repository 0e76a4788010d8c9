// The console's completeness test: does a piece of Lua text still need
// more lines (an unfinished block, string or comment)?
#pragma once

#include <string>

// Compiles `chunk` (without running it) in the script host's state.
// Returns false only for a syntax error at the very end of the text, the
// sign that more input would complete it; a chunk that compiles, a syntax
// error elsewhere and a memory error all count as complete. The Lua stack
// is left as it was found. A chunk starting with "=" is tested as "return"
// followed by the rest, the way the console runs it.
bool IsChunkComplete(const std::string &chunk);

// The Lua text the console runs for a command: "=expr" becomes
// "return expr" (its values are shown); anything else runs as it is.
std::string ConsoleChunk(const std::string &command);
