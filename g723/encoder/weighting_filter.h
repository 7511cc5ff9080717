// Perceptual weighting filter W(z) = A(z/0.9) / A(z/0.5).
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// per_lpc: 20 per subframe, A(z/0.9) numerator then A(z/0.5) denominator.
void weight_coeffs(Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER], const Word16 lpc[SUBFRAMES * LPC_ORDER]);
void weight_filter(Enc_state &st, Word16 frame[FRAME_LEN], const Word16 per_lpc[SUBFRAMES * 2 * LPC_ORDER]);

}  // namespace qrxc::g723
