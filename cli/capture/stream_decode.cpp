#include "cli/capture/stream_decode.h"

#include <cstring>

namespace qrxc::capture {
namespace {

// Frames decoded into one buffer before it goes to the sink.
constexpr int BATCH_FRAMES = 32;

bool open_decoding(Qrxc_context *ctx, int type) {
    return Qrxc_open_decoding_ctx(ctx, type, QRXC_G723_SAMPLE_RATE, nullptr) == QRXC_OK;
}

}  // namespace

int erased_frame(int rate, std::uint8_t *out) {
    const int length = rate == QRXC_G723_KIND_63 ? 24 : 20;
    std::memset(out, 0, static_cast<std::size_t>(length));
    // Kind in bits 0-1, the 24 LSP bits, then the first open-loop lag in
    // bits 26-32: 127 is above the highest lag code, so the frame is erased.
    out[0] = static_cast<std::uint8_t>(rate == QRXC_G723_KIND_63 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53);
    out[3] = 0xFC;
    out[4] = 0x01;
    return length;
}

Decode_status decode_stream(const Rtp_stream &stream, Qrxc_context *ctx, Pcm_sink &sink) {
    int first_rate = QRXC_G723_KIND_53;
    for (const Frame_slot &s : stream.slots())
        if (s.kind == Slot_kind::coded) {
            const std::uint8_t kind = stream.frame_bytes()[s.value] & 3;
            if (kind <= QRXC_G723_KIND_53) {
                first_rate = kind;
                break;
            }
        }
    if (ctx == nullptr || !open_decoding(ctx, first_rate == QRXC_G723_KIND_63 ? 2 : 1))
        return Decode_status::codec_refused;
    static thread_local short pcm[BATCH_FRAMES * SAMPLES_PER_FRAME];
    int held = 0;
    Decode_status status = Decode_status::ok;
    auto decode = [&](const std::uint8_t *frame, std::size_t length) {
        if (Qrxc_decode_standard_ctx(ctx, frame, length, pcm + held * SAMPLES_PER_FRAME, nullptr) <= 0) {
            status = Decode_status::codec_refused;
            return false;
        }
        if (++held < BATCH_FRAMES) return true;
        held = 0;
        if (sink.write(pcm, std::size(pcm))) return true;
        status = Decode_status::sink_failed;
        return false;
    };
    const std::uint8_t untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
    std::uint8_t erased[QRXC_G723_STANDARD_MAX_BYTES];
    for (const Frame_slot &s : stream.slots()) {
        bool ok = true;
        if (s.kind == Slot_kind::coded) {
            ok = decode(stream.frame_bytes().data() + s.value, s.length);
        } else {
            const std::uint8_t *frame = &untransmitted;
            std::size_t length = 1;
            if (s.kind == Slot_kind::erased) {
                length = static_cast<std::size_t>(erased_frame(s.rate, erased));
                frame = erased;
            }
            for (std::uint32_t i = 0; i < s.value && ok; ++i) ok = decode(frame, length);
        }
        if (!ok) return status;
    }
    if (held > 0 && !sink.write(pcm, static_cast<std::size_t>(held) * SAMPLES_PER_FRAME))
        return Decode_status::sink_failed;
    return Decode_status::ok;
}

}  // namespace qrxc::capture
