// Internal forms of the speed-control exports, on an explicit context.
#pragma once

struct Qrxc_context;

namespace qrxc {

int qrmd_initial(Qrxc_context &ctx, int flags);
// Returns 0, or -1 for bad flags, null buffers, no open stream or no
// qrmd_initial yet.
int qrmd_frame(Qrxc_context &ctx, int flags, const short *src, short *dst);

}  // namespace qrxc
