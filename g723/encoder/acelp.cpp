// Depth-first ACELP search: the first three pulses are tried exhaustively,
// the fourth only behind a threshold and within a budget of fourth-pulse
// loops that carries over between searches.
#include "g723/encoder/acelp.h"

#include <algorithm>
#include <bit>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

// The track pairs of the cross-correlation blocks.
constexpr int TRACK_PAIRS[6][3] = {{0, 1, RR_01}, {0, 2, RR_02}, {0, 3, RR_03},
                                   {1, 2, RR_12}, {1, 3, RR_13}, {2, 3, RR_23}};

// Grid-0 position of index a on track k; 60..63 lie outside the subframe.
constexpr int track_pos(int k, int a) { return 2 * k + 8 * a; }

void sharpen(Word16 v[SUBFRAME_LEN], Word16 t0s, Word16 gs) {
    if (t0s >= SHORT_LAG || t0s < 1) return;
    for (int i = t0s; i < SUBFRAME_LEN; ++i) v[i] = add(v[i], mult(v[i - t0s], gs));
}

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void acelp_corr_matrix_body(const Word16 h[SUBFRAME_LEN], Word16 rr[ACELP_RR_SIZE]) {
    const Word32 e = L_mac_n(0, h, h, SUBFRAME_LEN);
    Word16 hs[SUBFRAME_LEN];
    if (extract_h(e) > 32000) {
        for (int i = 0; i < SUBFRAME_LEN; ++i) hs[i] = shr(h[i], 1);
    } else {
        const int k = norm_l(e) >> 1;
        for (int i = 0; i < SUBFRAME_LEN; ++i) hs[i] = shl(h[i], k);
    }

    Prefix_table prefix;
    prefix_corr(prefix, hs);
    // R(p, q) ends its sum where the later pulse's response leaves the subframe.
    auto corr = [&prefix](int p, int q) -> Word16 {
        const int hi = std::max(p, q);
        if (hi >= SUBFRAME_LEN) return 0;
        return prefix[hi - std::min(p, q)][SUBFRAME_LEN - 1 - hi];
    };

    for (int k = 0; k < ACELP_TRACKS; ++k)
        for (int a = 0; a < ACELP_TRACK_POSITIONS; ++a)
            rr[RR_ENERGY + 8 * k + a] = corr(track_pos(k, a), track_pos(k, a));

    for (const auto &pair : TRACK_PAIRS)
        for (int a = 0; a < ACELP_TRACK_POSITIONS; ++a)
            for (int b = 0; b < ACELP_TRACK_POSITIONS; ++b)
                rr[pair[2] + 8 * a + b] = corr(track_pos(pair[0], a), track_pos(pair[1], b));
}

QRXC_AVX2_TWIN(void, acelp_corr_matrix, acelp_corr_matrix_body,
               (const Word16 h[SUBFRAME_LEN], Word16 rr[ACELP_RR_SIZE]), (h, rr))

}  // namespace

void acelp_corr_matrix(const Word16 h[SUBFRAME_LEN], Word16 rr[ACELP_RR_SIZE]) {
    QRXC_DISPATCH(acelp_corr_matrix, acelp_corr_matrix_body, h, rr)
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void acelp_target_corr_body(const Word16 h[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN],
                                             Word16 d[ACELP_D_LEN]) {
    Word32 y32[SUBFRAME_LEN];
    corr_back(y32, x, h);
    Word32 m = 0;
    for (int i = 0; i < SUBFRAME_LEN; ++i) m = std::max(m, L_abs(y32[i]));
    int e = m == 0 ? 0 : norm_l(m);
    if (e > 16) e = 16;
    // About 13 significant bits for the largest value.
    for (int i = 0; i < SUBFRAME_LEN; ++i) d[i] = extract_l(L_shr(y32[i], 18 - e));
}

QRXC_AVX2_TWIN(void, acelp_target_corr, acelp_target_corr_body,
               (const Word16 h[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN], Word16 d[ACELP_D_LEN]), (h, x, d))

}  // namespace

void acelp_target_corr(const Word16 h[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN], Word16 d[ACELP_D_LEN]) {
    QRXC_DISPATCH(acelp_target_corr, acelp_target_corr_body, h, x, d)
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void acelp_pulse_search_body(Word16 d[ACELP_D_LEN], Word16 rr[ACELP_RR_SIZE],
                                              const Word16 h[SUBFRAME_LEN], Word16 &budget_carry, Acelp_result &out) {
    for (int i = SUBFRAME_LEN; i < ACELP_D_LEN; ++i) d[i] = 0;

    // One sign per position pair, so that both grids share it.
    int sign[ACELP_D_LEN / 2];
    for (int i = 0; i < SUBFRAME_LEN / 2; ++i) {
        if (add(d[2 * i], d[2 * i + 1]) >= 0) {
            sign[i] = 1;
        } else {
            sign[i] = -1;
            d[2 * i] = static_cast<Word16>(-d[2 * i]);
            d[2 * i + 1] = static_cast<Word16>(-d[2 * i + 1]);
        }
    }
    sign[30] = sign[31] = 1;

    for (const auto &pair : TRACK_PAIRS)
        for (int a = 0; a < ACELP_TRACK_POSITIONS; ++a)
            for (int b = 0; b < ACELP_TRACK_POSITIONS; ++b) {
                const int s = sign[track_pos(pair[0], a) / 2] * sign[track_pos(pair[1], b) / 2];
                Word16 &v = rr[pair[2] + 8 * a + b];
                v = static_cast<Word16>(v * s);
            }

    // Only triples halfway from the mean to the best possible sum reach the
    // fourth pulse.
    auto threshold = [d](int grid) -> Word16 {
        Word16 m[3];
        Word32 sum = 0;
        for (int k = 0; k < 3; ++k) {
            m[k] = d[track_pos(k, 0) + grid];
            for (int a = 0; a < ACELP_TRACK_POSITIONS; ++a) {
                const Word16 v = d[track_pos(k, a) + grid];
                if (v > m[k]) m[k] = v;
                sum += v;
            }
        }
        const Word16 max3 = add(add(m[0], m[1]), m[2]);
        const Word16 mean = extract_l((2 * sum) >> 4);
        return add(mult(sub(max3, mean), Q15(0.5)), mean);
    };
    const Word16 thr_even = threshold(0);
    const Word16 thr_odd = threshold(1);
    const Word16 thr = thr_odd > thr_even ? thr_odd : thr_even;

    const Word16 *rr00 = rr + RR_ENERGY;
    const Word16 *rr11 = rr + RR_ENERGY + 8;
    const Word16 *rr22 = rr + RR_ENERGY + 16;
    const Word16 *rr33 = rr + RR_ENERGY + 24;

    int best[ACELP_TRACKS] = {0, 2, 4, 6};
    int best_grid = 0;
    Word16 psc = 0;
    Word16 alpha = 32767;
    Word16 budget = add(ACELP_BUDGET, budget_carry);

    // d by track, grid and index, so that the loops below read contiguously.
    Word16 dt[ACELP_TRACKS][2][ACELP_TRACK_POSITIONS];
    for (int k = 0; k < ACELP_TRACKS; ++k)
        for (int grid = 0; grid < 2; ++grid)
            for (int a = 0; a < ACELP_TRACK_POSITIONS; ++a) dt[k][grid][a] = d[track_pos(k, a) + grid];

    for (int a0 = 0; a0 < ACELP_TRACK_POSITIONS; ++a0) {
        const Word16 ps0 = dt[0][0][a0];
        const Word16 ps0b = dt[0][1][a0];
        const Word32 e0 = rr00[a0];
        for (int a1 = 0; a1 < ACELP_TRACK_POSITIONS; ++a1) {
            const Word16 ps1 = add(ps0, dt[1][0][a1]);
            const Word16 ps1b = add(ps0b, dt[1][1][a1]);
            const Word32 e1 = 2 * e0 + 2 * rr11[a1] + 4 * rr[RR_01 + 8 * a0 + a1];

            // Third-pulse sums of all eight positions, each on its better grid.
            Word16 ps2v[ACELP_TRACK_POSITIONS];
            Word16 gv[ACELP_TRACK_POSITIONS];
            for (int a2 = 0; a2 < ACELP_TRACK_POSITIONS; ++a2) {
                const Word16 even = add(ps1, dt[2][0][a2]);
                const Word16 odd = add(ps1b, dt[2][1][a2]);
                gv[a2] = odd > even ? 1 : 0;
                ps2v[a2] = odd > even ? odd : even;
            }

            // The threshold's verdicts as one mask, walked in position
            // order: which triples pass is too irregular to branch on one
            // by one.
            unsigned passing = 0;
            for (int a2 = 0; a2 < ACELP_TRACK_POSITIONS; ++a2) passing |= (ps2v[a2] > thr ? 1u : 0u) << a2;
            for (; passing != 0; passing &= passing - 1) {
                const int a2 = std::countr_zero(passing);
                const Word16 ps2 = ps2v[a2];
                const int g = gv[a2];
                const Word32 e2 = e1 + 2 * rr22[a2] + 4 * rr[RR_02 + 8 * a0 + a2] + 4 * rr[RR_12 + 8 * a1 + a2];

                // The energy each fourth pulse adds, for all eight at once.
                Word32 e4[ACELP_TRACK_POSITIONS];
                for (int a3 = 0; a3 < ACELP_TRACK_POSITIONS; ++a3)
                    e4[a3] = 2 * rr33[a3] + 4 * rr[RR_03 + 8 * a0 + a3] + 4 * rr[RR_13 + 8 * a1 + a3] +
                             4 * rr[RR_23 + 8 * a2 + a3];

                const Word16 *d3 = dt[3][g];
                for (int a3 = 0; a3 < ACELP_TRACK_POSITIONS; ++a3) {
                    const Word16 ps3 = add(ps2, d3[a3]);
                    const Word16 alp = extract_l((e2 + e4[a3]) >> 5);
                    const Word16 sq = mult(ps3, ps3);
                    if (L_mult(sq, alpha) > L_mult(psc, alp)) {
                        psc = sq;
                        alpha = alp;
                        best[0] = track_pos(0, a0);
                        best[1] = track_pos(1, a1);
                        best[2] = track_pos(2, a2);
                        best[3] = track_pos(3, a3);
                        best_grid = g;
                    }
                }
                budget = static_cast<Word16>(budget - 1);
                if (budget <= 0) goto search_done;
            }
        }
    }
search_done:
    budget_carry = budget;

    int s[ACELP_TRACKS];
    for (int k = 0; k < ACELP_TRACKS; ++k) {
        s[k] = sign[best[k] / 2];
        best[k] += best_grid;
    }

    std::fill(out.code, out.code + SUBFRAME_LEN, Word16{0});
    std::fill(out.filtered, out.filtered + SUBFRAME_LEN, Word16{0});
    out.signs = 0;
    out.index = 0;
    for (int k = 0; k < ACELP_TRACKS; ++k) {
        const int p = best[k];
        if (p < SUBFRAME_LEN) {
            out.code[p] = static_cast<Word16>(s[k]);
            for (int j = 0; j < SUBFRAME_LEN - p; ++j)
                out.filtered[p + j] = s[k] > 0 ? add(out.filtered[p + j], h[j]) : sub(out.filtered[p + j], h[j]);
        }
        if (s[k] > 0) out.signs = static_cast<Word16>(out.signs | (1 << k));
        out.index = static_cast<Word16>(out.index + ((p >> 3) << (3 * k)));
    }
    out.grid = static_cast<Word16>(best_grid);
}

QRXC_AVX2_TWIN(void, acelp_pulse_search, acelp_pulse_search_body,
               (Word16 d[ACELP_D_LEN], Word16 rr[ACELP_RR_SIZE], const Word16 h[SUBFRAME_LEN], Word16 &budget_carry,
                Acelp_result &out),
               (d, rr, h, budget_carry, out))

}  // namespace

void acelp_pulse_search(Word16 d[ACELP_D_LEN], Word16 rr[ACELP_RR_SIZE], const Word16 h[SUBFRAME_LEN],
                        Word16 &budget_carry, Acelp_result &out){
    QRXC_DISPATCH(acelp_pulse_search, acelp_pulse_search_body, d, rr, h, budget_carry, out)}

Word16 acelp_gain(const Word16 x[SUBFRAME_LEN], Word16 y[SUBFRAME_LEN], Word16 &gq) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) y[i] = shr(y[i], 3);

    const Word32 lxy = L_mac_n(0, x, y, SUBFRAME_LEN);
    const int exy = norm_l(lxy);
    const Word16 xy = extract_h(static_cast<Word32>(static_cast<std::uint32_t>(lxy) << exy));
    if (xy <= 0) {
        gq = FcbkGainTable[0];
        return 0;
    }
    const Word32 lyy = L_mac_n(0, y, y, SUBFRAME_LEN);
    const int eyy = norm_l(lyy);
    const Word16 yy = extract_h(static_cast<Word32>(static_cast<std::uint32_t>(lyy) << eyy));

    Word16 g = div_s(static_cast<Word16>(xy >> 1), yy);
    const Word16 n = sub(add(static_cast<Word16>(exy), 5), static_cast<Word16>(eyy));
    g = shr(g, n);

    int index = 0;
    Word16 dmin = abs_s(sub(g, FcbkGainTable[0]));
    for (int m = 1; m < GAIN_LEVELS; ++m) {
        const Word16 dist = abs_s(sub(g, FcbkGainTable[m]));
        if (dist < dmin) {
            dmin = dist;
            index = m;
        }
    }
    gq = FcbkGainTable[index];
    return static_cast<Word16>(index);
}

Word16 acelp_code(Word16 x[SUBFRAME_LEN], Word16 h[SUBFRAME_LEN], Word16 t0s, Word16 gs, Word16 &budget,
                  Word16 &gain_index, Word16 &grid, Word16 &signs) {
    for (int i = 0; i < SUBFRAME_LEN; ++i) h[i] = shr(h[i], 1);
    sharpen(h, t0s, gs);

    Word16 rr[ACELP_RR_SIZE];
    acelp_corr_matrix(h, rr);
    Word16 d[ACELP_D_LEN];
    acelp_target_corr(h, x, d);

    Acelp_result res;
    acelp_pulse_search(d, rr, h, budget, res);
    Word16 gq;
    gain_index = acelp_gain(x, res.filtered, gq);

    for (int i = 0; i < SUBFRAME_LEN; ++i) x[i] = static_cast<Word16>(res.code[i] * gq);
    sharpen(x, t0s, gs);

    grid = res.grid;
    signs = res.signs;
    return res.index;
}

}  // namespace qrxc::g723
