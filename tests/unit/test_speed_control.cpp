#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/context.h"
#include "codec/speed_path.h"
#include "speed/speed_control.h"
#include "speed_support.h"

using qrxc::test::speed::open_context;

namespace {

constexpr std::int16_t SENTINEL = 0x7777;

// Runs frames of pcm through the speed control at fixed flags and returns
// the output counts per frame.
std::vector<int> run_counts(Qrxc_context &ctx, int flags, const std::vector<std::int16_t> &pcm, int frames) {
    const int F = ctx.stream.header.pcm_frame;
    std::vector<int> counts;
    std::vector<short> out(static_cast<std::size_t>(2 * F));
    for (int i = 0; i < frames; ++i) {
        EXPECT_EQ(qrxc::qrmd_frame(ctx, flags, &pcm[static_cast<std::size_t>(i * F)], out.data()), 0);
        counts.push_back(Qrmd_last_count_ctx(&ctx));
    }
    return counts;
}

}  // namespace

TEST(SpeedFlags, LevelSelectionAndRejectedFlags) {
    struct Case {
        int flags;
        int result;
        int level;
    };
    const Case cases[] = {
        {0x00, 0, 0},  {0x04, 0, 4},  {0x0C, 0, 12},  {0x0D, 0, 12}, {0x0F, 0, 12},
        {0x80, 0, 4},  {0x9F, 0, 4},  {0x45, 0, 5},   {0x134, 0, 4},  // only the low byte counts
        {0xC0, -1, 7}, {0xC5, -1, 7}, {0x1C0, -1, 7},
    };
    for (const Case &c : cases) {
        Qrxc_context ctx = open_context(240);
        ctx.speed.level = 7;
        EXPECT_EQ(Qrmd_initial_ctx(&ctx, c.flags), c.result) << std::hex << c.flags;
        EXPECT_EQ(ctx.speed.level, c.level) << std::hex << c.flags;
        if (c.result == 0) {
            EXPECT_EQ(ctx.speed.size, qrxc::INIT_SIZE);
            EXPECT_EQ(ctx.speed.pending, 0);
        }
    }
}

TEST(SpeedFlags, FrameRejectsBadFlagsAndChangesNothing) {
    for (int flags : {0xC0, 0xC5, 0xDF}) {
        Qrxc_context ctx = open_context(240);
        ASSERT_EQ(Qrmd_initial_ctx(&ctx, 6), 0);
        const Qrxc_context before = ctx;
        std::vector<short> in(240, 1000), out(480, SENTINEL);
        EXPECT_EQ(Qrmd_frame_ctx(&ctx, flags, in.data(), out.data()), -1);
        EXPECT_EQ(std::memcmp(&before.speed.buffer, &ctx.speed.buffer, sizeof ctx.speed.buffer), 0);
        EXPECT_EQ(ctx.speed.size, before.speed.size);
        EXPECT_EQ(ctx.speed.level, before.speed.level);
        EXPECT_EQ(ctx.speed.frame_count, before.speed.frame_count);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](short s) { return s == SENTINEL; }));
    }
}

TEST(SpeedApi, RefusesWithoutStreamOrBuffers) {
    std::vector<short> in(320, 5), out(640, SENTINEL);
    Qrxc_context closed;
    qrxc::context_load(closed);
    EXPECT_EQ(Qrmd_initial_ctx(&closed, 4), 0);  // needs no stream
    EXPECT_EQ(Qrmd_frame_ctx(&closed, 4, in.data(), out.data()), -1);

    Qrxc_context odd = open_context(100);  // no stream has such frames
    EXPECT_EQ(Qrmd_frame_ctx(&odd, 4, in.data(), out.data()), -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](short s) { return s == SENTINEL; }));

    Qrxc_context ctx = open_context(240);
    EXPECT_EQ(Qrmd_frame_ctx(&ctx, 4, nullptr, out.data()), -1);
    EXPECT_EQ(Qrmd_frame_ctx(&ctx, 4, in.data(), nullptr), -1);
    EXPECT_EQ(Qrmd_frame_ctx(nullptr, 4, in.data(), out.data()), -1);
    EXPECT_EQ(Qrmd_initial_ctx(nullptr, 4), -1);
    EXPECT_EQ(Qrmd_last_count_ctx(nullptr), -1);
    EXPECT_EQ(Qrmd_last_count_ctx(&ctx), 0);
    EXPECT_EQ(Qrmd_initial(0xC0), -1);
}

TEST(SpeedLevels, OutputCountPerLevelForBothFrameLengths) {
    const auto speech = qrxc::test::speed::load_speech();
    ASSERT_GE(speech.size(), 80000u);
    for (int F : {240, 320}) {
        for (int level = 0; level < 13; ++level) {
            Qrxc_context ctx = open_context(F);
            ASSERT_EQ(Qrmd_initial_ctx(&ctx, level), 0);
            const auto counts = run_counts(ctx, level, speech, 40);
            const int want = F * (level + 4) / 8;  // the level's speed ratio
            EXPECT_TRUE(std::all_of(counts.begin(), counts.end(), [&](int n) { return n == want; }))
                << "F " << F << " level " << level;
        }
    }
}

TEST(SpeedLevels, NormalSpeedDelaysByInitSize) {
    const auto speech = qrxc::test::speed::load_speech();
    for (int F : {240, 320}) {
        Qrxc_context ctx = open_context(F);
        ASSERT_EQ(Qrmd_initial_ctx(&ctx, 0x04), 0);
        std::vector<short> out;
        std::vector<short> frame(static_cast<std::size_t>(2 * F));
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(qrxc::qrmd_frame(ctx, 0x04, &speech[static_cast<std::size_t>(i * F)], frame.data()), 0);
            ASSERT_EQ(Qrmd_last_count_ctx(&ctx), F);
            out.insert(out.end(), frame.begin(), frame.begin() + F);
        }
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], i < 240 ? 0 : speech[i - 240]) << "F " << F << " sample " << i;
    }
}

TEST(SpeedLevels, LevelChangeFlushesAllButInitSize) {
    const auto speech = qrxc::test::speed::load_speech();
    struct Case {
        int from, to, frame;
    };
    for (const Case c : {Case{4, 8, 240}, Case{0, 12, 240}, Case{12, 0, 320}, Case{6, 2, 240}, Case{3, 4, 320}}) {
        Qrxc_context ctx = open_context(c.frame);
        ASSERT_EQ(Qrmd_initial_ctx(&ctx, c.from), 0);
        run_counts(ctx, c.from, speech, 7);
        const int held = ctx.speed.size;
        std::vector<short> out(static_cast<std::size_t>(2 * c.frame), SENTINEL);
        const std::size_t at = static_cast<std::size_t>(7 * c.frame);
        ASSERT_EQ(qrxc::qrmd_frame(ctx, c.to, &speech[at], out.data()), 0);
        const int n = Qrmd_last_count_ctx(&ctx);
        EXPECT_EQ(n, held + c.frame - 240);
        EXPECT_EQ(out[static_cast<std::size_t>(n)], SENTINEL);
        EXPECT_EQ(ctx.speed.level, c.to);
        EXPECT_EQ(ctx.speed.size, 240);
        EXPECT_EQ(ctx.speed.pending, 0);
        // The held tail is the newest input, which the next frames continue from.
        EXPECT_EQ(std::memcmp(ctx.speed.buffer, &speech[at + static_cast<std::size_t>(c.frame) - 240], 480), 0);
        const auto next = run_counts(
            ctx, c.to, std::vector<std::int16_t>(speech.begin() + static_cast<long>(at) + c.frame, speech.end()), 3);
        EXPECT_EQ(next[0], qrxc::speed_target(c.to, c.frame));
    }
    // The example of a stream going from normal to 1.5 times slower.
    Qrxc_context ctx = open_context(240);
    Qrmd_initial_ctx(&ctx, 4);
    EXPECT_EQ(run_counts(ctx, 4, speech, 3), (std::vector<int>{240, 240, 240}));
    EXPECT_EQ(run_counts(ctx, 8, speech, 3), (std::vector<int>{240, 360, 360}));
}

TEST(SpeedCopyLength, FractionCarryNeverDrifts) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> lag(qrxc::PITCH_MIN, qrxc::PITCH_MAX);
    for (int level : {0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12}) {
        qrxc::Speed_state st{};
        // At ratio r = k / 8 (k = level + 4) each period of m samples is
        // followed by r / (1 - r) m samples copied when shortening and
        // 1 / (r - 1) m when lengthening: k / (8 - k) or 8 / (k - 8), in
        // 2^-33 units, truncated.
        const int k = level + 4;
        const std::int64_t factor = k < 8 ? (std::int64_t{k} << 33) / (8 - k) : (std::int64_t{8} << 33) / (k - 8);
        std::int64_t sum_m = 0, sum_d = 0;
        for (int period = 0; period < 100000; ++period) {
            const int m = lag(rng);
            sum_m += m;
            sum_d += qrxc::speed_copy_length(st, m, level);
            ASSERT_EQ(sum_d, (sum_m * factor) >> 33) << "level " << level << " period " << period;
        }
        EXPECT_TRUE(st.frac_hi >= 0 && st.frac_hi < 2048 && st.frac_mid >= 0 && st.frac_mid < 2048 && st.frac_lo >= 0 &&
                    st.frac_lo < 2048);
    }
}

TEST(SpeedPeriodSearch, FindsThePeriodAndKeepsTheShorterLagOnTies) {
    struct Case {
        std::vector<std::int16_t> signal;
        int max_lag;
        int want;
    };
    auto pulses = [](int period) {
        std::vector<std::int16_t> x(400, 0);
        for (std::size_t i = 0; i < x.size(); i += static_cast<std::size_t>(period)) x[i] = 9000;
        return x;
    };
    std::vector<std::int16_t> ramp(400);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i * 50);
    const Case cases[] = {
        {qrxc::test::speed::sine(400, 37.0, 8000), 120, 37},
        {pulses(20), 120, 20},  // 40, 60, ... match as well: the shortest wins
        {pulses(55), 120, 55},
        {std::vector<std::int16_t>(400, 123), 120, 16},  // every lag ties
        {ramp, 120, 16},                                 // the sum grows with the lag
        {pulses(90), 60, 16},                            // the period lies beyond the lags tried: all tie
        {qrxc::test::speed::sine(400, 100.0, 8000), 120, 100},
    };
    for (const Case &c : cases) EXPECT_EQ(qrxc::speed_period_search(c.signal.data(), c.max_lag), c.want) << c.want;
}

// A pulse train of period 50 whose pulses sit mid-period and grow slowly:
// the search settles on 50, and each pulse after a cut or a repeat is a
// known mix of two neighbours.
TEST(SpeedCrossFade, FasterFadesNextPeriodInSlowerFadesBack) {
    std::vector<std::int16_t> sig(480, 0);
    for (int k = 0; k < 10; ++k) sig[static_cast<std::size_t>(50 * k + 25)] = static_cast<std::int16_t>(8000 + 100 * k);
    const std::int32_t w = 25 * (32768 / 49);  // fade weight in the middle of a 50-sample period

    struct Case {
        int level;
        int out_index;  // where the faded pulse lands in the output
        std::int32_t expected;
    };
    const Case cases[] = {
        // Faster: the first period is dropped, the second fades in over it.
        {0, 25, ((32767 - w) * sig[25] + w * sig[75]) >> 15},
        // Slower: the first period goes out, then again faded from the second back to itself.
        {12, 75, ((32767 - w) * sig[75] + w * sig[25]) >> 15},
        {12, 25, sig[25]},
    };
    for (const Case &c : cases) {
        qrxc::Speed_state st{};
        st.level = static_cast<std::int16_t>(c.level);
        st.size = 240;
        std::memcpy(st.buffer, sig.data(), 480);
        std::vector<std::int16_t> out(480, SENTINEL);
        const int n = qrxc::speed_step(st, c.level, sig.data() + 240, 240, out.data());
        ASSERT_EQ(n, qrxc::speed_target(c.level, 240));
        EXPECT_EQ(out[static_cast<std::size_t>(c.out_index)], c.expected) << "level " << c.level;
        // Around the pulse the faded period stays silent, as both sources are.
        EXPECT_EQ(out[static_cast<std::size_t>(c.out_index - 1)], 0);
    }
}

// Cutting or repeating whole periods of a steady tone keeps it a steady
// tone of the same period at every level.
TEST(SpeedLevels, SteadyToneKeepsItsPeriod) {
    const auto tone = qrxc::test::speed::sine(240 * 60, 40.0, 10000);
    for (int level = 0; level < 13; ++level) {
        Qrxc_context ctx = open_context(240);
        Qrmd_initial_ctx(&ctx, level);
        std::vector<short> all, frame(480);
        for (int i = 0; i < 60; ++i) {
            qrxc::qrmd_frame(ctx, level, &tone[static_cast<std::size_t>(i * 240)], frame.data());
            all.insert(all.end(), frame.begin(), frame.begin() + Qrmd_last_count_ctx(&ctx));
        }
        // Past the initial silence and its fade, compare against the ideal
        // continuation of the tone at the phase it shows.
        const std::size_t from = all.size() / 2;
        int worst = 0;
        for (std::size_t i = from; i + 40 < all.size(); ++i) worst = std::max(worst, std::abs(all[i] - all[i + 40]));
        EXPECT_LE(worst, 3) << "level " << level;
    }
}

TEST(SpeedDiagnostics, PrintedAsWordedAndProcessingGoesOn) {
    const auto collect = [](void *user, const char *t) { *static_cast<std::string *>(user) += t; };
    struct Case {
        int level;
        std::int16_t size;
        const char *first_line;
    };
    const Case cases[] = {
        // Silence has every lag tie at 16: each level-0 period uses 32 samples.
        {0, 0, "FATAL ERROR!!! 1: speed.size(208) < (PITCH_MAX+WINLENGTH) (240)\n"},
        {4, 100, "FATAL ERROR!!! 1: speed.size(340) = INIT_SIZE(240)+G_header.pcm_frame(240)\n"},
        {12, qrxc::BUFFER_CAPACITY, "FATAL ERROR!!! 1: speed.size("},
    };
    for (const Case &c : cases) {
        qrxc::Speed_state st{};
        std::string text;
        st.diag = {collect, &text};
        st.level = static_cast<std::int16_t>(c.level);
        st.size = c.size;
        std::vector<std::int16_t> in(240, 0), out(480 + 8, SENTINEL);
        const int n = qrxc::speed_step(st, c.level, in.data(), 240, out.data());
        EXPECT_EQ(text.rfind(c.first_line, 0), 0u) << text;
        EXPECT_EQ(n, qrxc::speed_target(c.level, 240));
        EXPECT_EQ(out[static_cast<std::size_t>(n)], SENTINEL);
        EXPECT_GE(st.size, 0);
        EXPECT_LE(st.size, qrxc::BUFFER_CAPACITY);
    }
    // An overfull buffer at a slower level reports the overflow area too.
    qrxc::Speed_state st{};
    std::string text;
    st.diag = {collect, &text};
    st.level = 12;
    st.size = qrxc::BUFFER_CAPACITY;
    std::vector<std::int16_t> in(240, 0), out(480);
    qrxc::speed_step(st, 12, in.data(), 240, out.data());
    EXPECT_NE(text.find("+oflw("), std::string::npos);
}

// Whatever the flags and the frame length, a call writes exactly its count
// and the state stays within its buffers.
TEST(SpeedRobustness, RandomFlagsNeverWritePastTheCount) {
    const auto speech = qrxc::test::speed::load_speech();
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> noise(-32768, 32767);
    for (int F : {240, 320}) {
        Qrxc_context ctx = open_context(F);
        Qrmd_initial_ctx(&ctx, static_cast<int>(rng() & 0xFF));
        std::vector<short> in(static_cast<std::size_t>(F)), out(static_cast<std::size_t>(2 * F + 32));
        for (int frame = 0; frame < 3000; ++frame) {
            const bool loud = (frame / 50) % 2 == 1;
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = loud ? static_cast<short>(noise(rng))
                             : speech[(static_cast<std::size_t>(frame * F) + i) % speech.size()];
            const int flags = frame % 7 == 0 ? static_cast<int>(rng() & 0x1FF) : static_cast<int>(rng() % 13);
            std::fill(out.begin(), out.end(), SENTINEL);
            const int res = Qrmd_frame_ctx(&ctx, flags, in.data(), out.data());
            const int n = Qrmd_last_count_ctx(&ctx);
            if (res != 0) {
                ASSERT_EQ(n, 0);
                continue;
            }
            ASSERT_GE(n, 0);
            ASSERT_LE(n, 2 * F);
            ASSERT_TRUE(std::all_of(out.begin() + n, out.end(), [](short s) { return s == SENTINEL; }));
            ASSERT_GE(ctx.speed.size, 0);
            ASSERT_LE(ctx.speed.size, qrxc::BUFFERLEN);  // the design's bound holds on real input
        }
    }
}

TEST(SpeedApi, SourceAndDestinationMayBeTheSameBuffer) {
    const auto speech = qrxc::test::speed::load_speech();
    Qrxc_context a = open_context(240), b = open_context(240);
    Qrmd_initial_ctx(&a, 9);
    Qrmd_initial_ctx(&b, 9);
    std::vector<short> inplace(480), out(480);
    for (int i = 0; i < 20; ++i) {
        const short *src = &speech[static_cast<std::size_t>(i * 240)];
        std::copy(src, src + 240, inplace.begin());
        Qrmd_frame_ctx(&a, 9, inplace.data(), inplace.data());
        Qrmd_frame_ctx(&b, 9, const_cast<short *>(src), out.data());
        ASSERT_EQ(inplace, out) << "frame " << i;
    }
}

// The search drops hopeless lags early; it must choose exactly as the plain
// full-sum search does.
TEST(SpeedPeriodSearch, MatchesThePlainFullSumSearch) {
    auto plain = [](const std::int16_t *x, int max_lag) {
        std::int64_t best = INT64_MAX;
        int lag = qrxc::PITCH_MIN;
        for (int k = qrxc::PITCH_MIN; k <= max_lag; ++k) {
            std::int64_t sum = 0;
            for (int i = 0; i < qrxc::WINLENGTH; ++i) sum += std::abs(x[k + i] - x[i]);
            if (sum < best) {
                best = sum;
                lag = k;
            }
        }
        return lag;
    };
    auto signal = qrxc::test::speed::load_speech();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> full(-32768, 32767);
    for (int i = 0; i < 4000; ++i) signal.push_back(static_cast<std::int16_t>(full(rng)));
    for (int i = 0; i < 4000; ++i) signal.push_back(static_cast<std::int16_t>(i % 2 == 0 ? 32767 : -32768));
    for (std::size_t at = 0; at + 240 <= signal.size(); at += 13) {
        for (int max_lag : {120, 77, 16}) {
            ASSERT_EQ(qrxc::speed_period_search(&signal[at], max_lag), plain(&signal[at], max_lag))
                << "at " << at << " max lag " << max_lag;
        }
    }
}

TEST(SpeedApi, RefusesAfterAFailedOpen) {
    // A rejected long header has already been copied into the stream record,
    // frame length included; the speed control must not take its 320 samples
    // from a caller who sized buffers for the previous 240-sample stream.
    Qrxc_context *ctx = Qrxc_create();
    ASSERT_NE(ctx, nullptr);
    G_header h{};
    unsigned char hdr[16] = {'Q', 'R', 'X', 0x05};
    ASSERT_EQ(Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr), 4);
    ASSERT_EQ(Qrmd_initial_ctx(ctx, 4), 0);
    std::vector<short> in(240, 5), out(480, SENTINEL);
    EXPECT_EQ(Qrmd_frame_ctx(ctx, 4, in.data(), out.data()), 0);

    const unsigned char bad[16] = {'Q', 'R', 'X', 0x40, 0x40, 0x1F, 1, 0, 0x40, 1, 20, 0, 16, 0, 0, 0};
    std::memcpy(hdr, bad, sizeof bad);
    ASSERT_EQ(Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr), QRXC_ERR_ARG);
    std::fill(out.begin(), out.end(), SENTINEL);
    EXPECT_EQ(Qrmd_frame_ctx(ctx, 4, in.data(), out.data()), -1);
    EXPECT_EQ(Qrmd_last_count_ctx(ctx), 0);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](short s) { return s == SENTINEL; }));
    Qrxc_destroy(ctx);
}

// Before any Qrmd_initial the speed state means nothing: the frame is refused, not half-processed.
TEST(SpeedApi, RefusesBeforeQrmdInitial) {
    for (unsigned char code :
         {static_cast<unsigned char>(0x01), static_cast<unsigned char>(0x00)}) {  // frames of 240 and of 320
        Qrxc_context *ctx = Qrxc_create();
        G_header h{};
        unsigned char hdr[4] = {'Q', 'R', 'X', code};
        ASSERT_EQ(Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr), 4);
        std::vector<short> in(320, 900), out(640, SENTINEL);
        for (int flags : {4, 8, 0, 0x81}) {
            EXPECT_EQ(Qrmd_frame_ctx(ctx, flags, in.data(), out.data()), -1) << flags;
            EXPECT_EQ(Qrmd_last_count_ctx(ctx), 0);
        }
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](short s) { return s == SENTINEL; }));
        ASSERT_EQ(Qrmd_initial_ctx(ctx, 4), 0);
        EXPECT_EQ(Qrmd_frame_ctx(ctx, 4, in.data(), out.data()), 0);
        EXPECT_EQ(Qrmd_last_count_ctx(ctx), h.pcm_frame);
        Qrxc_destroy(ctx);
    }
}
