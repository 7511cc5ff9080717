// Cost of one subframe of each excitation search, and of the correlation
// kernels in their plain and fast forms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "g723/common/fast_ops.h"
#include "g723/encoder/acb_search.h"
#include "g723/encoder/acelp.h"
#include "g723/encoder/encoder.h"
#include "g723/encoder/fcb_search.h"
#include "g723/encoder/mpmlq.h"

namespace {

using namespace qrxc::g723;
using Vec = std::array<Word16, SUBFRAME_LEN>;

// Speech-like working data: a decaying weighted impulse response, a target
// and an excitation history at ordinary speech levels.
struct Scene {
    Vec h{};
    Vec target{};
    Enc_state st{};
    explicit Scene(unsigned seed) {
        std::mt19937 rng(seed);
        std::normal_distribution<double> noise(0.0, 1.0);
        for (int i = 0; i < SUBFRAME_LEN; ++i)
            h[i] = static_cast<Word16>(std::lround(16384 * std::pow(0.8, i) * std::cos(0.5 * i)));
        for (auto &x : target) x = static_cast<Word16>(std::clamp(1500.0 * noise(rng), -32768.0, 32767.0));
        for (int i = 0; i < ACB_LAG_MAX; ++i)
            st.prev_exc[i] = static_cast<Word16>(std::lround(2500 * std::sin(0.11 * i) + 400 * noise(rng)));
        for (auto &e : st.taming_err) e = 4;
    }
};

void BM_AcbSearch(benchmark::State &state) {
    const int rate = static_cast<int>(state.range(0));
    const Word16 s = static_cast<Word16>(state.range(1));
    const Scene sc(1);
    for (auto _ : state) {
        Vec x = sc.target;
        Frame_params p{};
        p.ol_lag[s >> 1] = 57;  // pair of tables at 6.3 kbit/s
        acb_search(sc.st, rate, x.data(), sc.h.data(), p, s);
        benchmark::DoNotOptimize(x);
    }
}
BENCHMARK(BM_AcbSearch)->Args({RATE_63, 0})->Args({RATE_63, 1})->Args({RATE_53, 1});

void BM_FcbSearch(benchmark::State &state) {
    const int rate = static_cast<int>(state.range(0));
    const Word16 lag = static_cast<Word16>(state.range(1));
    const Scene sc(2);
    Word16 budget = 0;
    for (auto _ : state) {
        Vec t = sc.target;
        Vec h = sc.h;
        Frame_params p{};
        p.ol_lag[0] = lag;
        p.sub[0].lag_offset = 1;
        p.sub[0].acb_gain = 3;
        reset_acelp_budget(budget);
        fcb_search(rate, budget, t.data(), h.data(), p, 0);
        benchmark::DoNotOptimize(t);
    }
}
// 6.3 kbit/s without and with the pulse-train search; 5.3 kbit/s.
BENCHMARK(BM_FcbSearch)->Args({RATE_63, 100})->Args({RATE_63, 40})->Args({RATE_53, 40});

template <bool Fast>
void BM_Conv(benchmark::State &state) {
    const Scene sc(3);
    Vec out{};
    for (auto _ : state) {
        if constexpr (Fast)
            conv_round(out.data(), sc.target.data(), sc.h.data());
        else
            conv_round_plain(out.data(), sc.target.data(), sc.h.data());
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Conv<false>)->Name("BM_ConvRound/plain");
BENCHMARK(BM_Conv<true>)->Name("BM_ConvRound/fast");

template <bool Fast>
void BM_CorrBack(benchmark::State &state) {
    const Scene sc(4);
    std::array<Word32, SUBFRAME_LEN> out{};
    for (auto _ : state) {
        if constexpr (Fast)
            corr_back(out.data(), sc.target.data(), sc.h.data());
        else
            corr_back_plain(out.data(), sc.target.data(), sc.h.data());
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_CorrBack<false>)->Name("BM_CorrBack/plain");
BENCHMARK(BM_CorrBack<true>)->Name("BM_CorrBack/fast");

}  // namespace
