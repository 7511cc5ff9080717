#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

#include "codec/adpcm.h"
#include "codec/context.h"
#include "codec/stream.h"
#include "common_support.h"

using qrxc::test::Bytes;

namespace {

using qrxc::test::Ctx;
using qrxc::test::fresh;

bool same_state(const Qrxc_context &a, const Qrxc_context &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A test signal: two tones and a little noise.
std::vector<short> speechlike(std::size_t n, unsigned seed) {
    std::vector<short> pcm(n);
    std::uint32_t r = seed;
    for (std::size_t i = 0; i < n; ++i) {
        r = r * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / 8000.0;
        const double v = 7000 * std::sin(2 * std::numbers::pi * (180 + seed % 50) * t) +
                         2500 * std::sin(2 * std::numbers::pi * 1300 * t) +
                         static_cast<double>(static_cast<int>(r >> 20) - 2048);
        pcm[i] = static_cast<short>(v);
    }
    return pcm;
}

// Encodes whole frames of pcm as a stream (header included) on ctx.
Bytes encode_stream(Qrxc_context *ctx, int type, const std::vector<short> &pcm, int version = 1) {
    G_header info{};
    unsigned char hdr[16];
    Qrxc_version_ctx(ctx, version);
    const int len = Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, type, &info, hdr);
    EXPECT_GT(len, 0);
    Bytes out(hdr, hdr + len);
    std::vector<short> in(pcm);
    for (std::size_t at = 0; at + info.pcm_frame <= in.size(); at += info.pcm_frame) {
        unsigned char frame[QRXC_MAX_FRAME_BYTES];
        EXPECT_EQ(Qrxc_frame_ctx(ctx, in.data() + at, frame), 0);
        out.insert(out.end(), frame, frame + info.frame_bytes);
    }
    return out;
}

// Decodes a whole stream on ctx.
std::vector<short> decode_stream(Qrxc_context *ctx, const Bytes &stream) {
    G_header info{};
    Bytes hdr(stream.begin(), stream.begin() + std::min<std::size_t>(16, stream.size()));
    hdr.resize(16);
    const int len = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr.data());
    EXPECT_GT(len, 0);
    std::vector<short> out;
    for (std::size_t at = static_cast<std::size_t>(len); at + info.frame_bytes <= stream.size();
         at += info.frame_bytes) {
        Bytes frame(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + info.frame_bytes));
        short pcm[QRXC_MAX_PCM_FRAME];
        EXPECT_EQ(Qrxc_frame_ctx(ctx, pcm, frame.data()), 0);
        out.insert(out.end(), pcm, pcm + info.pcm_frame);
    }
    return out;
}

}  // namespace

TEST(StreamApi, VersionSelectsTheHeaderForm) {
    struct Case {
        int v;
        std::uint8_t byte;
    };
    const Case cases[] = {{0, 0x01}, {1, 0x40}, {2, 0x80}, {3, 0xC0}, {4, 0x01}, {5, 0x40}, {-1, 0xC0}, {0x103, 0xC0}};
    for (const Case &c : cases) {
        Ctx ctx = fresh();
        Qrxc_version_ctx(ctx.get(), c.v);
        EXPECT_EQ(ctx->stream.version_byte, c.byte) << c.v;
    }
}

TEST(StreamApi, EncodingHeaders) {
    struct Case {
        int version;  // -1: no Qrxc_version call
        int rate, type;
        int result;
        Bytes hdr;
        std::uint8_t out_version;
        std::uint16_t pcm_frame, frame_bytes;
    };
    const Case cases[] = {
        {0, 12000, 5, 4, {'Q', 'R', 'X', 0x15}, 0x01, 240, 120},
        {0, 8000, 0, 4, {'Q', 'R', 'X', 0x00}, 0x01, 320, 20},
        {0, 16000, 4, 4, {'Q', 'R', 'X', 0x24}, 0x01, 240, 90},
        {-1,
         16000,
         6,
         16,
         {0x51, 0x52, 0x58, 0x40, 0x80, 0x3E, 0x06, 0x00, 0xF0, 0x00, 0x96, 0x00, 0x10, 0, 0, 0},
         0x40,
         240,
         150},
        {3, 8000, 2, 16, qrxc::test::long_header(8000, 2, 240, 24, 16, 0xC0), 0xC0, 240, 24},
        {2, 12000, 1, 16, qrxc::test::long_header(12000, 1, 240, 20, 16, 0x80), 0x80, 240, 20},
        // The whole int counts, though the stored fields keep the low 16 bits.
        {1, 8000 + 65536, 5, QRXC_ERR_RATE, {}, 0, 0, 0},
        {1, 8000 - 65536, 5, QRXC_ERR_RATE, {}, 0, 0, 0},
        {1, 8000, 5 + 65536, QRXC_ERR_TYPE, {}, 0, 0, 0},
        {1, 8000, 5 - 65536, QRXC_ERR_TYPE, {}, 0, 0, 0},
        {1, 11025, 1, QRXC_ERR_RATE, {}, 0, 0, 0},
        {1, 0, 1, QRXC_ERR_RATE, {}, 0, 0, 0},
        {1, 8000, 3, QRXC_ERR_TYPE, {}, 0, 0, 0},
        {1, 8000, 7, QRXC_ERR_TYPE, {}, 0, 0, 0},
        {1, 8000, -1, QRXC_ERR_TYPE, {}, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " type " << c.type);
        Ctx ctx = fresh();
        if (c.version >= 0) Qrxc_version_ctx(ctx.get(), c.version);
        G_header out;
        std::memset(&out, 0xAA, sizeof out);
        unsigned char hdr[16];
        std::memset(hdr, 0xAA, sizeof hdr);
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, c.rate, c.type, &out, hdr), c.result);
        if (c.result < 0) {
            // Fields are stored before they are checked; nothing reaches the caller.
            EXPECT_EQ(ctx->stream.direction, QRXC_ENCODE);
            EXPECT_EQ(ctx->stream.header.sample_rate, static_cast<std::uint16_t>(c.rate));
            EXPECT_EQ(ctx->stream.header.type, static_cast<std::uint16_t>(c.type));
            EXPECT_TRUE(std::all_of(hdr, hdr + 16, [](unsigned char b) { return b == 0xAA; }));
            const auto *raw = reinterpret_cast<const unsigned char *>(&out);
            EXPECT_TRUE(std::all_of(raw, raw + sizeof out, [](unsigned char b) { return b == 0xAA; }));
            continue;
        }
        EXPECT_EQ(Bytes(hdr, hdr + c.result), c.hdr);
        if (c.result == 4) {
            EXPECT_EQ(hdr[4], 0xAA);  // nothing past the short form
        }
        EXPECT_EQ(out.version, c.out_version);
        EXPECT_EQ(out.header_size, 16u);
        EXPECT_EQ(out.pcm_frame, c.pcm_frame);
        EXPECT_EQ(out.frame_bytes, c.frame_bytes);
        EXPECT_EQ(std::memcmp(out.magic, "QRX", 3), 0);
    }
}

TEST(StreamApi, DecodingHeaders) {
    struct Case {
        const char *name;
        Bytes hdr;
        int result;
        std::uint16_t rate, pcm_frame, frame_bytes;
        std::uint32_t header_size;
        std::uint8_t version;
    };
    const Case cases[] = {
        {"short type 0", {'Q', 'R', 'X', 0x00}, 4, 8000, 320, 20, 4, 1},
        {"short type 5 12k", {'Q', 'R', 'X', 0x15}, 4, 12000, 240, 120, 4, 1},
        {"short type 6 16k", {'Q', 'R', 'X', 0x26}, 4, 16000, 240, 150, 4, 1},
        {"short rate code 3", {'Q', 'R', 'X', 0x35}, QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"short type 3", {'Q', 'R', 'X', 0x03}, QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"short type 7", {'Q', 'R', 'X', 0x07}, QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"short type 15", {'Q', 'R', 'X', 0x0F}, QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"bad magic", {'Q', 'R', 'Y', 0x40}, QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"long type 1", qrxc::test::long_header(8000, 1, 240, 20), 16, 8000, 240, 20, 16, 0x40},
        {"long odd header_size", qrxc::test::long_header(16000, 4, 240, 90, 99, 0x80), 16, 16000, 240, 90, 99, 0x80},
        {"long version 0xFF", qrxc::test::long_header(12000, 0, 320, 20, 16, 0xFF), 16, 12000, 320, 20, 16, 0xFF},
        {"long bad rate", qrxc::test::long_header(11025, 1, 240, 20), QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"long type 3", qrxc::test::long_header(8000, 3, 240, 20), QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"long type 7", qrxc::test::long_header(8000, 7, 240, 20), QRXC_ERR_HEADER, 0, 0, 0, 0, 0},
        {"long pcm_frame wrong", qrxc::test::long_header(8000, 1, 320, 20), QRXC_ERR_ARG, 0, 0, 0, 0, 0},
        {"long frame_bytes wrong", qrxc::test::long_header(8000, 1, 240, 24), QRXC_ERR_ARG, 0, 0, 0, 0, 0},
        {"long both wrong", qrxc::test::long_header(8000, 5, 320, 90), QRXC_ERR_ARG, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Ctx ctx = fresh();
        Bytes hdr = c.hdr;
        hdr.resize(16, 0xEE);
        const Bytes before = hdr;
        G_header out;
        std::memset(&out, 0xAA, sizeof out);
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 12345, 99, &out, hdr.data()), c.result);
        EXPECT_EQ(hdr, before);  // the caller's bytes are only read
        EXPECT_EQ(ctx->stream.direction, QRXC_DECODE);
        if (c.result < 0) {
            const auto *raw = reinterpret_cast<const unsigned char *>(&out);
            EXPECT_TRUE(std::all_of(raw, raw + sizeof out, [](unsigned char b) { return b == 0xAA; }));
            short pcm[QRXC_MAX_PCM_FRAME];
            EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, hdr.data()), -1);
            continue;
        }
        EXPECT_EQ(out.sample_rate, c.rate);
        EXPECT_EQ(out.pcm_frame, c.pcm_frame);
        EXPECT_EQ(out.frame_bytes, c.frame_bytes);
        EXPECT_EQ(out.header_size, c.header_size);
        EXPECT_EQ(out.version, c.version);
    }
}

TEST(StreamApi, ModeSettings) {
    struct Case {
        int type, rate_select, resample, bits;
    };
    for (Case c :
         {Case{0, 1, 1, 0}, Case{1, 1, 0, 0}, Case{2, 0, 0, 0}, Case{4, 4, 0, 3}, Case{5, 5, 0, 4}, Case{6, 6, 0, 5}}) {
        for (int direction : {QRXC_ENCODE, QRXC_DECODE}) {
            Ctx ctx = fresh();
            G_header out;
            unsigned char hdr[16];
            if (direction == QRXC_DECODE) {
                const qrxc::Stream_mode &m = *qrxc::stream_mode(static_cast<unsigned>(c.type));
                Bytes h = qrxc::test::long_header(8000, static_cast<unsigned>(c.type), m.pcm_frame, m.frame_bytes);
                std::memcpy(hdr, h.data(), 16);
            }
            ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), direction, 8000, c.type, &out, hdr), 16);
            EXPECT_EQ(ctx->stream.rate_select, c.rate_select) << c.type;
            EXPECT_EQ(ctx->stream.resample, c.resample) << c.type;
            if (c.bits != 0) {
                EXPECT_EQ(direction == QRXC_ENCODE ? ctx->stream.enc_bits : ctx->stream.dec_bits, c.bits) << c.type;
            }
        }
    }
}

TEST(StreamApi, BadDirectionLeavesTheOpenStreamAlone) {
    Ctx ctx = fresh();
    const std::vector<short> pcm = speechlike(480, 3);
    Bytes stream = encode_stream(ctx.get(), 5, pcm);
    Bytes hdr(stream.begin(), stream.begin() + 16);
    G_header out;
    ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &out, hdr.data()), 16);
    for (int direction : {0, 3, -1}) {
        const Qrxc_context before = *ctx;
        EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), direction, 8000, 5, &out, hdr.data()), QRXC_ERR_ARG);
        EXPECT_TRUE(same_state(before, *ctx)) << direction;
    }
    short frame_pcm[240];
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), frame_pcm, stream.data() + 16), 0);  // still open
}

TEST(StreamApi, NullPointersAreRejectedWithoutStateChange) {
    Ctx ctx = fresh();
    G_header out;
    unsigned char hdr[16];
    const Qrxc_context before = *ctx;
    EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 5, nullptr, hdr), -1);
    EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 5, &out, nullptr), -1);
    EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &out, nullptr), -1);
    EXPECT_TRUE(same_state(before, *ctx));

    EXPECT_EQ(Qrxc_initial_ctx(nullptr, QRXC_ENCODE, 8000, 5, &out, hdr), -1);
    short pcm[240] = {};
    EXPECT_EQ(Qrxc_frame_ctx(nullptr, pcm, hdr), -1);
    Qrxc_version_ctx(nullptr, 0);
    Qrxc_destroy(nullptr);

    ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 5, &out, hdr), 16);
    unsigned char data[150];
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), nullptr, data), -1);
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, nullptr), -1);
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, data), 0);
}

TEST(StreamApi, FrameNeedsAnOpenStream) {
    Ctx ctx = fresh();
    short pcm[QRXC_MAX_PCM_FRAME] = {};
    unsigned char data[QRXC_MAX_FRAME_BYTES] = {};
    const Qrxc_context before = *ctx;
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, data), -1);  // never opened
    EXPECT_TRUE(same_state(before, *ctx));

    G_header out;
    unsigned char hdr[16];
    ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 4, &out, hdr), 16);
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, data), 0);
    ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 3, &out, hdr), QRXC_ERR_TYPE);
    const Qrxc_context after_failure = *ctx;
    EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, data), -1);  // the failed open closed the stream
    EXPECT_TRUE(same_state(after_failure, *ctx));
}

// Codes packed least significant bit first: code k occupies bits
// k*bits .. k*bits+bits-1 of the frame read as one little-endian number.
TEST(StreamApi, AdpcmPackingOrder) {
    for (int type : {4, 5, 6}) {
        SCOPED_TRACE(type);
        const int bits = type - 1;
        const std::size_t frame_bytes = static_cast<std::size_t>(240 * bits / 8);
        const std::vector<short> pcm = speechlike(240, static_cast<unsigned>(type));

        // Reference codes from a bare coder state.
        qrxc::Adpcm_state ref;
        qrxc::adpcm_load(ref);
        std::vector<int> codes;
        for (short x : pcm)
            codes.push_back(bits == 3   ? qrxc::adpcm_encode_3(ref, x, qrxc::LAW_LINEAR)
                            : bits == 4 ? qrxc::adpcm_encode_4(ref, x, qrxc::LAW_LINEAR)
                                        : qrxc::adpcm_encode_5(ref, x, qrxc::LAW_LINEAR));
        Bytes expected(frame_bytes, 0);
        for (std::size_t k = 0; k < codes.size(); ++k)
            for (int b = 0; b < bits; ++b)
                if ((codes[k] >> b) & 1) {
                    const std::size_t bit = k * static_cast<std::size_t>(bits) + static_cast<std::size_t>(b);
                    expected[bit / 8] = static_cast<unsigned char>(expected[bit / 8] | (1u << (bit % 8)));
                }

        Ctx ctx = fresh();
        G_header out;
        unsigned char hdr[16];
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, type, &out, hdr), 16);
        ASSERT_EQ(out.frame_bytes, frame_bytes);
        // Exactly frame_bytes written: the guard bytes after it stay put.
        Bytes data(frame_bytes + 8, 0x5A);
        std::vector<short> input = pcm;
        ASSERT_EQ(Qrxc_frame_ctx(ctx.get(), input.data(), data.data()), 0);
        EXPECT_EQ(input, pcm);  // the input buffer is never modified
        EXPECT_EQ(Bytes(data.begin(), data.begin() + static_cast<long>(frame_bytes)), expected);
        EXPECT_TRUE(std::all_of(data.begin() + static_cast<long>(frame_bytes), data.end(),
                                [](unsigned char b) { return b == 0x5A; }));

        // Decoding unpacks the same codes in the same order. The frame sits in
        // a buffer of exactly frame_bytes, so an over-read shows under ASan.
        qrxc::adpcm_load(ref);
        std::vector<short> want;
        for (int c : codes)
            want.push_back(bits == 3   ? qrxc::adpcm_decode_3(ref, c)
                           : bits == 4 ? qrxc::adpcm_decode_4(ref, c)
                                       : qrxc::adpcm_decode_5(ref, c));
        auto exact = std::make_unique<unsigned char[]>(frame_bytes);
        std::memcpy(exact.get(), expected.data(), frame_bytes);
        Bytes h = qrxc::test::long_header(8000, static_cast<unsigned>(type), 240, static_cast<unsigned>(frame_bytes));
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &out, h.data()), 16);
        std::vector<short> got(240 + 4, 0x7777);
        ASSERT_EQ(Qrxc_frame_ctx(ctx.get(), got.data(), exact.get()), 0);
        EXPECT_EQ(std::vector<short>(got.begin(), got.begin() + 240), want);
        EXPECT_EQ(got[240], 0x7777);
    }
}

TEST(StreamApi, ThreeBitLayoutOfTheFirstBytes) {
    // Byte 0: code 0 in bits 0-2, code 1 in bits 3-5, low two bits of code 2
    // in 6-7; byte 1: top bit of code 2, code 3 in 1-3, code 4 in 4-6, low bit of code 5.
    Ctx ctx = fresh();
    G_header out;
    Bytes h = qrxc::test::long_header(8000, 4, 240, 90);
    ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &out, h.data()), 16);
    const int codes[6] = {1, 2, 5, 3, 6, 7};
    Bytes frame(90, 0);
    frame[0] = static_cast<unsigned char>(1 | 2 << 3 | (5 & 3) << 6);
    frame[1] = static_cast<unsigned char>(5 >> 2 | 3 << 1 | 6 << 4 | (7 & 1) << 7);
    frame[2] = static_cast<unsigned char>(7 >> 1);
    short pcm[240];
    ASSERT_EQ(Qrxc_frame_ctx(ctx.get(), pcm, frame.data()), 0);
    qrxc::Adpcm_state ref;
    qrxc::adpcm_load(ref);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(pcm[k], qrxc::adpcm_decode_3(ref, codes[k])) << k;
}

TEST(StreamApi, EncodeDecodeRoundTripKeepsTheSignal) {
    for (int type : {4, 5, 6}) {
        Ctx enc = fresh(), dec = fresh();
        const std::vector<short> pcm = speechlike(240 * 20, 11);
        const std::vector<short> back = decode_stream(dec.get(), encode_stream(enc.get(), type, pcm));
        ASSERT_EQ(back.size(), pcm.size());
        double s = 0, n = 0;
        for (std::size_t i = 240; i < pcm.size(); ++i) {
            s += static_cast<double>(pcm[i]) * pcm[i];
            n += static_cast<double>(pcm[i] - back[i]) * (pcm[i] - back[i]);
        }
        EXPECT_GT(10 * std::log10(s / n), 8.0) << type;
    }
}

TEST(StreamApi, ShortHeaderStreamsDecodeLikeLongOnes) {
    const std::vector<short> pcm = speechlike(240 * 4, 5);
    Ctx a = fresh(), b = fresh();
    const Bytes shrt = encode_stream(a.get(), 6, pcm, 0);
    const Bytes lng = encode_stream(b.get(), 6, pcm, 1);
    ASSERT_EQ(shrt.size() + 12, lng.size());
    EXPECT_TRUE(std::equal(shrt.begin() + 4, shrt.end(), lng.begin() + 16));
    Ctx c = fresh(), d = fresh();
    EXPECT_EQ(decode_stream(c.get(), shrt), decode_stream(d.get(), lng));
}

TEST(StreamApi, ReopeningGivesTheSameOutputWhateverCameBefore) {
    const std::vector<short> pcm_a = speechlike(240 * 8, 21), pcm_b = speechlike(240 * 8, 42);
    for (int type : {4, 5, 6}) {
        SCOPED_TRACE(type);
        Ctx scratch = fresh();
        const Bytes a = encode_stream(scratch.get(), type, pcm_a);
        const Bytes b = encode_stream(scratch.get(), type, pcm_b);  // after a, on the same context
        Ctx clean = fresh();
        EXPECT_EQ(b, encode_stream(clean.get(), type, pcm_b));

        Ctx busy = fresh();
        decode_stream(busy.get(), a);
        encode_stream(busy.get(), 4, pcm_a);  // other width and direction in between
        const std::vector<short> after = decode_stream(busy.get(), b);
        Ctx once = fresh();
        EXPECT_EQ(after, decode_stream(once.get(), b));
        EXPECT_EQ(decode_stream(busy.get(), b), after);  // and again
    }
}

TEST(StreamApi, TwoContextsOnTwoThreadsMatchSequentialRuns) {
    const std::vector<short> pcm_a = speechlike(240 * 200, 1), pcm_b = speechlike(240 * 200, 2);
    Ctx s = fresh();
    const Bytes a = encode_stream(s.get(), 5, pcm_a);
    const Bytes b = encode_stream(s.get(), 6, pcm_b);
    const std::vector<short> want_a = decode_stream(s.get(), a);
    const std::vector<short> want_b = decode_stream(s.get(), b);

    Ctx ca = fresh(), cb = fresh();
    std::vector<short> got_a, got_b;
    Bytes enc_a, enc_b;
    std::thread ta([&] {
        for (int i = 0; i < 3; ++i) got_a = decode_stream(ca.get(), a);
        enc_a = encode_stream(ca.get(), 5, pcm_a);
    });
    std::thread tb([&] {
        for (int i = 0; i < 3; ++i) got_b = decode_stream(cb.get(), b);
        enc_b = encode_stream(cb.get(), 6, pcm_b);
    });
    ta.join();
    tb.join();
    EXPECT_EQ(got_a, want_a);
    EXPECT_EQ(got_b, want_b);
    EXPECT_EQ(enc_a, a);
    EXPECT_EQ(enc_b, b);
}

TEST(StreamApi, G723TypesOpenAndDispatch) {
    for (int type : {0, 1, 2}) {
        Ctx ctx = fresh();
        G_header out;
        unsigned char hdr[16];
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, type, &out, hdr), 16);
        std::vector<short> pcm(out.pcm_frame, 100);
        Bytes data(out.frame_bytes + 4, 0x5A);
        EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm.data(), data.data()), 0);
        EXPECT_EQ(data[out.frame_bytes], 0x5A);
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &out, hdr), 16);
        EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm.data(), data.data()), 0);
    }
}

TEST(StreamApi, ClassicExportsUseTheDefaultContext) {
    Qrxc_version(0);
    EXPECT_EQ(qrxc::default_context().stream.version_byte, 0x01);
    G_header out;
    unsigned char hdr[16];
    EXPECT_EQ(Qrxc_initial(QRXC_ENCODE, 8000, 5, &out, hdr), 4);
    EXPECT_EQ(qrxc::default_context().stream.header.type, 5);
    short pcm[240] = {};
    unsigned char data[120];
    EXPECT_EQ(Qrxc_frame(pcm, data), 0);
    EXPECT_EQ(Qrxc_frame(nullptr, data), -1);
    EXPECT_EQ(Qrxc_initial(QRXC_ENCODE, 8000, 5, nullptr, hdr), -1);
    Qrxc_version(1);
}
