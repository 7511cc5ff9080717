// Excitation searches of the encoder: adaptive codebook and error taming,
// MP-MLQ and ACELP fixed codebooks, and the coding of what they choose.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/tables.h"
#include "g723/encoder/acb_search.h"
#include "g723/encoder/acelp.h"
#include "g723/encoder/encoder.h"
#include "g723/encoder/fcb_search.h"
#include "g723/encoder/mpmlq.h"
#include "g723/encoder/taming.h"

namespace {

using namespace qrxc::g723;

using Vec = std::array<Word16, SUBFRAME_LEN>;

// A weighted impulse response of the usual shape: a decaying oscillation
// starting near 1.0 (16384).
Vec impulse_response(double decay = 0.82, double freq = 0.6, double peak = 14000) {
    Vec h{};
    for (int i = 0; i < SUBFRAME_LEN; ++i)
        h[i] = static_cast<Word16>(std::lround(peak * std::pow(decay, i) * std::cos(freq * i)));
    return h;
}

Vec random_vec(std::mt19937 &rng, int peak) {
    std::uniform_int_distribution<int> dist(-peak, peak);
    Vec v{};
    for (auto &x : v) x = static_cast<Word16>(dist(rng));
    return v;
}

Enc_state reset_state() {
    Enc_state st{};
    for (auto &e : st.taming_err) e = 4;
    return st;
}

// ---------------------------------------------------------------- MP-MLQ

struct PackCase {
    const char *name;
    int subframe;
    Word16 grid;
    std::vector<int> slots;  // grid indices 0..29, ascending
    std::vector<int> negative;
    Word16 gain_index;
    Word16 lag;           // pulse train lag when below 58
    Word32 expect_pos;    // -1: not checked
    Word16 expect_signs;  // -1: not checked
};

class MpmlqPack : public ::testing::TestWithParam<PackCase> {};

TEST_P(MpmlqPack, DecodesToTheChosenPulses) {
    const PackCase &c = GetParam();
    const int np = Nb_puls[c.subframe];
    ASSERT_EQ(static_cast<int>(c.slots.size()), np);

    Mpmlq_best best = mpmlq_initial_best(np);
    best.grid = c.grid;
    best.gain_index = c.gain_index;
    best.train = c.lag < 58 ? 1 : 0;
    Vec v{};
    const Word16 a = FcbkGainTable[c.gain_index];
    // Pulses are stored in search order, not position order.
    for (int i = 0; i < np; ++i) {
        const int k = np - 1 - i;
        best.pos[i] = static_cast<Word16>(c.grid + 2 * c.slots[k]);
        best.amp[i] = c.negative[k] ? static_cast<Word16>(-a) : a;
        v[best.pos[i]] = best.amp[i];
    }

    Subframe_params sub{};
    mpmlq_pack(v.data(), sub, best, np);
    EXPECT_LT(sub.pulse_pos, MaxPosTable[c.subframe]);
    if (c.expect_pos >= 0) {
        EXPECT_EQ(sub.pulse_pos, c.expect_pos);
    }
    if (c.expect_signs >= 0) {
        EXPECT_EQ(sub.pulse_signs, c.expect_signs);
    }
    EXPECT_EQ(sub.fcb_gain, c.gain_index);
    EXPECT_EQ(sub.grid, c.grid);
    EXPECT_EQ(sub.train, best.train);

    Vec expect = v;
    if (best.train) pulse_train(expect.data(), expect.data(), c.lag);
    Vec out{};
    fcb_decode(out.data(), sub, c.lag, static_cast<Word16>(c.subframe), RATE_63);
    EXPECT_EQ(out, expect);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, MpmlqPack,
    ::testing::Values(PackCase{"first_six", 0, 0, {0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 0}, 5, 60, 0, 0},
                      PackCase{"last_six", 2, 1, {24, 25, 26, 27, 28, 29}, {1, 1, 1, 1, 1, 1}, 23, 100, 593774, 63},
                      PackCase{"last_five", 1, 0, {25, 26, 27, 28, 29}, {0, 1, 0, 1, 0}, 0, 70, 142505, 10},
                      PackCase{"lowest_negative", 1, 0, {0, 1, 2, 3, 4}, {1, 0, 0, 0, 0}, 12, 90, 0, 16},
                      PackCase{"spread_odd_grid", 3, 1, {0, 7, 13, 22, 29}, {0, 1, 1, 0, 1}, 17, 143, -1, 0b01101},
                      PackCase{"train_short_lag", 0, 0, {1, 4, 9, 10, 20, 28}, {1, 0, 0, 1, 0, 1}, 9, 18, -1, 0b100101},
                      PackCase{"train_lag_57", 1, 1, {2, 3, 11, 17, 26}, {0, 0, 1, 1, 0}, 20, 57, -1, 0b00110},
                      PackCase{"train_lag_30", 2, 1, {0, 2, 14, 15, 16, 29}, {1, 1, 1, 0, 0, 0}, 3, 30, -1, 0b111000}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

struct MpmlqRun {
    const char *name;
    int level;
    Word16 lag;
};

class MpmlqSubframe : public ::testing::TestWithParam<MpmlqRun> {};

// Whatever the search picks, its coded fields must rebuild the very
// excitation it leaves in the target buffer.
TEST_P(MpmlqSubframe, CodedFieldsRebuildTheExcitation) {
    const MpmlqRun &r = GetParam();
    std::mt19937 rng(static_cast<unsigned>(r.level * 7 + r.lag));
    for (int trial = 0; trial < 24; ++trial) {
        const int s = trial % SUBFRAMES;
        Vec t = random_vec(rng, r.level);
        Vec h = impulse_response(0.7 + 0.01 * (trial % 20), 0.3 + 0.05 * trial);
        const Vec h_in = h;
        Frame_params p{};
        p.ol_lag[s >> 1] = r.lag;
        Word16 budget = 0;
        fcb_search(RATE_63, budget, t.data(), h.data(), p, static_cast<Word16>(s));
        EXPECT_EQ(h, h_in);
        EXPECT_EQ(budget, 0);

        const Subframe_params &sub = p.sub[s];
        if (r.lag >= 58) {
            EXPECT_EQ(sub.train, 0);
        }
        Vec out{};
        fcb_decode(out.data(), sub, r.lag, static_cast<Word16>(s), RATE_63);
        ASSERT_EQ(out, t) << "trial " << trial;

        Vec single{};
        Subframe_params no_train = sub;
        no_train.train = 0;
        fcb_decode(single.data(), no_train, r.lag, static_cast<Word16>(s), RATE_63);
        EXPECT_EQ(std::count_if(single.begin(), single.end(), [](Word16 x) { return x != 0; }), Nb_puls[s]);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, MpmlqSubframe,
                         ::testing::Values(MpmlqRun{"quiet_no_train", 40, 90}, MpmlqRun{"speech_no_train", 3000, 58},
                                           MpmlqRun{"speech_train", 3000, 40}, MpmlqRun{"loud_train", 30000, 18},
                                           MpmlqRun{"loud_no_train", 32767, 141}, MpmlqRun{"train_57", 800, 57}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(MpmlqSubframe, ZeroTargetTakesTheSmallestMagnitude) {
    for (int s = 0; s < SUBFRAMES; ++s) {
        Vec t{};
        Vec h = impulse_response();
        Frame_params p{};
        p.ol_lag[s >> 1] = 40;
        Word16 budget = 0;
        fcb_search(RATE_63, budget, t.data(), h.data(), p, static_cast<Word16>(s));
        // Every criterion is minus a filtered energy, so the weakest pulses win.
        EXPECT_EQ(p.sub[s].fcb_gain, 0);
        Vec out{};
        fcb_decode(out.data(), p.sub[s], 40, static_cast<Word16>(s), RATE_63);
        EXPECT_EQ(out, t);
    }
}

// When no candidate beats the initial criterion the fallback is coded; it
// must be a valid pulse set like any other.
TEST(MpmlqFallback, UnbeatenSearchCodesTheFallbackPulses) {
    for (const int np : {5, 6}) {
        Mpmlq_best best = mpmlq_initial_best(np);
        best.max_err = MAX_32;  // nothing can beat this
        std::mt19937 rng(9);
        const Vec t = random_vec(rng, 5000);
        const Vec h = impulse_response();
        mpmlq_search(best, t.data(), h.data(), np, 60);
        mpmlq_search(best, t.data(), h.data(), np, 30);
        EXPECT_EQ(best.max_err, MAX_32);

        Vec v{};
        for (int i = 0; i < np; ++i) v[best.pos[i]] = best.amp[i];
        Subframe_params sub{};
        mpmlq_pack(v.data(), sub, best, np);
        const Word16 s = np == 6 ? 0 : 1;
        Vec out{};
        fcb_decode(out.data(), sub, 60, s, RATE_63);
        EXPECT_EQ(out, v);
        EXPECT_EQ(sub.pulse_pos, 0);
        EXPECT_EQ(sub.train, 0);
        EXPECT_EQ(std::count(out.begin(), out.end(), FcbkGainTable[0]), np);
    }
}

// ---------------------------------------------------------------- ACELP

struct AcelpRun {
    const char *name;
    int level;
    Word16 ol_lag;
    Word16 lag_offset;
    Word16 acb_gain;  // selects the sharpening lag correction and gain
};

class AcelpSubframe : public ::testing::TestWithParam<AcelpRun> {};

TEST_P(AcelpSubframe, CodedFieldsRebuildTheExcitation) {
    const AcelpRun &r = GetParam();
    std::mt19937 rng(static_cast<unsigned>(r.level + r.acb_gain * 13 + r.ol_lag));
    Word16 budget = 0;
    for (int trial = 0; trial < 24; ++trial) {
        const int s = trial % SUBFRAMES;
        Vec t = random_vec(rng, r.level);
        Vec h = impulse_response(0.7 + 0.01 * (trial % 20), 0.2 + 0.07 * trial);
        Frame_params p{};
        p.ol_lag[s >> 1] = r.ol_lag;
        p.sub[s].lag_offset = r.lag_offset;
        p.sub[s].acb_gain = r.acb_gain;
        fcb_search(RATE_53, budget, t.data(), h.data(), p, static_cast<Word16>(s));

        const Subframe_params &sub = p.sub[s];
        EXPECT_GE(sub.pulse_pos, 0);
        EXPECT_LT(sub.pulse_pos, 4096);
        EXPECT_LT(sub.pulse_signs, 16);
        EXPECT_EQ(sub.train, 0);
        Vec out{};
        fcb_decode(out.data(), sub, r.ol_lag, static_cast<Word16>(s), RATE_53);
        ASSERT_EQ(out, t) << "trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, AcelpSubframe,
                         ::testing::Values(AcelpRun{"unsharpened", 3000, 60, 1, 0},
                                           AcelpRun{"sharpened_short_lag", 3000, 20, 1, 3},
                                           AcelpRun{"sharpened_odd_offset", 2000, 30, 3, 4},
                                           AcelpRun{"sharpened_long", 500, 55, 2, 5}, AcelpRun{"quiet", 10, 40, 1, 1},
                                           AcelpRun{"full_scale", 32767, 18, 0, 3},
                                           AcelpRun{"long_lag", 8000, 141, 3, 100}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

// Pulses at 60..63 do not exist in the subframe: they cost no energy, so a
// track whose in-range positions all correlate negatively picks its last
// index and codes it as positive.
TEST(AcelpPulseSearch, PulseBeyondTheSubframeIsCodedButAbsent) {
    Vec h = impulse_response(0.6, 0.5);
    Word16 rr[ACELP_RR_SIZE];
    acelp_corr_matrix(h.data(), rr);
    Word16 d[ACELP_D_LEN] = {};
    d[0] = d[2] = d[4] = 1000;
    for (int a = 0; a < 7; ++a) {
        d[6 + 8 * a] = -50;
        d[7 + 8 * a] = 60;  // keeps the pair's sign positive
    }
    Word16 budget = 0;
    Acelp_result res{};
    acelp_pulse_search(d, rr, h.data(), budget, res);
    EXPECT_EQ(res.grid, 0);
    EXPECT_EQ(res.index, 7 << 9);
    EXPECT_EQ(res.signs & 0x8, 0x8);
    Vec expect_code{};
    expect_code[0] = expect_code[2] = expect_code[4] = 1;
    EXPECT_TRUE(std::equal(expect_code.begin(), expect_code.end(), res.code));
}

struct BudgetCase {
    const char *name;
    std::vector<int> hot;  // positions given d = 1000, all else 0
    Word16 carry_in;
    Word16 carry_out;
};

class AcelpBudget : public ::testing::TestWithParam<BudgetCase> {};

// The carry one pulse search leaves, with d = 1000 at the hot positions.
Word16 budget_after_search(const std::vector<int> &hot, Word16 carry) {
    Vec h = impulse_response();
    Word16 rr[ACELP_RR_SIZE];
    acelp_corr_matrix(h.data(), rr);
    Word16 d[ACELP_D_LEN] = {};
    for (const int p : hot) d[p] = 1000;
    Acelp_result res{};
    acelp_pulse_search(d, rr, h.data(), carry, res);
    return carry;
}

// Each triple that passes the threshold costs one fourth-pulse loop; what
// is left is carried, and an exhausted budget ends the search at 0.
TEST_P(AcelpBudget, CarriesWhatIsLeft) {
    const BudgetCase &c = GetParam();
    EXPECT_EQ(budget_after_search(c.hot, c.carry_in), c.carry_out);
}

INSTANTIATE_TEST_SUITE_P(Carry, AcelpBudget,
                         ::testing::Values(
                             // Flat correlation: no triple rises above the threshold.
                             BudgetCase{"flat_from_zero", {}, 0, 120}, BudgetCase{"flat_accumulates", {}, 500, 620},
                             BudgetCase{"flat_saturates", {}, 32700, 32767},
                             // One hot track-0 position: the 64 triples through it pass.
                             BudgetCase{"one_hot_spends_64", {0}, 0, 56},
                             BudgetCase{"one_hot_with_carry", {0}, 100, 156},
                             BudgetCase{"one_hot_runs_out", {0}, -100, 0},
                             // Two hot track-0 positions: 128 triples, more than the base budget.
                             BudgetCase{"two_hot_exhausts", {0, 8}, 0, 0}, BudgetCase{"two_hot_exact", {0, 8}, 8, 0},
                             BudgetCase{"two_hot_with_carry", {0, 8}, 20, 12}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

// Whatever was carried before, a reset leaves what a search that spent
// nothing leaves, and the next search then affords all 128 triples of two
// hot positions (which a spent carry does not).
TEST(AcelpBudget, ResetGivesTheFullBudget) {
    const Word16 untouched = budget_after_search({}, 0);
    const std::vector<int> two_hot = {0, 8};
    for (const Word16 carry : {Word16{-100}, Word16{0}, Word16{32767}}) {
        Word16 b = carry;
        reset_acelp_budget(b);
        EXPECT_EQ(b, untouched) << carry;
        EXPECT_EQ(budget_after_search(two_hot, b), untouched + untouched - 128) << carry;
    }
    EXPECT_EQ(budget_after_search(two_hot, -100), 0);
}

TEST(AcelpGain, IndexFollowsTheCorrelation) {
    const Vec h = impulse_response();
    Vec y{};
    for (int i = 0; i < SUBFRAME_LEN; ++i) y[i] = h[i];
    struct Case {
        const char *name;
        double scale;  // x = scale * y
        bool expect_zero;
    };
    const Case cases[] = {
        {"opposite", -1.0, true}, {"silent", 0.0, true}, {"weak", 0.002, false}, {"strong", 0.5, false}};
    Word16 last = -1;
    for (const Case &c : cases) {
        Vec x{};
        for (int i = 0; i < SUBFRAME_LEN; ++i) x[i] = static_cast<Word16>(std::lround(c.scale * y[i]));
        Vec yy = y;
        Word16 gq = 0;
        const Word16 index = acelp_gain(x.data(), yy.data(), gq);
        EXPECT_EQ(gq, FcbkGainTable[index]) << c.name;
        if (c.expect_zero) {
            EXPECT_EQ(index, 0) << c.name;
        } else {
            EXPECT_GT(index, last) << c.name;  // a stronger target never lowers the gain
            last = index;
        }
    }
    // Half the filtered code vector (which the gain sees divided by 8) asks
    // for a gain of about 4: well up the table.
    EXPECT_GE(last, 10);
}

// ---------------------------------------------------------------- taming

struct TamingTestCase {
    const char *name;
    std::array<Word32, 5> err;
    Word16 sine_det;
    Word16 lag_lo;
    Word16 lag_hi;
    Word16 expect;
};

class TamingTest : public ::testing::TestWithParam<TamingTestCase> {};

TEST_P(TamingTest, Offset) {
    const TamingTestCase &c = GetParam();
    Enc_state st = reset_state();
    std::copy(c.err.begin(), c.err.end(), st.taming_err);
    st.sine_det = c.sine_det;
    const Word16 off = taming_test(st, RATE_63, c.lag_lo, c.lag_hi);
    EXPECT_EQ(off, c.expect);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 128);
}

constexpr Word32 BIG = 0x50000000;

INSTANTIATE_TEST_SUITE_P(
    Bounds, TamingTest,
    ::testing::Values(TamingTestCase{"after_reset", {4, 4, 4, 4, 4}, 0, 18, 20, 127},
                      TamingTestCase{"all_zero", {0, 0, 0, 0, 0}, 0, 60, 63, 128},
                      TamingTestCase{"one_step_below", {0x3f800000, 4, 4, 4, 4}, 0, 18, 20, 1},
                      TamingTestCase{"just_above_step", {0x3f800001, 4, 4, 4, 4}, 0, 18, 20, 0},
                      TamingTestCase{"at_limit", {0x40000000, 4, 4, 4, 4}, 0, 18, 20, 0},
                      TamingTestCase{"beyond_limit", {BIG, 4, 4, 4, 4}, 0, 18, 20, 0},
                      TamingTestCase{"sine_input", {4, 4, 4, 4, 4}, -32768, 18, 20, 0},
                      TamingTestCase{"far_zone_ignored_for_short_lags", {4, 4, 4, 4, BIG}, 0, 18, 20, 127},
                      TamingTestCase{"far_zone_seen_by_long_lags", {4, 4, 4, 4, BIG}, 0, 139, 141, 0},
                      TamingTestCase{"near_zone_ignored_for_long_lags", {BIG, 4, 4, 4, 4}, 0, 100, 102, 127},
                      TamingTestCase{"middle_zone", {4, 4, 0x20000000, 4, 4}, 0, 60, 63, 64}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

struct TamingUpdateCase {
    const char *name;
    Word16 base_lag;
    Word16 lag_offset;
    std::array<Word32, 2> expect;  // new entries 0 and 1
};

class TamingUpdate : public ::testing::TestWithParam<TamingUpdateCase> {};

// With gain vector 0 (factor 1024, 1/8 in Q13) a zone's estimate v becomes
// v/8 + 4: zones {8000 .. 40000} become {1004 .. 5004}.
TEST_P(TamingUpdate, ZonesAdvanceByTwo) {
    const TamingUpdateCase &c = GetParam();
    Enc_state st = reset_state();
    const Word32 start[5] = {8000, 16000, 24000, 32000, 40000};
    std::copy(start, start + 5, st.taming_err);
    taming_update(st, RATE_63, c.base_lag, c.lag_offset, 0);
    EXPECT_EQ(st.taming_err[0], c.expect[0]);
    EXPECT_EQ(st.taming_err[1], c.expect[1]);
    EXPECT_EQ(st.taming_err[2], 8000);
    EXPECT_EQ(st.taming_err[3], 16000);
    EXPECT_EQ(st.taming_err[4], 24000);
}

INSTANTIATE_TEST_SUITE_P(Lags, TamingUpdate,
                         ::testing::Values(TamingUpdateCase{"lag_17", 18, 0, {1004, 1004}},
                                           TamingUpdateCase{"lag_30", 30, 1, {1004, 1004}},
                                           TamingUpdateCase{"lag_45_one_zone", 44, 2, {2004, 2004}},
                                           TamingUpdateCase{"lag_60_exact_zones", 60, 1, {1004, 2004}},
                                           TamingUpdateCase{"lag_61", 60, 2, {2004, 3004}},
                                           TamingUpdateCase{"lag_90_exact_zones", 91, 0, {2004, 3004}},
                                           TamingUpdateCase{"lag_143", 141, 3, {4004, 5004}}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(TamingUpdate, FactorFollowsTheGainTableOfTheSubframe) {
    struct Case {
        int rate;
        Word16 base_lag;
        Word16 gain_index;
        Word16 beta;
    };
    const Case cases[] = {{RATE_63, 57, 1, 1308},
                          {RATE_63, 58, 1, 1591},
                          {RATE_53, 20, 1, 1591},
                          {RATE_63, 30, 84, 15255},
                          {RATE_53, 120, 169, 18409}};
    for (const Case &c : cases) {
        Enc_state st = reset_state();
        for (auto &e : st.taming_err) e = 32768;  // mult_32_16(32768, beta) = beta
        taming_update(st, c.rate, c.base_lag, 1, c.gain_index);
        EXPECT_EQ(st.taming_err[0], 4 + 4 * Word32{c.beta}) << "lag " << c.base_lag;
    }
}

// ---------------------------------------------------------------- adaptive codebook

struct AcbCase {
    const char *name;
    int rate;
    Word16 s;
    Word16 ol_lag;      // open-loop (even) or base (odd) lag on entry
    Word16 lag_offset;  // odd subframes: the true offset; even: true lag = ol_lag - 1 + k
    Word16 true_lag;
    Word16 gain_index;
};

class AcbSearch : public ::testing::TestWithParam<AcbCase> {};

// A target made exactly of a known lag and gain vector is found again, and
// removing it leaves (almost) nothing.
TEST_P(AcbSearch, FindsTheLagAndGainOfAPeriodicTarget) {
    const AcbCase &c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.true_lag * 31 + c.gain_index));
    Enc_state st = reset_state();
    std::uniform_int_distribution<int> dist(-3000, 3000);
    for (auto &e : st.prev_exc) e = static_cast<Word16>(dist(rng));
    const Vec h = impulse_response(0.75, 0.4, 16384);

    const int odd = c.s & 1;
    const Word16 stored_ol = odd ? c.ol_lag : c.true_lag;
    const Word16 stored_off = odd ? static_cast<Word16>(c.true_lag - c.ol_lag + 1) : Word16{1};
    Vec e{};
    acb_excitation(e.data(), st.prev_exc, stored_ol, stored_off, c.gain_index, c.rate);
    Vec x{};
    for (int i = 0; i < SUBFRAME_LEN; ++i) {
        long long acc = 0;
        for (int j = 0; j <= i; ++j) acc += static_cast<long long>(e[j]) * h[i - j];
        x[i] = static_cast<Word16>(std::clamp<long long>(acc >> 14, -32768, 32767));
    }

    Frame_params p{};
    p.ol_lag[c.s >> 1] = c.ol_lag;
    acb_search(st, c.rate, x.data(), h.data(), p, c.s);
    EXPECT_EQ(p.ol_lag[c.s >> 1], stored_ol);
    EXPECT_EQ(p.sub[c.s].lag_offset, stored_off);
    EXPECT_EQ(p.sub[c.s].acb_gain, c.gain_index);
    for (int i = 0; i < SUBFRAME_LEN; ++i) EXPECT_LE(std::abs(x[i]), 2) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Targets, AcbSearch,
                         ::testing::Values(AcbCase{"even_63_long", RATE_63, 0, 80, 1, 81, 40},
                                           AcbCase{"even_63_short_small_table", RATE_63, 2, 40, 1, 39, 30},
                                           AcbCase{"even_53_short", RATE_53, 0, 25, 1, 25, 120},
                                           AcbCase{"odd_53_offset_3", RATE_53, 1, 50, 3, 52, 100},
                                           AcbCase{"odd_63_offset_0", RATE_63, 3, 100, 0, 99, 150},
                                           AcbCase{"odd_63_short", RATE_63, 1, 30, 2, 31, 60},
                                           AcbCase{"even_clamped_low", RATE_63, 0, 18, 1, 18, 20},
                                           AcbCase{"even_clamped_high", RATE_53, 2, 141, 1, 141, 7}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(AcbSearch, SilentTargetKeepsTheBaseLagWithGainZero) {
    struct Case {
        Word16 s;
        Word16 ol_lag;
        Word16 expect_ol;
    };
    const Case cases[] = {{0, 18, 19}, {2, 141, 140}, {0, 77, 77}, {1, 18, 18}, {3, 141, 141}};
    for (const Case &c : cases) {
        Enc_state st = reset_state();
        for (int i = 0; i < ACB_LAG_MAX; ++i) st.prev_exc[i] = static_cast<Word16>((i * 37) % 2001 - 1000);
        const Vec h = impulse_response();
        Vec x{};
        Frame_params p{};
        p.ol_lag[c.s >> 1] = c.ol_lag;
        acb_search(st, RATE_63, x.data(), h.data(), p, c.s);
        EXPECT_EQ(p.ol_lag[c.s >> 1], c.expect_ol);
        EXPECT_EQ(p.sub[c.s].lag_offset, 1);
        EXPECT_EQ(p.sub[c.s].acb_gain, 0);
        EXPECT_EQ(x, Vec{});
    }
}

// Taming limits the search to the start of the sorted gain table.
TEST(AcbSearch, TamedSearchStaysInTheFirstVectors) {
    for (const int rate : {RATE_63, RATE_53}) {
        std::mt19937 rng(77);
        for (int trial = 0; trial < 20; ++trial) {
            Enc_state st = reset_state();
            for (auto &e : st.prev_exc) e = static_cast<Word16>(std::uniform_int_distribution<int>(-8000, 8000)(rng));
            st.sine_det = -1;
            const Vec h = impulse_response();
            Vec x = random_vec(rng, 6000);
            Frame_params p{};
            p.ol_lag[0] = static_cast<Word16>(20 + 6 * trial);
            acb_search(st, rate, x.data(), h.data(), p, 0);
            const bool big = rate == RATE_53 || p.ol_lag[0] >= 58;
            EXPECT_LT(p.sub[0].acb_gain, big ? 93 : 51);
        }
    }
}

TEST(FcbSearch, UnknownRateChangesNothing) {
    std::mt19937 rng(3);
    Vec t = random_vec(rng, 1000);
    Vec h = impulse_response();
    const Vec t0 = t;
    const Vec h0 = h;
    Frame_params p{};
    p.ol_lag[0] = 40;
    p.sub[0].acb_gain = 5;
    const Frame_params p0 = p;
    Word16 budget = 33;
    fcb_search(2, budget, t.data(), h.data(), p, 0);
    EXPECT_EQ(t, t0);
    EXPECT_EQ(h, h0);
    EXPECT_EQ(budget, 33);
    EXPECT_EQ(std::memcmp(&p, &p0, sizeof p), 0);
}

}  // namespace

namespace {

// Full-scale noise, square waves and corrupt lags through every search:
// nothing may read outside its buffers (run under the sanitizers), and every
// coded field must stay inside its range.
TEST(SearchRobustness, ExtremeInputsGiveCodableParameters) {
    std::mt19937 rng(2024);
    const Word16 lags[] = {-5, 0, 17, 18, 57, 58, 141, 142, 145, 300, 32767};
    for (int trial = 0; trial < 300; ++trial) {
        const int rate = trial % 2 == 0 ? RATE_63 : RATE_53;
        const Word16 s = static_cast<Word16>(trial % SUBFRAMES);
        Enc_state st = reset_state();
        const bool square = trial % 3 == 0;
        for (int i = 0; i < ACB_LAG_MAX; ++i)
            st.prev_exc[i] = square ? static_cast<Word16>((i / 7) % 2 ? 32767 : -32768)
                                    : static_cast<Word16>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
        if (trial % 5 == 0) st.sine_det = -1;
        if (trial % 7 == 0)
            for (auto &e : st.taming_err) e = std::uniform_int_distribution<Word32>(-0x7fffffff, 0x7fffffff)(rng);
        Vec x = random_vec(rng, 32767);
        Vec h = random_vec(rng, 32767);
        if (square) x.fill(-32768);
        Frame_params p{};
        p.ol_lag[s >> 1] = lags[trial % std::size(lags)];
        p.sub[s].acb_gain = static_cast<Word16>(trial % 200);
        Word16 budget = static_cast<Word16>(trial * 113);

        acb_search(st, rate, x.data(), h.data(), p, s);
        const Subframe_params &sub = p.sub[s];
        EXPECT_GE(sub.lag_offset, 0);
        EXPECT_LE(sub.lag_offset, 3);
        EXPECT_GE(sub.acb_gain, 0);
        EXPECT_LT(sub.acb_gain, 170);

        fcb_search(rate, budget, x.data(), h.data(), p, s);
        EXPECT_GE(sub.fcb_gain, 0);
        EXPECT_LT(sub.fcb_gain, 24);
        EXPECT_GE(sub.pulse_pos, 0);
        EXPECT_LT(sub.pulse_pos, rate == RATE_63 ? MaxPosTable[s] : 4096);

        taming_update(st, rate, p.ol_lag[s >> 1], sub.lag_offset, sub.acb_gain);
        const Word16 off = taming_test(st, rate, p.ol_lag[s >> 1], static_cast<Word16>(p.ol_lag[s >> 1] + 3));
        EXPECT_GE(off, 0);
        EXPECT_LE(off, 128);
    }
}

}  // namespace
