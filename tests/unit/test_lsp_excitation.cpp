// LSP decoding and the excitation builders shared by decoder and encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/lsp.h"
#include "g723/common/tables.h"

namespace {

using namespace qrxc::g723;
using Lsp = std::array<Word16, LPC_ORDER>;

Lsp dc() {
    Lsp v;
    std::copy(LspDcTable, LspDcTable + LPC_ORDER, v.begin());
    return v;
}

TEST(Lsp, IndexZeroFromTheMeanGivesTheMean) {
    for (int b = 0; b < 2; ++b) {
        const auto bad = static_cast<Word16>(b);
        Lsp prev = dc(), out{};
        lsp_dequantize(out.data(), prev.data(), 0x123456, bad);  // a bad frame ignores the index
        if (bad) {
            EXPECT_EQ(out, dc());
        }
        Lsp prev2 = dc(), out2{};
        lsp_dequantize(out2.data(), prev2.data(), 0, bad);
        EXPECT_EQ(out2, dc());
        EXPECT_EQ(prev2, dc());  // restored after use as scratch
    }
}

// Adjacent values at least `sep - 4` apart and within the outer limits
// (the last pass may move the first one below 0x180 again).
bool is_stable(const Lsp &v, int sep) {
    for (int j = 1; j < LPC_ORDER; ++j)
        if (v[j] - v[j - 1] < sep - 4) return false;
    return v[LPC_ORDER - 1] <= 0x7e00;
}

TEST(Lsp, EveryDecodedVectorIsStableOrThePrevious) {
    // Sweep each band's codebook from a spread of previous vectors.
    int repaired = 0, fell_back = 0;
    for (int band = 0; band < 3; ++band) {
        for (int row = 0; row < 256; ++row) {
            for (int shift : {-3000, 0, 2500}) {
                Lsp prev = dc();
                for (Word16 &p : prev) p = add(p, static_cast<Word16>(shift));
                const Lsp prev_in = prev;
                Lsp out{};
                const Word32 index = (row << (8 * (2 - band))) | 0x010101;
                lsp_dequantize(out.data(), prev.data(), index, 0);
                EXPECT_EQ(prev, prev_in);
                if (out == prev_in) {
                    ++fell_back;
                    continue;
                }
                ASSERT_TRUE(is_stable(out, 0x100)) << band << " " << row << " " << shift;
                ++repaired;
            }
        }
    }
    EXPECT_GT(repaired, 0);
}

TEST(Lsp, FirstValueIsLiftedAndCrowdedValuesAreSpread) {
    // Previous vector far below the mean drags the prediction down: the
    // first LSP would fall below 0x180.
    Lsp prev{};
    for (int j = 0; j < LPC_ORDER; ++j) prev[j] = static_cast<Word16>(100 + 50 * j);
    Lsp out{};
    lsp_dequantize(out.data(), prev.data(), 0, 0);
    EXPECT_GE(out[0], 0x180 - 0x80);
    EXPECT_TRUE(is_stable(out, 0x100));

    // A vector that cannot be repaired in ten passes falls back to prev,
    // even though prev itself is crowded.
    Lsp crowded{};
    for (int j = 0; j < LPC_ORDER; ++j) crowded[j] = static_cast<Word16>(std::min(31981 + 91 * j, 32767));
    Lsp prev2 = crowded;
    lsp_dequantize(out.data(), prev2.data(), 15125710, 0);
    EXPECT_EQ(out, crowded);
}

TEST(Lsp, BadFramePredictsMoreStronglyAndSpacesWider) {
    Lsp prev = dc();
    for (int j = 0; j < LPC_ORDER; ++j) prev[j] = add(prev[j], 800);
    Lsp good{}, bad{}, p1 = prev, p2 = prev;
    lsp_dequantize(good.data(), p1.data(), 0, 0);
    lsp_dequantize(bad.data(), p2.data(), 0, 1);
    for (int j = 0; j < LPC_ORDER; ++j) {
        EXPECT_EQ(good[j], add(LspDcTable[j], mult_r(800, 0x3000)));
        EXPECT_EQ(bad[j], add(LspDcTable[j], mult_r(800, 0x5c00)));
    }
}

TEST(Lsp, InterpolationWeights) {
    Lsp cur = dc(), prev = dc();
    std::array<Word16, 40> lpc{};
    lsp_interpolate(lpc.data(), cur.data(), prev.data());
    for (int s = 1; s < 4; ++s)
        for (int j = 0; j < LPC_ORDER; ++j) EXPECT_EQ(lpc[10 * s + j], lpc[j]);

    // Subframe 3 is the current vector alone.
    for (int j = 0; j < LPC_ORDER; ++j) prev[j] = static_cast<Word16>(prev[j] + 300);
    std::array<Word16, 40> lpc2{};
    lsp_interpolate(lpc2.data(), cur.data(), prev.data());
    for (int j = 0; j < LPC_ORDER; ++j) EXPECT_EQ(lpc2[30 + j], lpc[30 + j]);
    EXPECT_NE(std::memcmp(lpc2.data(), lpc.data(), 20), 0);
}

TEST(Lsp, ToLpcOfTheMeanIsAStableMinimumPhaseSet) {
    Lsp v = dc();
    lsp_to_lpc(v.data());
    // The mean LSPs describe a gently shaped spectrum: first coefficient
    // positive (a1 > 0 in Q13 predictor form), all within +-8 in Q13.
    EXPECT_GT(v[0], 0);
    for (Word16 a : v) EXPECT_LT(abs_s(a), 8 * 8192);
    // Top of the range indexes table entries 255 and 256 only.
    Lsp top{};
    top.fill(32767);
    lsp_to_lpc(top.data());
    // A negative (out-of-range) value is read modulo the period, not outside the table.
    Lsp neg = dc();
    neg[0] = -200;
    lsp_to_lpc(neg.data());
}

TEST(Excitation, AcbHistoryShortAndLongLags) {
    Word16 hist[ACB_LAG_MAX];
    for (int i = 0; i < ACB_LAG_MAX; ++i) hist[i] = static_cast<Word16>(i);
    Word16 out[64];
    acb_history(out, hist, 17);
    EXPECT_EQ(out[0], 126);
    EXPECT_EQ(out[1], 127);
    for (int k = 0; k < 62; ++k) ASSERT_EQ(out[2 + k], 128 + k % 17);
    acb_history(out, hist, 143);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
    for (int k = 0; k < 62; ++k) ASSERT_EQ(out[2 + k], 2 + k);
}

TEST(Excitation, AcbGainRowZeroIsSilent) {
    Word16 hist[ACB_LAG_MAX];
    for (int i = 0; i < ACB_LAG_MAX; ++i) hist[i] = static_cast<Word16>(1000 * (i % 7) - 3000);
    for (int rate : {RATE_63, RATE_53}) {
        Word16 out[SUBFRAME_LEN];
        acb_excitation(out, hist, 40, 1, 0, rate);
        for (Word16 v : out) ASSERT_EQ(v, 0);
    }
}

TEST(Excitation, AcbTableChoiceFollowsRateAndPairLag) {
    // Constant history: the output is the sum of the five taps (Q14, doubled, rounded).
    Word16 hist[ACB_LAG_MAX];
    std::fill(hist, hist + ACB_LAG_MAX, Word16{1000});
    struct Case {
        int rate;
        Word16 ol_lag;
        const Word16 *row;
    };
    const Case cases[] = {
        {RATE_63, 57, AcbkGainTable085[1]}, {RATE_63, 58, AcbkGainTable170[1]}, {RATE_53, 30, AcbkGainTable170[1]}};
    for (const Case &c : cases) {
        Word32 a = 0;
        for (int t = 0; t < 5; ++t) a = L_mac(a, 1000, c.row[t]);
        const Word16 want = qrxc::g723::round(L_shl(a, 1));
        Word16 out[SUBFRAME_LEN];
        acb_excitation(out, hist, c.ol_lag, 0, 1, c.rate);
        for (Word16 v : out) ASSERT_EQ(v, want) << c.ol_lag;
    }
}

Subframe_params fcb_sub(Word32 pos, Word16 signs, Word16 grid, Word16 gain, Word16 acb = 0, Word16 train = 0) {
    Subframe_params s{};
    s.pulse_pos = pos;
    s.pulse_signs = signs;
    s.grid = grid;
    s.fcb_gain = gain;
    s.acb_gain = acb;
    s.train = train;
    s.lag_offset = 1;
    return s;
}

TEST(Excitation, FiveThreePulsesAndDroppedPositions) {
    Word16 out[SUBFRAME_LEN];
    // Epsi170[0] = 60: no sharpening.
    fcb_decode(out, fcb_sub(0x0fff, 0x5, 1, 23), 100, 0, RATE_53);
    for (int n = 0; n < SUBFRAME_LEN; ++n) {
        const Word16 want = n == 57 ? 6623 : (n == 59 ? -6623 : 0);
        ASSERT_EQ(out[n], want) << n;
    }
    // Positions 0, 2, 4, 6 on the even grid, pulse 0 from the low bits.
    fcb_decode(out, fcb_sub(0, 0xe, 0, 0), 100, 0, RATE_53);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[6], 1);
}

TEST(Excitation, FiveThreePitchSharpening) {
    // acb index 1: Epsi170 0, Gain170 2489; lag = 20 + 1 - 1 + 0 = 20.
    Word16 out[SUBFRAME_LEN];
    fcb_decode(out, fcb_sub(0, 0xf, 0, 20, 1), 20, 0, RATE_53);
    Word16 beta = 0;
    EXPECT_EQ(acelp_lag_gain(20, 1, beta), 20);
    EXPECT_EQ(beta, 2489);
    const Word16 g = 2193;
    const Word16 once = mult(g, beta);
    EXPECT_EQ(out[0], g);
    EXPECT_EQ(out[20], once);
    EXPECT_EQ(out[40], mult(once, beta));  // two lags away sees the sharpened value
    EXPECT_EQ(out[1], 0);
}

TEST(Excitation, SixThreeCombinatorialDecoding) {
    struct Case {
        Word16 subframe;
        Word32 pos;
        int n;
    };
    for (const Case &c : {Case{0, 0, 6}, Case{1, 0, 5}, Case{2, 0, 6}, Case{3, 0, 5}}) {
        Word16 out[SUBFRAME_LEN];
        fcb_decode(out, fcb_sub(c.pos, 0x1, 0, 0), 100, c.subframe, RATE_63);
        for (int n = 0; n < SUBFRAME_LEN; ++n) {
            // Pulses on the first N even positions; sign bit 0 (set: negative) is the last pulse.
            Word16 want = n % 2 == 0 && n / 2 < c.n ? Word16{1} : Word16{0};
            if (n == 2 * (c.n - 1)) want = -1;
            ASSERT_EQ(out[n], want) << c.subframe << " " << n;
        }
    }
    // The largest valid index puts the pulses on the last positions.
    Word16 out[SUBFRAME_LEN];
    fcb_decode(out, fcb_sub(MaxPosTable[1] - 1, 0, 1, 0), 100, 1, RATE_63);
    for (int n = 0; n < SUBFRAME_LEN; ++n) ASSERT_EQ(out[n], (n % 2 == 1 && n >= 51) ? 1 : 0) << n;
}

TEST(Excitation, SixThreeIndexAtBoundSilencesEvenWithTrain) {
    for (Word16 s = 0; s < 2; ++s) {
        Word16 out[SUBFRAME_LEN];
        std::fill(out, out + SUBFRAME_LEN, Word16{5});
        fcb_decode(out, fcb_sub(MaxPosTable[s], 0, 0, 23, 0, 1), 18, s, RATE_63);
        for (Word16 v : out) ASSERT_EQ(v, 0);
    }
}

TEST(Excitation, PulseTrainAddsOriginalPulses) {
    struct Case {
        Word16 lag;
        std::vector<int> copies;
    };
    for (const Case &c : {Case{18, {0, 18, 36, 54}}, Case{30, {0, 30}}, Case{59, {0, 59}}, Case{60, {0}}}) {
        Word16 buf[SUBFRAME_LEN] = {};
        buf[0] = 100;
        buf[1] = -7;
        pulse_train(buf, buf, c.lag);
        Word16 want[SUBFRAME_LEN] = {};
        for (int off : c.copies) {
            want[off] = static_cast<Word16>(want[off] + 100);
            if (off + 1 < SUBFRAME_LEN) want[off + 1] = static_cast<Word16>(want[off + 1] - 7);
        }
        for (int n = 0; n < SUBFRAME_LEN; ++n) ASSERT_EQ(buf[n], want[n]) << c.lag << " " << n;
    }
    // Train on decode: lag 18 and index 0 at 6.3 kbit/s.
    Word16 out[SUBFRAME_LEN];
    fcb_decode(out, fcb_sub(0, 0, 0, 0, 0, 1), 18, 0, RATE_63);
    for (int n = 0; n < SUBFRAME_LEN; ++n) {
        const int base = n % 18;  // pulses at 0, 2, .., 10 repeated every 18
        ASSERT_EQ(out[n], (base % 2 == 0 && base <= 10) ? 1 : 0) << n;
    }
    // A non-positive lag cannot loop forever.
    Word16 z[SUBFRAME_LEN] = {3};
    pulse_train(z, z, 0);
    EXPECT_EQ(z[0], 3);
}

TEST(Excitation, OtherRateLeavesOutputUntouched) {
    Word16 out[SUBFRAME_LEN];
    std::fill(out, out + SUBFRAME_LEN, Word16{9});
    fcb_decode(out, fcb_sub(0, 0, 0, 5), 40, 0, 7);
    for (Word16 v : out) ASSERT_EQ(v, 9);
}

}  // namespace
