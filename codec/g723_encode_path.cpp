// G.723.1 stream path, encoding direction: stream types 0, 1 and 2.
#include <cstring>

#include "codec/g723_path.h"
#include "g723/encoder/encoder.h"

namespace qrxc {

void g723_encode_setup(Qrxc_context &ctx) {
    g723::enc_reset(ctx.enc);
    g723::enc_dtx_reset(ctx.dtx);
    if (ctx.stream.header.type == TYPE_G723_RESAMPLED) rc_reset(ctx.rc, 3, 4);
}

void frame_g723_encode(Qrxc_context &ctx, const short *pcm, unsigned char *data) {
    const G_header &h = ctx.stream.header;
    // Type 1 starts every frame with a full search budget; type 0 carries it
    // over, also from one stream into the next.
    if (h.type == TYPE_G723_53) g723::reset_acelp_budget(ctx.acelp_budget);

    Word16 samples[QRXC_MAX_PCM_FRAME] = {};
    const int n = h.pcm_frame <= QRXC_MAX_PCM_FRAME ? h.pcm_frame : QRXC_MAX_PCM_FRAME;
    std::memcpy(samples, pcm, static_cast<std::size_t>(n) * sizeof(short));
    if (ctx.stream.resample) rc_down(ctx.rc, samples, samples, n);

    unsigned char bytes[g723::FRAME_BYTES_63];
    g723::enc_frame(ctx.enc, ctx.stream.rate_select, ctx.acelp_budget, samples, bytes);
    const std::size_t nb = h.frame_bytes <= sizeof bytes ? h.frame_bytes : sizeof bytes;
    std::memcpy(data, bytes, nb);
}

}  // namespace qrxc
