#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "codec/context.h"
#include "codec/speed_path.h"
#include "speed/voice_effects.h"
#include "speed_support.h"

using qrxc::test::speed::open_context;

namespace {

// Position and size of the largest magnitude in y[from .. from + span).
std::pair<int, int> peak(const std::vector<std::int16_t> &y, int from, int span) {
    int at = 0, best = -1;
    for (int k = 0; k < span; ++k) {
        const int v = std::abs(y[static_cast<std::size_t>(from + k)]);
        if (v > best) {
            best = v;
            at = k;
        }
    }
    return {at, best};
}

// Runs a signal through one effect code in effect mode, frame by frame.
std::vector<std::int16_t> run_effect(Qrxc_context &ctx, int code, const std::vector<std::int16_t> &in) {
    const int F = ctx.stream.header.pcm_frame;
    std::vector<std::int16_t> out;
    std::vector<short> frame(static_cast<std::size_t>(2 * F));
    for (std::size_t at = 0; at + static_cast<std::size_t>(F) <= in.size(); at += static_cast<std::size_t>(F)) {
        EXPECT_EQ(qrxc::qrmd_frame(ctx, 0x80 | code, &in[at], frame.data()), 0);
        out.insert(out.end(), frame.begin(), frame.begin() + Qrmd_last_count_ctx(&ctx));
    }
    return out;
}

}  // namespace

TEST(VibratoSine, FollowsTheFormulaExceptTheListedEntries) {
    const std::pair<int, int> exceptions[] = {{982, 926},    {1151, -7484}, {1274, -12425},
                                              {1820, -8780}, {1910, -4572}, {1982, -927}};
    for (int k = 0; k < qrxc::VIBRATO_SINE_LEN; ++k) {
        int want = static_cast<int>(std::floor(16384.0 * std::sin(2 * std::numbers::pi * k / 2000.0)));
        for (auto [at, value] : exceptions)
            if (at == k) want = value;
        ASSERT_EQ(qrxc::VIBRATO_SINE[k], want) << "entry " << k;
    }
    EXPECT_EQ(qrxc::VIBRATO_SINE[500], 16384);
    EXPECT_EQ(qrxc::VIBRATO_SINE[1500], -16384);
}

TEST(PitchShift, ResampleStepFollowsTheTableFormula) {
    struct Case {
        int len, frame, step;
    };
    const Case cases[] = {
        {120, 240, 8192}, {240, 240, 16384}, {479, 240, 32699}, {480, 240, 32767},
        {100, 240, 6826}, {500, 240, 32767},  // beyond the table: same formula, saturated
        {160, 320, 8192}, {320, 320, 16384}, {639, 320, 32716}, {640, 320, 32767},
    };
    for (const Case &c : cases) EXPECT_EQ(qrxc::resample_step(c.len, c.frame), c.step) << c.len << "/" << c.frame;
}

// A steady tone of period P comes out with period P * F / L, L being the
// stretched length: settings 1..3 lower the pitch, 4..7 raise it. Setting 1
// does not halve the pitch exactly: the frame's tail is appended unshrunk.
TEST(PitchShift, SettingsScaleTheToneByFrameOverStretchedLength) {
    for (int F : {240, 320}) {
        for (double P : {30.0, 40.0, 50.0}) {
            for (int s = 1; s < qrxc::PITCH_SETTINGS; ++s) {
                const auto tone = qrxc::test::speed::sine(F, P, 10000);
                std::vector<std::int16_t> out(static_cast<std::size_t>(F));
                const int L = qrxc::pitch_shift(tone.data(), F, s, out.data());
                if (s <= 3) {
                    EXPECT_LT(L, F) << "setting " << s;
                } else {
                    EXPECT_GT(L, F) << "setting " << s;
                }
                const double period = qrxc::test::speed::estimate_period(out.data() + 20, F - 40, 10, 120, 0.3);
                EXPECT_NEAR(period, P * F / L, 0.01 * P * F / L) << "F " << F << " P " << P << " setting " << s;
            }
        }
    }
    const auto tone = qrxc::test::speed::sine(240, 40.0, 10000);
    std::vector<std::int16_t> out(240);
    EXPECT_EQ(qrxc::pitch_shift(tone.data(), 240, 1, out.data()), 160);  // 1.5 times the period, not 2
}

// Long periods with settings 3 and 4 ask for more samples per copy than the
// frame holds; the copies stop at what is left.
TEST(PitchShift, CopiesStayWithinTheFrameOnSpeechAndLongPeriods) {
    auto speech = qrxc::test::speed::load_speech();
    ASSERT_FALSE(speech.empty());
    const auto low = qrxc::test::speed::sine(320 * 4, 62.0, 12000);
    speech.insert(speech.end(), low.begin(), low.end());
    for (int F : {240, 320}) {
        std::vector<std::int16_t> out(static_cast<std::size_t>(F));
        for (int s = 1; s < qrxc::PITCH_SETTINGS; ++s) {
            for (std::size_t at = 0; at + static_cast<std::size_t>(F) <= speech.size();
                 at += static_cast<std::size_t>(F)) {
                const int L = qrxc::pitch_shift(&speech[at], F, s, out.data());
                ASSERT_GE(L, F / 2) << "setting " << s << " at " << at;
                ASSERT_LE(L, s <= 3 ? F : 2 * F) << "setting " << s << " at " << at;
            }
        }
    }
}

TEST(PitchShift, InterpolationSaturatesInsteadOfWrapping) {
    // The last output reads just past the stretched buffer's end and
    // extrapolates from its final two samples.
    auto tone = qrxc::test::speed::sine(240, 40.0, 10000);
    tone[238] = -32768;
    tone[239] = 32767;
    std::vector<std::int16_t> out(240);
    ASSERT_EQ(qrxc::pitch_shift(tone.data(), 240, 1, out.data()), 160);
    EXPECT_EQ(out[239], 32767);
}

TEST(Vibrato, SilenceStaysSilent) {
    qrxc::Vibrato_state vs{};
    std::vector<std::int16_t> x(2400, 0);
    qrxc::vibrato(vs, x.data(), 2400);
    EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](std::int16_t s) { return s == 0; }));
}

TEST(Vibrato, ImpulseDelaySwingsFromOneTo33WithAPeriodOf1000) {
    qrxc::Vibrato_state vs{};
    std::vector<std::int16_t> y(4000, 0);
    for (std::size_t i = 0; i < y.size(); i += 100) y[i] = 10000;
    // In frames of 240, as Qrmd_frame hands them over.
    for (std::size_t at = 0; at < y.size(); at += 240)
        qrxc::vibrato(vs, &y[at], static_cast<int>(std::min<std::size_t>(240, y.size() - at)));
    int shortest = 100, longest = 0;
    for (int i = 0; i < 3000; i += 100) {
        const int delay = peak(y, i, 60).first;
        shortest = std::min(shortest, delay);
        longest = std::max(longest, delay);
    }
    EXPECT_GE(shortest, 1);
    EXPECT_LE(shortest, 3);
    EXPECT_GE(longest, 31);
    EXPECT_LE(longest, 34);
    for (std::size_t i = 1000; i < 3000; ++i) ASSERT_EQ(y[i], y[i + 1000]) << i;
}

TEST(Vibrato, LoudInputSaturatesInsteadOfWrapping) {
    qrxc::Vibrato_state vs{};
    std::vector<std::int16_t> x(480, 32767);
    qrxc::vibrato(vs, x.data(), 480);
    // The all-pass overshoots as the delay line fills; it must clip, not flip sign.
    EXPECT_TRUE(std::all_of(x.begin() + 40, x.end(), [](std::int16_t s) { return s > 16000; }));
    EXPECT_EQ(*std::max_element(x.begin(), x.end()), 32767);
}

TEST(Echo, RepeatsAtItsSpacingWithDecayAcrossFrames) {
    struct Case {
        int variant, spacing;
    };
    for (const Case c : {Case{2, 160}, Case{3, 504}}) {
        qrxc::Echo_state es{};
        std::vector<std::int16_t> y(240 * 14, 0);
        y[0] = 16000;
        for (std::size_t at = 0; at < y.size(); at += 240) qrxc::echo(es, &y[at], 240, c.variant);
        std::int32_t expected = 16000;
        for (std::size_t i = 0; i < y.size(); ++i) {
            if (i % static_cast<std::size_t>(c.spacing) == 0) {
                ASSERT_EQ(y[i], expected) << "variant " << c.variant << " at " << i;
                expected = (expected * 10000) >> 14;
            } else {
                ASSERT_EQ(y[i], 0) << "variant " << c.variant << " at " << i;
            }
        }
    }
}

TEST(Echo, LoudInputSaturatesInsteadOfWrapping) {
    qrxc::Echo_state es{};
    std::vector<std::int16_t> y(240 * 6, 20000);
    for (std::size_t at = 0; at < y.size(); at += 240) qrxc::echo(es, &y[at], 240, 2);
    EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](std::int16_t s) { return s >= 20000; }));
    EXPECT_EQ(y.back(), 32767);
}

TEST(EffectChain, CodeSelectsTheEffects) {
    const auto tone = qrxc::test::speed::sine(240 * 4, 45.0, 9000);
    Qrxc_context plain = open_context(240);
    Qrmd_initial_ctx(&plain, 0x80);
    const auto reference = run_effect(plain, 0, tone);

    struct Case {
        int code;
        bool pitch, vibrato;
        int echo;  // 0 none, else the variant
    };
    const Case cases[] = {
        {0x00, false, false, 0}, {0x01, false, true, 0}, {0x02, false, false, 2}, {0x03, false, false, 3},
        {0x04, true, false, 0},  {0x1C, true, false, 0}, {0x0D, true, true, 0},   {0x16, true, false, 2},
    };
    for (const Case &c : cases) {
        Qrxc_context ctx = open_context(240);
        Qrmd_initial_ctx(&ctx, 0x80);
        const auto out = run_effect(ctx, c.code, tone);
        ASSERT_EQ(out.size(), reference.size());
        EXPECT_EQ(ctx.effects.vibrato.ready != 0, c.vibrato) << std::hex << c.code;
        EXPECT_EQ(ctx.effects.echo.ready != 0, c.echo != 0) << std::hex << c.code;
        if (c.echo != 0) {
            EXPECT_EQ(ctx.effects.echo.variant, c.echo);
        }
        // Only the pitch shifter changes the tone's period.
        const double period = qrxc::test::speed::estimate_period(out.data() + 480, 480, 10, 120, 0.3);
        if (c.pitch) {
            EXPECT_GT(std::abs(period - 45.0), 5.0) << std::hex << c.code;
        } else {
            EXPECT_NEAR(period, 45.0, 2.5) << std::hex << c.code;  // the vibrato wobbles it a little
        }
        EXPECT_EQ(out == reference, !c.pitch && !c.vibrato && c.echo == 0) << std::hex << c.code;
    }
}

TEST(EffectChain, FrameSwitchingIntoEffectModeIsLeftAlone) {
    const auto speech = qrxc::test::speed::load_speech();
    Qrxc_context ctx = open_context(240);
    Qrmd_initial_ctx(&ctx, 12);
    std::vector<short> out(480);
    for (int i = 0; i < 5; ++i)
        Qrmd_frame_ctx(&ctx, 12, const_cast<short *>(&speech[static_cast<std::size_t>(i * 240)]), out.data());
    const int held = ctx.speed.size;
    ASSERT_NE(held, 240);  // so the switching frame is not 240 samples long
    Qrmd_frame_ctx(&ctx, 0x82, const_cast<short *>(&speech[1200]), out.data());
    EXPECT_EQ(Qrmd_last_count_ctx(&ctx), held);
    EXPECT_EQ(ctx.effects.echo.ready, 0);
    Qrmd_frame_ctx(&ctx, 0x82, const_cast<short *>(&speech[1440]), out.data());
    EXPECT_EQ(Qrmd_last_count_ctx(&ctx), 240);
    EXPECT_EQ(ctx.effects.echo.ready, 1);
}

// Each effect keeps its own set-up: an echo after a vibrato still echoes at
// its own spacing, a long echo after a short one at 504, and a vibrato
// after an echo stays within its delay line.
TEST(EffectChain, SwitchingEffectsKeepsEachOnesSettings) {
    struct Case {
        int first, second, spacing;
    };
    for (const Case c : {Case{0x01, 0x02, 160}, Case{0x01, 0x03, 504}, Case{0x02, 0x03, 504}, Case{0x03, 0x02, 160}}) {
        Qrxc_context ctx = open_context(240);
        Qrmd_initial_ctx(&ctx, 0x80);
        run_effect(ctx, c.first, std::vector<std::int16_t>(240 * 3, 0));
        std::vector<std::int16_t> impulse(240 * 5, 0);
        impulse[240] = 12000;  // comes out 240 samples later at normal speed
        const auto out = run_effect(ctx, c.second, impulse);
        EXPECT_EQ(out[480], 12000) << std::hex << c.first << "->" << c.second;
        EXPECT_EQ(out[480 + static_cast<std::size_t>(c.spacing)], (12000 * 10000) >> 14)
            << std::hex << c.first << "->" << c.second;
    }
    Qrxc_context ctx = open_context(240);
    Qrmd_initial_ctx(&ctx, 0x80);
    run_effect(ctx, 0x03, std::vector<std::int16_t>(240 * 2, 0));
    std::vector<std::int16_t> impulse(240 * 4, 0);
    impulse[0] = 10000;
    const auto out = run_effect(ctx, 0x01, impulse);
    const auto [delay, size] = peak(out, 240, 120);
    EXPECT_GE(delay, 1);
    EXPECT_LE(delay, 34);
    EXPECT_GT(size, 5000);
}

// A reused context plays a stream exactly as a fresh one does: nothing of
// the previous stream's speed state, vibrato or echo carries over.
TEST(EffectChain, ReopeningAStreamForgetsThePreviousOne) {
    const auto speech = qrxc::test::speed::load_speech();
    ASSERT_GE(speech.size(), 24000u);
    enum Order { OPEN_THEN_INITIAL, INITIAL_THEN_OPEN, OPEN_ONLY };
    auto open = [](Qrxc_context *ctx) {
        G_header h{};
        unsigned char hdr[4] = {'Q', 'R', 'X', 0x01};
        ASSERT_EQ(Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr), 4);
    };
    auto play = [&](Qrxc_context *ctx, int flags, std::size_t from) {
        std::vector<std::int16_t> out;
        std::vector<short> frame(480);
        for (std::size_t at = from; at < from + 240 * 40; at += 240) {
            EXPECT_EQ(Qrmd_frame_ctx(ctx, flags, &speech[at], frame.data()), 0);
            out.insert(out.end(), frame.begin(), frame.begin() + Qrmd_last_count_ctx(ctx));
        }
        return out;
    };
    struct Case {
        int flags;
        Order order;
    };
    const Case cases[] = {
        {0x81, OPEN_THEN_INITIAL},
        {0x82, OPEN_THEN_INITIAL},
        {0x83, OPEN_THEN_INITIAL},
        {0x8D, OPEN_THEN_INITIAL},
        {0x83, INITIAL_THEN_OPEN},
        {0x81, OPEN_ONLY},
        {8, OPEN_ONLY},
        {1, OPEN_ONLY},
        {11, INITIAL_THEN_OPEN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << " order " << c.order);
        Qrxc_context *fresh = Qrxc_create();
        open(fresh);
        ASSERT_EQ(Qrmd_initial_ctx(fresh, c.flags), 0);
        const auto expected = play(fresh, c.flags, 12000);

        Qrxc_context *reused = Qrxc_create();
        open(reused);
        ASSERT_EQ(Qrmd_initial_ctx(reused, c.flags), 0);
        play(reused, c.flags, 0);
        if (c.order == INITIAL_THEN_OPEN) {
            ASSERT_EQ(Qrmd_initial_ctx(reused, c.flags), 0);
        }
        open(reused);
        if (c.order == OPEN_THEN_INITIAL) {
            ASSERT_EQ(Qrmd_initial_ctx(reused, c.flags), 0);
        }
        EXPECT_EQ(play(reused, c.flags, 12000), expected);
        Qrxc_destroy(fresh);
        Qrxc_destroy(reused);
    }
}
