// A sync track in memory: its name and its keys, and the evaluation of a track at a row.
//
// A key says what the track's value is at its row and how the value moves towards the next key.
// Evaluation is pure arithmetic on never-changing data: no file access, no clock, no allocation.
// Loading keys from files is TrackFile's job; owning tracks is SyncDevice's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

// How the value moves from a key to the next one. Keys keep the raw code read from the file, so a
// key may hold a code outside this list; such a key evaluates to 0 on its segment.
enum class Interpolation : std::int32_t {
    Constant = 0,   // the key's value up to the next key
    Linear = 1,     // straight line to the next key's value
    Smoothstep = 2, // 3t^2 - 2t^3
    Quadratic = 3,  // t^2
};

struct TrackKey {
    std::int32_t row = 0;
    float value = 0.0f;
    std::int32_t interpolation = static_cast<std::int32_t>(Interpolation::Constant);
};
static_assert(sizeof(TrackKey) == 12, "TrackKey is three 32-bit fields");

struct TrackData {
    std::string name;
    // Sorted by strictly ascending row (the loader sorts and drops earlier duplicates).
    std::vector<TrackKey> keys;

    std::int32_t keyCount() const { return static_cast<std::int32_t>(keys.size()); }
};

// Lower-case name of an interpolation code ("constant", "linear", "smoothstep", "quadratic"), or
// null for a code outside the list.
const char* interpolationName(std::int32_t code);

// Index of the key at exactly `row`; when there is none, -(i + 1) where i is the index of the first
// key after `row` (the key count when `row` is after every key). Binary search over sorted keys.
int findKey(const TrackData& track, int row);

// The track's value at `row` (fraction kept): 0 for a track without keys, the first key's value
// before the first key (also for NaN and -inf), the last key's value at and after the last key
// (also for +inf), otherwise the blend of the segment that holds floor(row).
double valueAt(const TrackData& track, double row);

} // namespace Velmora
