// Cost of running Lua through the script host: the per-frame "update()"
// call with and without the runaway guard, and a Lua-heavy script through
// the host against a bare lua_State and the lua5.1 program; a console
// "=expr" run with its values formatted, and the error board's per-frame
// report of a repeating error.
#include "ErrorBoard.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

void UpdateCall(benchmark::State &state, bool guarded)
{
    OpenScriptHost();
    RegisterScriptApi();
    if (!guarded)
        lua_sethook(gLuaState, nullptr, 0, 0);
    std::string output, error;
    for (auto _ : state) {
        RunScriptCaptured("update()", output, error);
        benchmark::DoNotOptimize(output);
    }
    CloseScriptHost();
}

void BM_UpdateCallGuarded(benchmark::State &state) { UpdateCall(state, true); }
void BM_UpdateCallUnguarded(benchmark::State &state) { UpdateCall(state, false); }
BENCHMARK(BM_UpdateCallGuarded);
BENCHMARK(BM_UpdateCallUnguarded);

const std::string kHeavyChunk = std::string("dofile('") + HEAVY_SCRIPT + "')";

void HeavyScriptThroughHost(benchmark::State &state, bool guarded)
{
    OpenScriptHost();
    if (!guarded)
        lua_sethook(gLuaState, nullptr, 0, 0);
    std::string output, error;
    for (auto _ : state) {
        RunScriptCaptured(kHeavyChunk, output, error);
        if (!error.empty())
            state.SkipWithError(error.c_str());
    }
    CloseScriptHost();
}
void BM_HeavyScriptThroughHost(benchmark::State &state) { HeavyScriptThroughHost(state, true); }
void BM_HeavyScriptThroughHostUnguarded(benchmark::State &state) { HeavyScriptThroughHost(state, false); }
BENCHMARK(BM_HeavyScriptThroughHost)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_HeavyScriptThroughHostUnguarded)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HeavyScriptBareState(benchmark::State &state)
{
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    for (auto _ : state) {
        if (luaL_dofile(L, HEAVY_SCRIPT) != 0)
            state.SkipWithError(lua_tostring(L, -1));
        lua_settop(L, 0);
    }
    lua_close(L);
}
BENCHMARK(BM_HeavyScriptBareState)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HeavyScriptLuaProgram(benchmark::State &state)
{
    const std::string command = std::string("lua5.1 ") + HEAVY_SCRIPT;
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("lua5.1 failed");
    }
}
BENCHMARK(BM_HeavyScriptLuaProgram)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

// A console "=expr" with three values of different kinds.
void BM_ValueCommand(benchmark::State &state)
{
    OpenScriptHost();
    std::string output, error, values;
    for (auto _ : state) {
        RunScriptCapturedValues("return 1.5, 'text', {}", output, error, values);
        benchmark::DoNotOptimize(values);
    }
    CloseScriptHost();
}
BENCHMARK(BM_ValueCommand);

// The same update() error reported every frame: a compare and a count.
void BM_ErrorBoardRepeat(benchmark::State &state)
{
    ErrorBoard board;
    const std::string error = "[string \"update()\"]:1: attempt to call global 'update' (a nil value)\n";
    for (auto _ : state) {
        board.report(ErrorBoard::Update, error);
        benchmark::DoNotOptimize(board);
    }
}
BENCHMARK(BM_ErrorBoardRepeat);

BENCHMARK_MAIN();
