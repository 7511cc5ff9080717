// The fast multiply-accumulate runs against the step-by-step saturating chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "g723/common/basic_ops.h"
#include "g723/common/mac_chain.h"

namespace {

using namespace g723;

Word32 chain_mac(Word32 acc, const std::vector<Word16> &a, const std::vector<Word16> &b) {
    for (size_t i = 0; i < a.size(); ++i) acc = L_mac(acc, a[i], b[i]);
    return acc;
}
Word32 chain_msu(Word32 acc, const std::vector<Word16> &a, const std::vector<Word16> &b) {
    for (size_t i = 0; i < a.size(); ++i) acc = L_msu(acc, a[i], b[i]);
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
                    ASSERT_EQ(L_msu_n(acc, a.data(), b.data(), n), chain_msu(acc, a, b)) << n << " " << peak;
                    const int pk = std::max(max_abs(a.data(), n), max_abs(b.data(), n));
                    if (acc == 0 && chain_cannot_saturate(n, pk)) {
                        ASSERT_EQ(dot_plain(a.data(), b.data(), n), chain_mac(0, a, b));
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

TEST(MacChain, BoundOnPeak) {
    EXPECT_TRUE(chain_cannot_saturate(60, 4096));
    EXPECT_FALSE(chain_cannot_saturate(120, 4096));
    EXPECT_FALSE(chain_cannot_saturate(1, 32768));
    EXPECT_EQ(max_abs(std::vector<Word16>{3, -32768, 7}.data(), 3), 32768);
}

}  // namespace
