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
#include "g723/common/types.h"

namespace g723::kernels {

using Int64 = std::int64_t;

inline constexpr Int64 WORD32_LIMIT = MAX_32;

inline int max_abs(const Word16 *x, int n) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const int a = x[i] < 0 ? -x[i] : x[i];
        m = a > m ? a : m;
    }
    return m;
}

inline Int64 sum_abs(const Word16 *x, int n) {
    Int64 s = 0;
    for (int i = 0; i < n; ++i) s += x[i] < 0 ? -x[i] : x[i];
    return s;
}

inline Int64 sum_squares(const Word16 *x, int n) {
    Int64 s = 0;
    for (int i = 0; i < n; ++i) s += Int64{x[i]} * x[i];
    return s;
}

// ---- saturating dot product: acc = L_mac(acc, a[i], b[i]), i ascending ----

inline Word32 dot_mac_plain(const Word16 *a, const Word16 *b, int n) {
    Word32 acc = 0;
    for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

inline Word32 dot_mac(const Word16 *a, const Word16 *b, int n) {
    Int64 sum = 0;
    Int64 mag = 0;
    for (int i = 0; i < n; ++i) {
        const Word32 p = Word32{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -Int64{p} : Int64{p};
    }
    if (2 * mag <= WORD32_LIMIT) return static_cast<Word32>(2 * sum);
    return dot_mac_plain(a, b, n);
}

// ---- sum of plain (undoubled) products: acc = L_add(acc, a[i] * b[i]) ----

inline Word32 dot_add_plain(const Word16 *a, const Word16 *b, int n) {
    Word32 acc = 0;
    for (int i = 0; i < n; ++i) acc = L_add(acc, Word32{a[i]} * b[i]);
    return acc;
}

inline Word32 dot_add(const Word16 *a, const Word16 *b, int n) {
    Int64 sum = 0;
    Int64 mag = 0;
    for (int i = 0; i < n; ++i) {
        const Word32 p = Word32{a[i]} * b[i];
        sum += p;
        mag += p < 0 ? -Int64{p} : Int64{p};
    }
    if (mag <= WORD32_LIMIT) return static_cast<Word32>(sum);
    return dot_add_plain(a, b, n);
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
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = 0; j <= i; ++j) acc += Word32{x[j]} * h[i - j];
        out[i] = round(2 * acc);
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
