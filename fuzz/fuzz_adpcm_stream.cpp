// Any bytes as an ADPCM stream: the header parser must accept or reject them
// cleanly, and the frames must decode and the PCM re-encode without fault.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"

namespace {
// A long header and two frames of the widest code.
constexpr std::size_t MAX_LEN = 16 + 2 * QRXC_MAX_FRAME_BYTES;
}  // namespace

QRX_FUZZ_MAX_LEN(MAX_LEN)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 4 || size > MAX_LEN) return 0;
    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    unsigned char hdr[QRXC_HEADER_MAX] = {};
    std::memcpy(hdr, data, size < 16 ? size : 16);
    G_header info{};
    const int len = Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, hdr);
    if (len < 0 || info.type < 4 || static_cast<std::size_t>(len) > size) return 0;
    short pcm[QRXC_MAX_PCM_FRAME] = {};
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    for (std::size_t at = static_cast<std::size_t>(len); at + info.frame_bytes <= size; at += info.frame_bytes) {
        std::memcpy(frame, data + at, info.frame_bytes);
        check(Qrxc_frame_ctx(ctx.get(), pcm, frame) == 0);
    }
    // The last decoded PCM back through the encoder of the same type.
    unsigned char out_hdr[QRXC_HEADER_MAX];
    if (Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, info.sample_rate, info.type, &info, out_hdr) > 0)
        check(Qrxc_frame_ctx(ctx.get(), pcm, frame) == 0);
    return 0;
}
