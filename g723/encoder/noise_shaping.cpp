// Harmonic noise shaping, the weighted synthesis cascade's impulse response,
// and the ringing bookkeeping that lets consecutive subframes fit together.
#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/encoder/analysis.h"

namespace g723 {

namespace {

constexpr int HNS_CANDIDATES = 7;        // lags olp-3 .. olp+3
constexpr Word16 HNS_MAX_GAIN = 0x2800;  // 0.3125 in Q15
constexpr int HIST = ACB_LAG_MAX;        // harmonic filter history length

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
    Word16 step(int n, Word32 acc, bool double_fir) {
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

Hns_params hns_search(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp) {
    const Word16 *x = &buf[start];
    Word32 vals[1 + 2 * HNS_CANDIDATES];
    vals[0] = energy_sat(x, SUBFRAME_LEN);
    for (int k = 0; k < HNS_CANDIDATES; k++) {
        const Word16 *cand = &buf[start - (olp - 3 + k)];
        vals[1 + 2 * k] = energy_sat(cand, SUBFRAME_LEN);
        vals[2 + 2 * k] = L_mac_n(0, x, cand, SUBFRAME_LEN);
    }
    Word32 mx = 0;
    for (const Word32 v : vals)
        if (L_abs(v) > mx) mx = L_abs(v);
    const Word16 e = mx == 0 ? Word16{0} : norm_l(mx);
    Word16 n[1 + 2 * HNS_CANDIDATES];
    for (int i = 0; i < 1 + 2 * HNS_CANDIDATES; i++) n[i] = round(vals[i] << e);

    int best = -1;
    Word16 bcr = 1;
    Word16 ben = 0x7fff;
    for (int k = 0; k < HNS_CANDIDATES; k++) {
        const Word16 c = n[2 + 2 * k];
        const Word16 en = n[1 + 2 * k];
        if (c <= 0) continue;
        const Word16 cc = round(L_mult(c, c));
        if (L_sub(L_mult(ben, cc), L_mult(en, bcr)) > 0) {
            best = k;
            bcr = cc;
            ben = en;
        }
    }
    if (best < 0) return {olp, 0};

    Hns_params out{static_cast<Word16>(olp - 3 + best), 0};
    const Word16 cbest = n[2 + 2 * best];
    const Word32 prod = Word32{n[0]} * ben;
    Word32 a = (prod >> 2) + (prod >> 1);
    a = L_sub(a, L_mult(cbest, cbest));
    if (a < 0) {
        out.gain = cbest >= ben ? HNS_MAX_GAIN : round(L_mult(div_s(cbest, ben), HNS_MAX_GAIN));
    }
    return out;
}

void hns_filter(Word16 frame[FRAME_LEN], const Word16 buf[PITCH_BUF_LEN], const Hns_params hns[SUBFRAMES]) {
    for (int i = 0; i < SUBFRAMES; i++) {
        for (int j = 0; j < SUBFRAME_LEN; j++) {
            const int n = SUBFRAME_LEN * i + j;
            frame[n] = round(L_msu(L_deposit_h(buf[HIST + n]), hns[i].gain, buf[HIST + n - hns[i].lag]));
        }
    }
}

void impulse_response(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                      Hns_params hns) {
    Cascade cas(q, p);
    Word16 h[HIST + SUBFRAME_LEN] = {};
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Word16 y = cas.step(n, n == 0 ? Word32{0x04000000} : Word32{0}, true);
        h[HIST + n] = y;
        imp[n] = round(L_msu(L_deposit_h(y), hns.gain, h[HIST + n - hns.lag]));
    }
}

void subtract_ringing(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                      const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    Word16 h[HIST + SUBFRAME_LEN];
    for (int j = 0; j < HIST; j++) h[j] = st.prev_err[j];
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Word16 y = cas.step(n, 0, false);
        h[HIST + n] = y;
        const Word16 d = sub(t[n], y);
        t[n] = round(L_mac(L_deposit_h(d), hns.gain, h[HIST + n - hns.lag]));
    }
}

void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]) {
    Cascade cas(q, p);
    cas.load(st.ring_fir_mem, st.ring_iir_mem);
    for (int j = 0; j < HIST - SUBFRAME_LEN; j++) st.prev_err[j] = st.prev_err[j + SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; n++)
        st.prev_err[HIST - SUBFRAME_LEN + n] = cas.step(n, L_shr(L_deposit_h(x[n]), 3), false);
    cas.store(st.ring_fir_mem, st.ring_iir_mem);
}

}  // namespace g723
