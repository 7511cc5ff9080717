// Open-loop pitch estimate on the weighted speech: the lag of the largest
// normalised correlation, with a bias towards shorter lags.
#include "g723/encoder/open_loop_pitch.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr int OLP_CORR_LEN = 2 * SUBFRAME_LEN;
constexpr int OLP_LONGER_LAG = 18;  // lags this far beyond the best need 4/3 more

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY Word16 open_loop_pitch_body(const Word16 buf[PITCH_BUF_LEN], int start) {
    Word16 best = OLP_LAG_MIN;
    Word16 bexp = 30;
    Word16 bcr = 0x4000;
    Word16 ben = 0x7fff;
    int p = start - (OLP_LAG_MIN - 1);
    const Word16 *x = &buf[start];

    Word32 energy = energy_sat(&buf[p], OLP_CORR_LEN);
    // Exact energies of target and candidate: while their product stays
    // within 0x3fffffff^2 no partial sum of the correlation's terms exceeds
    // 0x3fffffff in magnitude, so the doubled sum cannot saturate.
    std::int64_t x_energy = 0;
    std::int64_t c_energy = 0;
    for (int j = 0; j < OLP_CORR_LEN; j++) {
        x_energy += std::int32_t{x[j]} * x[j];
        c_energy += std::int32_t{buf[p + j]} * buf[p + j];
    }
    for (Word16 lag = OLP_LAG_MIN; lag <= OLP_LAG_MAX; lag++) {
        p--;
        energy = L_msu(energy, buf[p + OLP_CORR_LEN], buf[p + OLP_CORR_LEN]);
        energy = L_mac(energy, buf[p], buf[p]);
        c_energy += std::int32_t{buf[p]} * buf[p] - std::int32_t{buf[p + OLP_CORR_LEN]} * buf[p + OLP_CORR_LEN];

        Word32 corr;
        if (products_fit(x_energy, c_energy, MAX_32 / 2))
            corr = L_mac_n_nosat(x, &buf[p], OLP_CORR_LEN);
        else
            corr = L_mac_n(0, x, &buf[p], OLP_CORR_LEN);
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

QRXC_AVX2_TWIN(Word16, open_loop_pitch, open_loop_pitch_body, (const Word16 buf[PITCH_BUF_LEN], int start),
               (buf, start))

}  // namespace

Word16 open_loop_pitch(const Word16 buf[PITCH_BUF_LEN], int start) {
    QRXC_DISPATCH(open_loop_pitch, open_loop_pitch_body, buf, start)
}

}  // namespace qrxc::g723
