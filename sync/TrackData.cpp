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
    // Rows outside the keys' span end here, so that no row ever needs converting to an integer
    // (huge rows would overflow it, NaN and infinities are undefined for it). floor(row) < first.row
    // exactly when row < first.row, as key rows are whole numbers; NaN fails every comparison and
    // so counts as before the first key, +inf as after the last.
    if (!(row >= first.row)) {
        return first.value;
    }
    if (row >= last.row) {
        return last.value;
    }
    // floor(row), which fits an int here since first.row <= row < last.row.
    int r = static_cast<int>(row);
    if (r > row) {
        --r;
    }
    // The segment starts at the last key at or before r: the key findKey(track, r) finds, or, when
    // it finds none, the key before the insertion point. Searched without branches on the data,
    // because the rows of a playing show are unpredictable to the branch predictor.
    // Invariant: keys[lo].row <= r < keys[lo + size].row.
    int lo = 0;
    int size = count - 1;
    while (size > 1) {
        const int half = size / 2;
        lo = keys[lo + half].row <= r ? lo + half : lo;
        size -= half;
    }
    const int i = lo; // 0 <= i <= count - 2

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
