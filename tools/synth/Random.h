// Deterministic pseudo-random numbers (xorshift64*, seeded through SplitMix64). The synthesizer
// uses nothing else for randomness, so a fixed seed renders the same samples on every run.
#pragma once

#include <cstdint>

namespace Synth {

class Random {
public:
    explicit Random(uint64_t seed) : state(mix(seed)) {
        if (state == 0)
            state = 0x9E3779B97F4A7C15ull;
    }

    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [-1, 1).
    double bipolar() { return uniform() * 2.0 - 1.0; }

    // SplitMix64 finaliser: spreads related seeds (1, 2, 3...) into unrelated states.
    static uint64_t mix(uint64_t x) {
        x += 0x9E3779B97F4A7C15ull;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }

private:
    uint64_t state;
};

} // namespace Synth
