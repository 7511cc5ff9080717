// The fast multiply-accumulate runs against the step-by-step saturating chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"

namespace {

using namespace qrxc::g723;

Word32 chain_mac(Word32 acc, const std::vector<Word16> &a, const std::vector<Word16> &b) {
    for (size_t i = 0; i < a.size(); ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}

TEST(MacChain, MatchesStepByStepChain) {
    std::mt19937 rng(99);
    const int lengths[] = {1, 5, 10, 59, 60, 120};
    // Amplitude classes: quiet (fast path), mid, full scale (saturation), and
    // the -32768 * -32768 special case.
    const int peaks[] = {300, 4096, 20000, 32767};
    const Word32 starts[] = {0, 1 << 28, -(1 << 28), MAX_32 - 5, MIN_32 + 5};
    for (int n : lengths) {
        for (int peak : peaks) {
            std::uniform_int_distribution<int> d(-peak - 1, peak);
            for (Word32 acc : starts) {
                for (int rep = 0; rep < 200; ++rep) {
                    std::vector<Word16> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
                    for (int i = 0; i < n; ++i) {
                        a[static_cast<size_t>(i)] = static_cast<Word16>(d(rng));
                        b[static_cast<size_t>(i)] = static_cast<Word16>(d(rng));
                    }
                    if (rep == 0) {
                        a[0] = MIN_16;
                        b[0] = MIN_16;
                    }
                    ASSERT_EQ(L_mac_n(acc, a.data(), b.data(), n), chain_mac(acc, a, b)) << n << " " << peak;
                    const int pk = std::max(max_abs(a.data(), n), max_abs(b.data(), n));
                    if (acc == 0 && chain_cannot_saturate(n, pk)) {
                        ASSERT_EQ(L_mac_n_nosat(a.data(), b.data(), n), chain_mac(0, a, b));
                    }
                }
            }
        }
    }
}

TEST(MacChain, SaturationIsStickyOnlyInItsDirection) {
    // Up to MAX_32, then back down: the step-by-step result, not the exact sum.
    const std::vector<Word16> a = {32767, 32767, 32767, -32768};
    const std::vector<Word16> b = {32767, 32767, 32767, 32767};
    EXPECT_EQ(L_mac_n(0, a.data(), b.data(), 4), chain_mac(0, a, b));
    EXPECT_EQ(L_mac_n(0, a.data(), b.data(), 4), MAX_32 - 2 * 32768 * 32767);
}

TEST(MacChain, ShortFormsMatchTheirPlainTwins) {
    std::mt19937 rng(7);
    for (const int peak : {0x1000, 20000, 32768}) {
        std::uniform_int_distribution<int> d(-peak, peak - 1);
        for (int rep = 0; rep < 300; ++rep) {
            Word16 a[120], b[120];
            for (int i = 0; i < 120; ++i) {
                a[i] = static_cast<Word16>(d(rng));
                b[i] = static_cast<Word16>(d(rng));
            }
            ASSERT_EQ(energy_60(a), energy_60_steps(a));
            ASSERT_EQ(energy_sat(a, 120), L_mac_steps(0, a, a, 120));
            if (peak == 0x1000) {  // within the plain sums' contracts
                std::int64_t dot = 0;
                for (int i = 0; i < LPC_ORDER; ++i) dot += a[i] * b[i];
                ASSERT_EQ(dot10(a, b), dot);
                ASSERT_EQ(sum_squares_small(a, 120), sum_squares(a, 120));
            }
        }
    }
}

TEST(MacChain, ProductBoundIsExactAtTheLimit) {
    constexpr std::int64_t M = MAX_32;
    struct Case {
        std::int64_t ea, eb;
        bool fits;
    };
    const Case cases[] = {{0, 1LL << 62, true}, {M, M, true},          {M, M + 1, false},
                          {1, M * M, true},     {1, M * M + 1, false}, {3, M * M / 3 + 1, false}};
    for (const Case &c : cases) EXPECT_EQ(products_fit(c.ea, c.eb), c.fits) << c.ea << " " << c.eb;
    EXPECT_TRUE(products_fit(0x3fffffff, 0x3fffffff, MAX_32 / 2));
    EXPECT_FALSE(products_fit(0x40000000, 0x3fffffff, MAX_32 / 2));
}

TEST(MacChain, BoundOnPeak) {
    EXPECT_TRUE(chain_cannot_saturate(60, 4096));
    EXPECT_FALSE(chain_cannot_saturate(120, 4096));
    EXPECT_FALSE(chain_cannot_saturate(1, 32768));
    EXPECT_EQ(max_abs(std::vector<Word16>{3, -32768, 7}.data(), 3), 32768);
}

}  // namespace
