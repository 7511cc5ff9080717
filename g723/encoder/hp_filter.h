// The encoder's input high-pass filter.
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// DC removal in place; halves the level.
void hp_filter(Enc_state &st, Word16 frame[FRAME_LEN]);

}  // namespace qrxc::g723
