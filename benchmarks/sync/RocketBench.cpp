// The sync editor's stream and project files at the sizes a long production
// reaches. BM_RocketKeys: 10,000 SET_KEY messages (100 tracks, keys in
// random rows) taken in at once into a session that asked for the tracks,
// from the same empty tracks each pass. BM_RocketImport / BM_RocketExport:
// a project of 100 tracks x 1,000 keys read and written.
#include "RocketFile.h"
#include "RocketProtocol.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

const int kTracks = 100;

std::string SetKey(std::uint32_t track, std::uint32_t row, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    std::string out(1, '\0');
    for (std::uint32_t v : {track, row, bits})
        for (int shift = 24; shift >= 0; shift -= 8)
            out += char(v >> shift);
    return out + char(1);
}

void Named(SyncTracks &tracks)
{
    for (int t = 0; t < kTracks; ++t)
        tracks.findOrAdd("group" + std::to_string(t % 8) + ":track." + std::to_string(t));
}

void BM_RocketKeys(benchmark::State &state)
{
    std::mt19937 random(7);
    std::string stream;
    for (int i = 0; i < 10000; ++i)
        stream += SetKey(std::uint32_t(random() % kTracks), std::uint32_t(random() % 20000), float(random() % 1000) / 8);
    for (auto _ : state) {
        state.PauseTiming();
        SyncTracks tracks;
        Named(tracks);
        RocketSession session;
        RocketRequests requests;
        session.connected();
        session.received("hello, demo!", tracks, requests);
        session.requestTracks(tracks);
        state.ResumeTiming();
        benchmark::DoNotOptimize(session.received(stream, tracks, requests));
    }
}

SyncTracks Project()
{
    SyncTracks tracks;
    Named(tracks);
    for (int t = 0; t < kTracks; ++t)
        for (int k = 0; k < 1000; ++k)
            tracks.track(t).setKey(4 * k, (k * 37 % 1000) / 7.0, Interpolation(k % 4));
    return tracks;
}

void BM_RocketExport(benchmark::State &state)
{
    const SyncTracks tracks = Project();
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatRocketXml(tracks));
}

void BM_RocketImport(benchmark::State &state)
{
    const std::string xml = FormatRocketXml(Project());
    std::string error;
    for (auto _ : state) {
        SyncTracks tracks;
        benchmark::DoNotOptimize(ParseRocketXml(xml, tracks, error));
    }
}

} // namespace

BENCHMARK(BM_RocketKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RocketExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RocketImport)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
