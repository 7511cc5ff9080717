// Arbitrary flags and PCM through the speed control and the voice effects.
// Input: byte 0 picks the frame length, byte 1 the initial flags, then per
// frame one flags byte followed by the frame's samples.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qrxc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    Qrxc_context *ctx = Qrxc_create();
    if (ctx == nullptr) return 0;
    // Short headers: type 0 has 320-sample frames, type 5 240.
    unsigned char hdr[16] = {'Q', 'R', 'X', static_cast<unsigned char>((data[0] & 1) ? 0x00 : 0x05)};
    G_header info;
    if (Qrxc_initial_ctx(ctx, 2, 0, 0, &info, hdr) < 0) {
        Qrxc_destroy(ctx);
        return 0;
    }
    const size_t frame = info.pcm_frame;
    Qrmd_initial_ctx(ctx, data[1]);
    std::vector<short> src(frame), dst(2 * frame + 16, 0x5a5a);
    size_t pos = 2;
    while (pos < size) {
        const int flags = data[pos++];
        const size_t avail = (size - pos) / 2;
        const size_t take = avail < frame ? avail : frame;
        std::memset(src.data(), 0, frame * sizeof(short));
        std::memcpy(src.data(), data + pos, take * 2);
        pos += take * 2;
        Qrmd_frame_ctx(ctx, flags, src.data(), dst.data());
        const int n = Qrmd_last_count_ctx(ctx);
        // Never more than the documented room, and nothing past what it says it wrote.
        if (n < 0 || static_cast<size_t>(n) > 2 * frame) __builtin_trap();
        for (size_t i = 2 * frame; i < dst.size(); ++i)
            if (dst[i] != 0x5a5a) __builtin_trap();
        if (take < frame) break;
    }
    Qrxc_destroy(ctx);
    return 0;
}
