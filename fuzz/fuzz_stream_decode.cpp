// Any bytes as a whole QRX stream through the stream API, as a decoding
// caller reads a file: the first 16 bytes (or fewer) to Qrxc_initial, then
// every whole frame after the header to Qrxc_frame.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/context.h"
#include "fuzz/fuzz_support.h"

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 4 || size > qrxc::fuzz::INPUT_CAP) return 0;
    // One context, loaded afresh per input: the allocation per input cost
    // more than the decoding.
    static Qrxc_context context;
    qrxc::context_load(context);
    Qrxc_context *const ctx = &context;
    unsigned char hdr[QRXC_HEADER_MAX] = {};
    std::memcpy(hdr, data, size < 16 ? size : 16);
    G_header info{};
    const int offset = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr);
    if (offset < 0) {
        // A rejected header opens nothing.
        short pcm[QRXC_MAX_PCM_FRAME];
        unsigned char frame[QRXC_MAX_FRAME_BYTES] = {};
        check(Qrxc_frame_ctx(ctx, pcm, frame) < 0);
        return 0;
    }
    // The sizes the API promised must fit the buffers it told callers to use.
    check(offset == 4 || offset == 16);
    check(info.pcm_frame > 0 && info.pcm_frame <= QRXC_MAX_PCM_FRAME);
    check(info.frame_bytes > 0 && info.frame_bytes <= QRXC_MAX_FRAME_BYTES);
    // A long header needs all 16 bytes; a caller with fewer has padding only.
    if (offset == 16 && size < 16) return 0;

    constexpr short GUARD = 0x5a5a;
    short pcm[QRXC_MAX_PCM_FRAME + 8];
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    // Six frames show every carried state; more only repeat the decoder's work.
    const std::size_t end = static_cast<std::size_t>(offset) + 6u * info.frame_bytes;
    for (std::size_t pos = static_cast<std::size_t>(offset); pos + info.frame_bytes <= size && pos < end;
         pos += info.frame_bytes) {
        for (short &s : pcm) s = GUARD;
        std::memcpy(frame, data + pos, info.frame_bytes);
        check(Qrxc_frame_ctx(ctx, pcm, frame) == 0);
        // Nothing written past the frame, and the input left as it was.
        for (std::size_t i = info.pcm_frame; i < sizeof pcm / sizeof pcm[0]; ++i) check(pcm[i] == GUARD);
        check(std::memcmp(frame, data + pos, info.frame_bytes) == 0);
    }
    return 0;
}
