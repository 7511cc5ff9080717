// The 4:3 rate converter: quoted values, in-place use and continuity.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec/rate_converter.h"

namespace {

using qrxc::Rate_converter;

Rate_converter fresh() {
    Rate_converter rc{};
    qrxc::rc_reset(rc, 3, 4);
    return rc;
}

std::vector<short> head(const std::vector<short> &v, size_t n) { return {v.begin(), v.begin() + static_cast<long>(n)}; }

TEST(RateConverter, DownwardImpulse) {
    Rate_converter rc = fresh();
    std::vector<short> in(320, 0), out(240, 99);
    in[0] = 1000;
    qrxc::rc_down(rc, in.data(), out.data(), 320);
    EXPECT_EQ(head(out, 8), (std::vector<short>{-2, 0, -3, 2, 815, 2, -3, 0}));
}

TEST(RateConverter, DownwardStep) {
    Rate_converter rc = fresh();
    std::vector<short> in(320, 1000), out(240);
    qrxc::rc_down(rc, in.data(), out.data(), 320);
    EXPECT_EQ(head(out, 9), (std::vector<short>{-2, -5, 8, -38, 951, 1126, 1077, 1091, 1088}));
    const short cycle[3] = {1088, 1087, 1088};
    for (int m = 9; m < 240; ++m) ASSERT_EQ(out[m], cycle[m % 3]) << m;
}

TEST(RateConverter, UpwardStep) {
    Rate_converter rc = fresh();
    std::vector<short> in(240, 1000), out(320);
    qrxc::rc_up(rc, in.data(), out.data(), 240);
    EXPECT_EQ(head(out, 12), (std::vector<short>{-1, -11, 35, -65, 1, 781, 1112, 963, 998, 1002, 996, 996}));
    const short cycle[4] = {999, 996, 996, 996};
    for (int m = 12; m < 320; ++m) ASSERT_EQ(out[m], cycle[m % 4]) << m;
}

TEST(RateConverter, SaturatesOnFullScaleSquareWave) {
    Rate_converter rc = fresh();
    std::vector<short> in(320), out(240);
    for (int i = 0; i < 320; ++i) in[i] = (i / 6) % 2 ? -32768 : 32767;
    qrxc::rc_down(rc, in.data(), out.data(), 320);
    bool hit_top = false, hit_bottom = false;
    for (short v : out) {
        hit_top |= v == 32767;
        hit_bottom |= v == -32768;
    }
    EXPECT_TRUE(hit_top);
    EXPECT_TRUE(hit_bottom);
}

struct Direction {
    const char *name;
    bool up;
    int in_frame;
    int out_frame;
};

class RateConverterDirections : public ::testing::TestWithParam<Direction> {
protected:
    void run(Rate_converter &rc, const short *src, short *dst, int n) {
        if (GetParam().up)
            qrxc::rc_up(rc, src, dst, n);
        else
            qrxc::rc_down(rc, src, dst, n);
    }
    std::vector<short> noise(int n) {
        std::mt19937 rng(17);
        std::uniform_int_distribution<int> d(-32768, 32767);
        std::vector<short> v(static_cast<size_t>(n));
        for (short &s : v) s = static_cast<short>(d(rng));
        return v;
    }
};

TEST_P(RateConverterDirections, InPlaceEqualsSeparateBuffers) {
    const Direction &d = GetParam();
    const std::vector<short> in = noise(d.in_frame);
    Rate_converter a = fresh(), b = fresh();
    std::vector<short> separate(static_cast<size_t>(d.out_frame));
    run(a, in.data(), separate.data(), d.in_frame);
    std::vector<short> inplace(320);
    std::copy(in.begin(), in.end(), inplace.begin());
    run(b, inplace.data(), inplace.data(), d.in_frame);
    EXPECT_EQ(head(inplace, separate.size()), separate);
}

TEST_P(RateConverterDirections, TwoFramesEqualOneDoubleFrame) {
    const Direction &d = GetParam();
    const std::vector<short> in = noise(2 * d.in_frame);
    Rate_converter a = fresh(), b = fresh();
    std::vector<short> whole(static_cast<size_t>(2 * d.out_frame)), parts(whole.size());
    run(a, in.data(), whole.data(), 2 * d.in_frame);
    run(b, in.data(), parts.data(), d.in_frame);
    run(b, in.data() + d.in_frame, parts.data() + d.out_frame, d.in_frame);
    EXPECT_EQ(parts, whole);
}

TEST_P(RateConverterDirections, LongRunEqualsFrameByFrame) {
    const Direction &d = GetParam();
    const int frames = 7;  // more than one internal block
    const std::vector<short> in = noise(frames * d.in_frame);
    Rate_converter a = fresh(), b = fresh();
    std::vector<short> whole(static_cast<size_t>(frames * d.out_frame)), parts(whole.size());
    run(a, in.data(), whole.data(), frames * d.in_frame);
    for (int f = 0; f < frames; ++f) run(b, in.data() + f * d.in_frame, parts.data() + f * d.out_frame, d.in_frame);
    EXPECT_EQ(parts, whole);
}

INSTANTIATE_TEST_SUITE_P(Both, RateConverterDirections,
                         ::testing::Values(Direction{"up", true, 240, 320}, Direction{"down", false, 320, 240}),
                         [](const auto &p) { return std::string(p.param.name); });

// Lengths that are no whole number of periods, and runs past one internal
// block, as the one-by-one loop converted them (digests recorded from it).
TEST(RateConverter, AnyLengthAsRecorded) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<short> in(2000);
    for (short &s : in) s = static_cast<short>(d(rng));
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a over every output
    for (const int n : {1, 2, 5, 241, 959, 961, 1000, 1999}) {
        for (const bool up : {true, false}) {
            Rate_converter rc = fresh();
            std::vector<short> out(2700, 0);
            if (up)
                qrxc::rc_up(rc, in.data(), out.data(), n);
            else
                qrxc::rc_down(rc, in.data(), out.data(), n);
            for (short v : out) h = (h ^ static_cast<std::uint16_t>(v)) * 1099511628211ull;
        }
    }
    EXPECT_EQ(h, 11018466844088929072ull);
}

TEST(RateConverter, UnresetConverterWritesNothing) {
    Rate_converter rc{};
    std::vector<short> in(240, 1000), out(320, 7);
    qrxc::rc_up(rc, in.data(), out.data(), 240);
    qrxc::rc_down(rc, in.data(), out.data(), 240);
    for (short v : out) ASSERT_EQ(v, 7);
}

}  // namespace
