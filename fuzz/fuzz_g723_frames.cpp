// Arbitrary bytes straight into the G.723.1 decoding path, past the stream
// header: byte 0 picks type 0, 1 or 2, the rest are coded frames. Reaches
// the unpacker's checks, the concealment of bad frames and the decoder's
// state carried from frame to frame.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "codec/stream.h"
#include "fuzz/fuzz_support.h"

// Six frames reach every carried state (an erasure run mutes after three);
// more only repeat the decoder's work.
constexpr std::size_t FRAMES = 6;
QRX_FUZZ_MAX_LEN(1 + FRAMES * 24)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const int type = data[0] % 3;
    static Qrxc_context ctx;  // static: the context is large and trivially reset
    qrxc::context_load(ctx);
    ctx.stream.direction = QRXC_DECODE;
    const qrxc::Stream_mode &mode = *qrxc::stream_mode(static_cast<unsigned>(type));
    ctx.stream.header.type = static_cast<std::uint16_t>(type);
    ctx.stream.header.pcm_frame = mode.pcm_frame;
    ctx.stream.header.frame_bytes = mode.frame_bytes;
    ctx.stream.resample = mode.resample;
    ctx.stream.rate_select = mode.rate_select;
    qrxc::g723_decode_setup(ctx);
    const std::size_t fb = ctx.stream.header.frame_bytes;
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    for (std::size_t pos = 1; pos + fb <= size && pos < 1 + FRAMES * fb; pos += fb) {
        std::memcpy(frame, data + pos, fb);
        qrxc::frame_g723_decode(ctx, pcm, frame);
    }
    return 0;
}
