// The gain-table scoring eight rows at a time: the table is held as column
// pairs interleaved across rows, so that one pair multiply-add gives a pair
// of products for four (SSE2) or eight (AVX2) rows at once. Each lane keeps
// its first largest score; the caller merges the lanes and the rows these
// forms leave out (see acb_search.cpp). The tests check the result against
// best_row_plain.
// Where no AVX2 is built (WebAssembly), the AVX2 forms are only declared:
// the kernel bodies name them in branches that no instantiation takes.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "g723/common/types.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723::x86 {

inline constexpr int ROW_GROUP = 8;
inline constexpr int COL_PAIRS = 10;

// A table's rows in groups of eight: t[p][2 l + c] is row 8 g + l, column
// 2 p + c; use[l] is all ones for the rows the lanes may score.
struct Row_group {
    alignas(32) Word16 t[COL_PAIRS][2 * ROW_GROUP];
    alignas(32) std::int32_t use[ROW_GROUP];
};

// The first largest score of each lane and its row.
struct Lane_best {
    alignas(32) std::int32_t score[ROW_GROUP];
    alignas(32) std::int32_t row[ROW_GROUP];
};

// The 20 values as ten (v[2p], v[2p+1]) pairs in 32-bit lanes.
inline void pack_pairs(std::int32_t out[COL_PAIRS], const Word16 v[2 * COL_PAIRS]) {
    for (int p = 0; p < COL_PAIRS; ++p)
        out[p] = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(v[2 * p])) |
                                           static_cast<std::uint32_t>(static_cast<std::uint16_t>(v[2 * p + 1])) << 16);
}

inline __m128i select128(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Over the used rows below n of groups[0..count): sum v[j] row[j] in
// 32-bit lanes (exact for the rows marked used), first largest per lane.
inline void lane_best_sse2(Lane_best &out, const std::int32_t vp[COL_PAIRS], const Row_group *groups, int count,
                           int n) {
    __m128i pv[COL_PAIRS];
    for (int p = 0; p < COL_PAIRS; ++p) pv[p] = _mm_set1_epi32(vp[p]);
    const __m128i limit = _mm_set1_epi32(n);
    const __m128i step = _mm_set1_epi32(ROW_GROUP);
    __m128i idx_lo = _mm_setr_epi32(0, 1, 2, 3);
    __m128i idx_hi = _mm_setr_epi32(4, 5, 6, 7);
    __m128i best_lo = _mm_set1_epi32(INT32_MIN);
    __m128i best_hi = best_lo;
    __m128i row_lo = _mm_setzero_si128();
    __m128i row_hi = row_lo;
    for (int g = 0; g < count; ++g) {
        const auto *t = reinterpret_cast<const __m128i *>(groups[g].t);
        __m128i lo = _mm_madd_epi16(pv[0], _mm_load_si128(t));
        __m128i hi = _mm_madd_epi16(pv[0], _mm_load_si128(t + 1));
        for (int p = 1; p < COL_PAIRS; ++p) {
            lo = _mm_add_epi32(lo, _mm_madd_epi16(pv[p], _mm_load_si128(t + 2 * p)));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(pv[p], _mm_load_si128(t + 2 * p + 1)));
        }
        const auto *use = reinterpret_cast<const __m128i *>(groups[g].use);
        const __m128i gt_lo = _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(lo, best_lo), _mm_load_si128(use)),
                                            _mm_cmpgt_epi32(limit, idx_lo));
        const __m128i gt_hi = _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(hi, best_hi), _mm_load_si128(use + 1)),
                                            _mm_cmpgt_epi32(limit, idx_hi));
        best_lo = select128(gt_lo, lo, best_lo);
        best_hi = select128(gt_hi, hi, best_hi);
        row_lo = select128(gt_lo, idx_lo, row_lo);
        row_hi = select128(gt_hi, idx_hi, row_hi);
        idx_lo = _mm_add_epi32(idx_lo, step);
        idx_hi = _mm_add_epi32(idx_hi, step);
    }
    _mm_store_si128(reinterpret_cast<__m128i *>(out.score), best_lo);
    _mm_store_si128(reinterpret_cast<__m128i *>(out.score + 4), best_hi);
    _mm_store_si128(reinterpret_cast<__m128i *>(out.row), row_lo);
    _mm_store_si128(reinterpret_cast<__m128i *>(out.row + 4), row_hi);
}

#if QRXC_AVX2_KERNELS
QRXC_TARGET_AVX2 inline void lane_best_avx2(Lane_best &out, const std::int32_t vp[COL_PAIRS], const Row_group *groups,
                                            int count, int n) {
    __m256i pv[COL_PAIRS];
    for (int p = 0; p < COL_PAIRS; ++p) pv[p] = _mm256_set1_epi32(vp[p]);
    const __m256i limit = _mm256_set1_epi32(n);
    const __m256i step = _mm256_set1_epi32(ROW_GROUP);
    __m256i idx = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i best = _mm256_set1_epi32(INT32_MIN);
    __m256i row = _mm256_setzero_si256();
    for (int g = 0; g < count; ++g) {
        const auto *t = reinterpret_cast<const __m256i *>(groups[g].t);
        __m256i s = _mm256_madd_epi16(pv[0], _mm256_load_si256(t));
        for (int p = 1; p < COL_PAIRS; ++p) s = _mm256_add_epi32(s, _mm256_madd_epi16(pv[p], _mm256_load_si256(t + p)));
        const __m256i gt =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi32(s, best),
                                              _mm256_load_si256(reinterpret_cast<const __m256i *>(groups[g].use))),
                             _mm256_cmpgt_epi32(limit, idx));
        best = _mm256_blendv_epi8(best, s, gt);
        row = _mm256_blendv_epi8(row, idx, gt);
        idx = _mm256_add_epi32(idx, step);
    }
    _mm256_store_si256(reinterpret_cast<__m256i *>(out.score), best);
    _mm256_store_si256(reinterpret_cast<__m256i *>(out.row), row);
}
#else
void lane_best_avx2(Lane_best &out, const std::int32_t vp[COL_PAIRS], const Row_group *groups, int count, int n);
#endif

}  // namespace qrxc::g723::x86
