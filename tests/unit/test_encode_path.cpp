// The G.723.1 encoding path as a stream sees it: search-budget handling per
// type, frame sizes, state carried from frame to frame, round trips through
// our decoder with an objective quality measure, and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

#include "encoder_support.h"
#include "g723/common/basic_ops.h"

namespace {

using qrxc::test::encoder::Ctx_ptr;

std::vector<short> speech(int voice) {
    return qrxc::test::encoder::read_pcm(std::string(QRXC_TEST_DATA) + "/speech/voice" + std::to_string(voice) +
                                         ".pcm");
}

std::vector<short> scaled(const std::vector<short> &in, double gain) {
    std::vector<short> out(in.size());
    for (std::size_t i = 0; i < in.size(); i++)
        out[i] = static_cast<short>(std::clamp(std::lround(in[i] * gain), -32768L, 32767L));
    return out;
}

std::unique_ptr<Qrxc_context> fresh() {
    auto ctx = std::make_unique<Qrxc_context>();
    qrxc::context_load(*ctx);
    return ctx;
}

// The frame at pos of a stream of the given type, encoded with the carried
// budget preset to budget just before it. Searches usually use a few dozen
// fourth-pulse loops, so only a nearly spent budget changes a frame.
std::vector<unsigned char> frame_with_budget(int type, Word16 budget, const std::vector<short> &s, std::size_t pos) {
    auto ctx = fresh();
    qrxc::test::encoder::encode_internal(
        *ctx, std::vector<short>(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(pos)), type);
    ctx->acelp_budget = budget;
    std::vector<unsigned char> out(24, 0);
    qrxc::frame_g723_encode(*ctx, &s[pos], out.data());
    out.resize(static_cast<std::size_t>(qrxc::test::encoder::g723_bytes_of(type)));
    return out;
}

TEST(EncodePath, Type1StartsEveryFrameWithAFullBudget) {
    const auto s = speech(1);
    // A carry of -119 would leave the first search a single loop.
    for (std::size_t pos : {4800u, 6720u, 9600u, 14400u}) {
        EXPECT_EQ(frame_with_budget(1, -119, s, pos), frame_with_budget(1, 120, s, pos)) << pos;
        EXPECT_EQ(frame_with_budget(1, 0, s, pos), frame_with_budget(1, 120, s, pos)) << pos;
    }
}

TEST(EncodePath, Type0CarriesTheBudgetItFinds) {
    const auto s = speech(1);
    int differing = 0;
    for (std::size_t pos : {4800u, 6400u, 9600u, 14400u})
        differing += frame_with_budget(0, -119, s, pos) != frame_with_budget(0, 120, s, pos);
    EXPECT_GT(differing, 0);

    // A new stream keeps what the last one left; a fresh library starts at 0.
    auto ctx = fresh();
    EXPECT_EQ(ctx->acelp_budget, 0);
    qrxc::test::encoder::encode_internal(*ctx, std::vector<short>(s.begin(), s.begin() + 3200), 0);
    const Word16 left = ctx->acelp_budget;
    EXPECT_GT(left, 0);
    qrxc::test::encoder::encode_internal(*ctx, {}, 0);
    EXPECT_EQ(ctx->acelp_budget, left);
}

TEST(EncodePath, TheSameFrameTwiceGivesDifferentFrames) {
    const auto s = speech(2);
    for (int type : {0, 1, 2}) {
        auto ctx = fresh();
        qrxc::test::encoder::encode_internal(*ctx, {}, type);
        const std::size_t n = static_cast<std::size_t>(qrxc::test::encoder::pcm_frame_of(type));
        std::vector<short> pcm(s.begin() + 4800, s.begin() + 4800 + static_cast<std::ptrdiff_t>(n));
        const std::vector<short> keep = pcm;
        unsigned char a[24] = {}, b[24] = {};
        qrxc::frame_g723_encode(*ctx, pcm.data(), a);
        qrxc::frame_g723_encode(*ctx, pcm.data(), b);
        EXPECT_NE(std::memcmp(a, b, 20), 0) << type;
        EXPECT_EQ(pcm, keep) << "caller's buffer modified, type " << type;
    }
}

struct Size_case {
    int type;
    std::size_t pcm_frame;
    std::size_t frame_bytes;
};

class EncodeFrameSizes : public ::testing::TestWithParam<Size_case> {};

TEST_P(EncodeFrameSizes, StreamHasHeaderAndWholeFrames) {
    const Size_case &c = GetParam();
    const auto s = speech(1);
    const std::vector<short> pcm(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(10 * c.pcm_frame + 17));
    Ctx_ptr ctx(Qrxc_create());
    const auto stream = qrxc::test::encoder::encode_api(ctx.get(), pcm, c.type);
    EXPECT_EQ(stream.size(), 16 + 11 * c.frame_bytes);
    // The padded last frame still decodes.
    Ctx_ptr dec(Qrxc_create());
    EXPECT_EQ(qrxc::test::encoder::decode_api(dec.get(), stream).size(), 11 * c.pcm_frame);
}

INSTANTIATE_TEST_SUITE_P(Types, EncodeFrameSizes,
                         ::testing::Values(Size_case{0, 320, 20}, Size_case{1, 240, 20}, Size_case{2, 240, 24},
                                           Size_case{4, 240, 90}, Size_case{5, 240, 120}, Size_case{6, 240, 150}));

// Segmental SNR (30 ms segments, each clamped to -10..35 dB) of the decoded
// signal against the input, after aligning the coder's delay.
double seg_snr(const std::vector<short> &ref, const std::vector<short> &out) {
    int best_d = 0;
    double best_c = -1e300;
    for (int d = 0; d <= 400; d++) {
        double c = 0;
        for (std::size_t i = 0; i + static_cast<std::size_t>(d) < out.size() && i < ref.size(); i++)
            c += double(ref[i]) * out[i + static_cast<std::size_t>(d)];
        if (c > best_c) {
            best_c = c;
            best_d = d;
        }
    }
    double total = 0;
    int segs = 0;
    for (std::size_t s = 0; s + 240 <= ref.size() && s + 240 + static_cast<std::size_t>(best_d) <= out.size();
         s += 240) {
        double sig = 0, err = 0;
        for (std::size_t i = s; i < s + 240; i++) {
            const double e = double(ref[i]) - out[i + static_cast<std::size_t>(best_d)];
            sig += double(ref[i]) * ref[i];
            err += e * e;
        }
        if (sig < 240.0 * 4) continue;  // digital silence says nothing
        const double snr = 10 * std::log10((sig + 1) / (err + 1));
        total += std::clamp(snr, -10.0, 35.0);
        segs++;
    }
    return segs ? total / segs : 0;
}

struct Quality_case {
    const char *name;
    int voice;
    double gain;
};

class EncodeQuality : public ::testing::TestWithParam<Quality_case> {};

TEST_P(EncodeQuality, DecodesWithReasonableSegmentalSnr) {
    const Quality_case &c = GetParam();
    const auto in = scaled(speech(c.voice), c.gain);
    ASSERT_FALSE(in.empty());
    // Floors well below the measured values; a broken stage falls far below.
    const std::pair<int, double> floors[] = {{0, 1.0}, {1, 2.0}, {2, 3.0}, {4, 5.0}, {5, 10.0}, {6, 15.0}};
    for (const auto &[type, floor] : floors) {
        Ctx_ptr enc(Qrxc_create());
        Ctx_ptr dec(Qrxc_create());
        const auto stream = qrxc::test::encoder::encode_api(enc.get(), in, type);
        const auto out = qrxc::test::encoder::decode_api(dec.get(), stream);
        ASSERT_GE(out.size(), in.size()) << type;
        const double snr = seg_snr(in, out);
        std::cout << "segSNR " << c.name << " type " << type << ": " << snr << " dB\n";
        EXPECT_GE(snr, c.gain < 0.01 ? std::min(floor, 3.0) : floor) << c.name << " type " << type;

        // The sample rate only labels the PCM: the frames are the same.
        Ctx_ptr enc16(Qrxc_create());
        const auto stream16 = qrxc::test::encoder::encode_api(enc16.get(), in, type, 16000);
        ASSERT_EQ(stream16.size(), stream.size());
        EXPECT_TRUE(std::equal(stream.begin() + 16, stream.end(), stream16.begin() + 16)) << type;
    }
}

INSTANTIATE_TEST_SUITE_P(Speech, EncodeQuality,
                         ::testing::Values(Quality_case{"voice1_full", 1, 1.19}, Quality_case{"voice1_normal", 1, 0.25},
                                           Quality_case{"voice2_normal", 2, 0.3}, Quality_case{"voice2_quiet", 2, 0.03},
                                           Quality_case{"voice1_near_silence", 1, 0.004}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(EncodeQuality, ConformanceInputsRoundTrip) {
    for (const auto &[name, type] : {std::pair<const char *, int>{"PATHC53", 1}, {"CODEC63", 2}}) {
        const auto in =
            qrxc::test::encoder::read_pcm(std::string(QRXC_TEST_DATA) + "/conformance/encode/" + name + ".pcm");
        Ctx_ptr enc(Qrxc_create());
        Ctx_ptr dec(Qrxc_create());
        const auto out =
            qrxc::test::encoder::decode_api(dec.get(), qrxc::test::encoder::encode_api(enc.get(), in, type));
        const double snr = seg_snr(in, out);
        std::cout << "segSNR " << name << " type " << type << ": " << snr << " dB\n";
        EXPECT_GE(snr, 1.0) << name;
    }
}

// Signals that drive the analysis into saturation and degenerate filters.
std::vector<short> hostile(int kind) {
    std::vector<short> s(240 * 40);
    Word16 seed = 77;
    for (std::size_t n = 0; n < s.size(); n++) {
        const double t = double(n) / 8000;
        switch (kind) {
        case 0: s[n] = 0; break;
        case 1: s[n] = (n / 20) % 2 ? 32767 : -32768; break;
        case 2: s[n] = qrxc::g723::rand16(seed); break;
        case 3: s[n] = n < 2400 ? 0 : (n < 4800 ? 32767 : -32768); break;
        case 4: s[n] = static_cast<short>(32767 * std::sin(2 * M_PI * (50 + 1900 * t) * t)); break;
        default: s[n] = (n % 97 == 0) ? -32768 : 0; break;
        }
    }
    return s;
}

class EncodeHostile : public ::testing::TestWithParam<int> {};

TEST_P(EncodeHostile, EveryTypeEncodesAndDecodes) {
    const auto in = hostile(GetParam());
    for (int type : {0, 1, 2, 4, 5, 6}) {
        Ctx_ptr enc(Qrxc_create());
        Ctx_ptr dec(Qrxc_create());
        const auto stream = qrxc::test::encoder::encode_api(enc.get(), in, type);
        ASSERT_GT(stream.size(), 16u) << type;
        const auto out = qrxc::test::encoder::decode_api(dec.get(), stream);
        EXPECT_GE(out.size(), in.size()) << type;
        if (GetParam() == 0 && type != 0) {
            long mx = 0;
            for (short v : out) mx = std::max(mx, std::labs(v));
            EXPECT_LT(mx, 64) << "silence should decode near silence, type " << type;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, EncodeHostile, ::testing::Range(0, 6));

}  // namespace
