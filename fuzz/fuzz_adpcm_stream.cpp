// Any bytes as a stream: the header parser must accept or reject them
// cleanly, and ADPCM frames must decode and re-encode without fault.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/context.h"
#include "qrxc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static Qrxc_context ctx;
    qrxc::context_load(ctx);
    unsigned char hdr[16] = {};
    std::memcpy(hdr, data, size < 16 ? size : 16);
    G_header info{};
    const int len = Qrxc_initial_ctx(&ctx, QRXC_DECODE, 0, 0, &info, hdr);
    if (len < 0 || info.type < 4 || static_cast<std::size_t>(len) > size) return 0;
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    for (std::size_t at = static_cast<std::size_t>(len); at + info.frame_bytes <= size; at += info.frame_bytes) {
        std::memcpy(frame, data + at, info.frame_bytes);
        Qrxc_frame_ctx(&ctx, pcm, frame);
    }
    // The decoded PCM back through the encoder of the same type.
    unsigned char out_hdr[16];
    if (Qrxc_initial_ctx(&ctx, QRXC_ENCODE, info.sample_rate, info.type, &info, out_hdr) > 0)
        Qrxc_frame_ctx(&ctx, pcm, frame);
    return 0;
}
