// sync(name) as a production calls it: from Lua, 100 tracks of 1,000 keys
// each (linear between keys 4 rows apart), every track read once a frame.
// Reported: time per sync() call ("per_call"), beside the same loop calling
// getRow(), the cheapest function there is, to show the Lua call's own share.
#include "Production.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <benchmark/benchmark.h>
#include <lua.hpp>

#include <random>
#include <string>

namespace {

const int kTracks = 100;
const int kKeys = 1000;

// Arg 0: the row moves on by one 60 fps frame per pass. Arg 1: it jumps to
// a random row every pass (a scrub, the worst case for the cursor).
void Run(benchmark::State &state, const char *function)
{
    Production production;
    production.openScriptHost(RegisterScriptApi);
    for (int t = 0; t < kTracks; ++t) {
        SyncTrack *track = production.sync().tracks().findOrAdd("track." + std::to_string(t));
        for (int k = 0; k < kKeys; ++k)
            track->setKey(4 * k, k % 7);
        for (int k = 0; k < kKeys; ++k)
            track->cycleInterpolation(4 * k);
    }
    RunScript("names = {} for i = 0, 99 do names[i + 1] = 'track.' .. i end\n"
              "function frame() local s = 0 for i = 1, 100 do s = s + " + std::string(function) +
              "(names[i]) end return s end");
    Timeline &timeline = production.timeline();
    timeline.useVirtualClock(0.0);
    std::mt19937 random(3);
    const double end = timeline.secondsOfRow(4 * kKeys);
    lua_State *L = gLuaState;
    for (auto _ : state) {
        if (state.range(0) == 0)
            timeline.advanceVirtualClock(1.0 / 60.0);
        else
            timeline.seek(std::uniform_real_distribution<double>(0.0, end)(random));
        timeline.beginFrame();
        lua_getglobal(L, "frame");
        lua_call(L, 0, 1);
        benchmark::DoNotOptimize(lua_tonumber(L, -1));
        lua_pop(L, 1);
    }
    state.counters["per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * kTracks,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Sync(benchmark::State &state) { Run(state, "sync"); }
void BM_GetRowBaseline(benchmark::State &state) { Run(state, "getRow"); }

} // namespace

BENCHMARK(BM_Sync)->Arg(0)->Arg(1);
BENCHMARK(BM_GetRowBaseline)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
