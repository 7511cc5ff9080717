// The G.723.1 decoder's whole memory, carried from frame to frame.
#pragma once

#include <type_traits>

#include "g723/common/types.h"

namespace qrxc::g723 {

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
};
static_assert(std::is_trivially_copyable_v<Dec_state>);

}  // namespace qrxc::g723
