// Every reference stream decodes from a fresh decoder to its PCM, sample for
// sample.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "g723/decoder/decoder.h"

namespace {

std::vector<unsigned char> read_file(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class DecodeConformance : public ::testing::TestWithParam<std::string> {};

TEST_P(DecodeConformance, MatchesReferencePcm) {
    const std::filesystem::path dir = std::filesystem::path(QRXC_TEST_DATA) / "conformance" / "decode";
    const auto qrx = read_file(dir / (GetParam() + ".QRX"));
    const auto pcm = read_file(dir / (GetParam() + ".pcm"));
    ASSERT_GE(qrx.size(), 16u);
    // 16-byte header: type at offset 6 (1: 5.3 kbit/s, 20 bytes; 2: 6.3 kbit/s, 24 bytes).
    const int type = qrx[6] | (qrx[7] << 8);
    ASSERT_TRUE(type == 1 || type == 2);
    const int rate = type == 1 ? qrxc::g723::RATE_53 : qrxc::g723::RATE_63;
    const size_t frame_bytes = type == 1 ? 20 : 24;
    const size_t frames = (qrx.size() - 16) / frame_bytes;
    ASSERT_EQ(pcm.size(), frames * 480);

    qrxc::g723::Dec_state st;
    qrxc::g723::g723_decoder_reset(st);
    for (size_t f = 0; f < frames; ++f) {
        Word16 out[240];
        qrxc::g723::g723_decode_frame(st, rate, out, qrx.data() + 16 + f * frame_bytes, 0);
        for (int n = 0; n < 240; ++n) {
            const size_t k = f * 480 + 2 * static_cast<size_t>(n);
            const auto want = static_cast<Word16>(static_cast<std::uint16_t>(pcm[k] | (pcm[k + 1] << 8)));
            ASSERT_EQ(out[n], want) << "frame " << f << " sample " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, DecodeConformance,
                         ::testing::Values("PATHD53", "INEQD53", "OVERD53", "OVERD63P", "PATHD63P", "TAMED63P",
                                           "PATHC53_RCO", "INEQC53_RCO", "OVERC53H_RCO", "OVERC63_RCO", "CODEC63_RCO",
                                           "PATHC63H_RCO", "TAMEC63H_RCO", "SYNTH53A", "SYNTH53B", "SYNTH63A",
                                           "SYNTH63B"));

}  // namespace
