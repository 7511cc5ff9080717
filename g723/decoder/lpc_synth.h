// The decoder's LPC synthesis filter.
#pragma once

#include "g723/common/types.h"
#include "g723/decoder/dec_state.h"

namespace qrxc::g723 {

// Synthesis filter in place; the output is at half the excitation scale.
void lpc_synth(Dec_state &st, Word16 x[SUBFRAME_LEN], const Word16 lpc_q13[LPC_ORDER]);

}  // namespace qrxc::g723
