// The speed control on a stream's context: the internal forms of the
// Qrmd_* exports.
#pragma once

struct Qrxc_context;

namespace qrxc {

int qrmd_initial(Qrxc_context &ctx, int flags);
// Samples written to dst, or QRXC_ERR_ARG (bad flags, null buffers) /
// QRXC_ERR_NOT_OPEN (no frames to work on, or no qrmd_initial yet).
int qrmd_process(Qrxc_context &ctx, int flags, const short *src, short *dst);
// The classic form: 0, or QRXC_ERR_ARG for any failure.
int qrmd_frame(Qrxc_context &ctx, int flags, const short *src, short *dst);
// The speed control alone on frames of pcm_frame samples: 0, QRXC_ERR_ARG, QRXC_ERR_BUFFER.
int qrmd_open(Qrxc_context &ctx, int pcm_frame, int flags);

}  // namespace qrxc
