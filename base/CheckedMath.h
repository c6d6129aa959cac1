// 64-bit integer arithmetic that says when the exact result does not fit, in portable C++ (no
// compiler built-ins).
#pragma once

#include <cstdint>
#include <limits>

namespace Velmora {

// result = a + b; false (result unchanged) when the sum does not fit in 64 bits.
inline bool checkedAdd(std::int64_t a, std::int64_t b, std::int64_t& result) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    if ((b > 0 && a > most - b) || (b < 0 && a < least - b)) {
        return false;
    }
    result = a + b;
    return true;
}

// result = a * b; false (result unchanged) when the product does not fit in 64 bits.
inline bool checkedMultiply(std::int64_t a, std::int64_t b, std::int64_t& result) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    if (a == 0 || b == 0) {
        result = 0;
        return true;
    }
    if ((a == -1 && b == least) || (b == -1 && a == least)) {
        return false;
    }
    if (a > 0 ? (b > 0 ? a > most / b : b < least / a) : (b > 0 ? a < least / b : a < most / b)) {
        return false;
    }
    result = a * b;
    return true;
}

} // namespace Velmora
