// Closed-loop adaptive-codebook (pitch) search: a lag around the open-loop
// estimate and a 5-tap gain vector, scored by analysis by synthesis.
#include "g723/encoder/acb_search.h"

#include <algorithm>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/tables.h"
#include "g723/encoder/search_kernels.h"
#include "g723/encoder/searches.h"

namespace g723 {

namespace {

constexpr int MAX_CANDIDATES = 4;
constexpr int SEARCH_LAG_MIN = 18;
constexpr int SEARCH_LAG_MAX = 141;  // even subframes search at most 139..141

// Largest magnitude of each column of the two gain tables; a score whose
// terms stay below these bounds cannot saturate.
constexpr Word16 COL_MAX_85[ACB_GAIN_COLS] = {15072, 17498, 17310, 16867, 16272, 13865, 18689,
                                              18288, 17366, 16160, 7183,  2914,  7749,  3073,
                                              2782,  7271,  3398,  1957,  3139,  5842};
constexpr Word16 COL_MAX_170[ACB_GAIN_COLS] = {15778, 17853, 18914, 16705, 16945, 15195, 19455,
                                               21836, 17032, 17526, 8032,  4531,  7700,  4252,
                                               3932,  9047,  5967,  5048,  5330,  6561};

// The 20 correlations of one candidate lag, in table-column order.
void lag_correlations(Word32 out[ACB_GAIN_COLS], const Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                      const Word16 hist[ACB_LAG_MAX], Word16 lag) {
    Word16 r[64];
    acb_history(r, hist, lag);

    // Tap 4 by full convolution, taps 3..0 each from the next one by one
    // recursion step (h[0] taken as 1.0 in Q13).
    Word16 f[5][SUBFRAME_LEN];
    kernels::conv_round(f[4], r + 4, h);
    for (int t = 3; t >= 0; --t) {
        f[t][0] = round(L_mult(r[t], 0x2000));
        for (int i = 1; i < SUBFRAME_LEN; ++i) f[t][i] = round(L_mac(L_deposit_h(f[t + 1][i - 1]), r[t], h[i]));
    }

    for (int t = 0; t < 5; ++t) out[t] = L_shl(kernels::dot_add(x, f[t], SUBFRAME_LEN), 1);
    for (int t = 0; t < 5; ++t) out[5 + t] = kernels::dot_mac(f[t], f[t], SUBFRAME_LEN);
    static constexpr int PAIRS[10][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, {3, 2}, {4, 0}, {4, 1}, {4, 2}, {4, 3}};
    for (int p = 0; p < 10; ++p)
        out[10 + p] = L_shl(kernels::dot_add(f[PAIRS[p][0]], f[PAIRS[p][1]], SUBFRAME_LEN), 2);
}

}  // namespace

bool acb_uses_big_table(int rate_select, Word16 lag) { return rate_select == RATE_53 || lag >= 58; }

const Word16 *acb_gain_row(bool big_table, int index) {
    return big_table ? AcbkGainTable170[index] : AcbkGainTable085[index];
}

const Word16 *acb_column_bound(bool big_table) { return big_table ? COL_MAX_170 : COL_MAX_85; }

Acb_pick acb_score_plain(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best) {
    Acb_pick pick{best, -1};
    for (int g = 0; g < n; ++g) {
        const Word16 *row = acb_gain_row(big_table, g);
        Word32 score = 0;
        for (int j = 0; j < ACB_GAIN_COLS; ++j) score = L_add(score, Word32{v[j]} * row[j]);
        if (score > pick.score) pick = {score, g};
    }
    return pick;
}

Acb_pick acb_score(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best) {
    const Word16 *col_max = acb_column_bound(big_table);
    kernels::Int64 bound = 0;
    for (int j = 0; j < ACB_GAIN_COLS; ++j) bound += kernels::Int64{v[j] < 0 ? -v[j] : v[j]} * col_max[j];
    if (bound > kernels::WORD32_LIMIT) return acb_score_plain(v, big_table, n, best);

    Acb_pick pick{best, -1};
    for (int g = 0; g < n; ++g) {
        const Word16 *row = acb_gain_row(big_table, g);
        Word32 score = 0;
        for (int j = 0; j < ACB_GAIN_COLS; ++j) score += Word32{v[j]} * row[j];
        if (score > pick.score) pick = {score, g};
    }
    return pick;
}

void acb_search(const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s) {
    if (s < 0 || s >= SUBFRAMES) return;
    const int odd = s & 1;
    const int half = s >> 1;
    Word16 l0 = params.ol_lag[half];
    const int nc = 3 + odd;
    if (odd == 0) {
        if (l0 == 18) l0 = 19;
        else if (l0 > 140) l0 = 140;
    }
    // The driver's lags are always in range; a corrupt one must still not
    // read outside the excitation history.
    l0 = static_cast<Word16>(std::clamp<int>(l0, SEARCH_LAG_MIN, SEARCH_LAG_MAX));

    Word32 corr[MAX_CANDIDATES * ACB_GAIN_COLS];
    for (int k = 0; k < nc; ++k)
        lag_correlations(corr + ACB_GAIN_COLS * k, x, h, st.prev_exc, static_cast<Word16>(l0 - 1 + k));

    const int count = ACB_GAIN_COLS * nc;
    Word32 m = 0;
    for (int i = 0; i < count; ++i) m = std::max(m, L_abs(corr[i]));
    const int e = m == 0 ? 0 : norm_l(m);
    Word16 v[MAX_CANDIDATES * ACB_GAIN_COLS];
    for (int i = 0; i < count; ++i) v[i] = round(static_cast<Word32>(static_cast<std::uint32_t>(corr[i]) << e));

    const Word16 off = taming_test(st, rate_select, static_cast<Word16>(l0 - 1), static_cast<Word16>(l0 + 1 + odd));
    const Word16 bound85 = std::min<Word16>(add(51, shl(off, 2)), 85);
    const Word16 bound170 = std::min<Word16>(add(93, shl(off, 3)), 170);

    Word32 best = 0;
    int kbest = 1;
    int gbest = 0;
    for (int k = 0; k < nc; ++k) {
        const Word16 sel_lag = odd ? l0 : static_cast<Word16>(l0 - 1 + k);
        const bool big = acb_uses_big_table(rate_select, sel_lag);
        const Acb_pick pick = acb_score(v + ACB_GAIN_COLS * k, big, big ? bound170 : bound85, best);
        if (pick.index >= 0) {
            best = pick.score;
            kbest = k;
            gbest = pick.index;
        }
    }

    Subframe_params &sub = params.sub[s];
    if (odd == 0) {
        params.ol_lag[half] = static_cast<Word16>(l0 - 1 + kbest);
        sub.lag_offset = 1;
    } else {
        sub.lag_offset = static_cast<Word16>(kbest);
    }
    sub.acb_gain = static_cast<Word16>(gbest);

    Word16 e_acb[SUBFRAME_LEN];
    acb_excitation(e_acb, st.prev_exc, params.ol_lag[half], sub.lag_offset, sub.acb_gain, rate_select);
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        Word32 a = L_shr(L_deposit_h(x[i]), 1);
        for (int j = 0; j <= i; ++j) a = L_msu(a, e_acb[j], h[i - j]);
        x[i] = round(L_shl(a, 1));
    }
}

}  // namespace g723
