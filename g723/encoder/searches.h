// The encoder's per-subframe excitation searches: adaptive codebook with
// excitation error taming, and the fixed codebook (MP-MLQ at 6.3 kbit/s,
// ACELP at 5.3 kbit/s).
#pragma once

#include "g723/common/frame.h"
#include "g723/encoder/enc_state.h"

namespace g723 {

// x: target in, target minus the adaptive contribution out; h: weighted
// impulse response; reads st.prev_exc, st.sine_det and st.taming_err.
void acb_search(const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s);

// 0..128: how far beyond the minimum the gain search may go.
Word16 taming_test(const Enc_state &st, int rate_select, Word16 lag_lo, Word16 lag_hi);
// After each subframe, with ol_lag[s/2], sub[s].lag_offset and sub[s].acb_gain.
void taming_update(Enc_state &st, int rate_select, Word16 base_lag, Word16 lag_offset, Word16 gain_index);

// t: target in, fixed-codebook excitation out; dispatches on rate_select.
// acelp_budget is the 5.3 kbit/s search budget carried between searches.
void fcb_search(int rate_select, Word16 &acelp_budget, Word16 t[SUBFRAME_LEN], Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s);

inline void reset_acelp_budget(Word16 &acelp_budget) { acelp_budget = 120; }

}  // namespace g723
