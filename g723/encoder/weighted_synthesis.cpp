// The weighted synthesis cascade of a subframe (synthesis filter, then the
// weighting filter, then harmonic noise shaping): its impulse response and
// the ringing bookkeeping that lets consecutive subframes fit together.
#include "g723/encoder/weighted_synthesis.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/x86/dispatch.h"

#if QRXC_X86_KERNELS
#include "g723/common/x86/conv_kernels.h"
#endif

namespace qrxc::g723 {

namespace {

constexpr int HIST = ACB_LAG_MAX;  // harmonic filter history length

// The recursions' cheap test, once for the subframe: while no output goes
// past the room the largest input leaves, no step of the chain can
// saturate and the samples need no bound of their own.
inline std::int64_t recursion_room(const Word32 in[SUBFRAME_LEN], const Tap_run &t) {
    if (!t.usable) return -1;
    std::int64_t in_peak = 0;
    for (int n = 0; n < SUBFRAME_LEN; n++) in_peak = in_peak > abs64(in[n]) ? in_peak : abs64(in[n]);
    return peak_room(in_peak, sum_abs(t.mag, LPC_ORDER));
}

// The recursion's first samples in plain arithmetic, as long as the room
// holds; returns how many it took.
template <Kernel_set K>
QRXC_KERNEL_BODY int roomy_run(Word16 *y, const Word32 in[SUBFRAME_LEN], Word32 *a, const Tap_run &t,
                               const Word16 c[LPC_ORDER]) {
    int peak = 0;
    return pole_run<K>(y, a, in, c, recursion_room(in, t), peak);
}

#if QRXC_X86_KERNELS
// back_taps_peak's recursion over the subframe: acc = in[n] + 2 sum over m
// of c[m] y[n-1-m], y[n] = round(L_shl(acc, 2)), acc kept in a when asked;
// y[-10..-1] hold the history. The history runs in registers, newest first,
// so that a new sample never goes through memory on its way into the next
// one's sum (a wide load of a fresh narrow store waits): the two newest
// take scalar products, the eight before them one pair multiply-add with
// three samples' time to form. Only the newest product, an add and the
// shift lie on the path from one output to the next.
[[gnu::always_inline]] inline void recursion_sse2(Word16 *y, const Word32 in[SUBFRAME_LEN], Word32 *a, const Tap_run &t,
                                                  const Word16 c[LPC_ORDER]) {
    Word16 mm[8];  // |c[2..9]|, lane j for y[n-3-j]
    for (int j = 0; j < 8; j++) mm[j] = static_cast<Word16>(c[2 + j] < 0 ? -c[2 + j] : c[2 + j]);
    const __m128i taps = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + 2));
    const __m128i mags = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mm));
    const std::int32_t c0 = c[0], c1 = c[1];
    const std::int32_t m0 = c0 < 0 ? -c0 : c0, m1 = c1 < 0 ? -c1 : c1;
    const auto weight = [](std::int32_t h) { return ((h ^ (h >> 15)) >> 3) + 1; };
    int n = roomy_run<Kernel_set::sse2>(y, in, a, t, c);
    __m128i v = _mm_setr_epi16(y[n - 3], y[n - 4], y[n - 5], y[n - 6], y[n - 7], y[n - 8], y[n - 9], y[n - 10]);
    std::int32_t y1 = y[n - 1];
    std::int32_t y2 = y[n - 2];
    for (; n < SUBFRAME_LEN; n++) {
        const __m128i o = _mm_add_epi16(_mm_srli_epi16(_mm_xor_si128(v, _mm_srai_epi16(v, 15)), 3), _mm_set1_epi16(1));
        const __m128i d = _mm_madd_epi16(v, taps);
        const __m128i b = _mm_madd_epi16(o, mags);
        __m128i x = _mm_add_epi32(_mm_unpacklo_epi64(d, b), _mm_unpackhi_epi64(d, b));
        x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xb1));

        const std::int32_t bound = _mm_cvtsi128_si32(_mm_unpackhi_epi64(x, x)) + m1 * weight(y2) + m0 * weight(y1);
        Word16 out;
        if (t.usable && abs64(in[n]) + 16 * std::int64_t{bound} <= MAX_32) [[likely]] {
            // No step can saturate.
            const std::int32_t rest = _mm_cvtsi128_si32(x) + c1 * y2;
            out = round_shl2_last(in[n], rest, c0 * y1);
            if (a != nullptr) a[n] = in[n] + 2 * (rest + c0 * y1);
        } else {
            const Word32 acc = back_taps_steps<LPC_ORDER, 1>(in[n], c, y + n);
            if (a != nullptr) a[n] = acc;
            out = round_shl2(acc);
        }
        y[n] = out;
        v = _mm_insert_epi16(_mm_slli_si128(v, 2), y2, 0);
        y2 = y1;
        y1 = out;
    }
}
#endif

// The weighted synthesis cascade run over one subframe. The filter
// memories are kept as linear histories (oldest first, the ten samples
// before the subframe in front), so no memory is shifted per sample; the
// fast path walks them forwards with reversed coefficients (the two
// recursions bounded by their samples, since their coefficients' sums
// alone mostly allow no fast step), the saturating fallback in the
// operator order, newest sample first.
class Cascade {
public:
    Cascade(const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER]) : q_(q), zero_(p), pole_(p + LPC_ORDER) {
        for (int k = 0; k < LPC_ORDER; k++) zero_rev_[k] = p[LPC_ORDER - 1 - k];
        zero_room_ = tap_headroom<LPC_ORDER>(p);
        make_tap_run(q_run_, q);
        make_tap_run(pole_run_, p + LPC_ORDER);
    }

    // Memories newest first, as the state keeps them.
    void load(const Word16 fir[LPC_ORDER], const Word16 iir[LPC_ORDER]) {
        for (int m = 0; m < LPC_ORDER; m++) {
            syn_[LPC_ORDER - 1 - m] = fir[m];
            wgt_[LPC_ORDER - 1 - m] = iir[m];
        }
    }
    void store(Word16 fir[LPC_ORDER], Word16 iir[LPC_ORDER]) const {
        for (int m = 0; m < LPC_ORDER; m++) {
            fir[m] = syn_[LPC_ORDER + SUBFRAME_LEN - 1 - m];
            iir[m] = wgt_[LPC_ORDER + SUBFRAME_LEN - 1 - m];
        }
    }

    // The subframe for inputs in: y[n] out, the weighting numerator's sum
    // doubled once more when double_fir is set (the impulse response only).
    // The two recursions run as their own passes; the numerator between
    // them reads only finished synthesis samples, so its sums are taken for
    // the whole subframe at once (by SIMD lanes where K has them).
    template <bool Fast, Kernel_set K>
    QRXC_KERNEL_BODY void run(const Word32 in[SUBFRAME_LEN], Word16 y[SUBFRAME_LEN], bool double_fir) {
        Word32 a[SUBFRAME_LEN];
#if QRXC_X86_KERNELS
        if constexpr (Fast && K != Kernel_set::generic) {
            recursion_sse2(syn_ + LPC_ORDER, in, a, q_run_, q_);
            numerator<Fast, K>(a);
            if (double_fir)
                for (int n = 0; n < SUBFRAME_LEN; n++) a[n] = L_shl(a[n], 1);
            recursion_sse2(wgt_ + LPC_ORDER, a, nullptr, pole_run_, pole_);
            for (int n = 0; n < SUBFRAME_LEN; n++) y[n] = wgt_[LPC_ORDER + n];
            return;
        }
#endif
        for (int n = Fast ? roomy_run<K>(syn_ + LPC_ORDER, in, a, q_run_, q_) : 0; n < SUBFRAME_LEN; n++) {
            Word16 *syn = &syn_[LPC_ORDER + n];
            const Word32 acc =
                Fast ? back_taps_peak<1>(in[n], q_run_, q_, syn) : back_taps_steps<LPC_ORDER, 1>(in[n], q_, syn);
            a[n] = acc;
            *syn = round(L_shl(acc, 2));
        }
        numerator<Fast, K>(a);
        if (double_fir)
            for (int n = 0; n < SUBFRAME_LEN; n++) a[n] = L_shl(a[n], 1);
        const int roomy = Fast ? roomy_run<K>(wgt_ + LPC_ORDER, a, nullptr, pole_run_, pole_) : 0;
        for (int n = 0; n < roomy; n++) y[n] = wgt_[LPC_ORDER + n];
        for (int n = roomy; n < SUBFRAME_LEN; n++) {
            Word16 *wgt = &wgt_[LPC_ORDER + n];
            const Word32 acc =
                Fast ? back_taps_peak<1>(a[n], pole_run_, pole_, wgt) : back_taps_steps<LPC_ORDER, 1>(a[n], pole_, wgt);
            y[n] = round(L_shl(acc, 2));
            *wgt = y[n];
        }
    }

private:
    // a[n] less the numerator's taps over the synthesis samples before n.
    template <bool Fast, Kernel_set K>
    QRXC_KERNEL_BODY void numerator(Word32 a[SUBFRAME_LEN]) const {
#if QRXC_X86_KERNELS
        if constexpr (Fast && K != Kernel_set::generic) {
            // fir[n] = sum zero_rev[k] syn_[n + k]: the correlation kernel
            // with the ten taps as its g. Where the fast test holds the sum
            // of |coefficients| is below 32768, so no pair of products
            // overflows; elsewhere the lane is not used.
            x86::Target_pairs sp;
            x86::pair_span(sp, syn_, LPC_ORDER + SUBFRAME_LEN);
            alignas(32) std::int32_t fir[64];
            if constexpr (K == Kernel_set::avx2)
                x86::tap_sums_avx2(fir, sp, zero_rev_);
            else
                x86::tap_sums_sse2(fir, sp, zero_rev_);
            for (int n = 0; n < SUBFRAME_LEN; n++)
                a[n] = abs64(a[n]) <= zero_room_ ? static_cast<Word32>(a[n] - 2 * std::int64_t{fir[n]})
                                                 : back_taps_steps<LPC_ORDER, -1>(a[n], zero_, &syn_[LPC_ORDER + n]);
            return;
        }
#endif
        for (int n = 0; n < SUBFRAME_LEN; n++) {
            const Word16 *syn = &syn_[LPC_ORDER + n];
            a[n] = Fast ? back_taps<LPC_ORDER, -1>(a[n], zero_, zero_rev_, syn, zero_room_)
                        : back_taps_steps<LPC_ORDER, -1>(a[n], zero_, syn);
        }
    }

    const Word16 *q_, *zero_, *pole_;
    Word16 zero_rev_[LPC_ORDER];
    std::int64_t zero_room_;
    Tap_run q_run_, pole_run_;
    Word16 syn_[LPC_ORDER + SUBFRAME_LEN] = {};
    Word16 wgt_[LPC_ORDER + SUBFRAME_LEN] = {};
};

}  // namespace

namespace {

template <bool Fast, Kernel_set K>
QRXC_KERNEL_BODY void impulse_response_in(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                          const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Cascade cas(q, p);
    Word32 in[SUBFRAME_LEN] = {0x04000000};
    Word16 h[HIST + SUBFRAME_LEN] = {};
    cas.run<Fast, K>(in, h + HIST, true);
    for (int n = 0; n < SUBFRAME_LEN; n++)
        imp[n] = round(L_msu(L_deposit_h(h[HIST + n]), hns.gain_q15, h[HIST + n - hns.lag]));
}

template <Kernel_set K>
QRXC_KERNEL_BODY void impulse_response_body(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                            const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    impulse_response_in<!PLAIN_OPS, K>(imp, q, p, hns);
}

QRXC_AVX2_TWIN(void, impulse_response, impulse_response_body,
               (Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER], Hns_params hns),
               (imp, q, p, hns))

}  // namespace

void impulse_response(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                      Hns_params hns) {
    QRXC_DISPATCH(impulse_response, impulse_response_body, imp, q, p, hns)
}

namespace {

template <bool Fast, Kernel_set K>
QRXC_KERNEL_BODY void subtract_ringing_in(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                          const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    const Word32 in[SUBFRAME_LEN] = {};
    Word16 h[HIST + SUBFRAME_LEN];
    for (int j = 0; j < HIST; j++) h[j] = st.prev_err[j];
    cas.run<Fast, K>(in, h + HIST, false);
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Word16 d = sub(t[n], h[HIST + n]);
        t[n] = round(L_mac(L_deposit_h(d), hns.gain_q15, h[HIST + n - hns.lag]));
    }
}

template <Kernel_set K>
QRXC_KERNEL_BODY void subtract_ringing_body(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                            const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    subtract_ringing_in<!PLAIN_OPS, K>(st, t, q, p, hns);
}

QRXC_AVX2_TWIN(void, subtract_ringing, subtract_ringing_body,
               (const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                Hns_params hns),
               (st, t, q, p, hns))

}  // namespace

void subtract_ringing(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                      const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    QRXC_DISPATCH(subtract_ringing, subtract_ringing_body, st, t, q, p, hns)
}

namespace {

template <bool Fast, Kernel_set K>
QRXC_KERNEL_BODY void update_ringing_in(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                        const Word16 p[2 * LPC_ORDER]) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    for (int j = 0; j < HIST - SUBFRAME_LEN; j++) st.prev_err[j] = st.prev_err[j + SUBFRAME_LEN];
    Word32 in[SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; n++) in[n] = L_shr(L_deposit_h(x[n]), 3);
    cas.run<Fast, K>(in, st.prev_err + HIST - SUBFRAME_LEN, false);
    cas.store(st.ring_fir_mem, st.ring_iir_mem);
}

template <Kernel_set K>
QRXC_KERNEL_BODY void update_ringing_body(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                          const Word16 p[2 * LPC_ORDER]) {
    update_ringing_in<!PLAIN_OPS, K>(st, x, q, p);
}

QRXC_AVX2_TWIN(void, update_ringing, update_ringing_body,
               (Enc_state & st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER]),
               (st, x, q, p))

}  // namespace

void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]) {
    QRXC_DISPATCH(update_ringing, update_ringing_body, st, x, q, p)
}

void impulse_response_plain(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                            Hns_params hns) {
    impulse_response_in<false, Kernel_set::generic>(imp, q, p, hns);
}

void subtract_ringing_plain(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                            const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    subtract_ringing_in<false, Kernel_set::generic>(st, t, q, p, hns);
}

void update_ringing_plain(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                          const Word16 p[2 * LPC_ORDER]) {
    update_ringing_in<false, Kernel_set::generic>(st, x, q, p);
}

}  // namespace qrxc::g723
