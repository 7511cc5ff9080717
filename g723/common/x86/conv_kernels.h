// The pitch search's kernels by SIMD lanes. The causal convolution runs by
// output lanes: sum over j <= i of x[j] h[i-j] with x taken two samples at
// a time, so that one pair multiply-add adds x[j] h[i-j] + x[j+1] h[i-j-1]
// to four (SSE2) or eight (AVX2) outputs at once; only for sums the caller
// has shown cannot saturate, so that every pair and partial sum is exact.
// The plain forms are conv_round_plain and subtract_filtered_plain
// (fast_ops.h); the tests check them equal.
// Where no AVX2 is built (WebAssembly), the AVX2 forms are only declared:
// the kernel bodies name them in branches that no instantiation takes.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "g723/common/types.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723::x86 {

inline constexpr int PAIR_ORIGIN = 64;

// hp[PAIR_ORIGIN + m] holds (h[m], h[m-1]) as the low and high halves of
// one 32-bit lane, with h zero outside 0..59.
struct Response_pairs {
    alignas(32) std::int32_t hp[2 * PAIR_ORIGIN];
};

// out[m] = (lo[m], hi[m]) for m < n, n a multiple of 8.
inline void interleave_pairs(std::int32_t *out, const Word16 *lo, const Word16 *hi, int n) {
    for (int m = 0; m < n; m += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lo + m));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hi + m));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + m), _mm_unpacklo_epi16(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + m + 4), _mm_unpackhi_epi16(a, b));
    }
}

inline void pair_response(Response_pairs &r, const Word16 h[SUBFRAME_LEN]) {
    Word16 hz[3 * PAIR_ORIGIN] = {};  // hz[PAIR_ORIGIN + 1 + m] = h[m]
    std::memcpy(hz + PAIR_ORIGIN + 1, h, sizeof(Word16) * SUBFRAME_LEN);
    interleave_pairs(r.hp, hz + 1, hz, 2 * PAIR_ORIGIN);
}

// x[2p] and x[2p+1] as the low and high halves of one lane.
inline std::int32_t load_pair(const Word16 *x) {
    std::int32_t v;
    std::memcpy(&v, x, sizeof v);
    return v;
}

inline std::int32_t load_pair_of(Word16 lo, Word16 hi) {
    const Word16 x[2] = {lo, hi};
    return load_pair(x);
}

// acc[i] = sum over j <= i of x[j] h[i-j], i = 0..59.
inline void conv_sums_sse2(std::int32_t acc[SUBFRAME_LEN], const Word16 *x, const Response_pairs &r) {
    constexpr int LANES = 4;
    __m128i xp[SUBFRAME_LEN / 2];
    for (int p = 0; p < SUBFRAME_LEN / 2; ++p) xp[p] = _mm_set1_epi32(load_pair(x + 2 * p));
    for (int v = 0; v < SUBFRAME_LEN / LANES; ++v) {
        // Pairs past the vector's last output meet only the zero padding.
        const int pairs = (LANES * v + LANES) / 2;
        __m128i a = _mm_setzero_si128();
        for (int p = 0; p < pairs; ++p)
            a = _mm_add_epi32(a, _mm_madd_epi16(xp[p], _mm_loadu_si128(reinterpret_cast<const __m128i *>(
                                                           r.hp + PAIR_ORIGIN + LANES * v - 2 * p))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + LANES * v), a);
    }
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline void conv_sums_avx2(std::int32_t acc[64], const Word16 *x, const Response_pairs &r) {
    constexpr int LANES = 8;
    constexpr int VECS = 64 / LANES;
    __m256i a[VECS];
    for (int v = 0; v < VECS; ++v) a[v] = _mm256_setzero_si256();
    for (int p = 0; p < SUBFRAME_LEN / 2; ++p) {
        const __m256i xp = _mm256_set1_epi32(load_pair(x + 2 * p));
        // Vectors whose outputs all precede x[2p] meet only the padding.
        for (int v = p / (LANES / 2); v < VECS; ++v)
            a[v] = _mm256_add_epi32(a[v], _mm256_madd_epi16(xp, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(
                                                                    r.hp + PAIR_ORIGIN + LANES * v - 2 * p))));
    }
    for (int v = 0; v < VECS; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc + LANES * v), a[v]);
}
#else
void conv_sums_avx2(std::int32_t acc[64], const Word16 *x, const Response_pairs &r);
#endif

// The backward correlation by output lanes: acc[i] = sum over k <= 59 - i
// of t[i+k] g[k], with g taken two samples at a time against the pairs
// (t[m], t[m+1]) of t padded with zeros.
struct Target_pairs {
    alignas(32) std::int32_t tp[80];
};

inline void pair_target(Target_pairs &r, const Word16 t[SUBFRAME_LEN]) {
    Word16 tz[96] = {};
    std::memcpy(tz, t, sizeof(Word16) * SUBFRAME_LEN);
    interleave_pairs(r.tp, tz, tz + 1, 80);
}

// tp[m] = (src[m], src[m+1]) of n <= 70 samples, zero beyond.
inline void pair_span(Target_pairs &r, const Word16 *src, int n) {
    Word16 tz[96] = {};
    std::memcpy(tz, src, sizeof(Word16) * static_cast<unsigned>(n));
    interleave_pairs(r.tp, tz, tz + 1, 80);
}

// acc[n] = sum over k < 10 of src[n+k] g[k], n = 0..63, from src's pairs.
inline void tap_sums_sse2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[10]) {
    __m128i gp[5];
    for (int q = 0; q < 5; ++q) gp[q] = _mm_set1_epi32(load_pair(g + 2 * q));
    for (int v = 0; v < 16; ++v) {
        __m128i a = _mm_madd_epi16(gp[0], _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.tp + 4 * v)));
        for (int q = 1; q < 5; ++q)
            a = _mm_add_epi32(
                a, _mm_madd_epi16(gp[q], _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.tp + 4 * v + 2 * q))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + 4 * v), a);
    }
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline void tap_sums_avx2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[10]) {
    __m256i gp[5];
    for (int q = 0; q < 5; ++q) gp[q] = _mm256_set1_epi32(load_pair(g + 2 * q));
    for (int v = 0; v < 8; ++v) {
        __m256i a = _mm256_madd_epi16(gp[0], _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.tp + 8 * v)));
        for (int q = 1; q < 5; ++q)
            a = _mm256_add_epi32(
                a,
                _mm256_madd_epi16(gp[q], _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.tp + 8 * v + 2 * q))));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc + 8 * v), a);
    }
}
#else
void tap_sums_avx2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[10]);
#endif

inline void corr_sums_sse2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[SUBFRAME_LEN]) {
    constexpr int LANES = 4;
    for (int v = 0; v < SUBFRAME_LEN / LANES; ++v) {
        // Pairs past the vector's first output's last term meet only zeros.
        const int pairs = (SUBFRAME_LEN - 1 - LANES * v) / 2 + 1;
        __m128i a = _mm_setzero_si128();
        for (int q = 0; q < pairs; ++q)
            a = _mm_add_epi32(
                a, _mm_madd_epi16(_mm_set1_epi32(load_pair(g + 2 * q)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.tp + LANES * v + 2 * q))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + LANES * v), a);
    }
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline void corr_sums_avx2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[SUBFRAME_LEN]) {
    constexpr int LANES = 8;
    constexpr int VECS = 64 / LANES;
    __m256i a[VECS];
    for (int v = 0; v < VECS; ++v) a[v] = _mm256_setzero_si256();
    for (int q = 0; q < SUBFRAME_LEN / 2; ++q) {
        const __m256i gp = _mm256_set1_epi32(load_pair(g + 2 * q));
        // Vectors whose first output has no term this far meet only zeros.
        for (int v = 0; LANES * v + 2 * q < SUBFRAME_LEN; ++v)
            a[v] = _mm256_add_epi32(
                a[v],
                _mm256_madd_epi16(gp, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.tp + LANES * v + 2 * q))));
    }
    for (int v = 0; v < VECS; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc + LANES * v), a[v]);
}
#else
void corr_sums_avx2(std::int32_t acc[64], const Target_pairs &t, const Word16 g[SUBFRAME_LEN]);
#endif

// The multipulse candidate's filtered pulses: out[l] = the clamp of
// (sum over pulses of amp g[l - pos]) >> 13, l = 0..63 (60..63 left for
// the caller to clear). gz[64 + k] = g[k], zero before; pulses are taken
// two at a time (an odd one with a zero partner), the caller having shown
// that no partial sum leaves 32 bits. The pack's saturation is the clamp.
inline void filter_pulses_sse2(Word16 out[64], const Word16 gz[128], const Word16 *pos, const Word16 *amp, int np) {
    __m128i lo[8];
    __m128i hi[8];
    for (int v = 0; v < 8; ++v) lo[v] = hi[v] = _mm_setzero_si128();
    for (int k = 0; k < np; k += 2) {
        const int p1 = pos[k];
        const int p2 = k + 1 < np ? pos[k + 1] : pos[k];
        const __m128i a = _mm_set1_epi32(load_pair_of(amp[k], k + 1 < np ? amp[k + 1] : Word16{0}));
        for (int v = 0; v < 8; ++v) {
            const __m128i g1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(gz + 64 - p1 + 8 * v));
            const __m128i g2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(gz + 64 - p2 + 8 * v));
            lo[v] = _mm_add_epi32(lo[v], _mm_madd_epi16(_mm_unpacklo_epi16(g1, g2), a));
            hi[v] = _mm_add_epi32(hi[v], _mm_madd_epi16(_mm_unpackhi_epi16(g1, g2), a));
        }
    }
    for (int v = 0; v < 8; ++v)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8 * v),
                         _mm_packs_epi32(_mm_srai_epi32(lo[v], 13), _mm_srai_epi32(hi[v], 13)));
}

#if QRXC_AVX2_KERNELS
// The same eight lanes wider; unpacking within each 128-bit half and
// packing back within it leaves the samples in order.
QRXC_TARGET_AVX2 inline void filter_pulses_avx2(Word16 out[64], const Word16 gz[128], const Word16 *pos,
                                                const Word16 *amp, int np) {
    __m256i lo[4];
    __m256i hi[4];
    for (int v = 0; v < 4; ++v) lo[v] = hi[v] = _mm256_setzero_si256();
    for (int k = 0; k < np; k += 2) {
        const int p1 = pos[k];
        const int p2 = k + 1 < np ? pos[k + 1] : pos[k];
        const __m256i a = _mm256_set1_epi32(load_pair_of(amp[k], k + 1 < np ? amp[k + 1] : Word16{0}));
        for (int v = 0; v < 4; ++v) {
            const __m256i g1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(gz + 64 - p1 + 16 * v));
            const __m256i g2 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(gz + 64 - p2 + 16 * v));
            lo[v] = _mm256_add_epi32(lo[v], _mm256_madd_epi16(_mm256_unpacklo_epi16(g1, g2), a));
            hi[v] = _mm256_add_epi32(hi[v], _mm256_madd_epi16(_mm256_unpackhi_epi16(g1, g2), a));
        }
    }
    for (int v = 0; v < 4; ++v)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 16 * v),
                            _mm256_packs_epi32(_mm256_srai_epi32(lo[v], 13), _mm256_srai_epi32(hi[v], 13)));
}
#else
void filter_pulses_avx2(Word16 out[64], const Word16 gz[128], const Word16 *pos, const Word16 *amp, int np);
#endif

// out[i] = round(2 acc[i]): (acc + 2^14) >> 15 clamped, |acc| <= MAX_32 / 2.
inline void round_double(Word16 out[SUBFRAME_LEN], const std::int32_t acc[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(acc + i));
        const __m128i s = _mm_srai_epi32(_mm_add_epi32(a, _mm_set1_epi32(0x4000)), 15);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packs_epi32(s, s));
    }
}

// x[i] = round(L_shl(x[i] 2^15 - 2 acc[i], 1)) for a = x 2^15 - 2 acc known
// to fit: both saturations land on the clamp of floor((a + 2^14) / 2^15),
// taken as ((a >> 1) + 2^13) >> 14 so that nothing overflows.
inline void subtract_double(Word16 x[SUBFRAME_LEN], const std::int32_t acc[SUBFRAME_LEN]) {
    for (int i = 0; i < SUBFRAME_LEN; i += 4) {
        const __m128i xv = _mm_srai_epi32(
            _mm_unpacklo_epi16(_mm_setzero_si128(), _mm_loadl_epi64(reinterpret_cast<const __m128i *>(x + i))), 1);
        const __m128i acc2 = _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(acc + i)), 1);
        const __m128i a = _mm_sub_epi32(xv, acc2);
        const __m128i s = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(a, 1), _mm_set1_epi32(0x2000)), 14);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(x + i), _mm_packs_epi32(s, s));
    }
}

// ---- sums over one subframe ----

inline std::int32_t hsum32(__m128i a) {
    a = _mm_add_epi32(a, _mm_shuffle_epi32(a, 0x4e));
    a = _mm_add_epi32(a, _mm_shuffle_epi32(a, 0xb1));
    return _mm_cvtsi128_si32(a);
}

// sum a[i] b[i], i < 60, in 32-bit lanes, for sums whose every pair and
// partial sum is known to fit; reads nothing past the 60 samples.
inline std::int32_t dot60_sse2(const Word16 *a, const Word16 *b) {
    __m128i s = _mm_setzero_si128();
    for (int i = 0; i < 56; i += 8)
        s = _mm_add_epi32(s, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i))));
    const __m128i t = _mm_madd_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + 56)),
                                     _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + 56)));
    return hsum32(_mm_add_epi32(s, t));
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline std::int32_t dot60_avx2(const Word16 *a, const Word16 *b) {
    __m256i s = _mm256_setzero_si256();
    for (int i = 0; i < 48; i += 16)
        s = _mm256_add_epi32(s, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i)),
                                                  _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i))));
    __m128i h = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    h = _mm_add_epi32(h, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + 48)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 48))));
    h = _mm_add_epi32(h, _mm_madd_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + 56)),
                                        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + 56))));
    return hsum32(h);
}
#else
std::int32_t dot60_avx2(const Word16 *a, const Word16 *b);
#endif

// ---- sums over 64 samples, zero beyond the subframe ----

// sum a[i] b[i] in 32-bit lanes: exact when every partial sum fits, as
// products_fit shows (then no pair of products reaches 2^31 either).
inline std::int32_t dot64_sse2(const Word16 *a, const Word16 *b) {
    __m128i s = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8)
        s = _mm_add_epi32(s, _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(a + i)),
                                            _mm_load_si128(reinterpret_cast<const __m128i *>(b + i))));
    return hsum32(s);
}

// Exact sum a[i]^2: a pair of squares is at most 2^31, so the pairs are
// read unsigned and summed in 64-bit lanes.
inline std::int64_t energy64_sse2(const Word16 *a) {
    const __m128i low = _mm_set1_epi64x(0xffffffff);
    __m128i s = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i m = _mm_madd_epi16(v, v);
        s = _mm_add_epi64(s, _mm_add_epi64(_mm_and_si128(m, low), _mm_srli_epi64(m, 32)));
    }
    alignas(16) std::int64_t t[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(t), s);
    return t[0] + t[1];
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline std::int32_t dot64_avx2(const Word16 *a, const Word16 *b) {
    __m256i s = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16)
        s = _mm256_add_epi32(s, _mm256_madd_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(a + i)),
                                                  _mm256_load_si256(reinterpret_cast<const __m256i *>(b + i))));
    return hsum32(_mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1)));
}

QRXC_TARGET_AVX2 inline std::int64_t energy64_avx2(const Word16 *a) {
    const __m256i low = _mm256_set1_epi64x(0xffffffff);
    __m256i s = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i *>(a + i));
        const __m256i m = _mm256_madd_epi16(v, v);
        s = _mm256_add_epi64(s, _mm256_add_epi64(_mm256_and_si256(m, low), _mm256_srli_epi64(m, 32)));
    }
    const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    return _mm_cvtsi128_si64(h) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(h, h));
}
#else
std::int32_t dot64_avx2(const Word16 *a, const Word16 *b);
std::int64_t energy64_avx2(const Word16 *a);
#endif

}  // namespace qrxc::g723::x86
