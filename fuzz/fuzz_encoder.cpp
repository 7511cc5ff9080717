// Arbitrary PCM through every stream type's encoder, from a fresh context.
// Byte 0 picks the type, sample rate and header form, whether the samples
// repeat to fill the frame (a periodic signal the pitch search locks onto)
// or are followed by silence, and whether a second frame follows; the rest
// is 16-bit PCM.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

namespace {
constexpr int TYPES[6] = {0, 1, 2, 4, 5, 6};
constexpr int RATES[3] = {8000, 12000, 16000};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 1 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const int type = TYPES[data[0] % 6];
    const int rate = RATES[(data[0] / 6) % 3];
    const unsigned mode = data[0] / 18u;
    const bool short_header = (mode & 1) != 0;
    const bool repeat = (mode & 2) != 0;
    const int frames = (mode & 4) != 0 ? 2 : 1;
    const std::uint8_t *bytes = data + 1;
    const std::size_t samples = (size - 1) / 2;

    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    Qrxc_version_ctx(ctx.get(), short_header ? 0 : 1);
    G_header h{};
    unsigned char hdr[QRXC_HEADER_MAX];
    const int hlen = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, rate, type, &h, hdr);
    check(hlen == (short_header ? 4 : 16));

    // The header written reads back as the stream that was opened.
    {
        qrxc::fuzz::Ctx reader(Qrxc_create());
        if (!reader) return 0;
        G_header back{};
        check(Qrxc_initial_ctx(reader.get(), QRXC_DECODE, 0, 0, &back, hdr) == hlen);
        check(back.type == type && back.sample_rate == rate && back.pcm_frame == h.pcm_frame &&
              back.frame_bytes == h.frame_bytes);
    }

    constexpr unsigned char GUARD = 0xa5;
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char out[QRXC_MAX_FRAME_BYTES + 8];
    std::size_t next = 0;  // next input sample
    for (int f = 0; f < frames; ++f) {
        for (int i = 0; i < h.pcm_frame; ++i) {
            if (samples == 0 || (!repeat && next >= samples)) {
                pcm[i] = 0;
                continue;
            }
            const std::size_t s = next++ % samples;
            pcm[i] = static_cast<short>(qrxc::fuzz::le16(bytes + 2 * s));
        }
        short copy[QRXC_MAX_PCM_FRAME];
        std::memcpy(copy, pcm, sizeof pcm);
        std::memset(out, GUARD, sizeof out);
        check(Qrxc_frame_ctx(ctx.get(), pcm, out) == 0);
        // Exactly frame_bytes written, and the caller's PCM left alone.
        for (std::size_t i = h.frame_bytes; i < sizeof out; ++i) check(out[i] == GUARD);
        check(std::memcmp(copy, pcm, sizeof pcm) == 0);
    }
    return 0;
}
