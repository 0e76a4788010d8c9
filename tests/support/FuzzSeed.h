// FuzzSeed: the seed of a fuzz test. Each test has its own fixed default, so
// a run is repeatable; VELKARO_FUZZ_SEED overrides it (to explore, or to
// repeat a failure). The seed in use is printed, and a failing test names it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

inline std::uint64_t FuzzSeed(std::uint64_t defaultSeed)
{
    std::uint64_t seed = defaultSeed;
    if (const char *text = std::getenv("VELKARO_FUZZ_SEED"); text && *text)
        seed = std::strtoull(text, nullptr, 0);
    std::cout << "fuzz seed " << seed << " (repeat with VELKARO_FUZZ_SEED=" << seed << ")" << std::endl;
    ::testing::Test::RecordProperty("fuzz_seed", std::to_string(seed));
    return seed;
}

// A small random source with the helpers the fuzzers use.
class FuzzRandom
{
public:
    explicit FuzzRandom(std::uint64_t seed) : engine(seed) {}

    // Uniform in [0, n); n > 0.
    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine); }
    // True with probability 1 / n.
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    unsigned char Byte() { return static_cast<unsigned char>(Below(256)); }
    template <typename T, std::size_t N> const T &Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937_64 engine;
};

// Adds the seed to every failure message inside its scope.
#define FUZZ_TRACE(seed) SCOPED_TRACE("fuzz seed " + std::to_string(seed))
