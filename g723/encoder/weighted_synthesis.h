// The combined synthesis, weighting and harmonic noise shaping filter of a
// subframe: its impulse response, the ringing of its memories that the
// target loses, and the memory update once the excitation is known.
#pragma once

#include "g723/encoder/enc_state.h"
#include "g723/encoder/noise_shaping.h"

namespace qrxc::g723 {

// q: the quantised LPC set; p: the weighting filter's 20 coefficients.
void impulse_response(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                      Hns_params hns);
void subtract_ringing(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                      const Word16 p[2 * LPC_ORDER], Hns_params hns);
void update_ringing(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                    const Word16 p[2 * LPC_ORDER]);

// The same with every filter tap in its saturating form, for checking the
// fast ones (which run in the process's kernel set).
void impulse_response_plain(Word16 imp[SUBFRAME_LEN], const Word16 q[LPC_ORDER], const Word16 p[2 * LPC_ORDER],
                            Hns_params hns);
void subtract_ringing_plain(const Enc_state &st, Word16 t[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                            const Word16 p[2 * LPC_ORDER], Hns_params hns);
void update_ringing_plain(Enc_state &st, const Word16 x[SUBFRAME_LEN], const Word16 q[LPC_ORDER],
                          const Word16 p[2 * LPC_ORDER]);

}  // namespace qrxc::g723
