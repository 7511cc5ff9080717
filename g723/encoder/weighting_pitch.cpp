// Perceptual weighting filter W(z) = A(z/0.9) / A(z/0.5) and the open-loop
// pitch estimate on the weighted speech.
#include "g723/common/basic_ops.h"
#include "g723/common/tables.h"
#include "g723/encoder/analysis.h"
#include "g723/encoder/dot_product.h"

namespace g723 {

namespace {

constexpr int OLP_CORR_LEN = 2 * SUBFRAME_LEN;
constexpr int OLP_LONGER_LAG = 18;   // lags this far beyond the best need 4/3 more

}  // namespace

void weight_coeffs(Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER], const Word16 lpc[SUBFRAMES * LPC_ORDER]) {
    for (int k = 0; k < SUBFRAMES; k++) {
        for (int i = 0; i < LPC_ORDER; i++) {
            per_lpc[2 * LPC_ORDER * k + i] = mult_r(lpc[LPC_ORDER * k + i], PerFiltZeroTable[i]);
            per_lpc[2 * LPC_ORDER * k + LPC_ORDER + i] = mult_r(lpc[LPC_ORDER * k + i], PerFiltPoleTable[i]);
        }
    }
}

void weight_filter(Enc_state &st, Word16 frame[FRAME_LEN], const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]) {
    for (int k = 0; k < SUBFRAMES; k++) {
        const Word16 *z = &per_lpc[2 * LPC_ORDER * k];
        const Word16 *p = z + LPC_ORDER;
        for (int n = 0; n < SUBFRAME_LEN; n++) {
            const Word16 x = frame[SUBFRAME_LEN * k + n];
            Word32 acc = Word32{x} * (1 << 14);
            for (int i = 0; i < LPC_ORDER; i++) acc = L_msu(acc, z[i], st.wght_fir_mem[i]);
            for (int i = LPC_ORDER - 1; i > 0; i--) st.wght_fir_mem[i] = st.wght_fir_mem[i - 1];
            st.wght_fir_mem[0] = x;
            for (int i = 0; i < LPC_ORDER; i++) acc = L_mac(acc, p[i], st.wght_iir_mem[i]);
            for (int i = LPC_ORDER - 1; i > 0; i--) st.wght_iir_mem[i] = st.wght_iir_mem[i - 1];
            const Word16 y = round(L_shl(acc, 2));
            st.wght_iir_mem[0] = y;
            frame[SUBFRAME_LEN * k + n] = y;
        }
    }
}

Word16 open_loop_pitch(const Word16 buf[PITCH_BUF_LEN], int start) {
    Word16 best = OLP_LAG_MIN;
    Word16 bexp = 30;
    Word16 bcr = 0x4000;
    Word16 ben = 0x7fff;
    int p = start - (OLP_LAG_MIN - 1);
    const Word16 *x = &buf[start];

    Word32 energy = energy_sat(&buf[p], OLP_CORR_LEN);
    for (Word16 lag = OLP_LAG_MIN; lag <= OLP_LAG_MAX; lag++) {
        p--;
        energy = L_msu(energy, buf[p + OLP_CORR_LEN], buf[p + OLP_CORR_LEN]);
        energy = L_mac(energy, buf[p], buf[p]);

        const Word32 corr = dot_sat(x, &buf[p], OLP_CORR_LEN);
        if (corr <= 0) continue;

        const Word16 e1 = norm_l(corr);
        Word16 exp = static_cast<Word16>(2 * e1);
        const Word16 c = round(corr << e1);
        const Word32 sq = L_mult(c, c);
        const Word16 e2 = norm_l(sq);
        exp = add(exp, e2);
        Word16 cr = extract_h(sq << e2);

        // A saturated running energy can be driven below zero as the window
        // moves into quieter samples; its complement still gives a
        // non-negative mantissa.
        Word16 e3 = 0;
        Word16 en = 0;
        if (energy > 0) {
            e3 = norm_l(energy);
            en = round(energy << e3);
        } else if (energy == -1) {
            e3 = 31;
        } else if (energy < 0) {
            const Word32 inv = ~energy;
            e3 = norm_l(inv);
            en = round(inv << e3);
        }
        exp = sub(exp, e3);

        if (cr >= en) {
            exp = sub(exp, 1);
            cr = static_cast<Word16>(cr >> 1);
        }
        if (exp > bexp) continue;
        if (exp + 1 < bexp) {
            best = lag;
            bexp = exp;
            bcr = cr;
            ben = en;
            continue;
        }
        const Word16 t = exp + 1 == bexp ? static_cast<Word16>(bcr >> 1) : bcr;
        if (L_msu(L_mult(cr, ben), en, t) <= 0) continue;
        bool take = lag - best < OLP_LONGER_LAG;
        if (!take) {
            Word32 a = L_negate((Word32{cr} * ben) >> 1);
            a = L_mac(a, cr, ben);
            a = L_msu(a, en, t);
            take = a > 0;
        }
        if (take) {
            best = lag;
            bexp = exp;
            bcr = cr;
            ben = en;
        }
    }
    return best;
}

}  // namespace g723
