// Arbitrary PCM through every stream type's encoder, from a fresh context.
// The first byte picks the type and header form; the rest is PCM.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "qrxc.h"

namespace {
struct Ctx_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
constexpr int TYPES[6] = {0, 1, 2, 4, 5, 6};
constexpr int RATES[3] = {8000, 12000, 16000};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const int type = TYPES[data[0] % 6];
    const int rate = RATES[(data[0] / 6) % 3];
    std::unique_ptr<Qrxc_context, Ctx_deleter> ctx(Qrxc_create());
    if (!ctx) return 0;
    Qrxc_version_ctx(ctx.get(), (data[0] & 0x80) ? 0 : 1);
    G_header h{};
    unsigned char hdr[16];
    if (Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, rate, type, &h, hdr) < 0) return 0;
    data++;
    size--;
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char out[QRXC_MAX_FRAME_BYTES];
    const std::size_t frame_bytes = static_cast<std::size_t>(h.pcm_frame) * 2;
    while (size > 0) {
        const std::size_t take = size < frame_bytes ? size : frame_bytes;
        std::memset(pcm, 0, sizeof pcm);
        std::memcpy(pcm, data, take);
        if (Qrxc_frame_ctx(ctx.get(), pcm, out) < 0) __builtin_trap();
        data += take;
        size -= take;
    }
    return 0;
}
