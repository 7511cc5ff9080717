// Closed-loop adaptive-codebook (pitch) search: a lag around the open-loop
// estimate and a 5-tap gain vector, scored by analysis by synthesis.
#include "g723/encoder/acb_search.h"

#include <algorithm>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"
#include "g723/encoder/taming.h"

#if QRXC_X86_KERNELS
#include "g723/common/x86/conv_kernels.h"
#include "g723/common/x86/row_scores.h"
#endif

namespace qrxc::g723 {

namespace {

constexpr int MAX_CANDIDATES = 4;
constexpr int SEARCH_LAG_MIN = 18;
constexpr int SEARCH_LAG_MAX = 141;  // even subframes search at most 139..141

// The subframe's weighted impulse response as the convolutions take it.
struct Response {
    const Word16 *h;
    std::int64_t sum_abs;
#if QRXC_X86_KERNELS
    x86::Response_pairs pairs;
#endif
};

template <Kernel_set K>
QRXC_KERNEL_BODY void make_response(Response &r, const Word16 h[SUBFRAME_LEN]) {
    r.h = h;
    r.sum_abs = sum_abs(h, SUBFRAME_LEN);
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) x86::pair_response(r.pairs, h);
#endif
}

// conv_round as kernel set K has it.
template <Kernel_set K>
QRXC_KERNEL_BODY void conv_round_in(Word16 out[SUBFRAME_LEN], const Word16 *x, const Response &r) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        if (2 * max_abs(x, SUBFRAME_LEN) * r.sum_abs > MAX_32) {
            conv_round_plain(out, x, r.h);
            return;
        }
        alignas(32) std::int32_t acc[64];
        if constexpr (K == Kernel_set::avx2)
            x86::conv_sums_avx2(acc, x, r.pairs);
        else
            x86::conv_sums_sse2(acc, x, r.pairs);
        x86::round_double(out, acc);
        return;
    }
#endif
    conv_round(out, x, r.h);
}

// subtract_filtered as kernel set K has it.
template <Kernel_set K>
QRXC_KERNEL_BODY void subtract_filtered_in(Word16 x[SUBFRAME_LEN], const Word16 e[SUBFRAME_LEN], const Response &r) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        const std::int64_t bound =
            (std::int64_t{max_abs(x, SUBFRAME_LEN)} << 15) + 2 * max_abs(e, SUBFRAME_LEN) * r.sum_abs;
        if (bound > MAX_32) {
            subtract_filtered_plain(x, e, r.h);
            return;
        }
        alignas(32) std::int32_t acc[64];
        if constexpr (K == Kernel_set::avx2)
            x86::conv_sums_avx2(acc, e, r.pairs);
        else
            x86::conv_sums_sse2(acc, e, r.pairs);
        x86::subtract_double(x, acc);
        return;
    }
#endif
    subtract_filtered(x, e, r.h);
}

// The search's 64-sample buffers: a subframe, then zeros.
constexpr int PADDED = 64;

template <Kernel_set K>
QRXC_KERNEL_BODY std::int64_t energy_in(const Word16 *a) {
#if QRXC_X86_KERNELS
    if constexpr (K == Kernel_set::avx2) return x86::energy64_avx2(a);
    if constexpr (K == Kernel_set::sse2) return x86::energy64_sse2(a);
#endif
    return sum_squares(a, SUBFRAME_LEN);
}

// products_known over padded buffers.
template <Kernel_set K>
QRXC_KERNEL_BODY Word32 products_in(const Word16 *a, const Word16 *b, std::int64_t ea, std::int64_t eb) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        if (!products_fit(ea, eb)) return products_steps(a, b, SUBFRAME_LEN);
        if constexpr (K == Kernel_set::avx2)
            return x86::dot64_avx2(a, b);
        else
            return x86::dot64_sse2(a, b);
    }
#endif
    return products_known(a, b, SUBFRAME_LEN, ea, eb);
}

// The 20 correlations of one candidate lag, in table-column order; x is
// padded and ex its exact energy.
template <Kernel_set K>
QRXC_KERNEL_BODY void lag_correlations(Word32 out[ACB_GAIN_COLS], const Word16 x[PADDED], std::int64_t ex,
                                       const Response &resp, const Word16 hist[ACB_LAG_MAX], Word16 lag) {
    const Word16 *h = resp.h;
    Word16 r[64];
    acb_history(r, hist, lag);

    // Tap 4 by full convolution, taps 3..0 each from the next one by one
    // recursion step (h[0] taken as 1.0 in Q13).
    alignas(32) Word16 f[5][PADDED];
    conv_round_in<K>(f[4], r + 4, resp);
    for (int t = 3; t >= 0; --t) tap_step(f[t], f[t + 1], r[t], h);
    for (int t = 0; t < 5; ++t) std::fill(f[t] + SUBFRAME_LEN, f[t] + PADDED, Word16{0});

    std::int64_t ef[5];
    for (int t = 0; t < 5; ++t) ef[t] = energy_in<K>(f[t]);

    for (int t = 0; t < 5; ++t) out[t] = L_shl(products_in<K>(x, f[t], ex, ef[t]), 1);
    for (int t = 0; t < 5; ++t) out[5 + t] = energy_known(f[t], SUBFRAME_LEN, ef[t]);
    static constexpr int TAP_PAIRS[10][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 0}, {3, 1},
                                             {3, 2}, {4, 0}, {4, 1}, {4, 2}, {4, 3}};
    for (int p = 0; p < 10; ++p) {
        const int a = TAP_PAIRS[p][0];
        const int b = TAP_PAIRS[p][1];
        out[10 + p] = L_shl(products_in<K>(f[a], f[b], ef[a], ef[b]), 2);
    }
}

}  // namespace

bool acb_uses_big_table(int rate_select, Word16 lag) { return rate_select == RATE_53 || lag >= SHORT_LAG; }

const Word16 *acb_gain_row(bool big_table, int index) {
    return big_table ? AcbkGainTable170[index] : AcbkGainTable085[index];
}

static_assert(ACB_GAIN_COLS == SCORE_COLS);

Acb_pick acb_score_plain(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best) {
    return best_row_plain(v, big_table ? AcbkGainTable170 : AcbkGainTable085, n, best);
}

namespace {

constexpr int ACB_ROWS_MAX = 170;

// A row whose magnitudes sum to at most 65535 keeps every partial sum of
// its products with values of at most 32768 within 32 bits, so its plain
// sum is the saturating chain's; the few wider rows (7 of 170, 2 of 85)
// are scored one by one.
bool row_is_wide(const Word16 row[ACB_GAIN_COLS]) { return 32768 * sum_abs(row, ACB_GAIN_COLS) > MAX_32; }

// products_steps, exact when the term magnitudes fit 32 bits.
Word32 wide_row_score(const Word16 v[ACB_GAIN_COLS], const Word16 row[ACB_GAIN_COLS]) {
    std::int64_t sum;
    std::int64_t mag;
    dot_and_magnitude(v, row, ACB_GAIN_COLS, sum, mag);
    return mag <= MAX_32 ? static_cast<Word32>(sum) : products_steps(v, row, ACB_GAIN_COLS);
}

// A gain table column by column, for the scoring without hand-written
// SIMD: each column's pass over the rows is one loop the compiler
// vectorises (in WebAssembly too), and the ordinary rows need no bound.
struct Column_table {
    const Word16 (*rows)[ACB_GAIN_COLS];
    Word16 cols[ACB_GAIN_COLS][ACB_ROWS_MAX];
    bool wide[ACB_ROWS_MAX];
};

Column_table by_columns(const Word16 (*rows)[ACB_GAIN_COLS], int n) {
    Column_table ct{};
    ct.rows = rows;
    for (int r = 0; r < n; ++r) {
        for (int j = 0; j < ACB_GAIN_COLS; ++j) ct.cols[j][r] = rows[r][j];
        ct.wide[r] = row_is_wide(rows[r]);
    }
    return ct;
}

// Made as the library loads; nothing encodes during static initialisation.
const Column_table COLUMNS_085 = by_columns(AcbkGainTable085, 85);
const Column_table COLUMNS_170 = by_columns(AcbkGainTable170, 170);

// best_row_plain over the first n rows.
template <Kernel_set K>
QRXC_KERNEL_BODY Acb_pick column_best_row(const Word16 v[ACB_GAIN_COLS], const Column_table &ct, int n, Word32 best) {
    // Summed modulo 2^32: a wide row's sum is not used.
    std::uint32_t sums[ACB_ROWS_MAX];
    for (int r = 0; r < n; ++r) sums[r] = static_cast<std::uint32_t>(std::int32_t{v[0]} * ct.cols[0][r]);
    for (int j = 1; j < ACB_GAIN_COLS; ++j) {
        const std::int32_t vj = v[j];
        const Word16 *col = ct.cols[j];
        for (int r = 0; r < n; ++r) sums[r] += static_cast<std::uint32_t>(vj * col[r]);
    }
    Acb_pick pick{best, -1};
    for (int r = 0; r < n; ++r) {
        const Word32 score = ct.wide[r] ? wide_row_score(v, ct.rows[r]) : static_cast<Word32>(sums[r]);
        if (score > pick.score) pick = {score, r};
    }
    return pick;
}

}  // namespace

Acb_pick acb_score_portable(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best) {
    return column_best_row<Kernel_set::generic>(v, big_table ? COLUMNS_170 : COLUMNS_085, n, best);
}

#if QRXC_X86_KERNELS
namespace {

// A gain table as the SIMD scoring reads it, the wide rows apart.
struct Paired_table {
    const Word16 (*rows)[ACB_GAIN_COLS];
    int wide[ACB_GAIN_COLS];
    int wide_count;
    x86::Row_group groups[(170 + x86::ROW_GROUP - 1) / x86::ROW_GROUP];
};

Paired_table pair_rows(const Word16 (*rows)[ACB_GAIN_COLS], int n) {
    Paired_table pt{};
    pt.rows = rows;
    for (int r = 0; r < n; ++r) {
        x86::Row_group &g = pt.groups[r / x86::ROW_GROUP];
        const int l = r % x86::ROW_GROUP;
        for (int j = 0; j < ACB_GAIN_COLS; ++j) g.t[j / 2][2 * l + j % 2] = rows[r][j];
        const bool wide = row_is_wide(rows[r]);
        g.use[l] = wide ? 0 : -1;
        if (wide) pt.wide[pt.wide_count++] = r;
    }
    return pt;
}

// Made as the library loads; nothing encodes during static initialisation.
const Paired_table PAIRED_085 = pair_rows(AcbkGainTable085, 85);
const Paired_table PAIRED_170 = pair_rows(AcbkGainTable170, 170);

// best_row_plain over the first n rows: the lanes' and the wide rows' first
// largest scores merged, ties to the lower row.
template <Kernel_set K>
QRXC_KERNEL_BODY Acb_pick paired_best_row(const Word16 v[ACB_GAIN_COLS], const Paired_table &pt, int n, Word32 best) {
    std::int32_t vp[x86::COL_PAIRS];
    x86::pack_pairs(vp, v);
    x86::Lane_best lanes;
    const int count = (n + x86::ROW_GROUP - 1) / x86::ROW_GROUP;
    if constexpr (K == Kernel_set::avx2)
        x86::lane_best_avx2(lanes, vp, pt.groups, count, n);
    else
        x86::lane_best_sse2(lanes, vp, pt.groups, count, n);
    Word32 m = MIN_32;
    int at = n;
    const auto take = [&](Word32 s, int r) {
        if (s > m || (s == m && r < at)) {
            m = s;
            at = r;
        }
    };
    for (int l = 0; l < x86::ROW_GROUP; ++l) take(lanes.score[l], lanes.row[l]);
    for (int w = 0; w < pt.wide_count && pt.wide[w] < n; ++w) take(wide_row_score(v, pt.rows[pt.wide[w]]), pt.wide[w]);
    if (m > best) return {m, at};
    return {best, -1};
}

QRXC_AVX2_TWIN(Acb_pick, paired_best_row, paired_best_row,
               (const Word16 v[ACB_GAIN_COLS], const Paired_table &pt, int n, Word32 best), (v, pt, n, best))

}  // namespace
#endif

namespace {

// The search's scoring as kernel set K has it.
template <Kernel_set K>
QRXC_KERNEL_BODY Acb_pick score_in(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) return paired_best_row<K>(v, big_table ? PAIRED_170 : PAIRED_085, n, best);
#endif
    if constexpr (PLAIN_OPS) return acb_score_plain(v, big_table, n, best);
    return column_best_row<K>(v, big_table ? COLUMNS_170 : COLUMNS_085, n, best);
}

}  // namespace

Acb_pick acb_score(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best, Kernel_set set) {
#if QRXC_AVX2_KERNELS
    if (set == Kernel_set::avx2 && kernel_set_available(set))
        return paired_best_row_avx2(v, big_table ? PAIRED_170 : PAIRED_085, n, best);
#endif
#if QRXC_X86_KERNELS
    if (set != Kernel_set::generic) return score_in<Kernel_set::sse2>(v, big_table, n, best);
#endif
    (void)set;
    return score_in<Kernel_set::generic>(v, big_table, n, best);
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void search(const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                             Frame_params &params, Word16 s) {
    if (s < 0 || s >= SUBFRAMES) return;
    const int odd = s & 1;
    const int half = s >> 1;
    Word16 l0 = params.ol_lag[half];
    const int nc = 3 + odd;
    if (odd == 0) {
        if (l0 == 18)
            l0 = 19;
        else if (l0 > 140)
            l0 = 140;
    }
    // The driver's lags are always in range; a corrupt one must still not
    // read outside the excitation history.
    l0 = static_cast<Word16>(std::clamp<int>(l0, SEARCH_LAG_MIN, SEARCH_LAG_MAX));

    Word32 corr[MAX_CANDIDATES * ACB_GAIN_COLS];
    alignas(32) Word16 xp[PADDED] = {};
    std::copy(x, x + SUBFRAME_LEN, xp);
    const std::int64_t ex = sum_squares(x, SUBFRAME_LEN);
    Response resp;
    make_response<K>(resp, h);
    for (int k = 0; k < nc; ++k)
        lag_correlations<K>(corr + ACB_GAIN_COLS * k, xp, ex, resp, st.prev_exc, static_cast<Word16>(l0 - 1 + k));

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
        const Acb_pick pick = score_in<K>(v + ACB_GAIN_COLS * k, big, big ? bound170 : bound85, best);
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
        // Unchanged for any lag the driver can produce; a corrupt one is
        // replaced by the clamped lag actually searched.
        params.ol_lag[half] = l0;
        sub.lag_offset = static_cast<Word16>(kbest);
    }
    sub.acb_gain = static_cast<Word16>(gbest);

    Word16 e_acb[SUBFRAME_LEN];
    acb_excitation(e_acb, st.prev_exc, params.ol_lag[half], sub.lag_offset, sub.acb_gain, rate_select);
    subtract_filtered_in<K>(x, e_acb, resp);
}

QRXC_AVX2_TWIN(void, search, search,
               (const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s),
               (st, rate_select, x, h, params, s))

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void conv_forms(Word16 out[SUBFRAME_LEN], Word16 x[SUBFRAME_LEN], const Word16 *c,
                                 const Word16 h[SUBFRAME_LEN]) {
    Response r;
    make_response<K>(r, h);
    conv_round_in<K>(out, c, r);
    subtract_filtered_in<K>(x, c, r);
}

QRXC_AVX2_TWIN(void, conv_forms, conv_forms,
               (Word16 out[SUBFRAME_LEN], Word16 x[SUBFRAME_LEN], const Word16 *c, const Word16 h[SUBFRAME_LEN]),
               (out, x, c, h))

}  // namespace

void acb_conv_forms(Word16 out[SUBFRAME_LEN], Word16 x[SUBFRAME_LEN], const Word16 *c, const Word16 h[SUBFRAME_LEN],
                    Kernel_set set) {
#if QRXC_AVX2_KERNELS
    if (set == Kernel_set::avx2 && kernel_set_available(set)) return conv_forms_avx2(out, x, c, h);
#endif
#if QRXC_X86_KERNELS
    if (set != Kernel_set::generic) return conv_forms<Kernel_set::sse2>(out, x, c, h);
#endif
    (void)set;
    conv_forms<Kernel_set::generic>(out, x, c, h);
}

void acb_search(const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s) {
    QRXC_DISPATCH(search, search, st, rate_select, x, h, params, s)
}

}  // namespace qrxc::g723
