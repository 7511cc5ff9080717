// The encoder's fast correlation and filter-tap forms against the plain
// saturating operator sequences, on ordinary and saturating inputs.
#include <gtest/gtest.h>

#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"

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
        }
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
