// Bit-exact encoder conformance: every reference input, encoded from a fresh
// encoder, must reproduce its reference stream byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "encoder_support.h"

namespace {

struct Conf_case {
    const char *name;
    int type;
};

std::string data_path(const char *name, const char *ext) {
    return std::string(QRXC_TEST_DATA) + "/conformance/encode/" + name + ext;
}

// Index of the first differing frame, or -1.
long first_bad_frame(const std::vector<unsigned char> &got, const std::vector<unsigned char> &want, std::size_t skip,
                     std::size_t frame_bytes) {
    const std::size_t n = std::min(got.size(), want.size());
    for (std::size_t i = skip; i < n; i++)
        if (got[i] != want[i]) return static_cast<long>((i - skip) / frame_bytes);
    return got.size() == want.size() ? -1 : static_cast<long>((n - skip) / frame_bytes);
}

class EncoderConformance : public ::testing::TestWithParam<Conf_case> {};

TEST_P(EncoderConformance, InternalPathReproducesReferenceFrames) {
    const Conf_case &c = GetParam();
    const auto pcm = qrxc::test::encoder::read_pcm(data_path(c.name, ".pcm"));
    const auto want = qrxc::test::encoder::read_bytes(data_path(c.name, ".QRX"));
    ASSERT_FALSE(pcm.empty());
    ASSERT_GT(want.size(), 16u);
    auto ctx = std::make_unique<Qrxc_context>();
    qrxc::context_load(*ctx);
    std::vector<unsigned char> got(want.begin(), want.begin() + 16);
    const auto frames = qrxc::test::encoder::encode_internal(*ctx, pcm, c.type);
    got.insert(got.end(), frames.begin(), frames.end());
    EXPECT_EQ(first_bad_frame(got, want, 16, static_cast<std::size_t>(qrxc::test::encoder::g723_bytes_of(c.type))), -1);
    EXPECT_EQ(got.size(), want.size());
}

TEST_P(EncoderConformance, StreamApiReproducesReferenceFile) {
    const Conf_case &c = GetParam();
    const auto pcm = qrxc::test::encoder::read_pcm(data_path(c.name, ".pcm"));
    const auto want = qrxc::test::encoder::read_bytes(data_path(c.name, ".QRX"));
    qrxc::test::encoder::Ctx_ptr ctx(Qrxc_create());
    ASSERT_TRUE(ctx);
    const auto got = qrxc::test::encoder::encode_api(ctx.get(), pcm, c.type);
    ASSERT_GE(got.size(), 16u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 16, want.begin())) << "header";
    EXPECT_EQ(first_bad_frame(got, want, 16, static_cast<std::size_t>(qrxc::test::encoder::g723_bytes_of(c.type))), -1);
    EXPECT_EQ(got.size(), want.size());
}

INSTANTIATE_TEST_SUITE_P(Vectors, EncoderConformance,
                         ::testing::Values(Conf_case{"PATHC63H", 2}, Conf_case{"TAMEC63H", 2}, Conf_case{"OVERC53H", 1},
                                           Conf_case{"PATHC53", 1}, Conf_case{"INEQC53", 1}, Conf_case{"OVERC63", 2},
                                           Conf_case{"CODEC63", 2}),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
