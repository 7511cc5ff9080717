// Excitation error taming: keeps the pitch predictor from building up
// runaway gain.
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// 0..128: how far beyond the minimum the gain search may go.
Word16 taming_test(const Enc_state &st, int rate_select, Word16 lag_lo, Word16 lag_hi);
// After each subframe, with ol_lag[s/2], sub[s].lag_offset and sub[s].acb_gain.
void taming_update(Enc_state &st, int rate_select, Word16 base_lag, Word16 lag_offset, Word16 gain_index);

}  // namespace qrxc::g723
