// Decoding direction of the G.723.1 stream types 0, 1 and 2.
#include <cstring>

#include "codec/g723_path.h"
#include "g723/decoder/decoder.h"

namespace qrxc {

namespace {
constexpr int WORK_SAMPLES = 320;
constexpr int WORK_BYTES = 24;
}  // namespace

void g723_decode_setup(Qrxc_context &ctx) {
    g723::g723_decoder_reset(ctx.dec);
    if (ctx.stream.header.type == 0) rc_reset(ctx.rc, 3, 4);
}

void frame_g723_decode(Qrxc_context &ctx, short *pcm, const unsigned char *data) {
    if (pcm == nullptr || data == nullptr) return;
    // Work buffers of our own so that neither caller buffer is scratch; a
    // short frame is read as if zero-padded rather than read past its end.
    unsigned char bytes[WORK_BYTES] = {};
    short samples[WORK_SAMPLES] = {};
    const int nbytes = ctx.stream.header.frame_bytes < WORK_BYTES ? ctx.stream.header.frame_bytes : WORK_BYTES;
    std::memcpy(bytes, data, static_cast<size_t>(nbytes));

    g723::g723_decode_frame(ctx.dec, ctx.stream.rate_select, samples, bytes, 0);
    int produced = g723::FRAME_LEN;
    if (ctx.stream.resample != 0) {
        rc_up(ctx.rc, samples, samples, g723::FRAME_LEN);
        produced = WORK_SAMPLES;
    }
    const int want = ctx.stream.header.pcm_frame;
    const int n = want < produced ? want : produced;
    std::memcpy(pcm, samples, sizeof(short) * static_cast<size_t>(n));
    if (want > n) std::memset(pcm + n, 0, sizeof(short) * static_cast<size_t>(want - n));
}

}  // namespace qrxc
