// Runs of L_mac / L_msu with the same result as the step-by-step chain but
// without its serial saturation checks where none can trigger. If the
// starting value plus the sum of all term magnitudes stays within Word32,
// no partial sum can saturate and the plain sum is exact; otherwise the
// chain runs step by step. (-32768 * -32768 alone exceeds that bound, so its
// special case always takes the step-by-step path.)
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"

namespace g723 {

// acc + 2 a[0] b[0] + ... + 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_mac_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    std::int64_t sum = 0, mag = 0;
    for (int i = 0; i < n; ++i) {
        const std::int32_t p = std::int32_t{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : std::int64_t{p};
    }
    const std::int64_t start = acc < 0 ? -std::int64_t{acc} : std::int64_t{acc};
    if (start + 2 * mag <= MAX_32) return static_cast<Word32>(acc + 2 * sum);
    for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

// acc - 2 a[0] b[0] - ... - 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_msu_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    std::int64_t sum = 0, mag = 0;
    for (int i = 0; i < n; ++i) {
        const std::int32_t p = std::int32_t{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : std::int64_t{p};
    }
    const std::int64_t start = acc < 0 ? -std::int64_t{acc} : std::int64_t{acc};
    if (start + 2 * mag <= MAX_32) return static_cast<Word32>(acc - 2 * sum);
    for (int i = 0; i < n; ++i) acc = L_msu(acc, a[i], b[i]);
    return acc;
}

}  // namespace g723
