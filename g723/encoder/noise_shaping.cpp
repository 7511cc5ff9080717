// Harmonic noise shaping, the weighted synthesis cascade's impulse response,
// and the ringing bookkeeping that lets consecutive subframes fit together.
#include "g723/common/basic_ops.h"
#include "g723/encoder/analysis.h"
#include "g723/encoder/dot_product.h"

namespace g723 {

namespace {

constexpr int HNS_CANDIDATES = 7;        // lags olp-3 .. olp+3
constexpr Word16 HNS_MAX_GAIN = 0x2800;  // 0.3125 in Q15
constexpr int HIST = ACB_LAG_MAX;        // harmonic filter history length

// The cascade's FIR and IIR halves for one sample with input acc; returns
// the weighted output and the synthesis output for the FIR memory.
struct Cascade_out {
    Word32 acc;
    Word16 syn;
};

inline Cascade_out synth_and_weight_fir(Word32 acc, const Word16 q[LPC_ORDER], const Word16 p[LPC_ORDER],
                                        const Word16 fir[LPC_ORDER]) {
    for (int m = 0; m < LPC_ORDER; m++) acc = L_mac(acc, q[m], fir[m]);
    const Word32 s = L_shl(acc, 2);
    for (int m = 0; m < LPC_ORDER; m++) acc = L_msu(acc, p[m], fir[m]);
    return {acc, round(s)};
}

inline void push(Word16 mem[LPC_ORDER], Word16 v) {
    for (int m = LPC_ORDER - 1; m > 0; m--) mem[m] = mem[m - 1];
    mem[0] = v;
}

inline Word16 weight_iir(Word32 acc, const Word16 pole[LPC_ORDER], Word16 iir[LPC_ORDER]) {
    for (int m = 0; m < LPC_ORDER; m++) acc = L_mac(acc, pole[m], iir[m]);
    const Word16 y = round(L_shl(acc, 2));
    push(iir, y);
    return y;
}

}  // namespace

Hns_params hns_search(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp) {
    const Word16 *x = &buf[start];
    Word32 vals[1 + 2 * HNS_CANDIDATES];
    vals[0] = energy_sat(x, SUBFRAME_LEN);
    for (int k = 0; k < HNS_CANDIDATES; k++) {
        const Word16 *cand = &buf[start - (olp - 3 + k)];
        vals[1 + 2 * k] = energy_sat(cand, SUBFRAME_LEN);
        vals[2 + 2 * k] = dot_sat(x, cand, SUBFRAME_LEN);
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
    Word16 fir[LPC_ORDER] = {};
    Word16 iir[LPC_ORDER] = {};
    Word16 h[HIST + SUBFRAME_LEN] = {};
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        Cascade_out c = synth_and_weight_fir(n == 0 ? Word32{0x04000000} : Word32{0}, q, p, fir);
        c.acc = L_shl(c.acc, 1);
        push(fir, c.syn);
        const Word16 y = weight_iir(c.acc, p + LPC_ORDER, iir);
        h[HIST + n] = y;
        imp[n] = round(L_msu(L_deposit_h(y), hns.gain, h[HIST + n - hns.lag]));
    }
}

void subtract_ringing(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                      const Word16 p[2 * LPC_ORDER], Hns_params hns) {
    Word16 fir[LPC_ORDER];
    Word16 iir[LPC_ORDER];
    for (int m = 0; m < LPC_ORDER; m++) {
        fir[m] = st.ring_fir_mem[m];
        iir[m] = st.ring_iir_mem[m];
    }
    Word16 h[HIST + SUBFRAME_LEN];
    for (int j = 0; j < HIST; j++) h[j] = st.prev_err[j];
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Cascade_out c = synth_and_weight_fir(0, q, p, fir);
        push(fir, c.syn);
        const Word16 y = weight_iir(c.acc, p + LPC_ORDER, iir);
        h[HIST + n] = y;
        const Word16 d = sub(t[n], y);
        t[n] = round(L_mac(L_deposit_h(d), hns.gain, h[HIST + n - hns.lag]));
    }
}

void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]) {
    for (int j = 0; j < HIST - SUBFRAME_LEN; j++) st.prev_err[j] = st.prev_err[j + SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; n++) {
        const Cascade_out c = synth_and_weight_fir(L_shr(L_deposit_h(x[n]), 3), q, p, st.ring_fir_mem);
        push(st.ring_fir_mem, c.syn);
        st.prev_err[HIST - SUBFRAME_LEN + n] = weight_iir(c.acc, p + LPC_ORDER, st.ring_iir_mem);
    }
}

}  // namespace g723
