// Excitation error taming: five worst-case error estimates, one per
// 30-sample zone of the past 150 samples, keep the pitch predictor from
// building up runaway gain.
#include "g723/encoder/taming.h"

#include <algorithm>

#include "g723/common/basic_ops.h"
#include "g723/common/tables.h"
#include "g723/encoder/acb_search.h"

namespace qrxc::g723 {

namespace {

constexpr int ZONES = 5;
constexpr Word32 TAMING_LIMIT = 0x40000000;

// 1092 is just below 32768/30, so a multiple of 30 lands in the zone below;
// both taming functions are built around that rounding.
int zone(int x) { return std::min((x * 1092) >> 15, ZONES - 1); }

Word32 amplified(Word32 err, Word16 beta) { return L_add(4, L_shl(mult_32_16(err, beta), 2)); }

}  // namespace

Word16 taming_test(const Enc_state &st, int /*rate_select*/, Word16 lag_lo, Word16 lag_hi) {
    const int z_hi = zone(std::max(lag_hi + 2, 0));
    int i1 = lag_lo - 61;
    if (i1 <= 0) i1 = 1;
    const int z_lo = zone(i1);

    Word32 worst = -1;
    for (int z = z_hi; z >= z_lo; --z)
        if (L_sub(st.taming_err[z], worst) > 0) worst = st.taming_err[z];

    const Word32 d = L_sub(worst, TAMING_LIMIT);
    if (d > 0 || st.sine_det < 0) return 0;
    return static_cast<Word16>(L_negate(d) >> 23);
}

void taming_update(Enc_state &st, int rate_select, Word16 base_lag, Word16 lag_offset, Word16 gain_index) {
    const int lag = base_lag + lag_offset - 1;
    const bool big = acb_uses_big_table(rate_select, base_lag);
    const int gi = std::clamp<int>(gain_index, 0, big ? 169 : 84);
    const Word16 beta = big ? taming_gain170[gi] : taming_gain85[gi];
    Word32 *err = st.taming_err;

    Word32 w0;
    Word32 w1;
    if (lag <= 30) {
        w0 = w1 = amplified(err[0], beta);
    } else {
        const int iz = zone(lag);
        const int c = sub(shl(static_cast<Word16>(iz + 1), 5), shl(static_cast<Word16>(iz + 1), 1));
        if (c == lag) {
            w0 = amplified(err[iz - 1], beta);
            w1 = amplified(err[iz], beta);
        } else if (iz == 1) {
            w0 = w1 = std::max(amplified(err[0], beta), amplified(err[1], beta));
        } else {
            w0 = amplified(err[iz - 2], beta);
            const Word32 m = amplified(err[iz - 1], beta);
            w1 = amplified(err[iz], beta);
            if (m > w0) w0 = m;
            if (m > w1) w1 = m;
        }
    }

    // A subframe spans two zones.
    err[4] = err[2];
    err[3] = err[1];
    err[2] = err[0];
    err[0] = w0;
    err[1] = w1;
}

}  // namespace qrxc::g723
