// Decoder driver, concealment and postfilter behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/frame.h"
#include "g723/common/tables.h"
#include "g723/decoder/decoder.h"
#include "g723/decoder/lpc_synth.h"
#include "g723/decoder/postfilter.h"

namespace {

using namespace qrxc::g723;
using Bytes = std::array<unsigned char, 24>;

Dec_state fresh() {
    Dec_state st;
    g723_decoder_reset(st);
    return st;
}

Bytes bad_frame() {
    Bytes b{};
    b[3] = 124;
    return b;
}

// Good frames of a reference stream, for realistic decoder states.
std::vector<Bytes> stream_frames(const char *name, size_t frame_bytes) {
    const auto path = std::filesystem::path(QRXC_TEST_DATA) / "conformance" / "decode" / name;
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> all{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::vector<Bytes> frames;
    for (size_t off = 16; off + frame_bytes <= all.size(); off += frame_bytes) {
        Bytes b{};
        std::memcpy(b.data(), all.data() + off, frame_bytes);
        frames.push_back(b);
    }
    return frames;
}

TEST(Decoder, ZeroFrameAtSixThreeBuildsUnitPulses) {
    Dec_state st = fresh();
    const Bytes zero{};
    Word16 out[FRAME_LEN];
    EXPECT_EQ(g723_decode_frame(st, RATE_63, out, zero.data(), 0), 1);
    EXPECT_EQ(st.erase_count, 0);
    EXPECT_TRUE(std::equal(st.prev_lsp, st.prev_lsp + 10, LspDcTable));
    // prev_exc holds frame samples 95..239: +2 on the first 6 even positions
    // of subframes 2 and 3 (the pulses of subframes 0 and 1 end before 95).
    for (int i = 0; i < ACB_LAG_MAX; ++i) {
        const int n = i + FRAME_LEN - ACB_LAG_MAX;
        const int pos = n % SUBFRAME_LEN;
        const int sub = n / SUBFRAME_LEN;
        const bool pulse = sub >= 2 && pos % 2 == 0 && pos / 2 < Nb_puls[sub];
        ASSERT_EQ(st.prev_exc[i], pulse ? 2 : 0) << n;
    }
    EXPECT_EQ(st.interp_gain, FcbkGainTable[0]);
}

TEST(Decoder, BadFirstFrameIsSilentAndAdvancesTheSeed) {
    Dec_state st = fresh();
    const Bytes b = bad_frame();
    Word16 out[FRAME_LEN];
    g723_decode_frame(st, RATE_53, out, b.data(), 0);
    for (Word16 v : out) ASSERT_EQ(v, 0);
    Word16 seed = 0;
    for (int i = 0; i < FRAME_LEN; ++i) rand16(seed);
    EXPECT_EQ(st.rand_seed, seed);
    EXPECT_EQ(st.erase_count, 1);
}

TEST(Decoder, CallerErasureFlagConcealsAGoodFrame) {
    Dec_state st = fresh();
    const Bytes zero{};
    Word16 out[FRAME_LEN];
    g723_decode_frame(st, RATE_63, out, zero.data(), 1);
    EXPECT_EQ(st.erase_count, 1);
}

TEST(Decoder, ConcealmentGainFollowsTheLastGoodFrame) {
    Frame_params p{};
    p.ol_lag[0] = p.ol_lag[1] = 60;
    for (auto &s : p.sub) s.lag_offset = 1;
    p.sub[2].fcb_gain = 23;
    p.sub[3].fcb_gain = 22;
    Bytes good;
    frame_pack(p, RATE_53, good.data());
    const Bytes bad = bad_frame();
    Dec_state st = fresh();
    Word16 out[FRAME_LEN];
    g723_decode_frame(st, RATE_53, out, good.data(), 0);
    EXPECT_EQ(st.interp_gain, 4582);
    g723_decode_frame(st, RATE_53, out, bad.data(), 0);
    EXPECT_EQ(st.interp_gain, 3437);
    g723_decode_frame(st, RATE_53, out, bad.data(), 0);
    EXPECT_EQ(st.interp_gain, 2578);
}

TEST(Decoder, VoicedRegenerationRepeatsThePeriodAtThreeQuarters) {
    Word16 buf[EXC_BUF_LEN] = {};
    for (int i = 0; i < ACB_LAG_MAX; ++i) buf[i] = static_cast<Word16>(37 * i - 2000);
    const Word16 lag = 40;
    Word16 out[FRAME_LEN];
    Word16 seed = 5;
    erasure_regen(out, buf, lag, 1000, 1, seed);
    EXPECT_EQ(seed, 5);
    for (int n = 0; n < FRAME_LEN; ++n) {
        const Word16 src = static_cast<Word16>(37 * (ACB_LAG_MAX - lag + n % lag) - 2000);
        ASSERT_EQ(out[n], mult(src, 0x6000)) << n;
        ASSERT_EQ(buf[ACB_LAG_MAX + n], out[n]);
    }
    // The next frame repeats the regenerated one: 9/16 of the original.
    Word16 next[EXC_BUF_LEN];
    std::memcpy(next, buf + FRAME_LEN, sizeof(Word16) * ACB_LAG_MAX);
    erasure_regen(out, next, lag, 1000, 2, seed);
    for (int n = 0; n < FRAME_LEN; ++n) {
        const Word16 src = static_cast<Word16>(37 * (ACB_LAG_MAX - lag + n % lag) - 2000);
        ASSERT_EQ(out[n], mult(mult(src, 0x6000), 0x6000)) << n;
    }
}

TEST(Decoder, UnvoicedAndLongRunRegeneration) {
    Word16 buf[EXC_BUF_LEN];
    std::fill(buf, buf + EXC_BUF_LEN, Word16{300});
    Word16 out[FRAME_LEN];
    Word16 seed = 0, ref_seed = 0;
    erasure_regen(out, buf, 0, 2000, 2, seed);
    for (int n = 0; n < FRAME_LEN; ++n) ASSERT_EQ(out[n], mult(2000, rand16(ref_seed)));
    EXPECT_EQ(seed, ref_seed);
    for (Word16 v : buf) ASSERT_EQ(v, 0);

    std::fill(buf, buf + EXC_BUF_LEN, Word16{300});
    erasure_regen(out, buf, 50, 2000, 3, seed);
    EXPECT_EQ(seed, ref_seed);
    for (Word16 v : out) ASSERT_EQ(v, 0);
    for (Word16 v : buf) ASSERT_EQ(v, 0);
}

TEST(Decoder, ErasureInfoFindsThePeriodOfAPulseTrain) {
    Word16 buf[EXC_BUF_LEN] = {};
    for (int n = 0; n < EXC_BUF_LEN; n += 50) buf[n] = 8000;
    EXPECT_EQ(erasure_info(buf, 49), 50);
    EXPECT_EQ(erasure_info(buf, 60), 0);  // 57..63 all miss the period
    Word16 silent[EXC_BUF_LEN] = {};
    EXPECT_EQ(erasure_info(silent, 50), 0);
}

// Runs of bad frames inside real speech: the counter saturates, the
// excitation dies after the third, and the first good frame recovers.
TEST(Decoder, ConcealmentOverRunsOfBadFrames) {
    const std::vector<Bytes> speech = stream_frames("CODEC63_RCO.QRX", 24);
    ASSERT_GE(speech.size(), 40u);
    const Bytes bad = bad_frame();
    for (int run : {1, 2, 3, 4, 6}) {
        SCOPED_TRACE(run);
        Dec_state st = fresh();
        Word16 out[FRAME_LEN];
        size_t f = 0;
        for (; f < 30; ++f) g723_decode_frame(st, RATE_63, out, speech[f].data(), 0);
        const Word16 lag = st.interp_lag;
        Word16 gain = st.interp_gain;
        for (int k = 1; k <= run; ++k) {
            Dec_state before = st;
            g723_decode_frame(st, RATE_63, out, bad.data(), 0);
            EXPECT_EQ(st.erase_count, std::min(k, 3));
            gain = mult_r(gain, 0x6000);
            EXPECT_EQ(st.interp_gain, gain);
            EXPECT_EQ(st.interp_lag, lag);
            const bool dead = k >= 3;
            const bool all_zero = std::all_of(st.prev_exc, st.prev_exc + ACB_LAG_MAX, [](Word16 v) { return v == 0; });
            if (dead || lag == 0) {
                EXPECT_TRUE(all_zero);
            }
            if (!dead && lag == 0) {
                EXPECT_NE(st.rand_seed, before.rand_seed);
            }
            if (dead || lag != 0) {
                EXPECT_EQ(st.rand_seed, before.rand_seed);
            }
        }
        g723_decode_frame(st, RATE_63, out, speech[f].data(), 0);
        EXPECT_EQ(st.erase_count, 0);
        // Output after recovery is bounded and keeps changing with the input.
        bool any = false;
        for (int k = 0; k < 5; ++k) {
            g723_decode_frame(st, RATE_63, out, speech[f + 1 + static_cast<size_t>(k)].data(), 0);
            any |= std::any_of(out, out + FRAME_LEN, [](Word16 v) { return v != 0; });
        }
        EXPECT_TRUE(any);
    }
}

TEST(Decoder, GarbageFramesAlwaysDecode) {
    // Every byte value in every position at both rates: no crash, the
    // counter behaves.
    for (int rate : {RATE_63, RATE_53}) {
        Dec_state st = fresh();
        Word16 out[FRAME_LEN];
        for (int pos = 0; pos < 24; ++pos) {
            for (int v = 0; v < 256; v += 3) {
                Bytes b{};
                b.fill(static_cast<unsigned char>(0x5a ^ pos));
                b[static_cast<size_t>(pos)] = static_cast<unsigned char>(v);
                ASSERT_EQ(g723_decode_frame(st, rate, out, b.data(), 0), 1);
                ASSERT_LE(st.erase_count, 3);
            }
        }
    }
}

// Leaves non-zero bytes in the stack area the decoder's buffers will use.
__attribute__((noinline)) void dirty_stack() {
    volatile Word16 junk[4096];
    for (int i = 0; i < 4096; ++i) junk[i] = static_cast<Word16>(0x1357 + i);
    (void)junk[100];
}

TEST(Decoder, UnknownRateGivesSilenceNotStackContents) {
    Dec_state st = fresh();
    const Bytes zero{};
    Word16 out[FRAME_LEN];
    dirty_stack();
    g723_decode_frame(st, 7, out, zero.data(), 0);
    for (Word16 v : out) ASSERT_EQ(v, 0);
}

// ---- postfilter ----

TEST(Postfilter, NoPositiveCorrelationMeansNoFiltering) {
    Word16 buf[EXC_BUF_LEN] = {};
    // One pulse, and a negative one where a forward partner would start.
    buf[ACB_LAG_MAX] = 1000;
    buf[ACB_LAG_MAX + SUBFRAME_LEN + 2] = -3000;
    const Pf_params pf = pitch_pf_params(buf, 60, 0, RATE_63);
    EXPECT_EQ(pf.lag, 0);
    EXPECT_EQ(pf.gain_q15, 0);
    EXPECT_EQ(pf.scale_q15, 0x7fff);
    Word16 out[FRAME_LEN] = {};
    pitch_pf_filter(out, buf, pf, 0);
    for (int n = 0; n < SUBFRAME_LEN; ++n) ASSERT_EQ(out[n], mult_r(buf[ACB_LAG_MAX + n], 0x7fff));
}

// A periodic excitation with period P; the postfilter should pick +-P.
struct PfCase {
    const char *name;
    int period;
    Word16 ol_lag;
    int subframe;
    int want_abs_lag;
    bool forward_allowed;
};

class PitchPostfilter : public ::testing::TestWithParam<PfCase> {};

TEST_P(PitchPostfilter, PicksThePeriod) {
    const PfCase &c = GetParam();
    Word16 buf[EXC_BUF_LEN];
    for (int n = 0; n < EXC_BUF_LEN; ++n) buf[n] = static_cast<Word16>(n % c.period < 3 ? 4000 : -200);
    const Pf_params pf = pitch_pf_params(buf, c.ol_lag, c.subframe, RATE_53);
    EXPECT_EQ(std::abs(pf.lag), c.want_abs_lag);
    if (!c.forward_allowed) {
        EXPECT_LE(pf.lag, 0);
    }
    EXPECT_GT(pf.gain_q15, 0);
    EXPECT_LE(pf.gain_q15, 8192);
}

INSTANTIATE_TEST_SUITE_P(Cases, PitchPostfilter,
                         ::testing::Values(PfCase{"mid_lag", 50, 51, 0, 50, true},
                                           PfCase{"last_subframe_backward_only", 50, 50, 3, 50, false},
                                           PfCase{"long_lag_searches_139_to_145", 145, 145, 0, 145, true},
                                           PfCase{"lag_above_142_is_clamped", 140, 145, 2, 140, true}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(Postfilter, SilentSubframeStaysSilentAndGainSettles) {
    Dec_state st = fresh();
    st.agc_gain_q12 = 1000;
    Word16 lpc[LPC_ORDER] = {};
    for (int k = 0; k < 40; ++k) {
        Word16 x[SUBFRAME_LEN] = {};
        lpc_synth(st, x, lpc);
        const Word32 e = formant_pf(st, x, lpc);
        EXPECT_EQ(e, 0);
        gain_scale(st, x, e);
        for (Word16 v : x) ASSERT_EQ(v, 0);
    }
    EXPECT_NEAR(st.agc_gain_q12, 4096, 16);
}

TEST(Postfilter, TiltMovesAQuarterTowardsTheReflectionCoefficient) {
    Dec_state st = fresh();
    Word16 lpc[LPC_ORDER] = {};
    Word16 x[SUBFRAME_LEN];
    // A constant subframe: r1 / r0 = 59/60, k = 16384 * 59/60 in these units.
    const int k = 16384 * 59 / 60;
    for (Word16 &v : x) v = 1000;
    formant_pf(st, x, lpc);
    EXPECT_NEAR(st.pf_tilt, k / 4, 4);
    for (Word16 &v : x) v = 1000;
    formant_pf(st, x, lpc);
    EXPECT_NEAR(st.pf_tilt, k * 7 / 16, 8);
}

}  // namespace
