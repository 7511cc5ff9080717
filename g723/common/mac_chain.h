// Chains of L_mac / L_msu, and the sums built from them, with the same
// result as the step-by-step chain but without its serial saturation checks
// where none can trigger. If the starting value plus the sum of all term
// magnitudes stays within Word32, no partial sum can saturate and the plain
// sum is exact; otherwise the chain runs step by step. (-32768 * -32768
// alone exceeds that bound, so its special case always takes the
// step-by-step path.) Every fast form here is checked against the
// step-by-step one in the tests.
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"

namespace g723 {

// Largest magnitude in v (as int: -32768 gives 32768).
inline int max_abs(const Word16 *v, int n) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const int a = v[i] < 0 ? -v[i] : v[i];
        m = a > m ? a : m;
    }
    return m;
}

inline std::int64_t sum_abs(const Word16 *v, int n) {
    std::int64_t s = 0;
    for (int i = 0; i < n; ++i) s += v[i] < 0 ? -v[i] : v[i];
    return s;
}

// Exact sum of v[i]^2 (never saturates: 2^30 per term at most).
inline std::int64_t sum_squares(const Word16 *v, int n) {
    std::int64_t s = 0;
    for (int i = 0; i < n; ++i) s += std::int64_t{v[i]} * v[i];
    return s;
}

inline std::int64_t abs64(Word32 a) { return a < 0 ? -std::int64_t{a} : std::int64_t{a}; }

// Whether every entry has magnitude at most 0x1000 (a normalised buffer).
inline bool all_small(const Word16 *v, int n) {
    int bad = 0;
    for (int i = 0; i < n; i++) bad |= (v[i] > 0x1000) | (v[i] < -0x1000);
    return bad == 0;
}

// The chains themselves: acc +/- 2 a[i] b[i], i ascending, saturating after
// every term. The fast forms below fall back to these.
inline Word32 L_mac_steps(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

inline Word32 L_msu_steps(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    for (int i = 0; i < n; ++i) acc = L_msu(acc, a[i], b[i]);
    return acc;
}

// Exact sum of a[i] b[i] and exact sum of the term magnitudes.
inline void dot_and_magnitude(const Word16 *a, const Word16 *b, int n, std::int64_t &sum, std::int64_t &mag) {
    sum = 0;
    mag = 0;
    for (int i = 0; i < n; ++i) {
        const std::int32_t p = std::int32_t{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : std::int64_t{p};
    }
}

// True when any L_mac chain from 0 over n terms of values bounded by peak
// can never saturate, so that dot_plain gives its exact result.
constexpr bool chain_cannot_saturate(int n, int peak) {
    return 2 * std::int64_t{n} * peak * peak <= MAX_32;
}

// sum a[i] b[i] in plain 32-bit arithmetic; only for sums known to fit.
inline Word32 sum_products(const Word16 *a, const Word16 *b, int n) {
    std::int32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += std::int32_t{a[i]} * b[i];
    return sum;
}

// sum 2 a[i] b[i] in plain arithmetic; only for chains known not to saturate.
inline Word32 dot_plain(const Word16 *a, const Word16 *b, int n) { return 2 * sum_products(a, b, n); }

namespace detail {

// sum a[i] b[i] and, through mag, the exact sum of the term magnitudes, or
// a cheaper upper bound n * max|a| * max|b| when that alone is within limit
// (then the sum runs on 32-bit lanes). The bound pays off where a buffer's
// overall peak is large but the two segments are not, as in the decoder's
// pitch postfilter.
inline std::int64_t dot_with_bound(const Word16 *a, const Word16 *b, int n, std::int64_t limit, std::int64_t &mag) {
    const std::int64_t bound = std::int64_t{n} * max_abs(a, n) * max_abs(b, n);
    if (bound <= limit) {
        mag = bound;
        return sum_products(a, b, n);
    }
    std::int64_t sum;
    dot_and_magnitude(a, b, n, sum, mag);
    return sum;
}

}  // namespace detail

// acc + 2 a[0] b[0] + ... + 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_mac_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    const std::int64_t room = (MAX_32 - abs64(acc)) / 2;
    std::int64_t mag;
    const std::int64_t sum = detail::dot_with_bound(a, b, n, room, mag);
    if (mag <= room) return static_cast<Word32>(acc + 2 * sum);
    return L_mac_steps(acc, a, b, n);
}

// acc - 2 a[0] b[0] - ... - 2 a[n-1] b[n-1], saturating after every term.
inline Word32 L_msu_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    const std::int64_t room = (MAX_32 - abs64(acc)) / 2;
    std::int64_t mag;
    const std::int64_t sum = detail::dot_with_bound(a, b, n, room, mag);
    if (mag <= room) return static_cast<Word32>(acc - 2 * sum);
    return L_msu_steps(acc, a, b, n);
}

// L_mac_n from 0 for inputs that pass all_small and n <= 127: every plain
// sum, magnitudes included, fits 32 bits, so one pass on 32-bit lanes does.
// (On the encoder benchmarks it measures the same as L_mac_n, whose peak
// bound catches most such inputs too.)
inline Word32 L_mac_n_small(const Word16 *a, const Word16 *b, int n) {
    std::int32_t sum = 0;
    std::int32_t mag = 0;
    for (int i = 0; i < n; i++) {
        const std::int32_t p = std::int32_t{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -p : p;
    }
    if (mag <= MAX_32 / 2) return sum * 2;
    return L_mac_steps(0, a, b, n);
}

// sum_squares for inputs that pass all_small and n <= 127, on 32-bit lanes
// (the decoder's erasure analysis runs it every frame; the 64-bit form
// costs it about a third more).
inline std::int32_t sum_squares_small(const Word16 *v, int n) {
    std::int32_t s = 0;
    for (int i = 0; i < n; ++i) s += std::int32_t{v[i]} * v[i];
    return s;
}

// L_mac_n(0, v, v, n) from the exact sum of squares: the terms are
// non-negative, so the first saturation sticks (the one saturating square,
// -32768 * -32768, already exceeds the limit).
inline Word32 energy_from_exact(std::int64_t exact) {
    return 2 * exact > MAX_32 ? MAX_32 : static_cast<Word32>(2 * exact);
}

inline Word32 energy_sat(const Word16 *v, int n) { return energy_from_exact(sum_squares(v, n)); }

}  // namespace g723
