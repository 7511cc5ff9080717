// The fixed-point operators against plain 64-bit arithmetic: every Word16
// for the one-argument operators, boundary pairs plus a large pseudo-random
// sample for the two-argument ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"

namespace {

using std::int64_t;

int64_t clamp64(int64_t x, int64_t lo, int64_t hi) { return x < lo ? lo : (x > hi ? hi : x); }
int64_t s16(int64_t x) { return clamp64(x, -32768, 32767); }
int64_t s32(int64_t x) { return clamp64(x, INT32_MIN, INT32_MAX); }
int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int64_t ref_shl16(int64_t a, int n) {
    if (n < 0) return n <= -15 ? (a < 0 ? -1 : 0) : floor_div(a, int64_t{1} << -n);
    if (n > 40) n = 40;
    return s16(a * (int64_t{1} << n));
}
int64_t ref_shl32(int64_t a, int n) {
    if (n < 0) return n <= -31 ? (a < 0 ? -1 : 0) : floor_div(a, int64_t{1} << -n);
    if (n > 32) n = 32;
    return s32(a * (int64_t{1} << n));
}
int ref_norm(int64_t a, int64_t top) {  // top = 0x4000 or 0x40000000
    if (a == 0) return 0;
    if (a == -1) return top == 0x4000 ? 15 : 31;
    if (a < 0) a = ~a;
    int n = 0;
    while (a < top) {
        a *= 2;
        ++n;
    }
    return n;
}

std::vector<Word16> edge16() {
    return {-32768, -32767, -32766, -16385, -16384, -256, -2, -1, 0, 1, 2, 255, 16383, 16384, 32766, 32767};
}
std::vector<Word32> edge32() {
    return {INT32_MIN,     INT32_MIN + 1, -0x40000001, -0x40000000, -0x3fffffff, -65536,
            -32769,        -32768,        -1,          0,           1,           0x7fff,
            0x8000,        0xffff,        0x3fffffff,  0x40000000,  0x7fff7fff,  0x7fff8000,
            INT32_MAX - 1, INT32_MAX};
}

TEST(BasicOps, OneArgumentOperatorsOverEveryWord16) {
    for (int v = -32768; v <= 32767; ++v) {
        const auto a = static_cast<Word16>(v);
        ASSERT_EQ(qrxc::g723::abs_s(a), s16(v < 0 ? -v : v)) << v;
        ASSERT_EQ(qrxc::g723::negate(a), s16(-v)) << v;
        ASSERT_EQ(qrxc::g723::norm_s(a), ref_norm(v, 0x4000)) << v;
        ASSERT_EQ(qrxc::g723::L_deposit_h(a), int64_t{v} * 65536) << v;
        ASSERT_EQ(qrxc::g723::L_deposit_l(a), v) << v;
        ASSERT_EQ(qrxc::g723::mult(a, a), s16(floor_div(int64_t{v} * v, 32768))) << v;
        ASSERT_EQ(qrxc::g723::L_mult(a, a), s32(2 * int64_t{v} * v)) << v;
        for (int n : {-20, -16, -15, -14, -3, -1, 0, 1, 3, 14, 15, 16, 20}) {
            ASSERT_EQ(qrxc::g723::shl(a, n), ref_shl16(v, n)) << v << " " << n;
            ASSERT_EQ(qrxc::g723::shr(a, n), ref_shl16(v, -n)) << v << " " << n;
        }
    }
}

struct Pair32 {
    int64_t a, b;
};

void check_pair16(Word16 a, Word16 b) {
    const int64_t x = a, y = b;
    ASSERT_EQ(qrxc::g723::add(a, b), s16(x + y)) << a << " " << b;
    ASSERT_EQ(qrxc::g723::sub(a, b), s16(x - y)) << a << " " << b;
    ASSERT_EQ(qrxc::g723::mult(a, b), s16(floor_div(x * y, 32768))) << a << " " << b;
    ASSERT_EQ(qrxc::g723::L_mult(a, b), s32(2 * x * y)) << a << " " << b;
    ASSERT_EQ(qrxc::g723::mult_r(a, b), s16(floor_div(x * y + 0x4000, 32768))) << a << " " << b;
    if (x >= 0 && x < y) {
        ASSERT_EQ(qrxc::g723::div_s(a, b), x * 32768 / y) << a << " " << b;
    }
}

void check_pair32(Word32 A, Word32 B, Word16 c, Word16 d) {
    const int64_t x = A, y = B;
    ASSERT_EQ(qrxc::g723::L_add(A, B), s32(x + y)) << A << " " << B;
    ASSERT_EQ(qrxc::g723::L_sub(A, B), s32(x - y)) << A << " " << B;
    ASSERT_EQ(qrxc::g723::L_mac(A, c, d), s32(x + s32(2 * int64_t{c} * d))) << A << " " << c << " " << d;
    ASSERT_EQ(qrxc::g723::L_msu(A, c, d), s32(x - s32(2 * int64_t{c} * d))) << A << " " << c << " " << d;
    ASSERT_EQ(qrxc::g723::mult_32_16(A, c), s32(((x & 0xffff) * c >> 15) + s32(2 * (x >> 16) * c))) << A << " " << c;
    const int64_t ra = s32(x + 0x8000);
    ASSERT_EQ(qrxc::g723::round(A), ra >> 16) << A;
    if (d > 0 && x >= 0 && x < int64_t{d} * 65536) {
        ASSERT_EQ(qrxc::g723::div_32_16(A, d), x / (2 * d)) << A << " " << d;
    }
}

TEST(BasicOps, TwoArgumentOperatorsOnBoundaryPairsAndRandomSample) {
    for (Word16 a : edge16())
        for (Word16 b : edge16()) check_pair16(a, b);
    for (Word32 A : edge32())
        for (Word32 B : edge32())
            for (Word16 c : edge16()) check_pair32(A, B, c, c);

    std::mt19937 rng(723);
    std::uniform_int_distribution<int> d16(-32768, 32767);
    std::uniform_int_distribution<int32_t> d32(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 1000000; ++i) {
        const auto a = static_cast<Word16>(d16(rng));
        const auto b = static_cast<Word16>(d16(rng));
        check_pair16(a, b);
        // A wide spread of magnitudes so that every saturation path is hit.
        const Word32 A = d32(rng) >> (i % 31);
        const Word32 B = d32(rng) >> ((i / 31) % 31);
        check_pair32(A, B, a, b);
        if (HasFatalFailure()) return;
    }
}

TEST(BasicOps, ThirtyTwoBitShiftsAndNormAgainstReference) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> d32(INT32_MIN, INT32_MAX);
    std::vector<Word32> values = edge32();
    for (int i = 0; i < 20000; ++i) values.push_back(d32(rng) >> (i % 32));
    for (Word32 A : values) {
        ASSERT_EQ(qrxc::g723::L_negate(A), s32(-int64_t{A}));
        ASSERT_EQ(qrxc::g723::L_abs(A), s32(A < 0 ? -int64_t{A} : A));
        ASSERT_EQ(qrxc::g723::norm_l(A), ref_norm(A, 0x40000000)) << A;
        ASSERT_EQ(qrxc::g723::extract_h(A), floor_div(A, 65536));
        ASSERT_EQ(qrxc::g723::extract_l(A), static_cast<int16_t>(static_cast<uint16_t>(A)));
        for (int n : {-64, -40, -32, -31, -30, -16, -1, 0, 1, 2, 16, 30, 31, 32, 40, 64}) {
            ASSERT_EQ(qrxc::g723::L_shl(A, n), ref_shl32(A, n)) << A << " " << n;
            ASSERT_EQ(qrxc::g723::L_shr(A, n), ref_shl32(A, -n)) << A << " " << n;
        }
    }
}

TEST(BasicOps, QuotedEdgeValues) {
    using namespace qrxc::g723;
    EXPECT_EQ(L_mult(-32768, -32768), 0x7fffffff);
    EXPECT_EQ(mult(-32768, -32768), 0x7fff);
    EXPECT_EQ(mult_r(-32768, -32768), 0x7fff);
    EXPECT_EQ(qrxc::g723::round(0x7fff8000), 0x7fff);
    EXPECT_EQ(qrxc::g723::round(-1), 0);
    EXPECT_EQ(shr(-1, 3), -1);
    EXPECT_EQ(shr(-32768, 20), -1);
    EXPECT_EQ(L_shr(-1, 40), -1);
    EXPECT_EQ(L_shl(0x20000000, 2), 0x7fffffff);
    EXPECT_EQ(L_shl(-0x20000001, 2), INT32_MIN);
    EXPECT_EQ(mult_32_16(0x7fffffff, 0x7fff), 0x7ffeffff);
    EXPECT_EQ(mult_32_16(INT32_MIN, -32768), 0x7fffffff);
    EXPECT_EQ(fixed_sqrt(0), 0);
    EXPECT_EQ(fixed_sqrt(0x7fffffff), 0x7ffe);
    EXPECT_EQ(fixed_sqrt(0x40000000), 0x5a82);
    EXPECT_EQ(div_s(1, 2), 16384);
    EXPECT_EQ(div_32_16(0x7fff0000, 0x7fff), 0x7fff);
}

TEST(BasicOps, FixedSqrtIsTheLargestFourteenBitRoot) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32_t> d32(0, INT32_MAX);
    for (int i = 0; i < 100000; ++i) {
        const int32_t A = d32(rng) >> (i % 31);
        const int64_t r = qrxc::g723::fixed_sqrt(A);
        ASSERT_EQ(r & 1, 0);
        ASSERT_LE(2 * r * r, A);
        ASSERT_GT(2 * (r + 2) * (r + 2), A);
    }
}

TEST(BasicOps, VectorNormalize) {
    struct Case {
        std::vector<Word16> in;
        Word16 shift;
        std::vector<Word16> out;
    };
    const Case cases[] = {
        {{0, 0, 0}, -3, {0, 0, 0}},       {{0x4000, -8, 24}, -3, {0x800, -1, 3}}, {{1, -1, 0}, 11, {2048, -2048, 0}},
        {{-32768, 100}, -3, {-4096, 12}}, {{-16385, 3}, -3, {-2049, 0}},          {{0x0fff, -7}, 0, {0x0fff, -7}},
    };
    for (const Case &c : cases) {
        std::vector<Word16> v = c.in;
        EXPECT_EQ(qrxc::g723::vector_normalize(v.data(), static_cast<int>(v.size())), c.shift);
        EXPECT_EQ(v, c.out);
    }
    Word16 none[1] = {77};
    EXPECT_EQ(qrxc::g723::vector_normalize(none, 0), -3);
    EXPECT_EQ(none[0], 77);
}

TEST(BasicOps, Energy60SaturatesAndScalesByAQuarter) {
    Word16 x[60] = {};
    EXPECT_EQ(qrxc::g723::energy_60(x), 0);
    x[0] = 400;  // 100 after the scaling, 2 * 100^2
    x[59] = -3;  // -1 after the flooring shift
    EXPECT_EQ(qrxc::g723::energy_60(x), 20002);
    for (Word16 &v : x) v = -32768;
    EXPECT_EQ(qrxc::g723::energy_60(x), INT32_MAX);
    EXPECT_EQ(qrxc::g723::energy_60_steps(x), INT32_MAX);
}

TEST(BasicOps, Rand16Sequence) {
    Word16 seed = 0;
    EXPECT_EQ(qrxc::g723::rand16(seed), 259);
    EXPECT_EQ(qrxc::g723::rand16(seed), 4126);
    EXPECT_EQ(qrxc::g723::rand16(seed), -12783);
    EXPECT_EQ(seed, -12783);
}

}  // namespace

TEST(BasicOps, QConstantsRoundToTheNearestWord) {
    EXPECT_EQ(qrxc::g723::Q15(0.75), 0x6000);
    EXPECT_EQ(qrxc::g723::Q15(0.95), 0x799a);  // 31129.6 rounds up
    EXPECT_EQ(qrxc::g723::Q15(-0.3125), -0x2800);
    EXPECT_EQ(qrxc::g723::Q15(1.0), qrxc::g723::MAX_16);
    EXPECT_EQ(qrxc::g723::Q15(-1.0), qrxc::g723::MIN_16);
    EXPECT_EQ(qrxc::g723::Q(12, 1.0), 0x1000);
}
