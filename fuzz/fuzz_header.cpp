// The QRX header logic on arbitrary bytes: bytes 0-15 are a stream's first
// bytes for decoding; bytes 16-23, when present, are the rate and type
// (little-endian ints) and byte 24 the header form for an encoding open.
// Every accepted header must describe a stream the library can code, and
// every header the encoder writes must read back as the same stream.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/stream.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::size_t MAX_LEN = 32;

bool same(const G_header &a, const G_header &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int le32(const std::uint8_t *p) {
    return static_cast<int>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

// The encoder's header for (rate, type, form) decodes to the same stream.
void check_round_trip(int rate, int type, int version) {
    using qrxc::fuzz::check;
    qrxc::fuzz::Ctx enc(Qrxc_create());
    qrxc::fuzz::Ctx dec(Qrxc_create());
    if (!enc || !dec) return;
    Qrxc_version_ctx(enc.get(), version);
    G_header written{}, made{};
    unsigned char bytes[QRXC_HEADER_MAX], made_bytes[QRXC_HEADER_MAX];
    const int hlen = Qrxc_initial_ctx(enc.get(), QRXC_ENCODE, rate, type, &written, bytes);
    // The context-free writer writes the same header.
    check(Qrxc_write_header(rate, type, version, made_bytes, &made) == hlen);
    if (hlen > 0) check(same(made, written) && std::memcmp(made_bytes, bytes, static_cast<std::size_t>(hlen)) == 0);
    // The whole int is judged: only the three rates and six types open.
    // The lists are the harness's own oracle, kept apart from the library's.
    const bool valid = (rate == 8000 || rate == 12000 || rate == 16000) &&
                       (type == 0 || type == 1 || type == 2 || type == 4 || type == 5 || type == 6);
    check((hlen >= 0) == valid);
    if (hlen < 0) return;
    check(hlen == ((version & 3) == 0 ? 4 : 16));
    G_header read{};
    check(Qrxc_initial_ctx(dec.get(), QRXC_DECODE, 0, 0, &read, bytes) == hlen);
    check(read.sample_rate == written.sample_rate && read.type == written.type && read.pcm_frame == written.pcm_frame &&
          read.frame_bytes == written.frame_bytes);
}

}  // namespace

QRX_FUZZ_MAX_LEN(MAX_LEN)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size > MAX_LEN) return 0;
    unsigned char hdr[QRXC_HEADER_MAX] = {};
    std::memcpy(hdr, data, size < sizeof hdr ? size : sizeof hdr);
    unsigned char hdr_copy[QRXC_HEADER_MAX];
    std::memcpy(hdr_copy, hdr, sizeof hdr);

    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    G_header info;
    std::memset(&info, 0xee, sizeof info);
    const G_header untouched = info;
    const int offset = Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, hdr);
    check(std::memcmp(hdr, hdr_copy, sizeof hdr) == 0);  // decoding only reads the header
    // The context-free parse agrees; it files an inconsistent long header under QRXC_ERR_HEADER.
    G_header parsed{};
    const int parse = Qrxc_parse_header(hdr, sizeof hdr, &parsed);
    check(parse == (offset == QRXC_ERR_ARG ? QRXC_ERR_HEADER : offset));
    if (offset >= 0) check(same(parsed, info));
    if (offset < 0) {
        check(offset == QRXC_ERR_ARG || offset == QRXC_ERR_HEADER);
        const int len = Qrxc_header_length(hdr);
        check(len == QRXC_ERR_HEADER || len == 4 || len == 16);
        check(same(info, untouched));
        short pcm[QRXC_MAX_PCM_FRAME];
        unsigned char frame[QRXC_MAX_FRAME_BYTES] = {};
        check(Qrxc_frame_ctx(ctx.get(), pcm, frame) < 0);
    } else {
        // The harness's own oracle, independent of the library on purpose:
        // the form is byte 3's top bits. The public queries must agree, and
        // the stream is one the mode table knows.
        check(offset == ((hdr[3] & 0xC0) == 0 ? 4 : 16));
        check(Qrxc_header_length(hdr) == offset);
        Qrxc_type_desc desc{};
        check(Qrxc_type_info(info.type, &desc) == 0 && desc.pcm_frame == info.pcm_frame &&
              desc.frame_bytes == info.frame_bytes);
        // Whatever the frame's bytes, the concealment query answers.
        unsigned char frame[QRXC_MAX_FRAME_BYTES] = {};
        std::memcpy(frame, data, size);
        const int concealed = Qrxc_frame_concealed(info.type, frame);
        check(concealed == 0 || concealed == 1);
        check(std::memcmp(info.magic, "QRX", 3) == 0);
        check(qrxc::is_supported_rate(info.sample_rate));
        const qrxc::Stream_mode *mode = qrxc::stream_mode(info.type);
        check(mode != nullptr && mode->pcm_frame == info.pcm_frame && mode->frame_bytes == info.frame_bytes);
        if (offset == 4) check(info.header_size == 4 && info.version == 1);
        // The same stream written by the encoder reads back the same.
        check_round_trip(info.sample_rate, info.type, offset == 4 ? 0 : 1);
    }

    if (size >= 25) {
        const int rate = le32(data + 16);
        const int type = le32(data + 20);
        check_round_trip(rate, type, data[24]);
    }
    return 0;
}
