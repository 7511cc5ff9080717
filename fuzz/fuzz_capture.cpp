// Arbitrary bytes as the packets of a capture, read the way qrx reads
// one: byte 0 picks the link type, byte 1 an extra G.723.1 payload type
// (or none), then packets follow, each a length byte and its bytes. Every
// stream found is placed and, when short enough, decoded; the decoded
// length must be the stream's placed frames.
#include <cstddef>
#include <cstdint>

#include "cli/capture/rtp_stream.h"
#include "cli/capture/stream_decode.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::size_t CAPTURE_CAP = 4096;
// Decoding costs a frame's worth of work per 30 ms: longer placed streams
// (long silent gaps) are checked by their slots only.
constexpr std::uint64_t DECODE_CAP = 600;

constexpr int LINKS[] = {qrxc::capture::LINK_ETHERNET, qrxc::capture::LINK_LINUX_SLL, qrxc::capture::LINK_LINUX_SLL2,
                         qrxc::capture::LINK_RAW,      qrxc::capture::LINK_NULL,      qrxc::capture::LINK_IPV6,
                         qrxc::capture::LINK_IPV4,     qrxc::capture::LINK_LOOP};

struct Counting_sink : qrxc::capture::Pcm_sink {
    std::uint64_t samples = 0;
    bool write(const short *, std::size_t n) override {
        samples += n;
        return true;
    }
};

}  // namespace

QRX_FUZZ_MAX_LEN(CAPTURE_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace qrxc::capture;
    using qrxc::fuzz::check;
    if (size < 2 || size > CAPTURE_CAP) return 0;
    const int link = LINKS[data[0] % (sizeof LINKS / sizeof LINKS[0])];
    Stream_collector collector(data[1] < 128 ? data[1] : -1);
    std::uint64_t packets = 0;
    for (std::size_t at = 2; at < size;) {
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 1);
        collector.add_packet(link, data + at + 1, n, 0.03 * static_cast<double>(packets++));
        at += 1 + n;
    }
    check(collector.counts().packets == packets);
    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    for (const Rtp_stream *s : collector.finish()) {
        std::uint64_t frames = 0;
        for (const Frame_slot &slot : s->slots()) {
            frames += slot.kind == Slot_kind::coded ? 1 : slot.value;
            if (slot.kind == Slot_kind::coded) check(slot.value + slot.length <= s->frame_bytes().size());
        }
        check(frames == s->frame_count() && s->stats().packets <= collector.counts().rtp);
        if (frames > DECODE_CAP) continue;
        Counting_sink sink;
        check(decode_stream(*s, ctx.get(), sink) == Decode_status::ok);
        check(sink.samples == frames * SAMPLES_PER_FRAME);
    }
    return 0;
}
