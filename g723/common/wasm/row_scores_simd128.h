// The gain-table scoring in WebAssembly SIMD, as row_scores.h has it for
// SSE2: i32x4.dot_i16x8_s is the pair multiply-add, so eight rows take two
// lanes' worth of pairs per column pair.
#pragma once

#include <wasm_simd128.h>

#include <cstdint>

#include "g723/common/row_groups.h"

namespace qrxc::g723::wasm {

// Over the used rows below n of groups[0..count): sum v[j] row[j] in
// 32-bit lanes (exact for the rows marked used), first largest per lane.
inline void lane_best_simd128(Lane_best &out, const std::int32_t vp[COL_PAIRS], const Row_group *groups, int count,
                              int n) {
    v128_t pv[COL_PAIRS];
    for (int p = 0; p < COL_PAIRS; ++p) pv[p] = wasm_i32x4_splat(vp[p]);
    const v128_t limit = wasm_i32x4_splat(n);
    const v128_t step = wasm_i32x4_splat(ROW_GROUP);
    v128_t idx_lo = wasm_i32x4_make(0, 1, 2, 3);
    v128_t idx_hi = wasm_i32x4_make(4, 5, 6, 7);
    v128_t best_lo = wasm_i32x4_splat(INT32_MIN);
    v128_t best_hi = best_lo;
    v128_t row_lo = wasm_i32x4_splat(0);
    v128_t row_hi = row_lo;
    for (int g = 0; g < count; ++g) {
        const Word16 *t = &groups[g].t[0][0];
        v128_t lo = wasm_i32x4_dot_i16x8(pv[0], wasm_v128_load(t));
        v128_t hi = wasm_i32x4_dot_i16x8(pv[0], wasm_v128_load(t + 8));
        for (int p = 1; p < COL_PAIRS; ++p) {
            lo = wasm_i32x4_add(lo, wasm_i32x4_dot_i16x8(pv[p], wasm_v128_load(t + 16 * p)));
            hi = wasm_i32x4_add(hi, wasm_i32x4_dot_i16x8(pv[p], wasm_v128_load(t + 16 * p + 8)));
        }
        const std::int32_t *use = groups[g].use;
        const v128_t gt_lo =
            wasm_v128_and(wasm_v128_and(wasm_i32x4_gt(lo, best_lo), wasm_v128_load(use)), wasm_i32x4_gt(limit, idx_lo));
        const v128_t gt_hi = wasm_v128_and(wasm_v128_and(wasm_i32x4_gt(hi, best_hi), wasm_v128_load(use + 4)),
                                           wasm_i32x4_gt(limit, idx_hi));
        best_lo = wasm_v128_bitselect(lo, best_lo, gt_lo);
        best_hi = wasm_v128_bitselect(hi, best_hi, gt_hi);
        row_lo = wasm_v128_bitselect(idx_lo, row_lo, gt_lo);
        row_hi = wasm_v128_bitselect(idx_hi, row_hi, gt_hi);
        idx_lo = wasm_i32x4_add(idx_lo, step);
        idx_hi = wasm_i32x4_add(idx_hi, step);
    }
    wasm_v128_store(out.score, best_lo);
    wasm_v128_store(out.score + 4, best_hi);
    wasm_v128_store(out.row, row_lo);
    wasm_v128_store(out.row + 4, row_hi);
}

}  // namespace qrxc::g723::wasm
