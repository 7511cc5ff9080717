// G.723.1 encoding speed per stream type, on the speech of the encoder's
// reference inputs (synthetic voiced speech when they are not found).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "codec/stream.h"

namespace {

std::vector<short> load_speech() {
    const std::filesystem::path p = std::filesystem::path(__FILE__).parent_path() / ".." / "tests" / "data" /
                                    "conformance" / "encode" / "PATHC53.pcm";
    std::ifstream f(p, std::ios::binary);
    std::vector<unsigned char> b{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::vector<short> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); i++)
        s[i] = static_cast<short>(static_cast<std::uint16_t>(b[2 * i] | (b[2 * i + 1] << 8)));
    if (s.size() >= 24000) return s;
    // A vowel-like buzz: a 120 Hz pulse train through two resonances.
    s.assign(96000, 0);
    double y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    for (std::size_t n = 0; n < s.size(); n++) {
        const double x = (n % 67 == 0) ? 8000.0 : 0.0;
        const double y = x + 1.8 * std::cos(0.55) * y1 - 0.81 * y2;
        const double z = y + 1.7 * std::cos(1.4) * z1 - 0.72 * z2;
        y2 = y1;
        y1 = y;
        z2 = z1;
        z1 = z;
        s[n] = static_cast<short>(std::clamp(z * 0.2, -32768.0, 32767.0));
    }
    return s;
}

void BM_Encode(benchmark::State &state) {
    const int type = static_cast<int>(state.range(0));
    static const std::vector<short> speech = load_speech();
    const qrxc::Stream_mode &mode = *qrxc::stream_mode(static_cast<unsigned>(type));
    const std::size_t n = mode.pcm_frame;
    auto ctx = std::make_unique<Qrxc_context>();
    qrxc::context_load(*ctx);
    ctx->stream.direction = 1;
    ctx->stream.header.type = static_cast<std::uint16_t>(type);
    ctx->stream.header.pcm_frame = static_cast<std::uint16_t>(n);
    ctx->stream.header.frame_bytes = mode.frame_bytes;
    ctx->stream.rate_select = mode.rate_select;
    ctx->stream.resample = mode.resample;
    qrxc::g723_encode_setup(*ctx);
    unsigned char out[QRXC_MAX_FRAME_BYTES];
    std::size_t pos = 0;
    for (auto _ : state) {
        if (pos + n > speech.size()) pos = 0;
        qrxc::frame_g723_encode(*ctx, &speech[pos], out);
        benchmark::DoNotOptimize(out);
        pos += n;
    }
    // Seconds of audio per CPU second, taking the samples at 8000 Hz.
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(n) / 8000.0, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
