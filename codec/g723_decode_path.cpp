// Placeholder until the G.723.1 decoder lands: silence for every frame.
#include <cstring>

#include "codec/g723_path.h"

namespace qrxc {

void g723_decode_setup(Qrxc_context &) {}

void frame_g723_decode(Qrxc_context &ctx, short *pcm, const unsigned char *) {
    std::memset(pcm, 0, sizeof(short) * ctx.stream.header.pcm_frame);
}

}  // namespace qrxc
