// The G.723.1 decoder: one coded frame in, 240 post-filtered samples out,
// with concealment of bad frames.
#pragma once

#include "g723/common/types.h"
#include "g723/decoder/dec_state.h"

namespace qrxc::g723 {

void g723_decoder_reset(Dec_state &st);

// frame holds 24 (RATE_63) or 20 (RATE_53) bytes; a non-zero erased
// conceals the frame without reading it. Always returns 1.
Word16 g723_decode_frame(Dec_state &st, int rate_select, Word16 pcm_out[FRAME_LEN], const unsigned char *frame,
                         Word16 erased);

// Voicing lag for concealing a following bad frame, 0 for unvoiced;
// normalises buf in place. energy and shift, when given, receive the
// energy of the last 120 normalised samples and the normalisation shift,
// the estimate comfort noise starts from when a silence's SID is lost.
Word16 erasure_info(Word16 buf[ACB_LAG_MAX + FRAME_LEN], Word16 lag, Word16 *energy = nullptr, Word16 *shift = nullptr);
// Regenerated excitation of a bad frame into out and buf.
void erasure_regen(Word16 out[FRAME_LEN], Word16 buf[ACB_LAG_MAX + FRAME_LEN], Word16 lag, Word16 gain, Word16 count,
                   Word16 &seed);

}  // namespace qrxc::g723
