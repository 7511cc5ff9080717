// Encoder analysis stages on their own: filters, LPC analysis, LSP
// conversion and quantisation, open-loop pitch, harmonic noise shaping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/tables.h"
#include "g723/encoder/encoder.h"
#include "g723/encoder/hp_filter.h"
#include "g723/encoder/lpc_analysis.h"
#include "g723/encoder/lpc_to_lsp.h"
#include "g723/encoder/lsp_quantize.h"
#include "g723/encoder/noise_shaping.h"
#include "g723/encoder/open_loop_pitch.h"
#include "g723/encoder/weighted_synthesis.h"
#include "g723/encoder/weighting_filter.h"

namespace qrxc::g723 {
namespace {

constexpr double PI = 3.14159265358979323846;

Enc_state fresh_state() {
    Enc_state st;
    enc_reset(st);
    return st;
}

TEST(EncReset, RestoresStartStateWhateverCameBefore) {
    Enc_state st;
    std::memset(&st, 0x5a, sizeof st);
    enc_reset(st);
    for (int k = 0; k < LPC_ORDER; k++) EXPECT_EQ(st.prev_lsp[k], LspDcTable[k]);
    for (Word32 e : st.taming_err) EXPECT_EQ(e, 4);
    Enc_state expect{};
    std::memcpy(expect.prev_lsp, st.prev_lsp, sizeof st.prev_lsp);
    std::memcpy(expect.taming_err, st.taming_err, sizeof st.taming_err);
    EXPECT_EQ(std::memcmp(&expect, &st, sizeof st), 0);
}

TEST(HpFilter, FullScaleStepHalvesThenDecaysToZero) {
    Enc_state st = fresh_state();
    std::vector<Word16> out;
    for (int f = 0; f < 8; f++) {
        Word16 frame[FRAME_LEN];
        for (Word16 &x : frame) x = MAX_16;
        hp_filter(st, frame);
        out.insert(out.end(), frame, frame + FRAME_LEN);
    }
    EXPECT_EQ(out[0], 16384);
    int first_zero = -1;
    for (std::size_t n = 1; n < out.size(); n++) {
        ASSERT_LE(out[n], out[n - 1]) << n;
        if (out[n] == 0 && first_zero < 0) first_zero = static_cast<int>(n);
    }
    EXPECT_GT(first_zero, 1250);
    EXPECT_LT(first_zero, 1400);
}

TEST(Levinson, PerfectlyCorrelatedBlockStopsAtOrderZero) {
    Word16 corr[LPC_ORDER];
    for (Word16 &c : corr) c = 0x4000;
    Word16 a[LPC_ORDER];
    Word16 k2 = 0;
    levinson_durbin(a, corr, 0x4000, k2);
    for (Word16 v : a) EXPECT_EQ(v, 0);
    EXPECT_EQ(k2, 0x7fff);
}

TEST(Levinson, FirstOrderProcessGivesHalfInQ13) {
    // r[i] = 0.5^i r[0]: an AR(1) process with coefficient 0.5.
    const Word16 r0 = 0x4000;
    Word16 corr[LPC_ORDER];
    for (int i = 0; i < LPC_ORDER; i++) corr[i] = static_cast<Word16>(r0 >> (i + 1));
    Word16 a[LPC_ORDER];
    Word16 k2 = 0;
    levinson_durbin(a, corr, r0, k2);
    EXPECT_NEAR(a[0], 4096, 4);
    for (int i = 1; i < LPC_ORDER; i++) EXPECT_NEAR(a[i], 0, 4) << i;
    EXPECT_NEAR(k2, 0, 8);
}

// The sine detector over several frames of a test signal.
struct Sine_case {
    const char *name;
    double freq;
    double amp;
    int frames;
    bool flagged;          // bit 15 at the end
    int first_flag_frame;  // frame after which bit 15 first shows, -1 never
};

class SineDetector : public ::testing::TestWithParam<Sine_case> {};

TEST_P(SineDetector, FlagsOnlySineLikeInput) {
    const Sine_case &c = GetParam();
    Enc_state st = fresh_state();
    int first = -1;
    for (int f = 0; f < c.frames; f++) {
        Word16 frame[FRAME_LEN];
        for (int n = 0; n < FRAME_LEN; n++)
            frame[n] = static_cast<Word16>(std::lround(c.amp * std::sin(2 * PI * c.freq * (f * FRAME_LEN + n) / 8000)));
        hp_filter(st, frame);
        Word16 lpc[SUBFRAMES * LPC_ORDER];
        lpc_analysis(st, lpc, frame);
        std::memcpy(st.prev_dat, frame + FRAME_LEN - LPC_HIST, sizeof st.prev_dat);
        if (first < 0 && (st.sine_det & 0x8000)) first = f;
        if (c.freq == 0) {
            for (Word16 v : lpc) ASSERT_EQ(v, 0);
        }
    }
    EXPECT_EQ((st.sine_det & 0x8000) != 0, c.flagged);
    EXPECT_EQ(first, c.first_flag_frame);
}

INSTANTIATE_TEST_SUITE_P(Signals, SineDetector,
                         ::testing::Values(Sine_case{"silence", 0, 0, 5, true, 3},
                                           Sine_case{"tone500", 500, 10000, 6, true, 3},
                                           Sine_case{"tone200", 200, 3000, 10, false, -1}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(LpcAnalysis, SilenceFlagsEverySubframe) {
    Enc_state st = fresh_state();
    Word16 frame[FRAME_LEN] = {};
    Word16 lpc[SUBFRAMES * LPC_ORDER];
    lpc_analysis(st, lpc, frame);
    EXPECT_EQ(st.sine_det, 0x000f);
}

TEST(LpcToLsp, SilentSetGivesEquallySpacedVector) {
    const Word16 a[LPC_ORDER] = {};
    Word16 lsp[LPC_ORDER];
    lpc_to_lsp(lsp, a, LspDcTable);
    for (int m = 1; m <= LPC_ORDER; m++) EXPECT_NEAR(lsp[m - 1], m * 32768.0 / 11, 2) << m;
}

TEST(LpcToLsp, UnstableSetFallsBackToPreviousVector) {
    // 1 - 3.99 z^-1 has its zero far outside the unit circle.
    Word16 a[LPC_ORDER] = {32700};
    Word16 prev[LPC_ORDER];
    for (int k = 0; k < LPC_ORDER; k++) prev[k] = static_cast<Word16>(1000 + 2900 * k);
    Word16 lsp[LPC_ORDER];
    lpc_to_lsp(lsp, a, prev);
    for (int k = 0; k < LPC_ORDER; k++) EXPECT_EQ(lsp[k], prev[k]) << k;
}

TEST(LpcToLsp, RootsAreIncreasingForARealSpeechLikeSet) {
    Enc_state st = fresh_state();
    Word16 frame[FRAME_LEN];
    for (int n = 0; n < FRAME_LEN; n++)
        frame[n] =
            static_cast<Word16>(3000 * std::sin(2 * PI * 300 * n / 8000) + 2000 * std::sin(2 * PI * 1300 * n / 8000) +
                                800 * std::sin(2 * PI * 2700 * n / 8000));
    Word16 lpc[SUBFRAMES * LPC_ORDER];
    lpc_analysis(st, lpc, frame);
    Word16 lsp[LPC_ORDER];
    lpc_to_lsp(lsp, &lpc[30], LspDcTable);
    bool same = true;
    for (int k = 0; k < LPC_ORDER; k++) same = same && lsp[k] == LspDcTable[k];
    EXPECT_FALSE(same);
    for (int k = 1; k < LPC_ORDER; k++) EXPECT_GT(lsp[k], lsp[k - 1]) << k;
}

TEST(LspQuantize, CodebookBoundHolds) {
    int mx = 0;
    for (const auto &row : Band0Tb8)
        for (Word16 v : row) mx = std::max(mx, std::abs(int{v}));
    for (const auto &row : Band1Tb8)
        for (Word16 v : row) mx = std::max(mx, std::abs(int{v}));
    for (const auto &row : Band2Tb8)
        for (Word16 v : row) mx = std::max(mx, std::abs(int{v}));
    EXPECT_EQ(mx, LSP_CODE_MAX_ABS);
}

TEST(LspQuantize, ZeroResidualPicksTheZeroRowOfEveryBand) {
    Word16 lsp[LPC_ORDER];
    std::memcpy(lsp, LspDcTable, sizeof lsp);
    EXPECT_EQ(lsp_quantize(lsp, LspDcTable), 0);
}

TEST(LspQuantize, SplitVqFindsAnExactCodevector) {
    Word16 r[LPC_ORDER];
    const int rows[3] = {17, 200, 99};
    for (int j = 0; j < 3; j++) r[j] = Band0Tb8[rows[0]][j];
    for (int j = 0; j < 3; j++) r[3 + j] = Band1Tb8[rows[1]][j];
    for (int j = 0; j < 4; j++) r[6 + j] = Band2Tb8[rows[2]][j];
    Word16 w[LPC_ORDER];
    for (Word16 &v : w) v = 0x4000;
    EXPECT_EQ(lsp_split_vq(r, w), (17 << 16) | (200 << 8) | 99);
}

// Small residuals take the whole-band fast scoring, large ones the
// per-row checks and the saturating chains.
TEST(LspQuantize, SplitVqMatchesItsPlainFormInEveryKernelSet) {
    std::mt19937 rng(99);
    for (const int peak : {200, 3000, 32767}) {
        std::uniform_int_distribution<int> rd(-peak, peak);
        std::uniform_int_distribution<int> wd(1, 32767);
        for (int trial = 0; trial < 200; ++trial) {
            Word16 r[LPC_ORDER];
            Word16 w[LPC_ORDER];
            for (Word16 &v : r) v = static_cast<Word16>(rd(rng));
            for (Word16 &v : w) v = static_cast<Word16>(wd(rng));
            const Word32 plain = lsp_split_vq_plain(r, w);
            for (const Kernel_set set : {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2})
                ASSERT_EQ(lsp_split_vq(r, w, set), plain) << kernel_set_name(set) << " peak " << peak;
        }
    }
}

TEST(LspQuantize, CloseNeighboursGetTheLargestWeight) {
    // Two vectors differing only near a narrow gap: a weighted quantiser
    // must treat the narrow pair with more care than a wide one, so the
    // index depends on that pair.
    Word16 base[LPC_ORDER];
    std::memcpy(base, LspDcTable, sizeof base);
    Word16 narrow[LPC_ORDER];
    std::memcpy(narrow, base, sizeof narrow);
    narrow[4] = static_cast<Word16>(narrow[3] + 20);  // gap of 20 <= 32
    Word16 a[LPC_ORDER], b[LPC_ORDER];
    std::memcpy(a, base, sizeof a);
    std::memcpy(b, narrow, sizeof b);
    EXPECT_NE(lsp_quantize(a, LspDcTable), lsp_quantize(b, LspDcTable));
}

// A buffer that is zero except for a target impulse and two candidate
// impulses: lags l1 and l2 then have equal window energies and normalised
// correlations in the ratio (b2 / b1)^2.
struct Olp_case {
    const char *name;
    int l1, l2;
    double ratio;  // corr(l2) / corr(l1)
    int expect;
};

class OpenLoopPitchRule : public ::testing::TestWithParam<Olp_case> {};

TEST_P(OpenLoopPitchRule, ShorterLagsAndTheFourThirdsRule) {
    const Olp_case &c = GetParam();
    Word16 buf[PITCH_BUF_LEN] = {};
    const int start = 265;
    const int target = start + 100;
    buf[target] = 0x0800;
    buf[target - c.l1] = 0x0800;
    buf[target - c.l2] = static_cast<Word16>(std::lround(0x0800 * std::sqrt(c.ratio)));
    EXPECT_EQ(open_loop_pitch(buf, start), c.expect);
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenLoopPitchRule,
                         ::testing::Values(Olp_case{"tie_keeps_shorter", 120, 137, 1.0, 120},
                                           Olp_case{"near_lag_small_gain_wins", 120, 137, 1.2, 137},
                                           Olp_case{"far_lag_needs_four_thirds", 120, 138, 1.2, 120},
                                           Olp_case{"far_lag_above_four_thirds", 120, 138, 1.5, 138},
                                           Olp_case{"far_lag_tie_keeps_shorter", 120, 138, 1.0, 120}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(OpenLoopPitch, SilenceAndNegativeCorrelationGiveTheMinimumLag) {
    Word16 buf[PITCH_BUF_LEN] = {};
    EXPECT_EQ(open_loop_pitch(buf, 145), OLP_LAG_MIN);
    buf[200] = 0x0800;
    buf[150] = -0x0800;  // only a negative correlation, at lag 50
    EXPECT_EQ(open_loop_pitch(buf, 145), OLP_LAG_MIN);
}

class OpenLoopPitchPeriod : public ::testing::TestWithParam<int> {};

TEST_P(OpenLoopPitchPeriod, FindsThePeriodNotItsMultiples) {
    const int period = GetParam();
    Word16 buf[PITCH_BUF_LEN];
    Word16 seed = 12345;
    std::vector<Word16> pattern(static_cast<std::size_t>(period));
    for (Word16 &v : pattern) v = static_cast<Word16>(rand16(seed) >> 4);
    for (int n = 0; n < PITCH_BUF_LEN; n++) buf[n] = pattern[static_cast<std::size_t>(n % period)];
    EXPECT_EQ(open_loop_pitch(buf, 145), period);
    EXPECT_EQ(open_loop_pitch(buf, 265), period);
}

INSTANTIATE_TEST_SUITE_P(Periods, OpenLoopPitchPeriod, ::testing::Values(18, 25, 40, 71, 100, 142));

TEST(OpenLoopPitch, NeverReadsBeforeTheLongestCandidate) {
    Word16 buf[PITCH_BUF_LEN];
    Word16 seed = 7;
    for (Word16 &v : buf) v = static_cast<Word16>(rand16(seed) >> 4);
    const Word16 lag = open_loop_pitch(buf, 145);
    buf[0] = buf[1] = buf[2] = 0x0fff;
    EXPECT_EQ(open_loop_pitch(buf, 145), lag);
}

TEST(OpenLoopPitch, NegativeRunningEnergyUsesItsComplement) {
    // Full-scale samples saturate the running energy; moving the window into
    // silence then drives it below zero. The search must stay in range.
    Word16 buf[PITCH_BUF_LEN] = {};
    for (int n = 0; n < PITCH_BUF_LEN; n++) buf[n] = n >= 100 ? static_cast<Word16>((n & 1) ? 32767 : -32768) : 0;
    const Word16 lag = open_loop_pitch(buf, 145);
    EXPECT_GE(lag, OLP_LAG_MIN);
    EXPECT_LE(lag, OLP_LAG_MAX);
}

struct Hns_case {
    const char *name;
    int period;  // 0: silence
    Word16 olp;
    int start;
    Word16 lag;
    Word16 gain;
};

class HnsSearch : public ::testing::TestWithParam<Hns_case> {};

TEST_P(HnsSearch, LagAndGain) {
    const Hns_case &c = GetParam();
    Word16 buf[PITCH_BUF_LEN] = {};
    if (c.period > 0) {
        Word16 seed = 99;
        std::vector<Word16> pattern(static_cast<std::size_t>(c.period));
        for (Word16 &v : pattern) v = static_cast<Word16>(rand16(seed) >> 4);
        for (int n = 0; n < PITCH_BUF_LEN; n++) buf[n] = pattern[static_cast<std::size_t>(n % c.period)];
    }
    const Hns_params h = hns_search(buf, c.start, c.olp);
    EXPECT_EQ(h.lag, c.lag);
    EXPECT_EQ(h.gain_q15, c.gain);
}

INSTANTIATE_TEST_SUITE_P(Cases, HnsSearch,
                         ::testing::Values(Hns_case{"silence", 0, 60, 145, 60, 0},
                                           Hns_case{"periodic_full_gain", 62, 60, 205, 62, 0x2800},
                                           Hns_case{"shortest_lag", 15, 18, 145, 15, 0x2800},
                                           Hns_case{"longest_lag_reads_buf0", 145, 142, 145, 145, 0x2800}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(HnsSearch, WeaklyVoicedSubframeGetsNoGain) {
    Word16 buf[PITCH_BUF_LEN];
    Word16 seed = 3;
    for (Word16 &v : buf) v = static_cast<Word16>(rand16(seed) >> 4);
    EXPECT_EQ(hns_search(buf, 205, 60).gain_q15, 0);
}

TEST(NoiseShaping, ZeroGainCopiesWeightedSpeech) {
    Word16 buf[PITCH_BUF_LEN];
    Word16 seed = 5;
    for (Word16 &v : buf) v = rand16(seed);
    const Hns_params hns[SUBFRAMES] = {{60, 0}, {18, 0}, {145, 0}, {100, 0}};
    Word16 frame[FRAME_LEN];
    hns_filter(frame, buf, hns);
    for (int n = 0; n < FRAME_LEN; n++) EXPECT_EQ(frame[n], buf[ACB_LAG_MAX + n]);
}

TEST(Ringing, FreshStateLeavesTargetAndZeroInputDecays) {
    Enc_state st = fresh_state();
    Word16 q[LPC_ORDER] = {6000, -2000, 1000};
    Word16 p[2 * LPC_ORDER] = {5400, -1600, 700, 0, 0, 0, 0, 0, 0, 0, 3000, -500, 120};
    Word16 t[SUBFRAME_LEN];
    Word16 seed = 11;
    for (Word16 &v : t) v = static_cast<Word16>(rand16(seed) >> 2);
    Word16 t0[SUBFRAME_LEN];
    std::memcpy(t0, t, sizeof t);
    subtract_ringing(st, t, q, p, Hns_params{40, 0x2000});
    EXPECT_EQ(std::memcmp(t, t0, sizeof t), 0);

    // Drive the cascade with an impulse, then with silence: prev_err moves
    // by one subframe and the ringing keeps decaying.
    Word16 x[SUBFRAME_LEN] = {8000};
    update_ringing(st, x, q, p);
    Word16 err1[ACB_LAG_MAX];
    std::memcpy(err1, st.prev_err, sizeof err1);
    const Word16 zero[SUBFRAME_LEN] = {};
    update_ringing(st, zero, q, p);
    for (int j = 0; j < ACB_LAG_MAX - SUBFRAME_LEN; j++) EXPECT_EQ(st.prev_err[j], err1[j + SUBFRAME_LEN]);
    int e1 = 0, e2 = 0;
    for (int j = 0; j < SUBFRAME_LEN; j++) {
        e1 += std::abs(err1[ACB_LAG_MAX - SUBFRAME_LEN + j]);
        e2 += std::abs(st.prev_err[ACB_LAG_MAX - SUBFRAME_LEN + j]);
    }
    EXPECT_GT(e1, 0);
    EXPECT_LT(e2, e1);
}

TEST(ImpulseResponse, MatchesRingingOfAnImpulseAtDoubleSize) {
    // The impulse response is the cascade's response to an excitation
    // impulse of 16384 although it starts from an impulse of 8192.
    Enc_state st = fresh_state();
    const Word16 q[LPC_ORDER] = {5000, -1500, 400};
    const Word16 p[2 * LPC_ORDER] = {4500, -1200, 300, 0, 0, 0, 0, 0, 0, 0, 2500, -400, 80};
    Word16 imp[SUBFRAME_LEN];
    impulse_response(imp, q, p, Hns_params{30, 0});
    Word16 x[SUBFRAME_LEN] = {16384};
    update_ringing(st, x, q, p);
    for (int n = 0; n < SUBFRAME_LEN; n++) EXPECT_NEAR(imp[n], st.prev_err[ACB_LAG_MAX - SUBFRAME_LEN + n], 2) << n;
}

TEST(LookaheadShift, DelaysByOneSubframe) {
    Word16 hist[LPC_HIST];
    Word16 frame[FRAME_LEN];
    for (int i = 0; i < LPC_HIST; i++) hist[i] = static_cast<Word16>(i);
    for (int i = 0; i < FRAME_LEN; i++) frame[i] = static_cast<Word16>(1000 + i);
    lookahead_shift(hist, frame);
    for (int i = 0; i < SUBFRAME_LEN; i++) EXPECT_EQ(frame[i], LPC_HIST - SUBFRAME_LEN + i);
    for (int i = SUBFRAME_LEN; i < FRAME_LEN; i++) EXPECT_EQ(frame[i], 1000 + i - SUBFRAME_LEN);
    for (int i = 0; i < LPC_HIST; i++) EXPECT_EQ(hist[i], 1000 + FRAME_LEN - LPC_HIST + i);
}

TEST(WeightFilter, SilenceStaysSilent) {
    Enc_state st = fresh_state();
    Word16 frame[FRAME_LEN] = {};
    Word16 per[SUBFRAMES * 2 * LPC_ORDER];
    for (int i = 0; i < SUBFRAMES * 2 * LPC_ORDER; i++) per[i] = static_cast<Word16>(1000 - 37 * i);
    weight_filter(st, frame, per);
    for (Word16 v : frame) EXPECT_EQ(v, 0);
    for (Word16 v : st.wght_fir_mem) EXPECT_EQ(v, 0);
    for (Word16 v : st.wght_iir_mem) EXPECT_EQ(v, 0);
}

}  // namespace
}  // namespace qrxc::g723
