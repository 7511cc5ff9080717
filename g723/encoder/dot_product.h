// Saturating correlation sums and filter taps with fast exact paths: when
// the magnitudes of the start value and of the doubled products add up to
// no more than MAX_32, no partial sum can saturate and plain integer sums
// give the same bits. Otherwise the operator sequence itself runs.
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

// dot_sat for inputs of magnitude at most 0x1000 and n <= 127: every plain
// sum fits 32 bits, which lets the loop run on 32-bit lanes.
inline Word32 dot_sat_small(const Word16 *x, const Word16 *y, int n) {
    std::int32_t sum = 0;
    std::int32_t mag = 0;
    for (int i = 0; i < n; i++) {
        const std::int32_t p = std::int32_t{x[i]} * y[i];
        sum += p;
        mag += p < 0 ? -p : p;
    }
    if (mag <= 0x3fffffff) return sum * 2;
    Word32 acc = 0;
    for (int i = 0; i < n; i++) acc = L_mac(acc, x[i], y[i]);
    return acc;
}

// Whether every entry has magnitude at most 0x1000 (a normalised buffer).
inline bool all_small(const Word16 *x, int n) {
    int bad = 0;
    for (int i = 0; i < n; i++) bad |= (x[i] > 0x1000) | (x[i] < -0x1000);
    return bad == 0;
}

// dot_sat(x, x, n): the terms are non-negative, so the first saturation sticks.
inline Word32 energy_sat(const Word16 *x, int n) {
    std::int64_t sum = 0;
    for (int i = 0; i < n; i++) sum += std::int32_t{x[i]} * x[i];
    sum *= 2;
    return sum > 0x7fffffff ? Word32{0x7fffffff} : static_cast<Word32>(sum);
}

// How large |acc| may be before N taps with coefficients a can saturate,
// whatever the 16-bit memory holds (negative: always possible).
template <int N>
inline std::int64_t tap_headroom(const Word16 *a) {
    std::int64_t sum = 0;
    for (int m = 0; m < N; m++) sum += a[m] < 0 ? -std::int64_t{a[m]} : std::int64_t{a[m]};
    return 0x7fffffff - 2 * sum * 32768;
}

// acc +/- sum over m of coef[m] * cur[-1 - m], m = 0 .. N-1 in that order,
// on a linear history (oldest first) that ends just before cur. The fast
// path walks the history forwards with the reversed coefficients coef_rev.
template <int N, int SIGN>
inline Word32 back_taps(Word32 acc, const Word16 *coef, const Word16 *coef_rev, const Word16 *cur,
                        std::int64_t headroom) {
    const std::int64_t mag = acc < 0 ? -std::int64_t{acc} : std::int64_t{acc};
    if (mag <= headroom) {
        const Word16 *h = cur - N;
        std::int32_t sum = 0;
        for (int k = 0; k < N; k++) sum += std::int32_t{coef_rev[k]} * h[k];
        return static_cast<Word32>(std::int64_t{acc} + SIGN * 2 * std::int64_t{sum});
    }
    for (int m = 0; m < N; m++) acc = SIGN > 0 ? L_mac(acc, coef[m], cur[-1 - m]) : L_msu(acc, coef[m], cur[-1 - m]);
    return acc;
}

}  // namespace g723
