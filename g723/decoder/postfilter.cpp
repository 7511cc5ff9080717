#include "g723/decoder/postfilter.h"

#include <algorithm>
#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

#if QRXC_X86_KERNELS
#include "g723/common/x86/conv_kernels.h"
#endif

namespace qrxc::g723 {

namespace {

constexpr int PF_MAX_LAG = 142;  // keeps lag + 3 within the history
// The gain control's smoothing: agc * 15/16 + g / 16, rounded.
constexpr Word16 AGC_KEEP = Q15(15.0 / 16);
constexpr Word16 AGC_TAKE = Q15(1.0 / 16);

// Saturating dot product of two 60-sample segments; plain arithmetic when
// the buffer's peak rules out saturation (always, on a normalised buffer),
// then by pair multiply-adds where K has them (no pair reaches 2^31 then).
template <Kernel_set K>
inline Word32 dot60(const Word16 *a, const Word16 *b, bool plain) {
#if QRXC_X86_KERNELS
    if constexpr (K == Kernel_set::avx2) {
        if (plain) return 2 * x86::dot60_avx2(a, b);
    } else if constexpr (K == Kernel_set::sse2) {
        if (plain) return 2 * x86::dot60_sse2(a, b);
    }
#endif
    return plain ? L_mac_n_nosat(a, b, SUBFRAME_LEN) : L_mac_n(0, a, b, SUBFRAME_LEN);
}

// The gain control's factor gain * 17/16, saturating, for a gain in Q12.
inline Word32 agc_factor(Word32 gain) {
    const auto g = static_cast<Word16>(gain);
    return add(g, shr(g, 4));
}

// round(L_shl(L_mult(x, f), 4)): every saturation of the chain lands on the
// same 16-bit clamp of the exact value, floor((32 x f + 2^15) / 2^16).
inline Word16 agc_scale(Word16 x, Word32 f) { return sat16((Word32{x} * f + 0x400) >> 11); }

struct Pf_choice {
    Word16 gain_q15;
    Word16 scale_q15;
};

// Gain and scale for a partner with cross-correlation c and energy e, the
// current segment having energy t (all normalised together).
Pf_choice pf_select(Word16 t, Word16 c, Word16 e, int rate_select) {
    // A prediction gain of a quarter or less is not worth filtering.
    if (L_mult(c, c) <= (L_mult(t, e) >> 2)) return {0, Q15(1.0)};
    const Word16 max_gain = LpfConstTable[rate_select == RATE_63 ? 0 : 1];
    const Word16 g = c >= e ? max_gain : mult(div_s(c, e), max_gain);
    const Word32 t15 = Word32{t} << 15;
    Word32 a = L_mac(t15, g, c);
    a = L_add(a, Word32{e} * mult(g, g));
    const Word16 v = round(a);
    const Word16 q = t15 >= Word32{v} * 65536 ? Q15(1.0) : div_32_16(t15, v);
    const Word16 scale = fixed_sqrt(Word32{q} << 16);
    return {mult(g, scale), scale};
}

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY Pf_params pitch_pf_params_body(const Word16 buf[EXC_BUF_LEN], Word16 ol_lag, int subframe,
                                                int rate_select) {
    Pf_params pf{0, 0, Q15(1.0)};
    const int c = ol_lag < PF_MAX_LAG ? ol_lag : PF_MAX_LAG;
    const int start = ACB_LAG_MAX + SUBFRAME_LEN * subframe;
    const Word16 *x = buf + start;
    const bool plain = chain_cannot_saturate(SUBFRAME_LEN, max_abs(buf, EXC_BUF_LEN));

    // Ties keep the smaller offset; a non-positive correlation never wins.
    Word32 best = 0;
    int bl = 0;
    for (int i = c - 3; i <= c + 3; ++i) {
        const Word32 r = dot60<K>(x, x - i, plain);
        if (r > best) {
            best = r;
            bl = -i;
        }
    }
    best = 0;
    int fl = 0;
    for (int i = c - 3; i <= c + 3; ++i) {
        // A forward partner must lie inside the frame.
        if (SUBFRAME_LEN * subframe + SUBFRAME_LEN + i > FRAME_LEN) break;
        const Word32 r = dot60<K>(x, x + i, plain);
        if (r > best) {
            best = r;
            fl = i;
        }
    }
    if (bl == 0 && fl == 0) return pf;

    Word32 v[5] = {dot60<K>(x, x, plain), 0, 0, 0, 0};  // E0, C1, E1, C2, E2
    if (bl != 0) {
        v[1] = dot60<K>(x, x + bl, plain);
        v[2] = dot60<K>(x + bl, x + bl, plain);
    }
    if (fl != 0) {
        v[3] = dot60<K>(x, x + fl, plain);
        v[4] = dot60<K>(x + fl, x + fl, plain);
    }
    Word32 m = 0;
    for (Word32 a : v)
        if (a > m) m = a;
    const int e = m == 0 ? 0 : norm_l(m);
    Word16 w[5];
    for (int k = 0; k < 5; ++k) w[k] = extract_h(L_shl(v[k], e));
    const Word16 t = w[0], cb = w[1], eb = w[2], cf = w[3], ef = w[4];

    bool backward = bl != 0;
    if (bl != 0 && fl != 0) backward = L_mult(mult_r(cb, cb), ef) > L_mult(mult_r(cf, cf), eb);
    const Pf_choice ch = backward ? pf_select(t, cb, eb, rate_select) : pf_select(t, cf, ef, rate_select);
    pf.lag = static_cast<Word16>(backward ? bl : fl);
    pf.gain_q15 = ch.gain_q15;
    pf.scale_q15 = ch.scale_q15;
    return pf;
}

QRXC_AVX2_TWIN(Pf_params, pitch_pf_params, pitch_pf_params_body,
               (const Word16 buf[EXC_BUF_LEN], Word16 ol_lag, int subframe, int rate_select),
               (buf, ol_lag, subframe, rate_select))

}  // namespace

Pf_params pitch_pf_params(const Word16 buf[EXC_BUF_LEN], Word16 ol_lag, int subframe, int rate_select) {
    QRXC_DISPATCH(pitch_pf_params, pitch_pf_params_body, buf, ol_lag, subframe, rate_select)
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void pitch_pf_filter_body(Word16 out[FRAME_LEN], const Word16 buf[EXC_BUF_LEN], const Pf_params &pf,
                                           int subframe) {
    const Word16 *x = buf + ACB_LAG_MAX + SUBFRAME_LEN * subframe;
    Word16 *o = out + SUBFRAME_LEN * subframe;
    const Word16 *partner = x + pf.lag;
    const std::int64_t weights =
        std::int64_t{pf.scale_q15 < 0 ? -pf.scale_q15 : pf.scale_q15} + (pf.gain_q15 < 0 ? -pf.gain_q15 : pf.gain_q15);
    const int peak = std::max(max_abs(x, SUBFRAME_LEN), max_abs(partner, SUBFRAME_LEN));
    if (!PLAIN_OPS && 2 * weights * peak + 0x8000 <= MAX_32) {
        // Neither the products, their sum nor the rounding can saturate.
        for (int n = 0; n < SUBFRAME_LEN; ++n)
            o[n] = static_cast<Word16>(
                (2 * (std::int32_t{x[n]} * pf.scale_q15 + std::int32_t{partner[n]} * pf.gain_q15) + 0x8000) >> 16);
        return;
    }
    for (int n = 0; n < SUBFRAME_LEN; ++n) o[n] = round(L_mac(L_mult(x[n], pf.scale_q15), pf.gain_q15, partner[n]));
}

QRXC_AVX2_TWIN(void, pitch_pf_filter, pitch_pf_filter_body,
               (Word16 out[FRAME_LEN], const Word16 buf[EXC_BUF_LEN], const Pf_params &pf, int subframe),
               (out, buf, pf, subframe))

}  // namespace

void pitch_pf_filter(Word16 out[FRAME_LEN], const Word16 buf[EXC_BUF_LEN], const Pf_params &pf, int subframe) {
    QRXC_DISPATCH(pitch_pf_filter, pitch_pf_filter_body, out, buf, pf, subframe)
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY Word32 formant_pf_body(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]) {
    Word16 zc[LPC_ORDER], pc[LPC_ORDER];
    for (int j = 0; j < LPC_ORDER; ++j) {
        zc[j] = mult_r(lpc_q13[j], PostFiltZeroTable[j]);
        pc[j] = mult_r(lpc_q13[j], PostFiltPoleTable[j]);
    }

    Word16 t[SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; ++n) t[n] = x[n];
    const Word16 e = vector_normalize(t, SUBFRAME_LEN);
    // After normalising, no magnitude exceeds 0x1000: 60 doubled products
    // stay below 2^31, so neither saturating sum can saturate.
    const Word32 r1 = L_mac_n_nosat(t + 1, t, SUBFRAME_LEN - 1);
    const Word32 r0 = L_mac_n_nosat(t, t, SUBFRAME_LEN);
    const Word32 energy = L_shr(r0, 2 * e + 4);

    // First reflection coefficient, smoothed into the tilt memory.
    Word16 k = 0;
    if ((r0 >> 16) != 0) {
        const Word32 h = L_shr(r1, 1);
        k = div_32_16(L_abs(h), static_cast<Word16>(r0 >> 16));
        if (h < 0) k = negate(k);
    }
    st.pf_tilt = round(L_mac(L_msu(L_deposit_h(st.pf_tilt), st.pf_tilt, 0x2000), k, 0x2000));
    const auto m = static_cast<Word16>(mult(st.pf_tilt, -0x4000) & 0xfffc);

    // Inputs and pole-section outputs oldest first (as in lpc_synth). The zero
    // section needs no recursion, so its sums are formed for the whole
    // subframe first; each sample then adds its pole-section terms. The
    // exact sum is taken only where no step of the saturating chain
    // (input, ten L_msu, ten L_mac) can saturate.
    Word16 xin[LPC_ORDER + SUBFRAME_LEN], yh[LPC_ORDER + SUBFRAME_LEN];
    Word16 zr[LPC_ORDER], pr[LPC_ORDER];
    for (int j = 0; j < LPC_ORDER; ++j) {
        xin[LPC_ORDER - 1 - j] = st.pf_fir_mem[j];
        yh[LPC_ORDER - 1 - j] = st.pf_iir_mem[j];
        zr[LPC_ORDER - 1 - j] = zc[j];
        pr[LPC_ORDER - 1 - j] = pc[j];
    }
    for (int n = 0; n < SUBFRAME_LEN; ++n) xin[LPC_ORDER + n] = x[n];
    // zmag and pmag are upper bounds of the term magnitudes.
    std::int64_t zsum[SUBFRAME_LEN], zmag[SUBFRAME_LEN];
    const std::int64_t zabs = sum_abs(zr, LPC_ORDER);
    const std::int64_t pabs = sum_abs(pr, LPC_ORDER);
    const std::int64_t zbound = zabs * max_abs(xin, LPC_ORDER + SUBFRAME_LEN);
    int peak = max_abs(yh, LPC_ORDER);
    int n = 0;
    if (!PLAIN_OPS && zbound < (std::int64_t{1} << 30)) {
        // One pass over the subframe per tap, so that the sums vectorise.
        Word32 z[SUBFRAME_LEN] = {};
        Word32 sums[SUBFRAME_LEN];  // the pole sections' sums, before the shift
        for (int j = 0; j < LPC_ORDER; ++j)
            for (int i = 0; i < SUBFRAME_LEN; ++i) z[i] += Word32{zr[j]} * xin[i + j];
        // The cheap test once for the whole subframe, as in lpc_synth: it
        // holds while the peak stays within the room the largest input and
        // the zero section's bound leave.
        const std::int64_t room = peak_room((std::int64_t{max_abs(x, SUBFRAME_LEN)} << 14) + 2 * zbound, pabs);
        // Each sample's start, for the whole subframe at once; it fits
        // wherever the room does.
        Word32 start[SUBFRAME_LEN] = {};
        if (room >= 0)
            for (int i = 0; i < SUBFRAME_LEN; ++i) start[i] = (Word32{x[i]} << 14) - 2 * z[i];
        n = pole_run<K>(yh + LPC_ORDER, sums, start, pc, room, peak);
        // The tilt step needs no recursion of its own: it is taken for the
        // whole run at once, off the pole section's path from one sample to
        // the next.
        for (int i = 0; i < n; ++i) x[i] = tilt_round(sums[i], yh[LPC_ORDER - 1 + i], m);
        for (int i = n; i < SUBFRAME_LEN; ++i) {
            zsum[i] = z[i];
            zmag[i] = zbound;
        }
    } else {
        for (int i = 0; i < SUBFRAME_LEN; ++i) dot_and_magnitude(zr, xin + i, LPC_ORDER, zsum[i], zmag[i]);
    }
    for (; n < SUBFRAME_LEN; ++n) {
        const Word16 *w = yh + n;
        const Word32 a0 = Word32{xin[LPC_ORDER + n]} << 14;
        const std::int64_t start = abs64(a0) + 2 * zmag[n];
        Word32 a;
        std::int64_t sum, mag;
        if (!PLAIN_OPS && start + 2 * pabs * peak <= MAX_32) {
            a = static_cast<Word32>(a0 - 2 * zsum[n] + 2 * dot10_in<K>(pr, w));
        } else if (!PLAIN_OPS && (dot_and_magnitude(pr, w, LPC_ORDER, sum, mag), start + 2 * mag <= MAX_32)) {
            a = static_cast<Word32>(a0 - 2 * zsum[n] + 2 * sum);
        } else {
            a = a0;
            for (int j = 0; j < LPC_ORDER; ++j) a = L_msu(a, zc[j], xin[n + LPC_ORDER - 1 - j]);
            for (int j = 0; j < LPC_ORDER; ++j) a = L_mac(a, pc[j], w[LPC_ORDER - 1 - j]);
        }
        a = L_shl(a, 2);
        yh[LPC_ORDER + n] = round(a);
        const int ay = yh[LPC_ORDER + n] < 0 ? -yh[LPC_ORDER + n] : yh[LPC_ORDER + n];
        peak = ay > peak ? ay : peak;
        x[n] = round(L_mac(a, yh[LPC_ORDER + n - 1], m));
    }
    for (int j = 0; j < LPC_ORDER; ++j) {
        st.pf_fir_mem[j] = xin[LPC_ORDER + SUBFRAME_LEN - 1 - j];
        st.pf_iir_mem[j] = yh[LPC_ORDER + SUBFRAME_LEN - 1 - j];
    }
    return energy;
}

QRXC_AVX2_TWIN(Word32, formant_pf, formant_pf_body,
               (Dec_state & st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]), (st, x, lpc_q13))

}  // namespace

Word32 formant_pf(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]) {
    QRXC_DISPATCH(formant_pf, formant_pf_body, st, x, lpc_q13)
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void gain_scale_body(Dec_state &st, Word16 x[SUBFRAME_LEN], Word32 input_energy) {
    Word32 ex = energy_60(x);
    Word16 g_q12 = Q(12, 1.0);
    if (ex != 0 && input_energy != 0) {
        const Word16 e1 = norm_l(ex);
        ex = L_shl(ex, e1);
        const Word16 e2 = norm_l(input_energy);
        const Word32 a = L_shr(L_shl(input_energy, e2), 1);
        Word16 sh = sub(6, add(sub(e1, e2), 1));
        if (sh < 0) sh = 0;
        const Word16 q = div_32_16(a, extract_h(ex));
        g_q12 = fixed_sqrt(L_shr(Word32{q} << 16, sh));
    }
    if constexpr (PLAIN_OPS) {
        Word16 gain = st.agc_gain_q12;
        for (int n = 0; n < SUBFRAME_LEN; ++n) {
            gain = round(L_mac(L_mult(gain, AGC_KEEP), g_q12, AGC_TAKE));
            const Word16 f = add(gain, shr(gain, 4));
            x[n] = round(L_shl(L_mult(x[n], f), 4));
        }
        st.agc_gain_q12 = gain;
        return;
    }
    // The smoothing step never saturates (g_q12 >= 0, and 32767 * 65536 +
    // 0x8000 still fits), so it is exact in plain arithmetic. It depends on
    // the gain alone: once a step leaves the gain unchanged, it stays so for
    // the rest of the subframe, which then shares one factor.
    // The factors come first, the scaling then in one pass that vectorises.
    Word32 agc = st.agc_gain_q12;
    Word32 f[SUBFRAME_LEN];
    int n = 0;
    for (; n < SUBFRAME_LEN; ++n) {
        const Word32 next = (agc * (2 * AGC_KEEP) + Word32{g_q12} * (2 * AGC_TAKE) + 0x8000) >> 16;
        if (next == agc) break;
        agc = next;
        f[n] = agc_factor(agc);
    }
    const Word32 settled = agc_factor(agc);
    for (; n < SUBFRAME_LEN; ++n) f[n] = settled;
    for (n = 0; n < SUBFRAME_LEN; ++n) x[n] = agc_scale(x[n], f[n]);
    st.agc_gain_q12 = static_cast<Word16>(agc);
}

QRXC_AVX2_TWIN(void, gain_scale, gain_scale_body, (Dec_state & st, Word16 x[SUBFRAME_LEN], Word32 input_energy),
               (st, x, input_energy))

}  // namespace

void gain_scale(Dec_state &st, Word16 x[SUBFRAME_LEN], Word32 input_energy) {
    QRXC_DISPATCH(gain_scale, gain_scale_body, st, x, input_energy)
}

}  // namespace qrxc::g723
