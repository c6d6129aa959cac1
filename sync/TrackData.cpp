#include "sync/TrackData.h"

#include <cmath>

namespace Velmora {

const char* interpolationName(std::int32_t code) {
    switch (static_cast<Interpolation>(code)) {
    case Interpolation::Constant:
        return "constant";
    case Interpolation::Linear:
        return "linear";
    case Interpolation::Smoothstep:
        return "smoothstep";
    case Interpolation::Quadratic:
        return "quadratic";
    }
    return nullptr;
}

int findKey(const TrackData& track, int row) {
    const TrackKey* keys = track.keys.data();
    int lo = 0;
    int hi = track.keyCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (keys[mid].row < row) {
            lo = mid + 1;
        } else if (keys[mid].row > row) {
            hi = mid;
        } else {
            return mid;
        }
    }
    return -lo - 1;
}

double valueAt(const TrackData& track, double row) {
    const int count = track.keyCount();
    if (count == 0) {
        return 0.0;
    }
    const TrackKey* keys = track.keys.data();
    const TrackKey& first = keys[0];
    const TrackKey& last = keys[count - 1];
    // Rows outside the keys' span never reach the conversion to int, which would overflow for
    // huge rows and is undefined for NaN and infinities. floor(row) < first.row exactly when
    // row < first.row, because rows are whole numbers; NaN fails every comparison and so counts
    // as before the first key.
    if (!(row >= first.row)) {
        return first.value;
    }
    if (row >= last.row) {
        return last.value;
    }
    const int r = static_cast<int>(std::floor(row)); // first.row <= r < last.row
    int i = findKey(track, r);
    if (i < 0) {
        i = -i - 2; // the last key before r
    }
    // Unreachable for sorted keys; keeps a hand-made unsorted track inside its array.
    if (i < 0) {
        return first.value;
    }
    if (i > count - 2) {
        return last.value;
    }

    const TrackKey& k0 = keys[i];
    const TrackKey& k1 = keys[i + 1];
    // Row differences in 64 bits: keys at both ends of the int32 range are 2^32 - 1 rows apart.
    const double span = static_cast<double>(static_cast<std::int64_t>(k1.row) - k0.row);
    const double t = (row - k0.row) / span;
    const double d = static_cast<double>(k1.value - k0.value);
    switch (static_cast<Interpolation>(k0.interpolation)) {
    case Interpolation::Constant:
        return k0.value;
    case Interpolation::Linear:
        return k0.value + t * d;
    case Interpolation::Smoothstep:
        return k0.value + (3.0 - 2.0 * t) * (t * t) * d;
    case Interpolation::Quadratic:
        return k0.value + std::pow(t, 2.0) * d;
    }
    return 0.0;
}

} // namespace Velmora
