// Decoding speed of the G.723.1 stream types on real coded speech. The
// "realtime" counter is seconds of audio decoded per CPU second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/context.h"
#include "codec/g723_path.h"
#include "codec/stream.h"
#include "g723/common/frame.h"
#include "g723/decoder/decoder.h"

namespace {

// The frames of a reference stream in the source tree.
std::vector<unsigned char> stream_body(const char *name) {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "conformance" /
                      "decode" / name;
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> all{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (all.size() <= 16) return {};
    return {all.begin() + 16, all.end()};
}

void decode_type(benchmark::State &state, int type, const char *stream) {
    const std::vector<unsigned char> body = stream_body(stream);
    const qrxc::Stream_mode &mode = *qrxc::stream_mode(static_cast<unsigned>(type));
    const size_t fb = mode.frame_bytes;
    const size_t frames = body.size() / fb;
    if (frames == 0) {
        state.SkipWithError("reference stream not found");
        return;
    }
    auto *ctx = new Qrxc_context;
    qrxc::context_load(*ctx);
    ctx->stream.direction = 2;
    ctx->stream.header.type = static_cast<uint16_t>(type);
    ctx->stream.header.pcm_frame = mode.pcm_frame;
    ctx->stream.header.frame_bytes = mode.frame_bytes;
    ctx->stream.resample = mode.resample;
    ctx->stream.rate_select = mode.rate_select;
    qrxc::g723_decode_setup(*ctx);
    short pcm[QRXC_MAX_PCM_FRAME];
    size_t f = 0;
    for (auto _ : state) {
        qrxc::frame_g723_decode(*ctx, pcm, body.data() + f * fb);
        benchmark::DoNotOptimize(pcm);
        if (++f == frames) f = 0;
    }
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.030, benchmark::Counter::kIsRate);
    delete ctx;
}

void BM_DecodeType0(benchmark::State &state) { decode_type(state, 0, "PATHC53_RCO.QRX"); }
void BM_DecodeType1(benchmark::State &state) { decode_type(state, 1, "PATHC53_RCO.QRX"); }
void BM_DecodeType2(benchmark::State &state) { decode_type(state, 2, "PATHC63H_RCO.QRX"); }

BENCHMARK(BM_DecodeType0);
BENCHMARK(BM_DecodeType1);
BENCHMARK(BM_DecodeType2);

}  // namespace
