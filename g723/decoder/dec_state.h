// The G.723.1 decoder's whole memory, carried from frame to frame.
#pragma once

#include <type_traits>

#include "g723/common/types.h"

namespace qrxc::g723 {

// Comfort-noise memory: what the last SID frame (or, before any, the last
// good speech frame) said about the silence.
struct Dec_cng_state {
    Word16 past_active;  // the previous frame was speech (1 after a reset)
    Word16 sid_gain_q5;  // target gain; after speech, the excitation energy estimate
    Word16 cur_gain_q5;  // smoothed gain; after speech, the estimate's normalisation shift
    Word16 rand_seed;
    Word16 sid_lsp[LPC_ORDER];
};

struct Dec_state {
    Word16 erase_count;  // consecutive bad frames, saturating at ERASE_MAX
    Word16 interp_gain;  // noise amplitude for an unvoiced concealed frame
    Word16 interp_lag;   // lag for a voiced concealed frame; 0 = unvoiced
    Word16 rand_seed;
    Word16 pf_tilt;       // formant postfilter tilt memory
    Word16 agc_gain_q12;  // gain-control memory, 1.0 after a reset
    Word16 prev_lsp[LPC_ORDER];
    Word16 prev_exc[ACB_LAG_MAX];
    Word16 synth_mem[LPC_ORDER];
    Word16 pf_fir_mem[LPC_ORDER];
    Word16 pf_iir_mem[LPC_ORDER];
    Dec_cng_state cng;
};
static_assert(std::is_trivially_copyable_v<Dec_state>);

}  // namespace qrxc::g723
