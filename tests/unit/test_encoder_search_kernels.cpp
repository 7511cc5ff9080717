// The fast correlation kernels and gain-vector scoring of the excitation
// searches against their plain saturating forms, from quiet to full scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"
#include "g723/encoder/acb_search.h"
#include "g723/encoder/mpmlq.h"

#if QRXC_X86_KERNELS
#include "g723/common/x86/conv_kernels.h"
#endif

namespace {

using namespace qrxc::g723;

struct Amplitude {
    const char *name;
    int peak;         // samples drawn from [-peak, peak]
    bool min_values;  // sprinkle -32768 in
};

class KernelEquality : public ::testing::TestWithParam<Amplitude> {
protected:
    std::mt19937 rng{1234};
    void fill(Word16 *v, int n) {
        const Amplitude a = GetParam();
        std::uniform_int_distribution<int> dist(-a.peak, a.peak);
        for (int i = 0; i < n; ++i) v[i] = static_cast<Word16>(dist(rng));
        if (a.min_values)
            for (int i = 0; i < n; i += 7) v[i] = -32768;
    }
};

TEST_P(KernelEquality, FastFormsMatchPlainForms) {
    for (int trial = 0; trial < 200; ++trial) {
        Word16 a[SUBFRAME_LEN];
        Word16 b[SUBFRAME_LEN];
        fill(a, SUBFRAME_LEN);
        fill(b, SUBFRAME_LEN);
        const int n = 1 + trial % SUBFRAME_LEN;
        ASSERT_EQ(L_mac_n(0, a, b, n), L_mac_steps(0, a, b, n));

        Word16 o1[SUBFRAME_LEN];
        Word16 o2[SUBFRAME_LEN];
        conv_round(o1, a, b);
        conv_round_plain(o2, a, b);
        ASSERT_TRUE(std::equal(o1, o1 + SUBFRAME_LEN, o2));

#if QRXC_X86_KERNELS
        // The postfilter's segment sums, where its peak test lets them run.
        if (chain_cannot_saturate(SUBFRAME_LEN, std::max(max_abs(a, SUBFRAME_LEN), max_abs(b, SUBFRAME_LEN)))) {
            ASSERT_EQ(2 * x86::dot60_sse2(a, b), L_mac_steps(0, a, b, SUBFRAME_LEN));
            if (kernel_set_available(Kernel_set::avx2)) {
                ASSERT_EQ(2 * x86::dot60_avx2(a, b), L_mac_steps(0, a, b, SUBFRAME_LEN));
            }
        }
#endif
        const std::int64_t ea = sum_squares(a, n);
        const std::int64_t eb = sum_squares(b, n);
        ASSERT_EQ(products_known(a, b, n, ea, eb), products_steps(a, b, n));
        ASSERT_EQ(energy_from_exact(ea), L_mac_steps(0, a, a, n));

        tap_step(o1, a, b[0], b);
        tap_step_plain(o2, a, b[0], b);
        ASSERT_TRUE(std::equal(o1, o1 + SUBFRAME_LEN, o2));

        Word16 x1[SUBFRAME_LEN];
        Word16 x2[SUBFRAME_LEN];
        fill(x1, SUBFRAME_LEN);
        std::copy(x1, x1 + SUBFRAME_LEN, x2);
        subtract_filtered(x1, a, b);
        subtract_filtered_plain(x2, a, b);
        ASSERT_TRUE(std::equal(x1, x1 + SUBFRAME_LEN, x2));
        conv_round_plain(o2, a, b);
        for (const Kernel_set set : {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2}) {
            fill(x1, SUBFRAME_LEN);
            std::copy(x1, x1 + SUBFRAME_LEN, x2);
            acb_conv_forms(o1, x1, a, b, set);
            subtract_filtered_plain(x2, a, b);
            ASSERT_TRUE(std::equal(o1, o1 + SUBFRAME_LEN, o2)) << kernel_set_name(set);
            ASSERT_TRUE(std::equal(x1, x1 + SUBFRAME_LEN, x2)) << kernel_set_name(set);
        }

        Word32 c1[SUBFRAME_LEN];
        Word32 c2[SUBFRAME_LEN];
        corr_back(c1, a, b);
        corr_back_plain(c2, a, b);
        ASSERT_TRUE(std::equal(c1, c1 + SUBFRAME_LEN, c2));
        autocorr(c1, a);
        autocorr_plain(c2, a);
        ASSERT_TRUE(std::equal(c1, c1 + SUBFRAME_LEN, c2));

        Prefix_table p1{};
        Prefix_table p2{};
        prefix_corr(p1, a);
        prefix_corr_plain(p2, a);
        for (int d = 0; d < SUBFRAME_LEN; d += 2)
            ASSERT_TRUE(std::equal(p1[d], p1[d] + SUBFRAME_LEN - d, p2[d])) << "lag " << d;

        Word16 v[ACB_GAIN_COLS];
        fill(v, ACB_GAIN_COLS);
        for (const bool big : {false, true}) {
            // Every row count, so that each lane position ends a table once.
            const int rows = 1 + trial % (big ? 170 : 85);
            const Acb_pick p = acb_score_plain(v, big, rows, 0);
            const Acb_pick q = acb_score_portable(v, big, rows, 0);
            ASSERT_EQ(q.index, p.index);
            ASSERT_EQ(q.score, p.score);
            for (const Kernel_set set : {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2}) {
                const Acb_pick f = acb_score(v, big, rows, 0, set);
                ASSERT_EQ(f.index, p.index) << kernel_set_name(set) << " rows " << rows;
                ASSERT_EQ(f.score, p.score) << kernel_set_name(set);
            }
        }
    }
}

// The whole multipulse search, fast against all-saturating, from the same
// starting point: same winner, same criterion, same pulses.
TEST_P(KernelEquality, MpmlqSearchMatchesItsPlainForm) {
    for (int trial = 0; trial < 60; ++trial) {
        Word16 t[SUBFRAME_LEN];
        Word16 h[SUBFRAME_LEN];
        fill(t, SUBFRAME_LEN);
        fill(h, SUBFRAME_LEN);
        if (trial % 3 == 0)  // a decaying response as the encoder makes them
            for (int i = 0; i < SUBFRAME_LEN; ++i) h[i] = static_cast<Word16>(h[i] >> (i / 6));
        const int np = 5 + trial % 2;
        const Word16 lag = static_cast<Word16>(trial % 4 == 0 ? 60 : 18 + trial % 40);
        Mpmlq_best plain = mpmlq_initial_best(np);
        mpmlq_search_plain(plain, t, h, np, lag);
        for (const Kernel_set set : {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2}) {
            Mpmlq_best fast = mpmlq_initial_best(np);
            mpmlq_search(fast, t, h, np, lag, set);
            ASSERT_EQ(fast.max_err, plain.max_err) << "trial " << trial << ' ' << kernel_set_name(set);
            ASSERT_EQ(fast.grid, plain.grid);
            ASSERT_EQ(fast.gain_index, plain.gain_index);
            ASSERT_EQ(fast.train, plain.train);
            ASSERT_TRUE(std::equal(fast.pos, fast.pos + np, plain.pos));
            ASSERT_TRUE(std::equal(fast.amp, fast.amp + np, plain.amp));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Amplitudes, KernelEquality,
                         ::testing::Values(Amplitude{"quiet", 300, false}, Amplitude{"speech", 4000, false},
                                           Amplitude{"loud", 20000, false}, Amplitude{"full", 32767, true}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

}  // namespace
