// Correlation and convolution kernels of the excitation searches.
//
// Each kernel has a plain form that is the saturating operator sequence
// itself, and a fast form that first bounds every partial sum: when no
// partial sum can leave the 32-bit range, saturation cannot occur and plain
// integer arithmetic gives the identical result; otherwise the fast form
// falls back to the plain one. Tests check the two forms equal.
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/mac_chain.h"
#include "g723/common/types.h"

namespace g723::kernels {

using Int64 = std::int64_t;

inline constexpr Int64 WORD32_LIMIT = MAX_32;

// The saturating dot product itself is L_mac_n(0, a, b, n) in mac_chain.h.

// ---- sum of plain (undoubled) products: acc = L_add(acc, a[i] * b[i]) ----

inline Word32 dot_add_plain(const Word16 *a, const Word16 *b, int n) {
    Word32 acc = 0;
    for (int i = 0; i < n; ++i) acc = L_add(acc, Word32{a[i]} * b[i]);
    return acc;
}

inline Word32 dot_add(const Word16 *a, const Word16 *b, int n) {
    Int64 sum, mag;
    dot_and_magnitude(a, b, n, sum, mag);
    if (mag <= WORD32_LIMIT) return static_cast<Word32>(sum);
    return dot_add_plain(a, b, n);
}

// ---- with energies known: a*b sums bounded by Cauchy-Schwarz ----
// Any partial sum of a[i] b[i], in any order, is at most sqrt(Ea Eb), so
// when that fits the plain 32-bit sum is exact.

inline bool products_fit(Int64 ea, Int64 eb, Int64 limit) {
    return static_cast<double>(ea) * static_cast<double>(eb) <= 0.999 * static_cast<double>(limit) * static_cast<double>(limit);
}

// dot_add with the exact energies of a and b.
inline Word32 dot_add_known(const Word16 *a, const Word16 *b, int n, Int64 ea, Int64 eb) {
    if (products_fit(ea, eb, WORD32_LIMIT)) return sum_products(a, b, n);
    return dot_add_plain(a, b, n);
}

// ---- one step of the filtered-tap recursion ----
// dst[0] = round(L_mult(r, 0x2000)); dst[i] = round(L_mac(L_deposit_h(src[i-1]), r, h[i])).

inline void tap_step_plain(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 r, const Word16 h[SUBFRAME_LEN]) {
    dst[0] = round(L_mult(r, 0x2000));
    for (int i = 1; i < SUBFRAME_LEN; ++i) dst[i] = round(L_mac(L_deposit_h(src[i - 1]), r, h[i]));
}

// Both saturations collapse into one clamp: round(src * 2^16 + 2 r h) is
// src + floor((r h + 0x4000) / 2^15) limited to 16 bits (the saturated
// square of -32768 rounds to the same value).
inline void tap_step(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 r, const Word16 h[SUBFRAME_LEN]) {
    dst[0] = round(L_mult(r, 0x2000));
    for (int i = 1; i < SUBFRAME_LEN; ++i) {
        const Word32 v = Word32{src[i - 1]} + ((Word32{r} * h[i] + 0x4000) >> 15);
        dst[i] = static_cast<Word16>(v > MAX_16 ? MAX_16 : (v < MIN_16 ? MIN_16 : v));
    }
}

// ---- causal convolution: out[i] = round(sum over j = 0..i of x[j] h[i-j]) ----

inline void conv_round_plain(Word16 out[SUBFRAME_LEN], const Word16 *x, const Word16 h[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = 0; j <= i; ++j) acc = L_mac(acc, x[j], h[i - j]);
        out[i] = round(acc);
    }
}

inline void conv_round(Word16 out[SUBFRAME_LEN], const Word16 *x, const Word16 h[SUBFRAME_LEN]) {
    if (2 * max_abs(x, SUBFRAME_LEN) * sum_abs(h, SUBFRAME_LEN) > WORD32_LIMIT) {
        conv_round_plain(out, x, h);
        return;
    }
    // Reversed so that both operands ascend and the loop vectorises.
    Word16 hr[SUBFRAME_LEN];
    for (int i = 0; i < SUBFRAME_LEN; ++i) hr[i] = h[SUBFRAME_LEN - 1 - i];
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        const Word16 *hi = hr + SUBFRAME_LEN - 1 - i;  // hi[j] = h[i - j]
        Word32 acc = 0;
        for (int j = 0; j <= i; ++j) acc += Word32{x[j]} * hi[j];
        out[i] = round(2 * acc);
    }
}

// ---- target minus a filtered contribution ----
// x[i] = round(L_shl(a, 1)) with a = x[i] * 2^15 - sum over j = 0..i of 2 e[j] h[i-j].

inline void subtract_filtered_plain(Word16 x[SUBFRAME_LEN], const Word16 e[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 a = L_shr(L_deposit_h(x[i]), 1);
        for (int j = 0; j <= i; ++j) a = L_msu(a, e[j], h[i - j]);
        x[i] = round(L_shl(a, 1));
    }
}

inline void subtract_filtered(Word16 x[SUBFRAME_LEN], const Word16 e[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN]) {
    const Int64 bound = (Int64{max_abs(x, SUBFRAME_LEN)} << 15) + 2 * max_abs(e, SUBFRAME_LEN) * sum_abs(h, SUBFRAME_LEN);
    if (bound > WORD32_LIMIT) {
        subtract_filtered_plain(x, e, h);
        return;
    }
    Word16 hr[SUBFRAME_LEN];
    for (int i = 0; i < SUBFRAME_LEN; ++i) hr[i] = h[SUBFRAME_LEN - 1 - i];
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        const Word16 *hi = hr + SUBFRAME_LEN - 1 - i;
        Word32 acc = 0;
        for (int j = 0; j <= i; ++j) acc += Word32{e[j]} * hi[j];
        x[i] = round(L_shl(Word32{x[i]} * 32768 - 2 * acc, 1));
    }
}

// ---- backward correlation: out[i] = sum over j = i..59 of t[j] g[j-i] ----

inline void corr_back_plain(Word32 out[SUBFRAME_LEN], const Word16 t[SUBFRAME_LEN], const Word16 g[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = i; j < SUBFRAME_LEN; ++j) acc = L_mac(acc, t[j], g[j - i]);
        out[i] = acc;
    }
}

inline void corr_back(Word32 out[SUBFRAME_LEN], const Word16 t[SUBFRAME_LEN], const Word16 g[SUBFRAME_LEN]) {
    if (2 * max_abs(t, SUBFRAME_LEN) * sum_abs(g, SUBFRAME_LEN) > WORD32_LIMIT) {
        corr_back_plain(out, t, g);
        return;
    }
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = i; j < SUBFRAME_LEN; ++j) acc += Word32{t[j]} * g[j - i];
        out[i] = 2 * acc;
    }
}

// ---- autocorrelation: out[d] = sum over i = d..59 of x[i] x[i-d] ----
// Any partial sum is bounded by the energy (Cauchy-Schwarz), so an energy
// that fits leaves every lag exact.

inline void autocorr_plain(Word32 out[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN]) {
    for (int d = 0; d < SUBFRAME_LEN; ++d) {
        Word32 acc = 0;
        for (int i = d; i < SUBFRAME_LEN; ++i) acc = L_mac(acc, x[i], x[i - d]);
        out[d] = acc;
    }
}

inline void autocorr(Word32 out[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN]) {
    if (2 * sum_squares(x, SUBFRAME_LEN) > WORD32_LIMIT) {
        autocorr_plain(out, x);
        return;
    }
    for (int d = 0; d < SUBFRAME_LEN; ++d) {
        Word32 acc = 0;
        for (int i = d; i < SUBFRAME_LEN; ++i) acc += Word32{x[i]} * x[i - d];
        out[d] = 2 * acc;
    }
}

// ---- running lagged correlations: out[d][n] = sum over j = 0..n of x[j] x[j+d] ----
// For every even d = 0, 2, .., 58 and n = 0..59-d; out[d][n] keeps extract_h
// of the running sum.

using Prefix_table = Word16[SUBFRAME_LEN][SUBFRAME_LEN];

inline void prefix_corr_plain(Prefix_table &out, const Word16 x[SUBFRAME_LEN]) {
    for (int d = 0; d < SUBFRAME_LEN; d += 2) {
        Word32 acc = 0;
        for (int j = 0; j + d < SUBFRAME_LEN; ++j) {
            acc = L_mac(acc, x[j], x[j + d]);
            out[d][j] = extract_h(acc);
        }
    }
}

inline void prefix_corr(Prefix_table &out, const Word16 x[SUBFRAME_LEN]) {
    if (2 * sum_squares(x, SUBFRAME_LEN) > WORD32_LIMIT) {
        prefix_corr_plain(out, x);
        return;
    }
    for (int d = 0; d < SUBFRAME_LEN; d += 2) {
        Word32 acc = 0;
        for (int j = 0; j + d < SUBFRAME_LEN; ++j) {
            acc += 2 * (Word32{x[j]} * x[j + d]);
            out[d][j] = extract_h(acc);
        }
    }
}

}  // namespace g723::kernels
