// Arbitrary flags and PCM through the speed control and the voice effects.
// Byte 0: bit 0 picks the frame length (320 or 240), bits 1-3 the number of
// frames (1 to 8); byte 1 the initial flags; then one flags byte per frame;
// the remaining bytes are 16-bit PCM, repeated to fill every frame.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 2 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const std::size_t frames = 1 + ((data[0] >> 1) & 7);
    if (size < 2 + frames) return 0;
    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    // Short headers: type 0 has 320-sample frames, type 5 240.
    unsigned char hdr[QRXC_HEADER_MAX] = {'Q', 'R', 'X', static_cast<unsigned char>((data[0] & 1) ? 0x00 : 0x05)};
    G_header info{};
    check(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, hdr) == 4);
    const std::size_t frame = info.pcm_frame;
    Qrmd_initial_ctx(ctx.get(), data[1]);

    const std::uint8_t *flags = data + 2;
    const std::uint8_t *bytes = flags + frames;
    const std::size_t samples = (size - 2 - frames) / 2;
    constexpr short GUARD = 0x5a5a;
    short src[QRXC_MAX_PCM_FRAME];
    short dst[2 * QRXC_MAX_PCM_FRAME + 16];
    std::size_t next = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < frame; ++i)
            src[i] = samples == 0 ? short{0} : static_cast<short>(qrxc::fuzz::le16(bytes + 2 * (next++ % samples)));
        for (short &s : dst) s = GUARD;
        const int rc = Qrmd_frame_ctx(ctx.get(), flags[f], src, dst);
        const int n = Qrmd_last_count_ctx(ctx.get());
        // Never more than the documented room, nothing past what it says it
        // wrote, and nothing at all from a refused frame.
        check(n >= 0 && static_cast<std::size_t>(n) <= 2 * frame);
        check(rc == 0 || n == 0);
        for (std::size_t i = static_cast<std::size_t>(n); i < sizeof dst / sizeof dst[0]; ++i) check(dst[i] == GUARD);
    }
    return 0;
}
