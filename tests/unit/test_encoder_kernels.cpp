// The encoder's fast correlation and filter-tap forms against the plain
// saturating operator sequences, on ordinary and saturating inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/encoder/weighted_synthesis.h"

namespace qrxc::g723 {
namespace {

struct Kernel_case {
    const char *name;
    Word16 lo, hi;  // value range of the random inputs
    Word32 start;   // accumulator start value for the tap form
};

class EncoderKernels : public ::testing::TestWithParam<Kernel_case> {};

std::vector<Word16> random_vec(Word16 &seed, int n, Word16 lo, Word16 hi) {
    std::vector<Word16> v(static_cast<std::size_t>(n));
    const std::int32_t span = std::int32_t{hi} - lo + 1;
    for (Word16 &x : v)
        x = static_cast<Word16>(lo + static_cast<std::int32_t>(static_cast<std::uint16_t>(rand16(seed))) % span);
    return v;
}

TEST_P(EncoderKernels, FastFormsEqualTheOperatorSequence) {
    const Kernel_case &c = GetParam();
    Word16 seed = 1234;
    for (int trial = 0; trial < 300; trial++) {
        const int n = 1 + trial % 120;
        const auto x = random_vec(seed, n, c.lo, c.hi);
        const auto y = random_vec(seed, n, c.lo, c.hi);
        Word32 plain = 0;
        for (int i = 0; i < n; i++)
            plain = L_mac(plain, x[static_cast<std::size_t>(i)], y[static_cast<std::size_t>(i)]);
        ASSERT_EQ(L_mac_n(0, x.data(), y.data(), n), plain) << trial;
        Word32 en = 0;
        for (int i = 0; i < n; i++) en = L_mac(en, x[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]);
        ASSERT_EQ(energy_sat(x.data(), n), en) << trial;

        // Around both saturation edges of the shift and of the rounding.
        for (const Word32 edge :
             {Word32{0}, Word32{1} << 29, (Word32{1} << 29) - 0x2000, -(Word32{1} << 29), MAX_32, MIN_32}) {
            const Word32 v = static_cast<Word32>(std::int64_t{edge} + (x[0] + y[0] * 65536LL) % 0x4000);
            ASSERT_EQ(round_shl2(v), round(L_shl(v, 2))) << v;
            // Split as the recursions form it: any start, the even rest.
            const Word32 half = static_cast<Word32>((std::int64_t{v} - (v & 1)) / 2);
            ASSERT_EQ(round_shl2_last(v & 1, half - x[0], x[0]), round_shl2(v)) << v;
            for (const Word16 yy : {y[0], MIN_16, MAX_16})
                for (const Word16 m : {Word16{0}, Word16{-16384}, Word16{16384}, x[0], MIN_16, MAX_16})
                    ASSERT_EQ(tilt_round(v, yy, m), tilt_round_plain(v, yy, m)) << v << ' ' << yy << ' ' << m;
        }

        if (n >= 10) {
            // Coefficients x against the history y, newest sample y[9] first.
            Word32 up = c.start, down = c.start;
            for (int m = 0; m < 10; m++) {
                up = L_mac(up, x[static_cast<std::size_t>(m)], y[static_cast<std::size_t>(9 - m)]);
                down = L_msu(down, x[static_cast<std::size_t>(m)], y[static_cast<std::size_t>(9 - m)]);
            }
            Word16 rev[10];
            for (int k = 0; k < 10; k++) rev[k] = x[static_cast<std::size_t>(9 - k)];
            // Small coefficients take the headroom path, large ones fall back.
            const auto room = tap_headroom<10>(x.data());
            ASSERT_EQ((back_taps<10, 1>(c.start, x.data(), rev, y.data() + 10, room)), up) << trial;
            ASSERT_EQ((back_taps<10, -1>(c.start, x.data(), rev, y.data() + 10, room)), down) << trial;
            Tap_run run;
            make_tap_run(run, x.data());
            ASSERT_EQ(back_taps_peak<1>(c.start, run, x.data(), y.data() + 10), up) << trial;
            ASSERT_EQ(back_taps_peak<-1>(c.start, run, x.data(), y.data() + 10), down) << trial;
        }
    }
}

// The weighted synthesis cascade, its recursions and numerator taken in
// passes, against every tap in its saturating form.
TEST_P(EncoderKernels, CascadeEqualsItsPlainForm) {
    const Kernel_case &c = GetParam();
    Word16 seed = 99;
    for (int trial = 0; trial < 40; trial++) {
        // Coefficients as drawn, or scaled down so that the fast paths run.
        const int shift = trial % 4;
        auto coef = random_vec(seed, 3 * LPC_ORDER, c.lo, c.hi);
        for (Word16 &v : coef) v = static_cast<Word16>(v >> shift);
        const auto mem = random_vec(seed, 4 * LPC_ORDER + ACB_LAG_MAX + SUBFRAME_LEN, c.lo, c.hi);
        const Hns_params hns{static_cast<Word16>(15 + trial * 7 % 131), static_cast<Word16>(trial * 331 % 0x2801)};
        Enc_state st{};
        std::copy(mem.begin(), mem.begin() + LPC_ORDER, st.ring_fir_mem);
        std::copy(mem.begin() + LPC_ORDER, mem.begin() + 2 * LPC_ORDER, st.ring_iir_mem);
        std::copy(mem.begin() + 2 * LPC_ORDER, mem.begin() + 2 * LPC_ORDER + ACB_LAG_MAX, st.prev_err);
        const Word16 *q = coef.data();
        const Word16 *p = coef.data() + LPC_ORDER;
        const Word16 *x = mem.data() + 2 * LPC_ORDER + ACB_LAG_MAX;

        Word16 f[SUBFRAME_LEN], g[SUBFRAME_LEN];
        impulse_response(f, q, p, hns);
        impulse_response_plain(g, q, p, hns);
        ASSERT_TRUE(std::equal(f, f + SUBFRAME_LEN, g)) << trial;
        std::copy(x, x + SUBFRAME_LEN, f);
        std::copy(x, x + SUBFRAME_LEN, g);
        subtract_ringing(st, f, q, p, hns);
        subtract_ringing_plain(st, g, q, p, hns);
        ASSERT_TRUE(std::equal(f, f + SUBFRAME_LEN, g)) << trial;
        Enc_state a = st, b = st;
        update_ringing(a, x, q, p);
        update_ringing_plain(b, x, q, p);
        ASSERT_TRUE(std::equal(a.prev_err, a.prev_err + ACB_LAG_MAX, b.prev_err)) << trial;
        ASSERT_TRUE(std::equal(a.ring_fir_mem, a.ring_fir_mem + LPC_ORDER, b.ring_fir_mem)) << trial;
        ASSERT_TRUE(std::equal(a.ring_iir_mem, a.ring_iir_mem + LPC_ORDER, b.ring_iir_mem)) << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, EncoderKernels,
                         ::testing::Values(Kernel_case{"small", -0x1000, 0x1000, 0},
                                           Kernel_case{"tiny_coeffs", -300, 300, -2100000000},
                                           Kernel_case{"speech", -8000, 8000, 123456789},
                                           Kernel_case{"full_scale", -32768, 32767, -2000000000},
                                           Kernel_case{"min_only", -32768, -32760, 0x7fff0000},
                                           Kernel_case{"positive_loud", 30000, 32767, 0x40000000}),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qrxc::g723
