// The decoder's silence side: comfort noise for SID and untransmitted
// frames, and the driver for frames in the standard layout, where speech,
// SID and untransmitted frames interleave.
#pragma once

#include "g723/common/standard_frame.h"
#include "g723/common/types.h"
#include "g723/decoder/dec_state.h"

namespace qrxc::g723 {

void cng_reset(Dec_cng_state &c);

// Marks the frame just decoded as speech, so the next silence starts
// afresh.
void cng_after_speech(Dec_cng_state &c);

// 240 samples of comfort noise; sid holds the 4-byte SID frame, or is null
// for a frame that was not sent.
void g723_decode_silence(Dec_state &st, Word16 pcm_out[FRAME_LEN], const unsigned char *sid);

// What a standard frame turned out to be (the values of the C API's
// QRXC_G723_DECODED_*).
enum class Decoded_as { speech, comfort_noise, lost };

// Decodes one standard frame of the given kind (in holds its
// standard_frame_bytes(kind) bytes). A speech frame the decoder cannot use
// (a forbidden lag or gain code: how a lost frame is marked) is concealed
// as speech after speech and continues the comfort noise after silence.
Decoded_as g723_decode_standard(Dec_state &st, Standard_kind kind, const unsigned char *in, Word16 pcm_out[FRAME_LEN]);

}  // namespace qrxc::g723
