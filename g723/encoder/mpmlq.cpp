// Multipulse maximum-likelihood quantisation: np signed pulses of one common
// magnitude on one grid, optionally repeated at the pitch lag.
#include "g723/encoder/mpmlq.h"

#include <algorithm>
#include <cstdlib>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

#if QRXC_X86_KERNELS
#include "g723/common/x86/conv_kernels.h"
#endif

namespace qrxc::g723 {

namespace {

constexpr int GRID_POSITIONS = SUBFRAME_LEN / 2;
constexpr Word32 INITIAL_CRITERION = -0x40000000;

// The candidate's pulses filtered by g: out[l] = extract_h(L_shl(sum over
// pulses p <= l of amp * g[l - p], 2)). Zero samples add nothing to a
// saturating sum, so visiting only the pulses, in position order, is exact.
void filter_pulses_plain(Word16 out[SUBFRAME_LEN], const Word16 *pos, const Word16 *amp, int np,
                         const Word16 g[SUBFRAME_LEN]) {
    Word16 p[MPMLQ_MAX_PULSES];
    Word16 a[MPMLQ_MAX_PULSES];
    for (int i = 0; i < np; ++i) {
        p[i] = pos[i];
        a[i] = amp[i];
    }
    for (int i = 1; i < np; ++i)  // insertion sort of at most six pulses
        for (int j = i; j > 0 && p[j - 1] > p[j]; --j) {
            std::swap(p[j - 1], p[j]);
            std::swap(a[j - 1], a[j]);
        }
    for (int l = 0; l < SUBFRAME_LEN; ++l) {
        Word32 acc = 0;
        for (int k = 0; k < np && p[k] <= l; ++k) acc = L_mac(acc, a[k], g[l - p[k]]);
        out[l] = extract_h(L_shl(acc, 2));
    }
}

// With one common magnitude A no partial sum exceeds 2 np A max|g|; below
// the limit the pulses may be added in any order.
QRXC_KERNEL_BODY void filter_pulses(Word16 out[SUBFRAME_LEN], const Word16 *pos, const Word16 *amp, int np,
                                    const Word16 g[SUBFRAME_LEN], int g_max) {
    const std::int64_t bound = 2 * std::int64_t{np} * max_abs(amp, np) * g_max;
    if (bound > MAX_32) {
        filter_pulses_plain(out, pos, amp, np, g);
        return;
    }
    Word32 acc[SUBFRAME_LEN] = {};
    for (int k = 0; k < np; ++k) {
        const int p = pos[k];
        const Word32 a = amp[k];
        for (int l = p; l < SUBFRAME_LEN; ++l) acc[l] += a * g[l - p];
    }
    for (int l = 0; l < SUBFRAME_LEN; ++l) {
        // L_shl(2 acc, 2), saturating.
        out[l] = acc[l] > (MAX_32 >> 3) ? MAX_16 : (acc[l] < (MIN_32 >> 3) ? MIN_16 : extract_h(8 * acc[l]));
    }
}

// Error criterion: crit = L_mac(crit, t, v) then L_sub(crit, v * v), over
// the subframe.
Word32 criterion_plain(const Word16 t[SUBFRAME_LEN], const Word16 v[SUBFRAME_LEN]) {
    Word32 crit = 0;
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        crit = L_mac(crit, t[i], v[i]);
        crit = L_sub(crit, Word32{v[i]} * v[i]);
    }
    return crit;
}

// Every partial sum lies within 2 sqrt(Et Ev) + Ev (Cauchy-Schwarz); while
// that fits, the two sums can be taken separately. The test is
// 4 Et Ev <= (MAX_32 - Ev)^2, by division so that nothing overflows.
QRXC_KERNEL_BODY Word32 criterion(const Word16 t[SUBFRAME_LEN], const Word16 v[SUBFRAME_LEN], std::int64_t et) {
    const std::int64_t ev = sum_squares(v, SUBFRAME_LEN);
    const std::int64_t room = MAX_32 - ev;
    if (room < 0 || (ev != 0 && 4 * et > room * room / ev)) return criterion_plain(t, v);
    return 2 * sum_products(t, v, SUBFRAME_LEN) - static_cast<Word32>(ev);
}

}  // namespace

Mpmlq_best mpmlq_initial_best(int np) {
    Mpmlq_best b{};
    b.max_err = INITIAL_CRITERION;
    for (int i = 0; i < np && i < MPMLQ_MAX_PULSES; ++i) {
        b.pos[i] = static_cast<Word16>(2 * i);
        b.amp[i] = FcbkGainTable[0];
    }
    return b;
}

namespace {

// Places np pulses of magnitude A on grid k: the first at p0, each next one
// where the target correlation, less what the pulses so far explain, is
// largest. Returns the pulses in the order found.
void place_pulses_plain(Word16 pos[], Word16 amp[], const Word32 c[SUBFRAME_LEN], const Word16 R[SUBFRAME_LEN], int k,
                        int p0, Word16 A, int np) {
    Word32 w[SUBFRAME_LEN];
    bool occupied[SUBFRAME_LEN];
    for (int i = k; i < SUBFRAME_LEN; i += 2) {
        w[i] = c[i];
        occupied[i] = false;
    }
    pos[0] = static_cast<Word16>(p0);
    amp[0] = w[p0] >= 0 ? A : negate(A);
    occupied[p0] = true;
    for (int j = 1; j < np; ++j) {
        Word32 wmax = INITIAL_CRITERION;
        int lbest = k;
        for (int l = k; l < SUBFRAME_LEN; l += 2) {
            if (occupied[l]) continue;
            w[l] = L_msu(w[l], amp[j - 1], R[abs_s(static_cast<Word16>(l - pos[j - 1]))]);
            const Word32 a = L_abs(w[l]);
            if (a > wmax) {
                wmax = a;
                lbest = l;
            }
        }
        pos[j] = static_cast<Word16>(lbest);
        amp[j] = w[lbest] >= 0 ? A : negate(A);
        occupied[lbest] = true;
    }
}

// The same without saturation, valid when max|c| + 2 (np-1) A max|R| fits:
// on grid indices, with R laid out symmetrically so that each update is one
// contiguous slice. Occupied entries are updated too but never read again.
QRXC_KERNEL_BODY void place_pulses_fast(Word16 pos[], Word16 amp[], const Word32 c[SUBFRAME_LEN],
                                        const Word16 r_sym[2 * GRID_POSITIONS - 1], int k, int p0, Word16 A, int np) {
    Word32 w[GRID_POSITIONS];
    Word32 taken[GRID_POSITIONS] = {};  // -1 once occupied: |w| OR -1 is -1
    for (int i = 0; i < GRID_POSITIONS; ++i) w[i] = c[k + 2 * i];
    int ip = (p0 - k) >> 1;
    pos[0] = static_cast<Word16>(p0);
    amp[0] = w[ip] >= 0 ? A : negate(A);
    taken[ip] = -1;
    for (int j = 1; j < np; ++j) {
        const Word32 a2 = 2 * Word32{amp[j - 1]};
        const Word16 *rs = r_sym + (GRID_POSITIONS - 1) - ip;  // rs[i] = R[2 |i - ip|]
        for (int i = 0; i < GRID_POSITIONS; ++i) w[i] -= a2 * rs[i];

        // First largest |w| among the free positions: the maximum, then the
        // first position that holds it.
        Word32 mag[GRID_POSITIONS];
        for (int i = 0; i < GRID_POSITIONS; ++i) mag[i] = (w[i] < 0 ? -w[i] : w[i]) | taken[i];
        Word32 wmax = -1;
        for (int i = 0; i < GRID_POSITIONS; ++i) wmax = mag[i] > wmax ? mag[i] : wmax;
        ip = 0;
        while (mag[ip] != wmax) ++ip;
        pos[j] = static_cast<Word16>(k + 2 * ip);
        amp[j] = w[ip] >= 0 ? A : negate(A);
        taken[ip] = -1;
    }
}

// ---- the fast forms as a kernel set has them ----

// corr_back (t, g) and, with t = g = x, autocorr: both are sums over
// k <= 59 - i of t[i+k] g[k].
template <Kernel_set K>
QRXC_KERNEL_BODY void corr_back_in(Word32 out[SUBFRAME_LEN], const Word16 t[SUBFRAME_LEN],
                                   const Word16 g[SUBFRAME_LEN]) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        if (2 * max_abs(t, SUBFRAME_LEN) * sum_abs(g, SUBFRAME_LEN) > MAX_32) {
            corr_back_plain(out, t, g);
            return;
        }
        x86::Target_pairs tp;
        x86::pair_target(tp, t);
        alignas(32) std::int32_t acc[64];
        if constexpr (K == Kernel_set::avx2)
            x86::corr_sums_avx2(acc, tp, g);
        else
            x86::corr_sums_sse2(acc, tp, g);
        for (int i = 0; i < SUBFRAME_LEN; ++i) out[i] = 2 * acc[i];
        return;
    }
#endif
    corr_back(out, t, g);
}

template <Kernel_set K>
QRXC_KERNEL_BODY void autocorr_in(Word32 out[SUBFRAME_LEN], const Word16 x[SUBFRAME_LEN]) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        // The energy bounds every partial sum, as in autocorr.
        if (2 * sum_squares(x, SUBFRAME_LEN) > MAX_32) {
            autocorr_plain(out, x);
            return;
        }
        x86::Target_pairs tp;
        x86::pair_target(tp, x);
        alignas(32) std::int32_t acc[64];
        if constexpr (K == Kernel_set::avx2)
            x86::corr_sums_avx2(acc, tp, x);
        else
            x86::corr_sums_sse2(acc, tp, x);
        for (int i = 0; i < SUBFRAME_LEN; ++i) out[i] = 2 * acc[i];
        return;
    }
#endif
    autocorr(out, x);
}

// The search's 64-sample buffers: a subframe, then zeros.
constexpr int PADDED = 64;

// filter_pulses into a padded v; gz[64 + k] = g[k], zero before and after.
template <Kernel_set K>
QRXC_KERNEL_BODY void filter_pulses_in(Word16 v[PADDED], const Word16 *pos, const Word16 *amp, int np,
                                       const Word16 g[SUBFRAME_LEN], const Word16 gz[2 * PADDED], int g_max) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        if (2 * std::int64_t{np} * max_abs(amp, np) * g_max > MAX_32) {
            filter_pulses_plain(v, pos, amp, np, g);
        } else if constexpr (K == Kernel_set::avx2) {
            x86::filter_pulses_avx2(v, gz, pos, amp, np);
        } else {
            x86::filter_pulses_sse2(v, gz, pos, amp, np);
        }
        std::fill(v + SUBFRAME_LEN, v + PADDED, Word16{0});
        return;
    }
#endif
    (void)gz;
    filter_pulses(v, pos, amp, np, g, g_max);
}

// criterion over padded t and v.
template <Kernel_set K>
QRXC_KERNEL_BODY Word32 criterion_in(const Word16 t[PADDED], const Word16 v[PADDED], std::int64_t et) {
#if QRXC_X86_KERNELS
    if constexpr (K != Kernel_set::generic) {
        std::int64_t ev;
        if constexpr (K == Kernel_set::avx2)
            ev = x86::energy64_avx2(v);
        else
            ev = x86::energy64_sse2(v);
        const std::int64_t room = MAX_32 - ev;
        if (room < 0 || (ev != 0 && 4 * et > room * room / ev)) return criterion_plain(t, v);
        // Every partial sum of t v is within sqrt(Et Ev), so the lanes' are exact.
        Word32 tv;
        if constexpr (K == Kernel_set::avx2)
            tv = x86::dot64_avx2(t, v);
        else
            tv = x86::dot64_sse2(t, v);
        return 2 * tv - static_cast<Word32>(ev);
    }
#endif
    return criterion(t, v, et);
}

#if QRXC_AVX2_KERNELS
// place_pulses_fast with the 30 grid correlations and the occupied marks
// held in four registers (the two spare lanes marked occupied): the first
// largest free |w| is the first set bit of the lanes equal to the maximum.
// Each pulse's search waits on the one before, so the path from one to the
// next is kept short: the products 2 A R come from a table made once, each
// update taking them with the pulse's sign, and that sign is read off the
// lanes' sign bits rather than through memory.
QRXC_TARGET_AVX2 inline void place_pulses_avx2(Word16 pos[], Word16 amp[], const Word32 c[SUBFRAME_LEN],
                                               const Word16 r_sym[2 * GRID_POSITIONS - 1], int k, int p0, Word16 A,
                                               int np) {
    // prod[29 - ip + i] = 2 A R[2 |i - ip|]; past the span, the spare lanes
    // read zeros or stray products, and they stay occupied.
    alignas(32) std::int32_t prod[64] = {};
    const __m256i a2 = _mm256_set1_epi32(2 * Word32{A});
    for (int i = 0; i < 56; i += 8)
        _mm256_store_si256(reinterpret_cast<__m256i *>(prod + i),
                           _mm256_mullo_epi32(a2, _mm256_cvtepi16_epi32(
                                                      _mm_loadu_si128(reinterpret_cast<const __m128i *>(r_sym + i)))));
    for (int i = 56; i < 2 * GRID_POSITIONS - 1; ++i) prod[i] = 2 * Word32{A} * r_sym[i];
    __m256i w[4];
    __m256i taken[4];
    __m256i idx[4];
    for (int j = 0; j < 4; ++j) {
        alignas(32) std::int32_t wv[8] = {};
        for (int i = 0; i < 8 && 8 * j + i < GRID_POSITIONS; ++i) wv[i] = c[k + 2 * (8 * j + i)];
        w[j] = _mm256_load_si256(reinterpret_cast<const __m256i *>(wv));
        idx[j] = _mm256_add_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(8 * j));
        taken[j] = _mm256_cmpgt_epi32(idx[j], _mm256_set1_epi32(GRID_POSITIONS - 1));
    }
    int ip = (p0 - k) >> 1;
    pos[0] = static_cast<Word16>(p0);
    amp[0] = c[p0] >= 0 ? A : negate(A);
    for (int j = 1; j < np; ++j) {
        const __m256i ipv = _mm256_set1_epi32(ip);
        const __m256i sign = _mm256_set1_epi32(amp[j - 1]);
        const std::int32_t *ps = prod + (GRID_POSITIONS - 1) - ip;
        __m256i mag[4];
        std::uint32_t negative = 0;
        for (int q = 0; q < 4; ++q) {
            taken[q] = _mm256_or_si256(taken[q], _mm256_cmpeq_epi32(idx[q], ipv));
            const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(ps + 8 * q));
            w[q] = _mm256_sub_epi32(w[q], _mm256_sign_epi32(r, sign));
            mag[q] = _mm256_or_si256(_mm256_abs_epi32(w[q]), taken[q]);
            negative |= static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(w[q]))) << (8 * q);
        }
        __m256i m = _mm256_max_epi32(_mm256_max_epi32(mag[0], mag[1]), _mm256_max_epi32(mag[2], mag[3]));
        m = _mm256_max_epi32(m, _mm256_permute2x128_si256(m, m, 1));
        m = _mm256_max_epi32(m, _mm256_shuffle_epi32(m, 0x4e));
        m = _mm256_max_epi32(m, _mm256_shuffle_epi32(m, 0xb1));
        std::uint32_t bits = 0;
        for (int q = 0; q < 4; ++q)
            bits |= static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(mag[q], m))))
                    << (8 * q);
        ip = __builtin_ctz(bits);
        pos[j] = static_cast<Word16>(k + 2 * ip);
        amp[j] = (negative >> ip) & 1 ? negate(A) : A;
    }
}
#endif

template <bool Fast, Kernel_set K>
QRXC_KERNEL_BODY void search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np,
                             Word16 lag) {
    Word16 g[SUBFRAME_LEN];
    Word16 train = 0;
    if (lag <= MPMLQ_TRAIN_LAG_MAX && lag >= ACB_LAG_MIN) {
        train = 1;
        pulse_train(g, h, lag);
    } else {
        std::copy(h, h + SUBFRAME_LEN, g);
    }

    Word16 hs[SUBFRAME_LEN];
    for (int i = 0; i < SUBFRAME_LEN; ++i) hs[i] = shr(g[i], 1);

    // R[d]: correlation of the halved response with itself, normalised by
    // the energy's shift; no lag exceeds the energy, so the shift is safe.
    Word32 r32[SUBFRAME_LEN];
    if constexpr (Fast)
        autocorr_in<K>(r32, hs);
    else
        autocorr_plain(r32, hs);
    const int x = r32[0] == 0 ? 0 : norm_l(r32[0]);
    Word16 R[SUBFRAME_LEN];
    for (int d = 0; d < SUBFRAME_LEN; ++d) R[d] = round(static_cast<Word32>(static_cast<std::uint32_t>(r32[d]) << x));

    Word32 c[SUBFRAME_LEN];
    if constexpr (Fast)
        corr_back_in<K>(c, t, g);
    else
        corr_back_plain(c, t, g);
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        if (x > 4)
            c[i] = L_shl(c[i], x - 4);
        else if (x < 4)
            c[i] = L_shr(c[i], 4 - x);
    }

    Word16 r_sym[2 * GRID_POSITIONS - 1];
    const int r_max = max_abs(R, SUBFRAME_LEN);
    const int g_max = max_abs(g, SUBFRAME_LEN);
    const std::int64_t et = sum_squares(t, SUBFRAME_LEN);
    if constexpr (Fast)
        for (int i = 0; i < 2 * GRID_POSITIONS - 1; ++i) r_sym[i] = R[2 * std::abs(i - (GRID_POSITIONS - 1))];

    alignas(32) Word16 tpad[PADDED] = {};
    alignas(32) Word16 gz[2 * PADDED] = {};
    if constexpr (Fast) {
        std::copy(t, t + SUBFRAME_LEN, tpad);
        std::copy(g, g + SUBFRAME_LEN, gz + PADDED);
    }

    Word16 pos[MPMLQ_MAX_PULSES];
    Word16 amp[MPMLQ_MAX_PULSES];
    alignas(32) Word16 v[PADDED];

    for (int k = 0; k < 2; ++k) {
        int p0 = k;
        Word32 cmax = L_abs(c[k]);
        std::int64_t c_max = 0;
        for (int i = k; i < SUBFRAME_LEN; i += 2) {
            const Word32 a = L_abs(c[i]);
            if (a >= cmax) {  // ties move to the later position
                cmax = a;
                p0 = i;
            }
            c_max = std::max<std::int64_t>(c_max, a);
        }

        int mstar = 22;
        Word32 dmin = 0x40000000;
        for (int m = 22; m >= 2; --m) {
            const Word32 d = L_abs(L_sub(L_mult(FcbkGainTable[m], R[0]), cmax));
            if (d < dmin) {
                dmin = d;
                mstar = m;
            }
        }

        for (int q = 1; q <= 4; ++q) {
            const int gi = std::clamp(mstar - 3 + q, 0, GAIN_LEVELS - 1);
            const Word16 A = FcbkGainTable[gi];

            if constexpr (Fast) {
                // L_abs(MIN_32) differs from |w|, so the bound stays one below.
                if (c_max + 2 * std::int64_t{np - 1} * A * r_max < MAX_32)
#if QRXC_AVX2_KERNELS
                    if constexpr (K == Kernel_set::avx2)
                        place_pulses_avx2(pos, amp, c, r_sym, k, p0, A, np);
                    else
#endif
                        place_pulses_fast(pos, amp, c, r_sym, k, p0, A, np);
                else
                    place_pulses_plain(pos, amp, c, R, k, p0, A, np);
                filter_pulses_in<K>(v, pos, amp, np, g, gz, g_max);
            } else {
                place_pulses_plain(pos, amp, c, R, k, p0, A, np);
                filter_pulses_plain(v, pos, amp, np, g);
            }
            const Word32 crit = Fast ? criterion_in<K>(tpad, v, et) : criterion_plain(t, v);

            if (crit > best.max_err) {
                best.max_err = crit;
                best.grid = static_cast<Word16>(k);
                best.gain_index = static_cast<Word16>(gi);
                best.train = train;
                for (int i = 0; i < np; ++i) {
                    best.pos[i] = pos[i];
                    best.amp[i] = amp[i];
                }
            }
        }
    }
}

// The fast search per kernel set: the set changes only how the loops are
// compiled.
template <Kernel_set K>
QRXC_KERNEL_BODY void fast_search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np,
                                  Word16 lag) {
    search<!PLAIN_OPS, K>(best, t, h, np, lag);
}

QRXC_AVX2_TWIN(void, fast_search, fast_search,
               (Mpmlq_best & best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np, Word16 lag),
               (best, t, h, np, lag))

}  // namespace

void mpmlq_search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np, Word16 lag) {
    QRXC_DISPATCH(fast_search, fast_search, best, t, h, np, lag)
}

void mpmlq_search(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np, Word16 lag,
                  Kernel_set set) {
#if QRXC_AVX2_KERNELS
    if (set == Kernel_set::avx2 && kernel_set_available(set)) return fast_search_avx2(best, t, h, np, lag);
#endif
#if QRXC_X86_KERNELS
    if (set != Kernel_set::generic) return fast_search<Kernel_set::sse2>(best, t, h, np, lag);
#endif
    (void)set;
    fast_search<Kernel_set::generic>(best, t, h, np, lag);
}

void mpmlq_search_plain(Mpmlq_best &best, const Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], int np,
                        Word16 lag) {
    search<false, Kernel_set::generic>(best, t, h, np, lag);
}

void mpmlq_pack(const Word16 v[SUBFRAME_LEN], Subframe_params &sub, const Mpmlq_best &best, int np) {
    sub.pulse_signs = 0;
    sub.pulse_pos = 0;
    int r = 6 - np;
    // Rank of the pulse pattern among all C(30, np) patterns: each empty
    // position before a pulse skips the patterns that would have a pulse there.
    for (int i = 0; i < GRID_POSITIONS && r < 6; ++i) {
        const Word16 x = v[best.grid + 2 * i];
        if (x == 0) {
            sub.pulse_pos = L_add(sub.pulse_pos, CombinatorialTable[r][i]);
        } else {
            sub.pulse_signs = shl(sub.pulse_signs, 1);
            if (x < 0) sub.pulse_signs = add(sub.pulse_signs, 1);
            ++r;
        }
    }
    sub.fcb_gain = best.gain_index;
    sub.grid = best.grid;
    sub.train = best.train;
}

void mpmlq_subframe(Word16 t[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN], Frame_params &params, int s) {
    const int np = Nb_puls[s];
    const Word16 lag = params.ol_lag[s >> 1];
    Mpmlq_best best = mpmlq_initial_best(np);

    mpmlq_search(best, t, h, np, MPMLQ_NO_TRAIN);
    // The driver's lags are at least 18; a corrupt shorter one gets no train.
    if (lag <= MPMLQ_TRAIN_LAG_MAX && lag >= ACB_LAG_MIN) mpmlq_search(best, t, h, np, lag);

    std::fill(t, t + SUBFRAME_LEN, Word16{0});
    for (int i = 0; i < np; ++i) t[best.pos[i]] = best.amp[i];
    mpmlq_pack(t, params.sub[s], best, np);
    if (best.train == 1) pulse_train(t, t, lag);
}

}  // namespace qrxc::g723
