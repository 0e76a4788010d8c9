// The random source of a fuzz test: a fixed default seed per test, so a run
// repeats; VELKARO_FUZZ_SEED overrides it. Failures name the seed in use.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

class FuzzRandom
{
public:
    explicit FuzzRandom(std::uint64_t defaultSeed) : seed(defaultSeed)
    {
        if (const char *text = std::getenv("VELKARO_FUZZ_SEED"); text && *text)
            seed = std::strtoull(text, nullptr, 0);
        engine.seed(seed);
    }
    std::string Trace() const { return "fuzz seed " + std::to_string(seed) + " (VELKARO_FUZZ_SEED)"; }
    // Uniform in [0, n); n > 0.
    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine); }
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    char Byte() { return char(Below(256)); }
    template <typename T, std::size_t N> const T &Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::uint64_t seed;
    std::mt19937_64 engine;
};
