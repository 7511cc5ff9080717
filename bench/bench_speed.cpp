// Speed control and voice effects on speech: each level and each effect.
// The "x_realtime" counter is seconds of 8 kHz audio per CPU second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/context.h"
#include "codec/speed_path.h"

namespace {

// Ten seconds of speech from the test data; a voiced synthetic stand-in
// when the file is not there.
const std::vector<short> &speech() {
    static const std::vector<short> pcm = [] {
        std::vector<short> v(80000);
        // The sample sits beside this file's directory in the source tree.
        std::string path = __FILE__;
        path = path.substr(0, path.rfind("bench")) + "tests/data/speech_8k.raw";
        FILE *f = std::fopen(path.c_str(), "rb");
        if (f != nullptr) {
            v.resize(std::fread(v.data(), sizeof(short), v.size(), f));
            std::fclose(f);
        }
        if (v.size() < 8000) {
            v.assign(80000, 0);
            for (std::size_t i = 0; i < v.size(); ++i)
                v[i] = static_cast<short>(8000 * std::sin(static_cast<double>(i) * 0.12) *
                                          std::sin(static_cast<double>(i) * 0.0007));
        }
        return v;
    }();
    return pcm;
}

// Full-band noise: no period stands out, so the search rarely drops a lag
// early; the worst case for the speed levels.
const std::vector<short> &noise() {
    static const std::vector<short> pcm = [] {
        std::vector<short> v(80000);
        std::uint32_t seed = 1;
        for (auto &x : v) {
            seed = seed * 1664525u + 1013904223u;
            x = static_cast<short>(seed >> 16);
        }
        return v;
    }();
    return pcm;
}

void run(benchmark::State &state, int flags, const std::vector<short> &pcm = speech()) {
    Qrxc_context ctx;
    qrxc::context_load(ctx);
    ctx.stream.direction = 2;
    ctx.stream.header.pcm_frame = 240;
    qrxc::qrmd_initial(ctx, flags);
    std::vector<short> out(480);
    std::size_t at = 0;
    std::int64_t samples = 0;
    for (auto _ : state) {
        if (at + 240 > pcm.size()) at = 0;
        qrxc::qrmd_frame(ctx, flags, &pcm[at], out.data());
        benchmark::DoNotOptimize(out.data());
        at += 240;
        samples += 240;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 8000.0, benchmark::Counter::kIsRate);
}

void BM_speed_level(benchmark::State &state) { run(state, static_cast<int>(state.range(0))); }
BENCHMARK(BM_speed_level)->DenseRange(0, 12);

void BM_speed_level_noise(benchmark::State &state) { run(state, static_cast<int>(state.range(0)), noise()); }
BENCHMARK(BM_speed_level_noise)->Arg(0)->Arg(3)->Arg(5)->Arg(12);

void BM_effect(benchmark::State &state) { run(state, QRMD_EFFECT_MODE | static_cast<int>(state.range(0))); }
// Pitch settings 1..7 alone, then vibrato, short echo, long echo, and a full chain.
BENCHMARK(BM_effect)
    ->Arg(0x04)
    ->Arg(0x08)
    ->Arg(0x0C)
    ->Arg(0x10)
    ->Arg(0x14)
    ->Arg(0x18)
    ->Arg(0x1C)
    ->Arg(0x01)
    ->Arg(0x02)
    ->Arg(0x03)
    ->Arg(0x1D);

}  // namespace
