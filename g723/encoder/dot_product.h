// Saturating correlation sums with a fast exact path: when the magnitudes of
// the doubled products add up to no more than MAX_32, no partial sum can
// saturate and a plain 64-bit sum gives the same bits.
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"

namespace g723 {

// acc = 0; acc = L_mac(acc, x[i], y[i]) for i = 0 .. n-1.
inline Word32 dot_sat(const Word16 *x, const Word16 *y, int n) {
    std::int64_t sum = 0;
    std::int64_t mag = 0;
    for (int i = 0; i < n; i++) {
        const std::int32_t p = std::int32_t{x[i]} * y[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : std::int64_t{p};
    }
    if (mag <= 0x3fffffff) return static_cast<Word32>(sum * 2);
    Word32 acc = 0;
    for (int i = 0; i < n; i++) acc = L_mac(acc, x[i], y[i]);
    return acc;
}

// dot_sat(x, x, n): the terms are non-negative, so the first saturation sticks.
inline Word32 energy_sat(const Word16 *x, int n) {
    std::int64_t sum = 0;
    for (int i = 0; i < n; i++) sum += std::int32_t{x[i]} * x[i];
    sum *= 2;
    return sum > 0x7fffffff ? Word32{0x7fffffff} : static_cast<Word32>(sum);
}

}  // namespace g723
