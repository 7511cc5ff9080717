// ADPCM frame coding speed. Realtime factor = seconds of 8 kHz audio coded
// per CPU second: items_per_second (samples) / 8000.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "codec/context.h"
#include "qrxc.h"

namespace {

constexpr int FRAMES = 100;

std::vector<short> test_signal() {
    std::vector<short> pcm(240 * FRAMES);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        pcm[i] = static_cast<short>(8000 * std::sin(2 * std::numbers::pi * 210 * t) +
                                    3000 * std::sin(2 * std::numbers::pi * 1700 * t));
    }
    return pcm;
}

void count_audio(benchmark::State &state) {
    const auto samples = static_cast<double>(state.iterations()) * 240 * FRAMES;
    state.SetItemsProcessed(state.iterations() * 240 * FRAMES);
    state.counters["realtime"] = benchmark::Counter(samples / 8000.0, benchmark::Counter::kIsRate);
}

// A fresh context with an encoding stream of the given type open.
Qrxc_context *open_encoder(int type, G_header &info, unsigned char (&hdr)[QRXC_HEADER_MAX]) {
    Qrxc_context *ctx = Qrxc_create();
    Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, type, &info, hdr);
    return ctx;
}

void BM_AdpcmEncode(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    std::vector<short> pcm = test_signal();
    G_header info;
    unsigned char hdr[QRXC_HEADER_MAX];
    Qrxc_context *ctx = open_encoder(type, info, hdr);
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    for (auto _ : state) {
        for (int f = 0; f < FRAMES; ++f) {
            Qrxc_frame_ctx(ctx, pcm.data() + 240 * f, frame);
            benchmark::DoNotOptimize(frame);
        }
    }
    count_audio(state);
    Qrxc_destroy(ctx);
}

void BM_AdpcmDecode(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    std::vector<short> pcm = test_signal();
    G_header info;
    unsigned char hdr[QRXC_HEADER_MAX];
    Qrxc_context *ctx = open_encoder(type, info, hdr);
    std::vector<unsigned char> stream(static_cast<std::size_t>(info.frame_bytes) * FRAMES);
    for (int f = 0; f < FRAMES; ++f) Qrxc_frame_ctx(ctx, pcm.data() + 240 * f, stream.data() + info.frame_bytes * f);
    Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr);
    short out[240];
    for (auto _ : state) {
        for (int f = 0; f < FRAMES; ++f) {
            Qrxc_frame_ctx(ctx, out, stream.data() + info.frame_bytes * f);
            benchmark::DoNotOptimize(out);
        }
    }
    count_audio(state);
    Qrxc_destroy(ctx);
}

}  // namespace

// Types 4, 5, 6: 3, 4 and 5 bits per sample.
BENCHMARK(BM_AdpcmEncode)->Arg(4)->Arg(5)->Arg(6);
BENCHMARK(BM_AdpcmDecode)->Arg(4)->Arg(5)->Arg(6);
