#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "codec/adpcm.h"

using namespace qrxc;

namespace {

Adpcm_state loaded() {
    Adpcm_state s;
    adpcm_load(s);
    return s;
}

using Encoder = int (*)(Adpcm_state &, int, int);
using Decoder = std::int16_t (*)(Adpcm_state &, int);

struct Width_case {
    int bits;
    Encoder encode;
    Decoder decode;
    Adpcm_coder Adpcm_state::*enc;
    Adpcm_coder Adpcm_state::*dec;
    double min_snr_db;  // on a 300 Hz + 1100 Hz tone pair
};

const Width_case WIDTHS[] = {
    {3, adpcm_encode_3, adpcm_decode_3, &Adpcm_state::enc3, &Adpcm_state::dec3, 9.0},
    {4, adpcm_encode_4, adpcm_decode_4, &Adpcm_state::enc4, &Adpcm_state::dec4, 15.0},
    {5, adpcm_encode_5, adpcm_decode_5, &Adpcm_state::enc5, &Adpcm_state::dec5, 20.0},
};

}  // namespace

TEST(Adpcm, RepeatedCodeSevenWrapsTheSumAndSaturatesOnlyTheOutput) {
    // From the load state: five rising samples, then the x4 output saturates,
    // then the 16-bit sum wraps negative, then the predictor pulls it back.
    std::vector<int> expected = {88, 392, 1676, 6892, 27132};
    expected.insert(expected.end(), 19, 32767);
    expected.insert(expected.end(), 20, -32768);
    expected.insert(expected.end(), {-30588, -26028, -21556});
    Adpcm_state s = loaded();
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(adpcm_decode_4(s, 7), expected[i]) << "sample " << i;
}

TEST(Adpcm, RepeatedExtremeCodesStayDefined) {
    // Long runs of the largest codes drive the 32-bit predictor sums past
    // their range (under UBSan any non-wrapping overflow traps); the scale
    // factor and the poles must stay within their limits all the while.
    const auto in_range = [](const Adpcm_coder &c, const Adpcm_predictor &p) {
        return c.y >= 544 && c.y <= 5120 && p.a2 >= -12288 && p.a2 <= 12288 && p.a1 <= 15360 - p.a2 &&
               p.a1 >= p.a2 - 15360;
    };
    for (const auto &w : WIDTHS) {
        const int largest = (1 << (w.bits - 1)) - 1;
        for (int code : {largest, largest + 1, 1}) {
            Adpcm_state s = loaded();
            int top = 0;
            for (int i = 0; i < 5000; ++i) {
                w.decode(s, code);
                ASSERT_TRUE(in_range(s.*w.dec, s.pred)) << w.bits << " bits, code " << code << ", sample " << i;
                top = std::max<int>(top, (s.*w.dec).y);
            }
            // The largest magnitudes drive the scale to its top.
            if (code != 1) {
                EXPECT_EQ(top, 5120) << w.bits << " bits, code " << code;
            }
        }
        Adpcm_state e = loaded();
        for (int i = 0; i < 5000; ++i) {
            w.encode(e, i % 2 != 0 ? 32767 : -32768, LAW_LINEAR);
            ASSERT_TRUE(in_range(e.*w.enc, e.pred)) << w.bits << " bits, sample " << i;
        }
    }
}

TEST(Adpcm, LoadStateFirstSamples) {
    Adpcm_state s = loaded();
    EXPECT_EQ(adpcm_encode_4(s, 0, LAW_LINEAR), 15);  // zero difference: code 2n+1

    s = loaded();
    EXPECT_EQ(adpcm_decode_4(s, 15), 0);
    EXPECT_EQ(s.dec4.y, 544);  // moved down to 515 and limited back
    // The poles adapt even on a zero difference: all signs compare equal.
    EXPECT_EQ(s.pred.a1, 192);
    EXPECT_EQ(s.pred.a2, 128);
}

TEST(Adpcm, ZeroReconstructionCodesGiveZeroDifference) {
    struct Case {
        int bits, code;
    };
    for (Case c : {Case{3, 0}, Case{3, 7}, Case{4, 0}, Case{4, 15}, Case{5, 0}, Case{5, 31}}) {
        const Adpcm_width &w = *adpcm_width(c.bits);
        for (int y = 544; y <= 5120; y += 13)
            EXPECT_EQ(diff_from_code(c.code & w.sign_bit, w.recon[c.code], y), 0) << c.bits << "/" << c.code;
    }
}

TEST(Adpcm, DiffFromCode) {
    struct Case {
        int sign, recon, y, dq;
    };
    const Case cases[] = {
        {0, 135, 544, 4},       // dql 271: exponent 2, mantissa 143
        {8, 135, 544, -4},      // sign flips it
        {0, -2048, 5120, 0},    // negative log level
        {1, -2048, 544, 0},     // negative level: 0 whatever the sign
        {0, 566, 5120, 23296},  // largest level: dql 1846, exponent 14, mantissa 182
        {0, 0, 0, 1},           // dql 0: 128 >> 7
        {0, -1, 0, 0},          // dql just below zero
    };
    for (const Case &c : cases) EXPECT_EQ(diff_from_code(c.sign, c.recon, c.y), c.dq) << c.recon << "," << c.y;
}

TEST(Adpcm, Log2Exponent) {
    struct Case {
        int x, e;
    };
    const Case cases[] = {{INT_MIN, 0}, {-1, 0},    {0, 0},     {1, 1},      {2, 2},      {3, 2},
                          {4, 3},       {8191, 13}, {8192, 14}, {16383, 14}, {16384, 14}, {INT_MAX, 14}};
    for (const Case &c : cases) EXPECT_EQ(log2_exponent(c.x), c.e) << c.x;
}

TEST(Adpcm, LevelIndexCountsLeadingEntriesNotAbove) {
    const std::int16_t table[] = {-124, 80, 178, 50};  // last entry out of order: the scan stops before it
    struct Case {
        int value, n, index;
    };
    const Case cases[] = {{-125, 4, 0}, {-124, 4, 1}, {79, 4, 1},   {80, 4, 2},    {178, 4, 4},
                          {177, 4, 2},  {1000, 4, 4}, {1000, 0, 0}, {1000, -3, 0}, {100, 4, 2}};
    for (const Case &c : cases) EXPECT_EQ(level_index(c.value, table, c.n), c.index) << c.value << "/" << c.n;
}

TEST(Adpcm, CodeFromDiffSignsAndZero) {
    const Adpcm_width &w4 = *adpcm_width(4);
    struct Case {
        int d, y, code;
    };
    const Case cases[] = {
        {0, 544, 15},                          // zero: 2n+1
        {1, 544, 15},                          // below the lowest decision level: counts as zero
        {-1, 544, 15},                         // likewise negative: 2n+1-0
        {3, 544, 1},                           // dl 192, dln 56: index 1
        {-3, 544, 14},                         // the same level negative: 2n+1-1
        {1000, 544, 7},                        // dln 1138: top level
        {-1000, 544, 8},     {1000, 5120, 1},  // dln 1274-1280 = -6 under the largest scale
        {-32768, 544, 15},                     // |d| stays -32768: exponent 0, mantissa 0
        {65536 + 5, 544, 2},                   // only the low 16 bits count: dln 152
    };
    for (const Case &c : cases) EXPECT_EQ(code_from_diff(c.d, c.y, w4.decision, w4.decision_count), c.code) << c.d;
}

TEST(Adpcm, G711Expansion) {
    struct Case {
        int byte, ulaw, alaw;
    };
    const Case cases[] = {
        {0xFF, 0, 848}, {0x7F, 0, -848},  {0x00, -32124, -5504}, {0x80, 32124, 5504},
        {0xD5, 716, 8}, {0x55, -716, -8}, {0x2A, -5372, -32256}, {0xAA, 5372, 32256},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(expand_ulaw(c.byte), c.ulaw) << std::hex << c.byte;
        EXPECT_EQ(expand_alaw(c.byte), c.alaw) << std::hex << c.byte;
    }
}

TEST(Adpcm, EncoderRejectsUnknownLawWithoutStateChange) {
    for (const auto &w : WIDTHS) {
        for (int law : {0, 4, -1}) {
            Adpcm_state s = loaded();
            w.encode(s, 1234, LAW_LINEAR);  // leave the load state first
            const Adpcm_state before = s;
            EXPECT_EQ(w.encode(s, 1234, law), -1);
            EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
        }
    }
}

TEST(Adpcm, CompandedInputEncodesLikeItsLinearValue) {
    for (const auto &w : WIDTHS) {
        Adpcm_state a = loaded(), b = loaded(), c = loaded(), d = loaded();
        for (int i = 0; i < 512; ++i) {
            const int byte = (i * 37) & 0xFF;
            ASSERT_EQ(w.encode(a, byte, LAW_ULAW), w.encode(b, expand_ulaw(byte), LAW_LINEAR));
            ASSERT_EQ(w.encode(c, byte, LAW_ALAW), w.encode(d, expand_alaw(byte), LAW_LINEAR));
        }
    }
}

TEST(Adpcm, StateStaysWithinItsLimits) {
    for (const auto &w : WIDTHS) {
        Adpcm_state s = loaded();
        std::uint32_t seed = 7;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            // Runs of one code as well as random ones, to push y to both limits.
            const int code = (i / 500) % 3 == 0 ? static_cast<int>(seed >> 27) : (i / 500) % 3 == 1 ? 0 : 1;
            w.decode(s, code);
            const Adpcm_coder &c = s.*(w.dec);
            ASSERT_GE(c.y, 544);
            ASSERT_LE(c.y, 5120);
            ASSERT_GE(s.pred.a2, -12288);
            ASSERT_LE(s.pred.a2, 12288);
            ASSERT_LE(std::abs(s.pred.a1), 15360 - s.pred.a2);
        }
    }
}

TEST(Adpcm, DecoderFollowsEncoder) {
    // Encoder and decoder on separate states must track each other: the
    // decoded tone stays close to the input at every width.
    for (const auto &w : WIDTHS) {
        Adpcm_state enc = loaded(), dec = loaded();
        double signal = 0, noise = 0;
        for (int i = 0; i < 8000; ++i) {
            const double t = i / 8000.0;
            const int x = static_cast<int>(6000 * std::sin(2 * std::numbers::pi * 300 * t) +
                                           3000 * std::sin(2 * std::numbers::pi * 1100 * t));
            const int code = w.encode(enc, x, LAW_LINEAR);
            ASSERT_GT(code, 0);
            ASSERT_LT(code, 1 << w.bits);
            const int y = w.decode(dec, code);
            if (i >= 400) {
                signal += static_cast<double>(x) * x;
                noise += static_cast<double>(x - y) * (x - y);
            }
        }
        EXPECT_GT(10 * std::log10(signal / noise), w.min_snr_db) << w.bits << " bits";
    }
}
