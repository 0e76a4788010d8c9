// The controllers' hand-over, as a run's tick does it: 167 messages (10,000
// a second at 60 frames a second) waiting on the queue, taken into the
// frame's inputs, the values updated, and (Arg 1) OnMidi / OnOsc called
// once per message. Reported per frame ("per_frame"), beside a tick with no
// messages (Arg 0 of the empty case) to show the tick's own share.
#include "Production.h"
#include "ScriptApi.h"
#include "ScriptHost.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

const int kMessagesPerFrame = 10000 / 60 + 1;

ControlMessage Message(int i, bool osc)
{
    ControlMessage m;
    if (osc) {
        m.kind = ControlMessage::Osc;
        std::snprintf(m.text, sizeof(m.text), "/fader/%d", i % 8);
        m.argCount = 1;
        m.type[0] = 'n';
        m.number[0] = (i % 100) / 100.0;
    } else {
        m.status = 0xB0;
        m.data1 = static_cast<std::uint8_t>(i % 8);
        m.data2 = static_cast<std::uint8_t>(i % 128);
    }
    return m;
}

// Arg 0: 0 no messages, 1 MIDI, 2 OSC. Arg 1: callbacks defined.
void HandOver(benchmark::State &state)
{
    Production production;
    production.openScriptHost(RegisterScriptApi);
    if (state.range(1))
        RunScript("n = 0 function OnMidi(s, a, b) n = n + b end function OnOsc(path, v) n = n + v end");
    const int kind = static_cast<int>(state.range(0));
    std::vector<ControlMessage> messages;
    for (int i = 0; kind != 0 && i < kMessagesPerFrame; ++i)
        messages.push_back(Message(i, kind == 2));
    for (auto _ : state) {
        state.PauseTiming();
        for (const ControlMessage &m : messages)
            production.controllers().queue().push(m);
        state.ResumeTiming();
        production.tick();
    }
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(HandOver)->Args({0, 0})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
