// Windowed autocorrelation LPC analysis and the sine-wave detector fed by
// its second reflection coefficient.
#pragma once

#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

// Four unquantised Q13 LPC sets, subframe k at lpc[10k..]; updates st.sine_det.
// acf, when given, receives each subframe's r[0..10] at acf[11k..] and
// acf_shift[k] its scale shift (silence compression averages them).
void lpc_analysis(Enc_state &st, Word16 lpc[SUBFRAMES * LPC_ORDER], const Word16 frame[FRAME_LEN],
                  Word16 *acf = nullptr, Word16 *acf_shift = nullptr);
// corr holds r[1..10], err r[0]; k2 receives the second reflection coefficient
// (0x7fff when the recursion stops early). Returns the final prediction error.
Word16 levinson_durbin(Word16 a[LPC_ORDER], const Word16 corr[LPC_ORDER], Word16 err, Word16 &k2);

}  // namespace qrxc::g723
