// Fixed-codebook step of a subframe, by rate.
#include "g723/encoder/fcb_search.h"

#include <algorithm>

#include "g723/common/excitation.h"
#include "g723/encoder/acelp.h"
#include "g723/encoder/mpmlq.h"

namespace qrxc::g723 {

void fcb_search(int rate_select, Word16 &acelp_budget, Word16 t[SUBFRAME_LEN], Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s) {
    if (s < 0 || s >= SUBFRAMES) return;
    if (rate_select == RATE_63) {
        mpmlq_subframe(t, h, params, s);
    } else if (rate_select == RATE_53) {
        Subframe_params &sub = params.sub[s];
        const Word16 t0 = static_cast<Word16>(params.ol_lag[s >> 1] + sub.lag_offset - 1);
        Word16 gs;
        const Word16 t0s = acelp_lag_gain(t0, static_cast<Word16>(std::clamp<int>(sub.acb_gain, 0, 169)), gs);
        const Word16 index = acelp_code(t, h, t0s, gs, acelp_budget, sub.fcb_gain, sub.grid, sub.pulse_signs);
        sub.pulse_pos = index;
        sub.train = 0;
    }
}

}  // namespace qrxc::g723
