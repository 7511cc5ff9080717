// The speed control on a stream's context: the internal forms of the
// Qrmd_* exports.
#pragma once

struct Qrxc_context;

namespace qrxc {

int qrmd_initial(Qrxc_context &ctx, int flags);
// Returns 0, or -1 for bad flags, null buffers, no open stream or no
// qrmd_initial yet.
int qrmd_frame(Qrxc_context &ctx, int flags, const short *src, short *dst);

}  // namespace qrxc
