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

namespace detail {

inline int max_abs(const Word16 *v, int n) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const int a = v[i] < 0 ? -v[i] : v[i];
        m = a > m ? a : m;
    }
    return m;
}

// sum a[i] b[i] and, through mag, the exact sum of the term magnitudes, or
// a cheaper upper bound n * max|a| * max|b| when that alone is small enough.
inline std::int64_t dot_with_bound(const Word16 *a, const Word16 *b, int n, std::int64_t limit, std::int64_t &mag) {
    const std::int64_t bound = std::int64_t{n} * max_abs(a, n) * max_abs(b, n);
    if (bound <= limit) {
        // Every partial sum stays below 2^30: plain 32-bit arithmetic.
        std::int32_t sum = 0;
        for (int i = 0; i < n; ++i) sum += std::int32_t{a[i]} * b[i];
        mag = bound;
        return sum;
    }
    std::int64_t sum = 0;
    mag = 0;
    for (int i = 0; i < n; ++i) {
        const std::int32_t p = std::int32_t{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : std::int64_t{p};
    }
    return sum;
}

inline std::int64_t abs64(Word32 a) { return a < 0 ? -std::int64_t{a} : std::int64_t{a}; }

}  // namespace detail

// Largest magnitude in v (as int: -32768 gives 32768).
inline int max_abs(const Word16 *v, int n) { return detail::max_abs(v, n); }

// True when any L_mac chain from 0 over n terms of values bounded by peak
// can never saturate, so that dot_plain gives its exact result.
constexpr bool chain_cannot_saturate(int n, int peak) {
    return 2 * std::int64_t{n} * peak * peak <= MAX_32;
}

// sum 2 a[i] b[i] in plain arithmetic; only for chains known not to saturate.
inline Word32 dot_plain(const Word16 *a, const Word16 *b, int n) {
    std::int32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += std::int32_t{a[i]} * b[i];
    return 2 * sum;
}

// acc + 2 a[0] b[0] + ... + 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_mac_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    const std::int64_t room = (MAX_32 - detail::abs64(acc)) / 2;
    std::int64_t mag;
    const std::int64_t sum = detail::dot_with_bound(a, b, n, room, mag);
    if (mag <= room) return static_cast<Word32>(acc + 2 * sum);
    for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

// acc - 2 a[0] b[0] - ... - 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_msu_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    const std::int64_t room = (MAX_32 - detail::abs64(acc)) / 2;
    std::int64_t mag;
    const std::int64_t sum = detail::dot_with_bound(a, b, n, room, mag);
    if (mag <= room) return static_cast<Word32>(acc - 2 * sum);
    for (int i = 0; i < n; ++i) acc = L_msu(acc, a[i], b[i]);
    return acc;
}

}  // namespace g723
