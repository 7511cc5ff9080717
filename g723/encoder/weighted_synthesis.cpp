// The weighted synthesis cascade of a subframe (synthesis filter, then the
// weighting filter, then harmonic noise shaping): its impulse response and
// the ringing bookkeeping that lets consecutive subframes fit together.
#include "g723/encoder/weighted_synthesis.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr int HIST = ACB_LAG_MAX;  // harmonic filter history length

// The weighted synthesis cascade run over one subframe. The filter
// memories are kept as linear histories (oldest first, the ten samples
// before the subframe in front), so no memory is shifted per sample; the
// fast path walks them forwards with reversed coefficients, the saturating
// fallback in the operator order, newest sample first.
class Cascade {
public:
    Cascade(const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER]) : q_(q), zero_(p), pole_(p + LPC_ORDER) {
        for (int k = 0; k < LPC_ORDER; k++) {
            q_rev_[k] = q[LPC_ORDER - 1 - k];
            zero_rev_[k] = p[LPC_ORDER - 1 - k];
            pole_rev_[k] = p[2 * LPC_ORDER - 1 - k];
        }
        q_room_ = tap_headroom<LPC_ORDER>(q);
        zero_room_ = tap_headroom<LPC_ORDER>(p);
        pole_room_ = tap_headroom<LPC_ORDER>(p + LPC_ORDER);
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

    // Sample n with input acc; the weighting numerator's sum is doubled once
    // more when double_fir is set (the impulse response only).
    QRXC_KERNEL_BODY Word16 step(int n, Word32 acc, bool double_fir) {
        Word16 *syn = &syn_[LPC_ORDER + n];
        Word16 *wgt = &wgt_[LPC_ORDER + n];
        acc = back_taps<LPC_ORDER, 1>(acc, q_, q_rev_, syn, q_room_);
        const Word32 s = L_shl(acc, 2);
        acc = back_taps<LPC_ORDER, -1>(acc, zero_, zero_rev_, syn, zero_room_);
        if (double_fir) acc = L_shl(acc, 1);
        *syn = round(s);
        acc = back_taps<LPC_ORDER, 1>(acc, pole_, pole_rev_, wgt, pole_room_);
        const Word16 y = round(L_shl(acc, 2));
        *wgt = y;
        return y;
    }

private:
    const Word16 *q_, *zero_, *pole_;
    Word16 q_rev_[LPC_ORDER], zero_rev_[LPC_ORDER], pole_rev_[LPC_ORDER];
    std::int64_t q_room_, zero_room_, pole_room_;
    Word16 syn_[LPC_ORDER + SUBFRAME_LEN] = {};
    Word16 wgt_[LPC_ORDER + SUBFRAME_LEN] = {};
};

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void impulse_response_body(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                            const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Cascade cas(q, p);
    Word16 h[HIST + SUBFRAME_LEN] = {};
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Word16 y = cas.step(n, n == 0 ? Word32{0x04000000} : Word32{0}, true);
        h[HIST + n] = y;
        imp[n] = round(L_msu(L_deposit_h(y), hns.gain_q15, h[HIST + n - hns.lag]));
    }
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

template <Kernel_set K>
QRXC_KERNEL_BODY void subtract_ringing_body(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                            const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    Word16 h[HIST + SUBFRAME_LEN];
    for (int j = 0; j < HIST; j++) h[j] = st.prev_err[j];
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Word16 y = cas.step(n, 0, false);
        h[HIST + n] = y;
        const Word16 d = sub(t[n], y);
        t[n] = round(L_mac(L_deposit_h(d), hns.gain_q15, h[HIST + n - hns.lag]));
    }
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

template <Kernel_set K>
QRXC_KERNEL_BODY void update_ringing_body(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                                          const Word16 p[2 * LPC_ORDER]) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    for (int j = 0; j < HIST - SUBFRAME_LEN; j++) st.prev_err[j] = st.prev_err[j + SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; n++)
        st.prev_err[HIST - SUBFRAME_LEN + n] = cas.step(n, L_shr(L_deposit_h(x[n]), 3), false);
    cas.store(st.ring_fir_mem, st.ring_iir_mem);
}

QRXC_AVX2_TWIN(void, update_ringing, update_ringing_body,
               (Enc_state & st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER]),
               (st, x, q, p))

}  // namespace

void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]) {
    QRXC_DISPATCH(update_ringing, update_ringing_body, st, x, q, p)
}

}  // namespace qrxc::g723
