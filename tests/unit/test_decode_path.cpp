// The G.723.1 decoding path on a context: types 1 and 2 pass the decoder's
// output through, type 0 resamples it continuously to 320 samples.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "g723/decoder/decoder.h"

namespace {

std::vector<unsigned char> read_file(const char *name) {
    const auto path = std::filesystem::path(QRXC_TEST_DATA) / "conformance" / "decode" / name;
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A context opened for decoding as Qrxc_initial would leave it.
Qrxc_context open_ctx(int type) {
    Qrxc_context ctx;
    qrxc::context_load(ctx);
    ctx.stream.direction = 2;
    ctx.stream.header.type = static_cast<uint16_t>(type);
    ctx.stream.header.pcm_frame = type == 0 ? 320 : 240;
    ctx.stream.header.frame_bytes = type == 2 ? 24 : 20;
    ctx.stream.resample = type == 0 ? 1 : 0;
    ctx.stream.rate_select = type == 2 ? qrxc::g723::RATE_63 : qrxc::g723::RATE_53;
    qrxc::g723_decode_setup(ctx);
    return ctx;
}

struct PathCase {
    const char *name;
    int type;
    const char *stream;
};

class DecodePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(DecodePath, MatchesDecoderAndConverter) {
    const PathCase &c = GetParam();
    const auto qrx = read_file(c.stream);
    const size_t fb = c.type == 2 ? 24 : 20;
    Qrxc_context ctx = open_ctx(c.type);
    qrxc::g723::Dec_state ref;
    qrxc::g723::g723_decoder_reset(ref);
    qrxc::Rate_converter rc{};
    qrxc::rc_reset(rc, 3, 4);
    std::vector<short> ref_all;
    std::vector<short> got_all;
    for (size_t off = 16; off + fb <= qrx.size() && off < 16 + 40 * fb; off += fb) {
        short pcm[321];
        pcm[320] = 0x1234;  // guard: nothing beyond pcm_frame is written
        std::vector<unsigned char> frame(qrx.begin() + static_cast<long>(off),
                                         qrx.begin() + static_cast<long>(off + fb));
        qrxc::frame_g723_decode(ctx, pcm, frame.data());
        EXPECT_EQ(pcm[320], 0x1234);
        got_all.insert(got_all.end(), pcm, pcm + ctx.stream.header.pcm_frame);

        short dec[240];
        unsigned char bytes[24] = {};
        std::memcpy(bytes, frame.data(), fb);
        qrxc::g723::g723_decode_frame(ref, ctx.stream.rate_select, dec, bytes, 0);
        ref_all.insert(ref_all.end(), dec, dec + 240);
    }
    if (c.type == 0) {
        // One conversion of the whole decoded signal: equal to the frame-by-frame path.
        std::vector<short> up(ref_all.size() * 4 / 3);
        qrxc::rc_up(rc, ref_all.data(), up.data(), static_cast<int>(ref_all.size()));
        EXPECT_EQ(got_all, up);
    } else {
        EXPECT_EQ(got_all, ref_all);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, DecodePath,
                         ::testing::Values(PathCase{"type0", 0, "PATHC53_RCO.QRX"},
                                           PathCase{"type1", 1, "PATHC53_RCO.QRX"},
                                           PathCase{"type2", 2, "CODEC63_RCO.QRX"}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(DecodePath, SetupResetsDecoderAndConverter) {
    Qrxc_context ctx = open_ctx(0);
    const std::vector<unsigned char> frame(20, 0x37);
    short pcm[320];
    for (int k = 0; k < 3; ++k) qrxc::frame_g723_decode(ctx, pcm, frame.data());
    qrxc::g723_decode_setup(ctx);
    const Qrxc_context again = open_ctx(0);
    EXPECT_EQ(std::memcmp(&ctx.dec, &again.dec, sizeof ctx.dec), 0);
    EXPECT_EQ(ctx.rc.rc_num, 3);
    EXPECT_EQ(ctx.rc.rc_den, 4);
    EXPECT_EQ(std::memcmp(ctx.rc.up_line, again.rc.up_line, sizeof ctx.rc.up_line), 0);
    EXPECT_EQ(std::memcmp(ctx.rc.down_line, again.rc.down_line, sizeof ctx.rc.down_line), 0);
}

TEST(DecodePath, NullBuffersAreIgnored) {
    Qrxc_context ctx = open_ctx(1);
    const Qrxc_context before = ctx;
    short pcm[240];
    unsigned char data[20] = {};
    qrxc::frame_g723_decode(ctx, nullptr, data);
    qrxc::frame_g723_decode(ctx, pcm, nullptr);
    EXPECT_EQ(std::memcmp(&ctx.dec, &before.dec, sizeof ctx.dec), 0);
}

}  // namespace
