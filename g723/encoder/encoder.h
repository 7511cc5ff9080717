// The G.723.1 encoder: 240 samples in, one coded frame out.
#pragma once

#include "g723/common/frame.h"
#include "g723/encoder/acelp.h"
#include "g723/encoder/dtx_state.h"
#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// Zero state, LspDcTable in prev_lsp, taming accumulators at 4.
void enc_reset(Enc_state &st);
void enc_dtx_reset(Enc_dtx_state &dtx);

// Encodes 240 samples (frame is used as scratch) into out; at 5.3 kbit/s only
// out[0..19] belong to the frame. acelp_budget is the 5.3 kbit/s search budget.
// With dtx (silence compression), a frame the detector calls silence is
// coded as a standard SID frame (4 bytes) or untransmitted frame (1 byte)
// instead; returns the Standard_kind value of what out holds (0 or 1 for a
// speech frame of our layout at rate_select).
int enc_frame(Enc_state &st, int rate_select, Word16 &acelp_budget, Word16 frame[FRAME_LEN],
              unsigned char out[FRAME_BYTES_63], Enc_dtx_state *dtx = nullptr);

// The full 5.3 kbit/s search budget.
inline void reset_acelp_budget(Word16 &acelp_budget) { acelp_budget = ACELP_BUDGET; }

// The 60-sample delay: hist keeps the last 120 samples, frame becomes the
// previous frame's last 60 followed by this frame's first 180.
void lookahead_shift(Word16 hist[LPC_HIST], Word16 frame[FRAME_LEN]);

}  // namespace qrxc::g723
