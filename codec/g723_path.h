// The G.723.1 stream paths: set-up when a stream of type 0, 1 or 2 opens,
// and the per-frame path behind Qrxc_frame.
#pragma once

#include "codec/context.h"

namespace qrxc {

// Called by Qrxc_initial after resample and rate_select are stored.
void g723_decode_setup(Qrxc_context &ctx);
void g723_encode_setup(Qrxc_context &ctx);

// One frame: pcm holds pcm_frame samples, data frame_bytes bytes.
void frame_g723_decode(Qrxc_context &ctx, short *pcm, const unsigned char *data);
void frame_g723_encode(Qrxc_context &ctx, const short *pcm, unsigned char *data);

}  // namespace qrxc
