// Closed-loop adaptive-codebook (pitch) search.
#pragma once

#include "g723/common/fast_ops.h"
#include "g723/common/frame.h"
#include "g723/common/kernel_set.h"
#include "g723/common/types.h"
#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// x: target in, target minus the adaptive contribution out; h: weighted
// impulse response; reads st.prev_exc, st.sine_det and st.taming_err.
void acb_search(const Enc_state &st, int rate_select, Word16 x[SUBFRAME_LEN], const Word16 h[SUBFRAME_LEN],
                Frame_params &params, Word16 s);

inline constexpr int ACB_GAIN_COLS = 20;  // 5 taps, 5 squares, 10 cross products

// Gain-vector table of a subframe: the 170-vector table at 5.3 kbit/s and
// for lags of SHORT_LAG or more, the 85-vector table otherwise.
bool acb_uses_big_table(int rate_select, Word16 lag);
const Word16 *acb_gain_row(bool big_table, int index);

// Index of the best-scoring gain vector among the first n of a table, with
// its score; score stays at best and the index at -1 when none beats best.
// v holds the 20 normalised correlations of one lag.
using Acb_pick = Row_pick;
Acb_pick acb_score_plain(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best);
// As the search scores with kernel set `set` (where the CPU has it).
Acb_pick acb_score(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best, Kernel_set set);
// The fast scoring without SIMD, used where SSE2 is missing.
Acb_pick acb_score_portable(const Word16 v[ACB_GAIN_COLS], bool big_table, int n, Word32 best);

// The search's convolutions as kernel set `set` computes them (where the CPU
// has it): out as conv_round(out, c, h), then x as subtract_filtered(x, c, h).
void acb_conv_forms(Word16 out[SUBFRAME_LEN], Word16 x[SUBFRAME_LEN], const Word16 *c, const Word16 h[SUBFRAME_LEN],
                    Kernel_set set);

}  // namespace qrxc::g723
