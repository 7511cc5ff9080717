// Helpers shared by the speed-control and voice-effect tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "codec/context.h"

namespace qrxc::test::speed {

// A fresh context with a decoding stream of the given frame length open;
// only the fields the speed control reads are set.
inline Qrxc_context open_context(int pcm_frame) {
    Qrxc_context ctx;
    qrxc::context_load(ctx);
    ctx.stream.direction = 2;
    ctx.stream.open = true;
    ctx.stream.header.pcm_frame = static_cast<std::uint16_t>(pcm_frame);
    return ctx;
}

// 10 s of synthetic speech at 8 kHz, 16-bit little-endian.
inline std::vector<std::int16_t> load_speech() {
    std::vector<std::int16_t> pcm(80000);
    const std::string path = std::string(QRXC_TEST_DATA) + "/speech_8k.raw";
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return {};
    pcm.resize(std::fread(pcm.data(), sizeof(std::int16_t), pcm.size(), f));
    std::fclose(f);
    return pcm;
}

inline std::vector<std::int16_t> sine(int count, double period, double amplitude, double phase = 0.0) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        out[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * i / period + phase)));
    return out;
}

// Period in samples by normalised autocorrelation over [min_lag, max_lag],
// refined by a parabola through the peak; 0 when nothing is periodic
// enough (peak below min_corr).
inline double estimate_period(const std::int16_t *x, int n, int min_lag, int max_lag, double min_corr = 0.6) {
    auto corr = [&](int lag) {
        double xy = 0, xx = 0, yy = 0;
        for (int i = 0; i + lag < n; ++i) {
            xy += double(x[i]) * x[i + lag];
            xx += double(x[i]) * x[i];
            yy += double(x[i + lag]) * x[i + lag];
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    };
    std::vector<double> c(static_cast<std::size_t>(max_lag + 2));
    for (int k = min_lag - 1; k <= max_lag + 1; ++k) c[static_cast<std::size_t>(k)] = corr(k);
    int best = min_lag;
    for (int k = min_lag; k <= max_lag; ++k)
        if (c[static_cast<std::size_t>(k)] > c[static_cast<std::size_t>(best)]) best = k;
    // Prefer the first strong peak over a multiple of it.
    for (int k = min_lag; k < best; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (c[i] >= 0.9 * c[static_cast<std::size_t>(best)] && c[i] >= c[i - 1] && c[i] >= c[i + 1]) {
            best = k;
            break;
        }
    }
    const auto b = static_cast<std::size_t>(best);
    if (c[b] < min_corr) return 0.0;
    const double den = c[b - 1] - 2 * c[b] + c[b + 1];
    return den < 0 ? best + 0.5 * (c[b - 1] - c[b + 1]) / den : best;
}

}  // namespace qrxc::test::speed
