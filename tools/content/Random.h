// Seeded pseudo-random numbers for the content tool: splitmix64, so that a seed gives the same
// sequence on every machine and compiler. Not for anything security-related.
#pragma once

#include <cstdint>

namespace Content {

class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}

    std::uint64_t next() {
        state += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1): the top 53 bits scaled exactly, no rounding involved.
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

    double uniform(double low, double high) { return low + (high - low) * uniform(); }

    // Uniform integer in [0, count); count must be above 0. The modulo bias is far below anything visible.
    std::uint64_t below(std::uint64_t count) { return next() % count; }

    // Standard normal deviate by the polar method (only arithmetic, square root and the tool's own
    // logarithm).
    double gaussian();

private:
    std::uint64_t state;
};

} // namespace Content
