// Standard G.723.1 bitstreams: exact conversion against the conformance
// set, round trips, edge codes, decoding with per-frame rates, bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common_support.h"
#include "g723/decoder/dec_cng.h"
#include "g723/decoder/decoder.h"
#include "qrxc.h"

namespace {

using qrxc::test::Bytes;

struct Context_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
using Context = std::unique_ptr<Qrxc_context, Context_deleter>;

// A context opened for decoding the given type from a fresh state.
Context decoding_context(int type) {
    Context ctx(Qrxc_create());
    const unsigned frame_bytes = type == 2 ? 24 : type == 4 ? 90 : 20;
    const Bytes hdr = qrxc::test::long_header(8000, static_cast<unsigned>(type), 240, frame_bytes);
    G_header info{};
    EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, const_cast<unsigned char *>(hdr.data())), 16);
    return ctx;
}

std::string conformance(const std::string &dir, const std::string &file) {
    return std::string(QRXC_TEST_DATA) + "/conformance/" + dir + "/" + file;
}

struct Qrx_stream {
    int type;
    std::size_t frame_bytes;
    Bytes frames;  // after the 16-byte header
    std::size_t count() const { return frames.size() / frame_bytes; }
    const unsigned char *frame(std::size_t i) const { return frames.data() + i * frame_bytes; }
};

Qrx_stream read_qrx(const std::string &path) {
    const Bytes b = qrxc::test::read_bytes(path);
    EXPECT_GE(b.size(), 16u);
    Qrx_stream s{b[6], b[6] == 2 ? 24u : 20u, Bytes(b.begin() + 16, b.end())};
    return s;
}

// Every standard frame of a stream decoded on one context.
std::vector<short> decode_standard(const Bytes &bits, int open_type) {
    Context ctx = decoding_context(open_type);
    std::vector<short> pcm;
    for (std::size_t at = 0; at < bits.size();) {
        short out[240];
        int kind = -1;
        const int used = Qrxc_decode_standard_ctx(ctx.get(), bits.data() + at, bits.size() - at, out, &kind);
        EXPECT_GT(used, 0) << "at byte " << at;
        if (used <= 0) break;
        pcm.insert(pcm.end(), out, out + 240);
        at += static_cast<std::size_t>(used);
    }
    return pcm;
}

std::vector<short> decode_qrx(const Qrx_stream &s) {
    Context ctx = decoding_context(s.type);
    std::vector<short> pcm(s.count() * 240);
    Bytes frame(24);
    for (std::size_t i = 0; i < s.count(); ++i) {
        std::memcpy(frame.data(), s.frame(i), s.frame_bytes);
        EXPECT_EQ(Qrxc_frame_ctx(ctx.get(), pcm.data() + i * 240, frame.data()), 0);
    }
    return pcm;
}

std::vector<short> pcm_of(const Bytes &b) {
    std::vector<short> v(b.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>(b[2 * i] | (b[2 * i + 1] << 8));
    return v;
}

// The standard form of a QRX stream, frame by frame.
Bytes to_standard(const Qrx_stream &s) {
    Bytes out;
    for (std::size_t i = 0; i < s.count(); ++i) {
        unsigned char buf[QRXC_G723_STANDARD_MAX_BYTES];
        const int n = Qrxc_g723_to_standard(s.frame(i), s.type, buf);
        EXPECT_EQ(n, static_cast<int>(s.frame_bytes));
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

class StandardConformance : public ::testing::TestWithParam<std::string> {};

TEST_P(StandardConformance, ExportImportAndDecodeAreExact) {
    const Qrx_stream qrx = read_qrx(conformance("decode", GetParam() + ".QRX"));
    const Bytes bits = qrxc::test::read_bytes(conformance("standard", GetParam() + ".bit"));
    ASSERT_EQ(bits.size(), qrx.frames.size());
    EXPECT_TRUE(to_standard(qrx) == bits);

    // Back to QRX: exact, except that lag codes above 127 come back as 127.
    std::size_t at = 0;
    for (std::size_t i = 0; i < qrx.count(); ++i) {
        unsigned char frame[24];
        int kind = -1;
        ASSERT_EQ(Qrxc_g723_from_standard(bits.data() + at, bits.size() - at, qrx.type, frame, &kind),
                  static_cast<int>(qrx.frame_bytes));
        EXPECT_EQ(kind, qrx.type == 2 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53);
        Bytes want(qrx.frame(i), qrx.frame(i) + qrx.frame_bytes);
        want[3] = std::min<unsigned char>(want[3], 127);
        want[4] = std::min<unsigned char>(want[4], 127);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), frame)) << "frame " << i;
        at += qrx.frame_bytes;
    }

    EXPECT_TRUE(decode_standard(bits, qrx.type) ==
                pcm_of(qrxc::test::read_bytes(conformance("decode", GetParam() + ".pcm"))));
}

INSTANTIATE_TEST_SUITE_P(Streams, StandardConformance,
                         ::testing::Values("PATHD53", "INEQD53", "OVERD53", "OVERD63P", "PATHD63P", "TAMED63P",
                                           "PATHC53_RCO", "INEQC53_RCO", "OVERC53H_RCO", "OVERC63_RCO", "CODEC63_RCO",
                                           "PATHC63H_RCO", "TAMEC63H_RCO", "SYNTH53A", "SYNTH53B", "SYNTH63A",
                                           "SYNTH63B"));

// Any frame whose lag codes fit 7 bits survives QRX -> standard -> QRX, and
// any speech frame standard -> QRX -> standard, bit for bit.
TEST(StandardFrame, RandomFramesRoundTripBothWays) {
    for (const int type : {1, 2}) {
        const int bytes = type == 2 ? 24 : 20;
        for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
            Bytes qrx = qrxc::test::noise_bytes(static_cast<std::size_t>(bytes), seed);
            qrx[3] &= 0x7f;
            qrx[4] &= 0x7f;
            unsigned char std_bits[24], back[24];
            int kind = -1;
            ASSERT_EQ(Qrxc_g723_to_standard(qrx.data(), type, std_bits), bytes);
            ASSERT_EQ(Qrxc_g723_from_standard(std_bits, 24, type, back, &kind), bytes);
            ASSERT_TRUE(std::equal(qrx.begin(), qrx.end(), back)) << "type " << type << " seed " << seed;

            Bytes standard = qrxc::test::noise_bytes(static_cast<std::size_t>(bytes), seed + 7777);
            standard[0] = static_cast<unsigned char>((standard[0] & ~3u) | (type == 2 ? 0u : 1u));
            ASSERT_EQ(Qrxc_g723_from_standard(standard.data(), standard.size(), type, back, &kind), bytes);
            ASSERT_EQ(Qrxc_g723_to_standard(back, type, std_bits), bytes);
            ASSERT_TRUE(std::equal(standard.begin(), standard.end(), std_bits)) << "type " << type << " seed " << seed;
        }
    }
}

// Field positions of the standard layout, read back independently.
unsigned bits_at(const unsigned char *b, unsigned pos, unsigned width) {
    unsigned v = 0;
    for (unsigned i = 0; i < width; ++i, ++pos) v |= ((b[pos / 8] >> (pos % 8)) & 1u) << i;
    return v;
}

struct Edge_case {
    const char *name;
    int type;
    unsigned lag0, lag1;  // QRX lag codes
    unsigned gain0;       // subframe 0 gain code, 12 bits
    unsigned std_lag0;    // the standard's 7-bit code
};

// Lag codes at and past the forbidden range, gain codes at their table
// ends and around the pulse-train boundary (lag code 39 = lag 57, 40 = 58).
const Edge_case EDGES[] = {
    {"lag123", 2, 123, 123, 0, 123},
    {"lag124", 2, 124, 10, 0, 124},
    {"lag127", 1, 127, 10, 0, 127},
    {"lag200", 2, 200, 10, 0, 127},
    {"lag1_200", 1, 10, 200, 0, 10},
    {"gain_max53", 1, 60, 60, 4079, 60},
    {"gain_over53", 1, 60, 60, 4080, 60},
    {"train_lag57", 2, 39, 0, 0x800 + 2039, 39},
    {"gain_over_train_lag57", 2, 39, 0, 2040, 39},
    {"gain4087_lag58", 2, 40, 0, 0x800 + 2039, 40},
    {"gain_max_lag58", 2, 40, 0, 4079, 40},
};

TEST(StandardFrame, EdgeCodesMapAndDecodeAlike) {
    for (const Edge_case &e : EDGES) {
        SCOPED_TRACE(e.name);
        const std::size_t bytes = e.type == 2 ? 24 : 20;
        Bytes frame = qrxc::test::noise_bytes(bytes, 99);
        frame[3] = static_cast<unsigned char>(e.lag0);
        frame[4] = static_cast<unsigned char>(e.lag1);
        frame[5] = static_cast<unsigned char>((frame[5] & 0x0f) | ((e.gain0 & 0xf) << 4));
        frame[6] = static_cast<unsigned char>(e.gain0 >> 4);
        unsigned char bits[24];
        ASSERT_EQ(Qrxc_g723_to_standard(frame.data(), e.type, bits), static_cast<int>(bytes));
        EXPECT_EQ(bits_at(bits, 0, 2), e.type == 2 ? 0u : 1u);
        EXPECT_EQ(bits_at(bits, 2, 24), static_cast<unsigned>(frame[0] | frame[1] << 8 | frame[2] << 16));
        EXPECT_EQ(bits_at(bits, 26, 7), e.std_lag0);
        EXPECT_EQ(bits_at(bits, 35, 7), std::min(e.lag1, 127u));
        EXPECT_EQ(bits_at(bits, 44, 12), e.gain0);

        // A good frame, the edge frame, a good frame: both forms decode alike.
        Qrx_stream qrx{e.type, bytes, {}};
        Bytes good(bytes, 0);
        good[3] = good[4] = 20;
        for (const Bytes *f : {&good, &frame, &good}) qrx.frames.insert(qrx.frames.end(), f->begin(), f->end());
        EXPECT_TRUE(decode_standard(to_standard(qrx), e.type) == decode_qrx(qrx));
    }
}

// A stream that switches rates decodes each frame at its own rate on one
// decoder state, SID and untransmitted frames included.
TEST(StandardDecode, FollowsTheRateOfEachFrame) {
    const Bytes b53 = qrxc::test::read_bytes(conformance("standard", "OVERD53.bit"));
    const Bytes b63 = qrxc::test::read_bytes(conformance("standard", "OVERD63P.bit"));
    Bytes mixed(b53.begin(), b53.begin() + 200);
    mixed.insert(mixed.end(), b63.begin(), b63.begin() + 240);
    const unsigned char sid[4] = {0x02, 0x11, 0x22, 0x33};
    mixed.insert(mixed.end(), sid, sid + 4);
    mixed.push_back(0x03);
    mixed.insert(mixed.end(), b53.begin() + 200, b53.begin() + 400);

    qrxc::g723::Dec_state st;
    qrxc::g723::g723_decoder_reset(st);
    std::vector<short> want;
    for (std::size_t at = 0; at < mixed.size();) {
        const int kind = mixed[at] & 3;
        Word16 out[240];
        unsigned char frame[24] = {};
        int k = -1;
        if (kind < 2) {
            ASSERT_GT(Qrxc_g723_from_standard(mixed.data() + at, mixed.size() - at, kind == 0 ? 2 : 1, frame, &k), 0);
            qrxc::g723::g723_decode_frame(st, kind, out, frame, 0);
        } else {
            qrxc::g723::g723_decode_silence(st, out, kind == 2 ? mixed.data() + at : nullptr);
        }
        want.insert(want.end(), out, out + 240);
        at += kind == 0 ? 24 : kind == 1 ? 20 : kind == 2 ? 4 : 1;
    }
    EXPECT_EQ(want.size(), 10u * 240 + 10 * 240 + 2 * 240 + 10 * 240);
    EXPECT_TRUE(decode_standard(mixed, 1) == want);
}

// A frame of another kind is consumed, named and replaced by an erasure.
TEST(StandardFrame, OtherKindsAndBadInput) {
    const Bytes b63 = qrxc::test::read_bytes(conformance("standard", "OVERD63P.bit"));
    const unsigned char sid[4] = {0x02, 0, 0, 0};
    const unsigned char untransmitted[1] = {0x03};
    struct Case {
        const char *name;
        const unsigned char *in;
        std::size_t len;
        int type;
        int result, kind;
        bool erased;  // frame receives a concealed frame
    };
    const Case cases[] = {
        {"6.3 as type 2", b63.data(), 24, 2, 24, QRXC_G723_KIND_63, false},
        {"6.3 as type 1", b63.data(), 24, 1, 24, QRXC_G723_KIND_63, true},
        {"SID", sid, 4, 2, 4, QRXC_G723_KIND_SID, true},
        {"untransmitted", untransmitted, 1, 0, 1, QRXC_G723_KIND_UNTRANSMITTED, true},
        {"cut 6.3 frame", b63.data(), 23, 2, QRXC_ERR_BUFFER, QRXC_G723_KIND_63, false},
        {"cut SID frame", sid, 3, 2, QRXC_ERR_BUFFER, QRXC_G723_KIND_SID, false},
        {"empty", sid, 0, 2, QRXC_ERR_BUFFER, -1, false},
        {"type 4", b63.data(), 24, 4, QRXC_ERR_TYPE, -1, false},
        {"null input", nullptr, 24, 2, QRXC_ERR_ARG, 99, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char frame[24];
        std::memset(frame, 0xAA, sizeof frame);
        int kind = 99;
        EXPECT_EQ(Qrxc_g723_from_standard(c.in, c.len, c.type, frame, &kind), c.result);
        EXPECT_EQ(kind, c.kind);
        if (c.erased) {
            EXPECT_GT(frame[3], 123);
        }
        if (c.result < 0) {
            EXPECT_EQ(frame[0], 0xAA);
        }
    }
    unsigned char out[24];
    EXPECT_EQ(Qrxc_g723_to_standard(b63.data(), 3, out), QRXC_ERR_TYPE);
    EXPECT_EQ(Qrxc_g723_to_standard(nullptr, 2, out), QRXC_ERR_ARG);

    short pcm[240];
    Context closed(Qrxc_create());
    EXPECT_EQ(Qrxc_decode_standard_ctx(closed.get(), b63.data(), 24, pcm, nullptr), QRXC_ERR_ARG);
    Context adpcm = decoding_context(4);
    EXPECT_EQ(Qrxc_decode_standard_ctx(adpcm.get(), b63.data(), 24, pcm, nullptr), QRXC_ERR_ARG);
    Context g723 = decoding_context(2);
    int kind = 99;
    EXPECT_EQ(Qrxc_decode_standard_ctx(g723.get(), b63.data(), 20, pcm, &kind), QRXC_ERR_BUFFER);
    EXPECT_EQ(kind, QRXC_G723_KIND_63);
}

}  // namespace
