// Objective checks of what a listener would notice: a level plays for as
// long as its ratio says, and voices keep their pitch.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec/context.h"
#include "codec/speed_path.h"
#include "speed_support.h"

using qrxc::test::speed::open_context;

namespace {

std::vector<std::int16_t> play(int level, const std::vector<std::int16_t> &in, int F) {
    Qrxc_context ctx = open_context(F);
    Qrmd_initial_ctx(&ctx, level);
    std::vector<std::int16_t> out;
    std::vector<short> frame(static_cast<std::size_t>(2 * F));
    for (std::size_t at = 0; at + static_cast<std::size_t>(F) <= in.size(); at += static_cast<std::size_t>(F)) {
        EXPECT_EQ(qrxc::qrmd_frame(ctx, level, &in[at], frame.data()), 0);
        out.insert(out.end(), frame.begin(), frame.begin() + Qrmd_last_count_ctx(&ctx));
    }
    return out;
}

// Median period over the clearly voiced 30 ms windows (50..400 Hz at 8 kHz).
double median_period(const std::vector<std::int16_t> &x) {
    std::vector<double> periods;
    for (std::size_t at = 0; at + 400 <= x.size(); at += 240) {
        const double p = qrxc::test::speed::estimate_period(&x[at], 400, 20, 160, 0.8);
        if (p > 0) periods.push_back(p);
    }
    if (periods.empty()) return 0;
    std::nth_element(periods.begin(), periods.begin() + static_cast<long>(periods.size() / 2), periods.end());
    return periods[periods.size() / 2];
}

// A voiced sound with a steady 125 Hz pitch: a pulse train through two
// resonances, like a held vowel.
std::vector<std::int16_t> held_vowel(int count) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(count));
    double y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    for (int i = 0; i < count; ++i) {
        const double pulse = i % 64 == 0 ? 3000.0 : 0.0;
        const double y = pulse + 1.6 * y1 - 0.9 * y2;  // about 700 Hz
        y2 = y1;
        y1 = y;
        const double z = y - 0.4 * z1 - 0.8 * z2;  // about 1500 Hz
        z2 = z1;
        z1 = z;
        out[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::clamp(z * 0.5, -30000.0, 30000.0));
    }
    return out;
}

constexpr int LEVELS[] = {0, 2, 6, 8, 12};

}  // namespace

TEST(SpeedQuality, LengthFollowsTheLevelRatioOverTenSeconds) {
    const auto speech = qrxc::test::speed::load_speech();
    ASSERT_GE(speech.size(), 80000u);
    for (int F : {240, 320}) {
        for (const int level : LEVELS) {
            const double ratio = (level + 4) / 8.0;
            const auto out = play(level, speech, F);
            const double in_len =
                static_cast<double>(speech.size() / static_cast<std::size_t>(F) * static_cast<std::size_t>(F));
            EXPECT_NEAR(static_cast<double>(out.size()), ratio * in_len, F) << "level " << level;
        }
    }
}

TEST(SpeedQuality, VoicedPitchIsKept) {
    const auto speech = qrxc::test::speed::load_speech();
    const auto vowel = held_vowel(80000);
    const double speech_period = median_period(speech);
    ASSERT_GT(speech_period, 20.0);
    EXPECT_NEAR(median_period(vowel), 64.0, 0.5);
    for (const int level : LEVELS) {
        EXPECT_NEAR(median_period(play(level, vowel, 240)), 64.0, 0.05 * 64.0) << "level " << level;
        EXPECT_NEAR(median_period(play(level, speech, 240)), speech_period, 0.05 * speech_period) << "level " << level;
    }
}
