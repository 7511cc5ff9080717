// Placeholder until the G.723.1 encoder lands: all-zero frames.
#include <cstring>

#include "codec/g723_path.h"

namespace qrxc {

void g723_encode_setup(Qrxc_context &) {}

void frame_g723_encode(Qrxc_context &ctx, const short *, unsigned char *data) {
    std::memset(data, 0, ctx.stream.header.frame_bytes);
}

}  // namespace qrxc
