// Arbitrary bytes through a fresh context's decoding: first through the
// stream API (header, then frames), then straight through the G.723.1
// decoding path for types 0, 1 and 2 so that the decoder is reached even
// when the header is rejected.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "qrxc.h"

namespace {

void through_api(const std::uint8_t *data, std::size_t size) {
    if (size < 16) return;
    Qrxc_context *ctx = Qrxc_create();
    if (ctx == nullptr) return;
    unsigned char head[16];
    std::memcpy(head, data, 16);
    G_header hdr{};
    const int offset = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &hdr, head);
    if (offset >= 0) {
        if (offset > 16 || hdr.pcm_frame > QRXC_MAX_PCM_FRAME || hdr.frame_bytes > QRXC_MAX_FRAME_BYTES ||
            hdr.frame_bytes == 0)
            __builtin_trap();  // the stream API promised sizes it cannot keep
        short pcm[QRXC_MAX_PCM_FRAME];
        unsigned char frame[QRXC_MAX_FRAME_BYTES];
        for (std::size_t pos = static_cast<std::size_t>(offset); pos + hdr.frame_bytes <= size; pos += hdr.frame_bytes) {
            std::memcpy(frame, data + pos, hdr.frame_bytes);
            Qrxc_frame_ctx(ctx, pcm, frame);
        }
    }
    Qrxc_destroy(ctx);
}

void through_g723_path(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return;
    const int type = data[0] % 3;
    auto *ctx = new Qrxc_context;
    qrxc::context_load(*ctx);
    ctx->stream.direction = QRXC_DECODE;
    ctx->stream.header.type = static_cast<std::uint16_t>(type);
    ctx->stream.header.pcm_frame = type == 0 ? 320 : 240;
    ctx->stream.header.frame_bytes = type == 2 ? 24 : 20;
    ctx->stream.resample = type == 0 ? 1 : 0;
    ctx->stream.rate_select = type == 2 ? 0 : 1;
    qrxc::g723_decode_setup(*ctx);
    const std::size_t fb = ctx->stream.header.frame_bytes;
    short pcm[320];
    unsigned char frame[24];
    for (std::size_t pos = 1; pos + fb <= size; pos += fb) {
        std::memcpy(frame, data + pos, fb);
        qrxc::frame_g723_decode(*ctx, pcm, frame);
    }
    delete ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    through_api(data, size);
    through_g723_path(data, size);
    return 0;
}
