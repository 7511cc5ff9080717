// The exact fast forms of the saturating operator chains: multiply-
// accumulate runs, the excitation searches' correlation and convolution
// kernels, and the short filter-tap runs of the recursive filters.
//
// Each fast form first bounds its partial sums: when none can leave the
// 32-bit range, saturation cannot occur and plain integer arithmetic gives
// the same bits; otherwise it runs the chain step by step. Every fast form
// has its plain twin here (the `_steps`/`_plain` form); the tests check
// each pair equal. Building with QRXC_PLAIN_OPS compiles every fast form as
// its plain twin, so that the conformance vectors check the whole layer.
#pragma once

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/kernel_set.h"
#include "g723/common/types.h"

#if defined(__SSE2__) && !defined(QRXC_PLAIN_OPS)
#include "g723/common/x86/fast_ops_sse2.h"
#endif

namespace qrxc::g723 {

#if defined(QRXC_PLAIN_OPS)
inline constexpr bool PLAIN_OPS = true;
#else
inline constexpr bool PLAIN_OPS = false;
#endif

// ---- bounds ----

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

// sum_squares on 32-bit lanes, for n <= 127 values of magnitude at most
// 0x1000 (a normalised buffer). The decoder's erasure analysis runs it
// every frame; the 64-bit form costs it about a third more.
inline std::int32_t sum_squares_small(const Word16 *v, int n) {
    if constexpr (PLAIN_OPS) return static_cast<std::int32_t>(sum_squares(v, n));
    std::int32_t s = 0;
    for (int i = 0; i < n; ++i) s += std::int32_t{v[i]} * v[i];
    return s;
}

inline std::int64_t abs64(Word32 a) { return a < 0 ? -std::int64_t{a} : std::int64_t{a}; }

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
// can never saturate.
constexpr bool chain_cannot_saturate(int n, int peak) { return 2 * std::int64_t{n} * peak * peak <= MAX_32; }

// Whether every partial sum of a[i] b[i], in any order, stays within
// limit, given the exact energies ea and eb of a and b: by Cauchy-Schwarz
// each is at most sqrt(ea eb), so ea eb <= limit^2 suffices. Below 2^31
// each, the product fits 64 bits; larger ones take the division, which
// keeps it from overflowing (and is the slower test by far).
constexpr bool products_fit(std::int64_t ea, std::int64_t eb, Word32 limit = MAX_32) {
    constexpr std::int64_t SMALL = std::int64_t{1} << 31;
    if (ea < SMALL && eb < SMALL) return ea * eb <= std::int64_t{limit} * limit;
    return ea == 0 || eb <= std::int64_t{limit} * limit / ea;
}

// sum a[i] b[i] in plain 32-bit arithmetic; only for sums known to fit.
inline Word32 sum_products(const Word16 *a, const Word16 *b, int n) {
    std::int32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += std::int32_t{a[i]} * b[i];
    return sum;
}

// ---- multiply-accumulate chains ----

// acc + 2 a[i] b[i], i ascending, saturating after every term.
inline Word32 L_mac_steps(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

// L_mac_n(0, a, b, n) for a chain the caller has shown cannot saturate.
inline Word32 L_mac_n_nosat(const Word16 *a, const Word16 *b, int n) {
    if constexpr (PLAIN_OPS) return L_mac_steps(0, a, b, n);
    return 2 * sum_products(a, b, n);
}

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
// If the start plus all term magnitudes stays within Word32, no partial sum
// can saturate. (-32768 * -32768 alone exceeds that bound, so its special
// case always takes the step-by-step path.)
inline Word32 L_mac_n(Word32 acc, const Word16 *a, const Word16 *b, int n) {
    if constexpr (PLAIN_OPS) return L_mac_steps(acc, a, b, n);
    const std::int64_t room = (MAX_32 - abs64(acc)) / 2;
    std::int64_t mag;
    const std::int64_t sum = detail::dot_with_bound(a, b, n, room, mag);
    if (mag <= room) return static_cast<Word32>(acc + 2 * sum);
    return L_mac_steps(acc, a, b, n);
}

// L_mac_n(0, v, v, n) from the exact sum of squares: the terms are
// non-negative, so the first saturation sticks (the one saturating square,
// -32768 * -32768, already exceeds the limit).
inline Word32 energy_from_exact(std::int64_t exact) {
    return 2 * exact > MAX_32 ? MAX_32 : static_cast<Word32>(2 * exact);
}

// L_mac_n(0, v, v, n).
inline Word32 energy_sat(const Word16 *v, int n) {
    if constexpr (PLAIN_OPS) return L_mac_steps(0, v, v, n);
    return energy_from_exact(sum_squares(v, n));
}

// L_mac_n(0, v, v, n) where exact = sum_squares(v, n) is already known.
inline Word32 energy_known(const Word16 *v, int n, std::int64_t exact) {
    if constexpr (PLAIN_OPS) return L_mac_steps(0, v, v, n);
    return energy_from_exact(exact);
}

// Energy of 60 samples pre-scaled by 1/4: L_mac(acc, x >> 2, x >> 2) over
// the subframe.
inline Word32 energy_60_steps(const Word16 *x) {
    Word32 acc = 0;
    for (int i = 0; i < SUBFRAME_LEN; ++i)
        acc = L_mac(acc, static_cast<Word16>(x[i] >> 2), static_cast<Word16>(x[i] >> 2));
    return acc;
}

// The terms are never negative, so the saturating sum is the exact sum
// clamped.
// Each square is at most 2^26, so the sixty of them fit an unsigned 32-bit
// sum, which vectorises where a 64-bit one does not.
inline Word32 energy_60(const Word16 *x) {
    if constexpr (PLAIN_OPS) return energy_60_steps(x);
    std::uint32_t acc = 0;
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        const Word32 y = x[i] >> 2;
        acc += static_cast<std::uint32_t>(y * y);
    }
    const std::uint64_t e = 2 * std::uint64_t{acc};
    return e > MAX_32 ? MAX_32 : static_cast<Word32>(e);
}

// round(L_shl(a, 2)) with both saturations folded into one clamp of
// floor((a + 2^13) / 2^14), taken as ((a >> 1) + 2^12) >> 13 so that
// nothing overflows: the recursive filters' outputs, where the saturating
// pair is most of each sample's path to the next.
inline Word16 round_shl2(Word32 a) {
    if constexpr (PLAIN_OPS) return round(L_shl(a, 2));
    return sat16(((a >> 1) + 0x1000) >> 13);
}

// sat16 for values that mostly fit: a predicted branch instead of two
// dependent selects, off the recursions' path from one sample to the next.
inline Word16 clamp16_rare(Word32 v) {
    if (static_cast<std::uint32_t>(v) + 0x8000u > 0xffffu) [[unlikely]]
        return v < 0 ? MIN_16 : MAX_16;
    return static_cast<Word16>(v);
}

// round_shl2(start + 2 (rest + newest)) for a sum known to fit, the
// recursions' form: (acc >> 1) + 2^12 is (start >> 1) + rest + newest +
// 2^12 exactly, acc being even past start, so that all of it but the newest
// sample's product is formed before that sample is out.
inline Word16 round_shl2_last(Word32 start, Word32 rest, Word32 newest) {
    if constexpr (PLAIN_OPS) return round_shl2(start + 2 * (rest + newest));
    return clamp16_rare(((start >> 1) + 0x1000 + rest + newest) >> 13);
}

// The formant postfilter's tilt step, round(L_mac(L_shl(s, 2), y, m)),
// branch-free in 32-bit lanes so that a subframe of them vectorises: each
// saturation is a select on the wrapped sum's overflow.
inline Word16 tilt_round_plain(Word32 s, Word16 y, Word16 m) { return round(L_mac(L_shl(s, 2), y, m)); }
inline Word16 tilt_round(Word32 s, Word16 y, Word16 m) {
    if constexpr (PLAIN_OPS) return tilt_round_plain(s, y, m);
    const auto wrap = [](std::uint32_t v) { return static_cast<Word32>(v); };
    const Word32 a = (s >> 29) == (s >> 31) ? wrap(static_cast<std::uint32_t>(s) << 2) : (s >> 31) ^ MAX_32;
    const Word32 p = y == MIN_16 && m == MIN_16 ? MAX_32 : wrap(2u * static_cast<std::uint32_t>(Word32{y} * m));
    const Word32 r = wrap(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(p));
    const Word32 t = ((a ^ r) & (p ^ r)) < 0 ? (a >> 31) ^ MAX_32 : r;
    return static_cast<Word16>(((t < MAX_32 - 0x8000 ? t : MAX_32 - 0x8000) + 0x8000) >> 16);
}

// ---- the pitch predictor's five taps ----

// out[n] = round(L_shl(a, 1)) with a = L_mac over t = 0..4 of r[n+t] g[t],
// saturating after every step; r holds the 64-sample lagged excitation.
inline void five_taps_plain(Word16 out[SUBFRAME_LEN], const Word16 r[SUBFRAME_LEN + 4], const Word16 g[5]) {
    for (int n = 0; n < SUBFRAME_LEN; ++n) out[n] = round(L_shl(L_mac_steps(0, r + n, g, 5), 1));
}

// When 2 sum|g| max|r| fits, every chain is its plain sum s, and
// round(L_shl(2 s, 1)) is (s + 2^13) >> 14 limited to 16 bits: the shift's
// and the rounding's saturations land on the same clamp. The taps run as
// five passes over the subframe, so the loop vectorises.
inline void five_taps(Word16 out[SUBFRAME_LEN], const Word16 r[SUBFRAME_LEN + 4], const Word16 g[5]) {
    if (PLAIN_OPS || 2 * sum_abs(g, 5) * max_abs(r, SUBFRAME_LEN + 4) > MAX_32) {
        five_taps_plain(out, r, g);
        return;
    }
    Word32 acc[SUBFRAME_LEN] = {};
    for (int t = 0; t < 5; ++t)
        for (int n = 0; n < SUBFRAME_LEN; ++n) acc[n] += Word32{r[n + t]} * g[t];
    for (int n = 0; n < SUBFRAME_LEN; ++n) out[n] = sat16((acc[n] + 0x2000) >> 14);
}

// ---- sums of plain (undoubled) products: acc = L_add(acc, a[i] * b[i]) ----

inline Word32 products_steps(const Word16 *a, const Word16 *b, int n) {
    Word32 acc = 0;
    for (int i = 0; i < n; ++i) acc = L_add(acc, Word32{a[i]} * b[i]);
    return acc;
}

// products_steps with the exact energies ea and eb of a and b known.
inline Word32 products_known(const Word16 *a, const Word16 *b, int n, std::int64_t ea, std::int64_t eb) {
    if (!PLAIN_OPS && products_fit(ea, eb)) return sum_products(a, b, n);
    return products_steps(a, b, n);
}

// ---- short filter-tap runs of the recursive filters ----

// sum c[i] w[i] over the ten taps of an LPC filter, in plain arithmetic;
// callers have bounded every partial sum below 2^30, so neither the
// pairwise sums nor the total can overflow. The fixed-width SSE2 form stays
// instead of the generic sum_products: with that the whole decoder runs
// about 17% slower.
inline std::int32_t dot10(const Word16 *c, const Word16 *w) {
#if defined(__SSE2__) && !defined(QRXC_PLAIN_OPS)
    return x86::dot10_sse2(c, w);
#else
    return sum_products(c, w, LPC_ORDER);
#endif
}

// The largest history peak for which start + 2 taps * peak stays within
// Word32, where taps is the coefficients' sum of magnitudes (negative: none).
inline std::int64_t peak_room(std::int64_t start, std::int64_t taps) {
    if (start > MAX_32) return -1;
    return taps == 0 ? 32768 : (MAX_32 - start) / (2 * taps);
}

// The recursions' cheap test per sample: whether a new output's magnitude
// goes past the room (then it is the new peak, as the room held the old
// one). One unsigned compare, with no running maximum to carry.
class Peak_limit {
public:
    explicit Peak_limit(std::int64_t room)
        : lim_(room < 0       ? 0u
               : room > 32768 ? 32768u
                              : static_cast<unsigned>(room)) {}
    bool passed_by(Word16 y) const { return static_cast<unsigned>(y) + lim_ > 2 * lim_; }

private:
    unsigned lim_;
};

// How large |acc| may be before N taps with coefficients a can saturate,
// whatever the 16-bit memory holds (negative: always possible).
template <int N>
inline std::int64_t tap_headroom(const Word16 *a) {
    return MAX_32 - 2 * sum_abs(a, N) * 32768;
}

// acc +/- 2 coef[m] cur[-1 - m], m = 0 .. N-1 in that order, saturating
// after every term.
template <int N, int SIGN>
inline Word32 back_taps_steps(Word32 acc, const Word16 *coef, const Word16 *cur) {
    for (int m = 0; m < N; m++) acc = SIGN > 0 ? L_mac(acc, coef[m], cur[-1 - m]) : L_msu(acc, coef[m], cur[-1 - m]);
    return acc;
}

// back_taps_steps on a linear history (oldest first) that ends just before
// cur. The fast path walks the history forwards with the reversed
// coefficients coef_rev; headroom is tap_headroom<N>(coef).
template <int N, int SIGN>
inline Word32 back_taps(Word32 acc, const Word16 *coef, const Word16 *coef_rev, const Word16 *cur,
                        std::int64_t headroom) {
    if (!PLAIN_OPS && abs64(acc) <= headroom) {
        const Word16 *h = cur - N;
        std::int32_t sum = 0;
        if constexpr (N == LPC_ORDER) {
            sum = dot10(coef_rev, h);
        } else {
            for (int k = 0; k < N; k++) sum += std::int32_t{coef_rev[k]} * h[k];
        }
        return static_cast<Word32>(std::int64_t{acc} + SIGN * 2 * std::int64_t{sum});
    }
    return back_taps_steps<N, SIGN>(acc, coef, cur);
}

// The ten taps of an LPC-order filter for back_taps_peak: the reversed
// coefficients and their magnitudes (a coefficient of -32768 leaves the run
// unusable).
struct Tap_run {
    Word16 rev[LPC_ORDER];
    Word16 mag[LPC_ORDER];
    bool usable;
};

inline void make_tap_run(Tap_run &t, const Word16 coef[LPC_ORDER]) {
    t.usable = true;
    for (int k = 0; k < LPC_ORDER; k++) {
        const Word16 c = coef[LPC_ORDER - 1 - k];
        if (c == MIN_16) t.usable = false;
        t.rev[k] = c;
        t.mag[k] = static_cast<Word16>(c < 0 ? -c : c);
    }
}

// sum rev[k] h[k] and sum mag[k] ((m(h[k]) >> 3) + 1), k < 10, m the one's-
// complement magnitude (|h|, or |h| - 1 below zero).
inline void tap_run_sums(const Tap_run &t, const Word16 *h, std::int32_t &dot, std::int32_t &bound) {
#if defined(__SSE2__) && !defined(QRXC_PLAIN_OPS)
    x86::tap_run_sums_sse2(t.rev, t.mag, h, dot, bound);
#else
    // The sum modulo 2^32: past the bound the caller ignores it.
    std::uint32_t d = 0;
    bound = 0;
    for (int k = 0; k < LPC_ORDER; k++) {
        const std::int32_t m = h[k] < 0 ? -1 - h[k] : h[k];
        d += static_cast<std::uint32_t>(std::int32_t{t.rev[k]} * h[k]);
        bound += std::int32_t{t.mag[k]} * ((m >> 3) + 1);
    }
    dot = static_cast<std::int32_t>(d);
#endif
}

// back_taps_steps bounded by the history itself, for filters whose
// coefficients alone leave tap_headroom negative (an LPC synthesis filter's
// mostly do, and its chain of steps is a long one): |h| <= 8 ((m >> 3) + 1),
// so no partial sum of acc +/- 2 c h leaves Word32 when |acc| + 16 bound
// fits (bound stays below 2^31: ten products of at most 32767 * 4096).
template <int SIGN>
inline Word32 back_taps_peak(Word32 acc, const Tap_run &t, const Word16 *coef, const Word16 *cur) {
    if (!PLAIN_OPS && t.usable) {
        std::int32_t dot;
        std::int32_t bound;
        tap_run_sums(t, cur - LPC_ORDER, dot, bound);
        if (abs64(acc) + 16 * std::int64_t{bound} <= MAX_32)
            return static_cast<Word32>(std::int64_t{acc} + SIGN * 2 * std::int64_t{dot});
    }
    return back_taps_steps<LPC_ORDER, SIGN>(acc, coef, cur);
}

// ---- the excitation searches' kernels on one subframe ----

// One step of the filtered-tap recursion:
// dst[0] = round(L_mult(r, 0x2000)); dst[i] = round(L_mac(L_deposit_h(src[i-1]), r, h[i])).
inline void tap_step_plain(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 r,
                           const Word16 h[SUBFRAME_LEN]) {
    dst[0] = round(L_mult(r, 0x2000));
    for (int i = 1; i < SUBFRAME_LEN; ++i) dst[i] = round(L_mac(L_deposit_h(src[i - 1]), r, h[i]));
}

// Both saturations collapse into one clamp: round(src * 2^16 + 2 r h) is
// src + floor((r h + 0x4000) / 2^15) limited to 16 bits (the saturated
// square of -32768 rounds to the same value).
inline void tap_step(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 r, const Word16 h[SUBFRAME_LEN]) {
    if constexpr (PLAIN_OPS) {
        tap_step_plain(dst, src, r, h);
        return;
    }
    dst[0] = round(L_mult(r, 0x2000));
    for (int i = 1; i < SUBFRAME_LEN; ++i) {
        const Word32 v = Word32{src[i - 1]} + ((Word32{r} * h[i] + 0x4000) >> 15);
        dst[i] = sat16(v);
    }
}

// Causal convolution: out[i] = round(sum over j = 0..i of 2 x[j] h[i-j]).
inline void conv_round_plain(Word16 out[SUBFRAME_LEN], const Word16 *x, const Word16 h[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = 0; j <= i; ++j) acc = L_mac(acc, x[j], h[i - j]);
        out[i] = round(acc);
    }
}

inline void conv_round(Word16 out[SUBFRAME_LEN], const Word16 *x, const Word16 h[SUBFRAME_LEN]) {
    if (PLAIN_OPS || 2 * max_abs(x, SUBFRAME_LEN) * sum_abs(h, SUBFRAME_LEN) > MAX_32) {
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

// Target minus a filtered contribution:
// x[i] = round(L_shl(a, 1)) with a = x[i] * 2^15 - sum over j = 0..i of 2 e[j] h[i-j].
inline void subtract_filtered_plain(Word16 x[SUBFRAME_LEN], const Word16 e[SUBFRAME_LEN],
                                    const Word16 h[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 a = L_shr(L_deposit_h(x[i]), 1);
        for (int j = 0; j <= i; ++j) a = L_msu(a, e[j], h[i - j]);
        x[i] = round(L_shl(a, 1));
    }
}

inline void subtract_filtered(Word16 x[SUBFRAME_LEN], const Word16 e[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN]) {
    const std::int64_t bound =
        (std::int64_t{max_abs(x, SUBFRAME_LEN)} << 15) + 2 * max_abs(e, SUBFRAME_LEN) * sum_abs(h, SUBFRAME_LEN);
    if (PLAIN_OPS || bound > MAX_32) {
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

// Backward correlation: out[i] = sum over j = i..59 of 2 t[j] g[j-i].
inline void corr_back_plain(Word32 out[SUBFRAME_LEN], const Word16 t[SUBFRAME_LEN], const Word16 g[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = i; j < SUBFRAME_LEN; ++j) acc = L_mac(acc, t[j], g[j - i]);
        out[i] = acc;
    }
}

inline void corr_back(Word32 out[SUBFRAME_LEN], const Word16 t[SUBFRAME_LEN], const Word16 g[SUBFRAME_LEN]) {
    if (PLAIN_OPS || 2 * max_abs(t, SUBFRAME_LEN) * sum_abs(g, SUBFRAME_LEN) > MAX_32) {
        corr_back_plain(out, t, g);
        return;
    }
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 acc = 0;
        for (int j = i; j < SUBFRAME_LEN; ++j) acc += Word32{t[j]} * g[j - i];
        out[i] = 2 * acc;
    }
}

// Autocorrelation: out[d] = sum over i = d..59 of 2 x[i] x[i-d]. Any
// partial sum is bounded by the energy (Cauchy-Schwarz), so an energy that
// fits leaves every lag exact.
inline void autocorr_plain(Word32 out[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN]) {
    for (int d = 0; d < SUBFRAME_LEN; ++d) {
        Word32 acc = 0;
        for (int i = d; i < SUBFRAME_LEN; ++i) acc = L_mac(acc, x[i], x[i - d]);
        out[d] = acc;
    }
}

inline void autocorr(Word32 out[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN]) {
    if (PLAIN_OPS || 2 * sum_squares(x, SUBFRAME_LEN) > MAX_32) {
        autocorr_plain(out, x);
        return;
    }
    for (int d = 0; d < SUBFRAME_LEN; ++d) {
        Word32 acc = 0;
        for (int i = d; i < SUBFRAME_LEN; ++i) acc += Word32{x[i]} * x[i - d];
        out[d] = 2 * acc;
    }
}

// Running lagged correlations: out[d][n] = extract_h of the running sum
// over j = 0..n of 2 x[j] x[j+d], for every even d = 0, 2, .., 58 and
// n = 0..59-d.
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
    if (PLAIN_OPS || 2 * sum_squares(x, SUBFRAME_LEN) > MAX_32) {
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

// ---- best row of a 20-column table by the sum of plain products ----

inline constexpr int SCORE_COLS = 20;

struct Row_pick {
    Word32 score;
    int index;  // -1 when no row beats the starting score
};

// Index of the first row among rows[0..n) whose products_steps(v, row, 20)
// is largest, if it beats best.
inline Row_pick best_row_plain(const Word16 v[SCORE_COLS], const Word16 (*rows)[SCORE_COLS], int n, Word32 best) {
    Row_pick pick{best, -1};
    for (int g = 0; g < n; ++g) {
        const Word32 score = products_steps(v, rows[g], SCORE_COLS);
        if (score > pick.score) pick = {score, g};
    }
    return pick;
}

// ---- the hand-written forms as a kernel set has them ----

// The generic set keeps to portable C++; the others take the SIMD forms.
template <Kernel_set K>
inline std::int32_t dot10_in(const Word16 *c, const Word16 *w) {
    if constexpr (K == Kernel_set::generic)
        return sum_products(c, w, LPC_ORDER);
    else
        return dot10(c, w);
}

// ---- the recursive filters' all-pole runs ----

// y[n] = round(L_shl(acc, 2)) with acc = start[n] + 2 sum over m of
// c[m] y[n-1-m] (the chain of L_mac steps on start[n]), for n = 0, 1, ..
// while no output goes past room: the caller's bound under which no step
// of any sample's chain (its start's own steps included) can saturate, so
// that each sum is plain arithmetic. y[-10..-1] hold the history; each acc
// goes to sums when asked. Returns how many samples it took; the output
// that went past the room becomes the peak.
template <Kernel_set K>
[[gnu::always_inline]] inline int pole_run(Word16 *y, Word32 *sums, const Word32 start[SUBFRAME_LEN],
                                           const Word16 c[LPC_ORDER], std::int64_t room, int &peak) {
    if (PLAIN_OPS || max_abs(y - LPC_ORDER, LPC_ORDER) > room) return 0;
    const Peak_limit limit(room);
    int n = 0;
#if defined(__SSE2__) && !defined(QRXC_PLAIN_OPS)
    if constexpr (K != Kernel_set::generic) {
        // The history in registers: a new sample never goes through memory
        // on its way into the next one's sum.
        x86::Recursion10 r;
        r.init(c, y);
        while (n < SUBFRAME_LEN) {
            const Word32 rest = r.older();
            const Word16 out = round_shl2_last(start[n], rest, r.newest());
            if (sums != nullptr) sums[n] = start[n] + 2 * (rest + r.newest());
            y[n++] = out;
            r.push(out);
            if (limit.passed_by(out)) [[unlikely]] {
                peak = out < 0 ? -out : out;
                break;
            }
        }
        return n;
    }
#endif
    // The portable form keeps the history in ten scalars, newest first, for
    // the same reason, and adds the newest sample's product last.
    const Word32 c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3], c4 = c[4];
    const Word32 c5 = c[5], c6 = c[6], c7 = c[7], c8 = c[8], c9 = c[9];
    Word32 y1 = y[-1], y2 = y[-2], y3 = y[-3], y4 = y[-4], y5 = y[-5];
    Word32 y6 = y[-6], y7 = y[-7], y8 = y[-8], y9 = y[-9], y10 = y[-10];
    while (n < SUBFRAME_LEN) {
        const Word32 rest =
            ((c1 * y2 + c2 * y3) + (c3 * y4 + c4 * y5)) + ((c5 * y6 + c6 * y7) + (c7 * y8 + c8 * y9)) + c9 * y10;
        const Word16 out = round_shl2_last(start[n], rest, c0 * y1);
        if (sums != nullptr) sums[n] = start[n] + 2 * (rest + c0 * y1);
        y[n++] = out;
        y10 = y9;
        y9 = y8;
        y8 = y7;
        y7 = y6;
        y6 = y5;
        y5 = y4;
        y4 = y3;
        y3 = y2;
        y2 = y1;
        y1 = out;
        if (limit.passed_by(out)) [[unlikely]] {
            peak = out < 0 ? -out : out;
            break;
        }
    }
    return n;
}

}  // namespace qrxc::g723
