// SSE2 forms of the fast operator layer (g723/common/fast_ops.h includes
// this where SSE2 is available and the plain build is off).
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "g723/common/types.h"

namespace qrxc::g723::x86 {

// sum c[i] w[i], i = 0..9, in plain 32-bit arithmetic.
inline std::int32_t dot10_sse2(const Word16 *c, const Word16 *w) {
    __m128i p = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i *>(w)));
    p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0x4e));
    p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xb1));
    return _mm_cvtsi128_si32(p) + std::int32_t{c[8]} * w[8] + std::int32_t{c[9]} * w[9];
}

// sum c[k] h[k] and sum m[k] ((o(h[k]) >> 3) + 1), k < 10, o(h) = h ^ (h >> 15).
// The two newest samples are read one by one, as in dot10_sse2: a recursion
// has just stored them, and a wide load of a fresh narrow store waits.
inline void tap_run_sums_sse2(const Word16 c[10], const Word16 m[10], const Word16 *h, std::int32_t &dot,
                              std::int32_t &bound) {
    const __m128i h0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h));
    const __m128i o0 = _mm_add_epi16(_mm_srli_epi16(_mm_xor_si128(h0, _mm_srai_epi16(h0, 15)), 3), _mm_set1_epi16(1));
    const __m128i d = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c)), h0);
    const __m128i b = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(m)), o0);
    // [d0 + d2, d1 + d3, b0 + b2, b1 + b3], then the neighbours.
    __m128i x = _mm_add_epi32(_mm_unpacklo_epi64(d, b), _mm_unpackhi_epi64(d, b));
    x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xb1));
    const std::int32_t h8 = h[8];
    const std::int32_t h9 = h[9];
    // Summed modulo 2^32: past the bound the caller ignores the sum.
    dot = static_cast<std::int32_t>(static_cast<std::uint32_t>(_mm_cvtsi128_si32(x)) +
                                    static_cast<std::uint32_t>(std::int32_t{c[8]} * h8) +
                                    static_cast<std::uint32_t>(std::int32_t{c[9]} * h9));
    bound = _mm_cvtsi128_si32(_mm_unpackhi_epi64(x, x)) + std::int32_t{m[8]} * (((h8 ^ (h8 >> 15)) >> 3) + 1) +
            std::int32_t{m[9]} * (((h9 ^ (h9 >> 15)) >> 3) + 1);
}

// A ten-tap recursion's history in registers, newest first, for the fast
// loops of the recursive filters: a new sample then never goes through
// memory on its way into the next one's sum (a wide load of a fresh narrow
// store waits). The two newest take scalar products, the eight before them
// one pair multiply-add. So only the newest sample's product lies on the
// path from one output to the next; the pair multiply-add has three samples'
// time to form.
struct Recursion10 {
    __m128i taps;  // c[2..9]
    __m128i v;     // y[n-3] .. y[n-10]
    std::int32_t c0, c1, y1, y2;

    // c[m] multiplies y[n-1-m]; h[-10..-1] is the history, oldest first.
    void init(const Word16 c[10], const Word16 *h) {
        taps = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + 2));
        v = _mm_setr_epi16(h[-3], h[-4], h[-5], h[-6], h[-7], h[-8], h[-9], h[-10]);
        c0 = c[0];
        c1 = c[1];
        y1 = h[-1];
        y2 = h[-2];
    }
    // sum c[m] y[n-1-m] over m >= 1, in plain 32-bit arithmetic, for sums
    // known to fit.
    std::int32_t older() const {
        __m128i p = _mm_madd_epi16(v, taps);
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0x4e));
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xb1));
        return _mm_cvtsi128_si32(p) + c1 * y2;
    }
    std::int32_t newest() const { return c0 * y1; }
    void push(std::int32_t y) {
        v = _mm_insert_epi16(_mm_slli_si128(v, 2), y2, 0);
        y2 = y1;
        y1 = y;
    }
};

}  // namespace qrxc::g723::x86
