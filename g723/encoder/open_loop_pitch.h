// Open-loop pitch estimate on the weighted speech.
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// buf: the normalised 385-sample pitch buffer; start 145 or 265.
Word16 open_loop_pitch(const Word16 buf[PITCH_BUF_LEN], int start);

}  // namespace qrxc::g723
