// The encoder's silence side: for each frame the detector calls silence,
// whether the far decoder needs a new SID frame or can carry on, and the
// comfort noise both sides then generate.
#pragma once

#include "g723/common/comfort_noise.h"
#include "g723/encoder/dtx_state.h"
#include "g723/encoder/enc_state.h"

namespace qrxc::g723 {

void enc_cng_reset(Enc_cng_state &c);

// Adds this frame's four subframe autocorrelations (each r[0..10] with its
// scale shift) to the history of frame sums.
void cng_store_acf(Enc_cng_state &c, const Word16 acf[SUBFRAMES * ACF_LEN], const Word16 shift[SUBFRAMES]);

// Codes a silent frame: writes its excitation to exc and the interpolated
// LPC sets to qnt_lpc, moves st.prev_exc and st.prev_lsp on as the decoder
// will, and writes a 4-byte SID frame to out (returns 4) or the 1-byte
// untransmitted frame (returns 1). acb receives the random adaptive-codebook
// choices for the taming memory.
int cng_encode(Enc_state &st, Enc_dtx_state &dtx, Word16 exc[FRAME_LEN], Word16 qnt_lpc[SUBFRAMES * LPC_ORDER],
               Cng_acb &acb, unsigned char out[4]);

// Marks the frame just coded as speech.
inline void enc_cng_after_speech(Enc_cng_state &c) {
    c.past_active = 1;
    c.rand_seed = CNG_SEED;
}

}  // namespace qrxc::g723
