// Every kernel set codes the same bits. The ctest entries conformance_generic,
// conformance_sse2 and conformance_avx2 run these and the conformance suites
// with QRXC_CPU set; the recorded digests below hold for all of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "g723/common/kernel_set.h"
#include "g723/decoder/decoder.h"
#include "g723/encoder/encoder.h"

namespace {

using qrxc::g723::Kernel_set;

struct Digest {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    void add(const void *p, std::size_t n) {
        const auto *b = static_cast<const unsigned char *>(p);
        for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    }
};

TEST(KernelSet, ChosenAsAsked) {
    const char *asked = std::getenv("QRXC_CPU");
    const Kernel_set chosen = qrxc::g723::kernel_set();
    ASSERT_TRUE(qrxc::g723::kernel_set_available(chosen));
    if (asked == nullptr) {
        EXPECT_FALSE(chosen < Kernel_set::avx2 && qrxc::g723::kernel_set_available(Kernel_set::avx2));
        return;
    }
    for (Kernel_set s : {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2}) {
        if (std::strcmp(asked, qrxc::g723::kernel_set_name(s)) != 0) continue;
        if (!qrxc::g723::kernel_set_available(s)) GTEST_SKIP() << "this CPU cannot run the " << asked << " kernels";
        EXPECT_EQ(chosen, s);
        return;
    }
    FAIL() << "QRXC_CPU=" << asked << " names no kernel set";
}

struct Random_case {
    int rate;
    int frames;
    std::uint64_t digest;
};

std::string rate_name(const ::testing::TestParamInfo<Random_case> &info) {
    return info.param.rate == qrxc::g723::RATE_63 ? "Rate63" : "Rate53";
}

class RandomFrames : public ::testing::TestWithParam<Random_case> {};

// Random bytes make every kind of frame: good ones of every parameter,
// corrupt ones concealed, and runs of both.
TEST_P(RandomFrames, DecodeAsRecorded) {
    const Random_case c = GetParam();
    std::mt19937 rng(1234u + static_cast<unsigned>(c.rate));
    qrxc::g723::Dec_state st;
    qrxc::g723::g723_decoder_reset(st);
    Digest d;
    unsigned char frame[qrxc::g723::FRAME_BYTES_63];
    Word16 pcm[qrxc::g723::FRAME_LEN];
    for (int f = 0; f < c.frames; ++f) {
        for (auto &b : frame) b = static_cast<unsigned char>(rng());
        qrxc::g723::g723_decode_frame(st, c.rate, pcm, frame, 0);
        d.add(pcm, sizeof pcm);
    }
    EXPECT_EQ(d.h, c.digest) << "kernels: " << qrxc::g723::kernel_set_name(qrxc::g723::kernel_set());
}

INSTANTIATE_TEST_SUITE_P(Rates, RandomFrames,
                         ::testing::Values(Random_case{qrxc::g723::RATE_53, 100000, 1360673541852445347ull},
                                           Random_case{qrxc::g723::RATE_63, 100000, 8551611886799182317ull}),
                         rate_name);

class RandomSignal : public ::testing::TestWithParam<Random_case> {};

// Noise bursts, loud square waves and silence, so that the searches meet
// saturation as well as ordinary levels.
TEST_P(RandomSignal, EncodesAsRecorded) {
    const Random_case c = GetParam();
    std::mt19937 rng(99u + static_cast<unsigned>(c.rate));
    qrxc::g723::Enc_state st;
    qrxc::g723::enc_reset(st);
    Word16 budget;
    qrxc::g723::reset_acelp_budget(budget);
    Digest d;
    Word16 pcm[qrxc::g723::FRAME_LEN];
    unsigned char out[qrxc::g723::FRAME_BYTES_63];
    for (int f = 0; f < c.frames; ++f) {
        const int kind = static_cast<int>(rng() % 4);
        const int level = 1 << (rng() % 16);
        const int period = 20 + static_cast<int>(rng() % 120);
        for (int n = 0; n < qrxc::g723::FRAME_LEN; ++n) {
            const int noise = static_cast<int>(rng() % (2 * level + 1)) - level;
            const int square = ((f * qrxc::g723::FRAME_LEN + n) / period) % 2 ? 32767 : -32768;
            pcm[n] = static_cast<Word16>(kind == 0   ? noise
                                         : kind == 1 ? square
                                         : kind == 2 ? noise / 2 + square / 2
                                                     : 0);
        }
        qrxc::g723::enc_frame(st, c.rate, budget, pcm, out);
        d.add(out, c.rate == qrxc::g723::RATE_63 ? qrxc::g723::FRAME_BYTES_63 : qrxc::g723::FRAME_BYTES_53);
    }
    EXPECT_EQ(d.h, c.digest) << "kernels: " << qrxc::g723::kernel_set_name(qrxc::g723::kernel_set());
}

INSTANTIATE_TEST_SUITE_P(Rates, RandomSignal,
                         ::testing::Values(Random_case{qrxc::g723::RATE_53, 10000, 8325561490889460908ull},
                                           Random_case{qrxc::g723::RATE_63, 10000, 3038696023048169229ull}),
                         rate_name);

}  // namespace
