// Standard G.723.1 streams: frame conversion both ways (frames per second)
// and decoding straight from the standard layout ("realtime": seconds of
// audio per CPU second).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "qrxc.h"

namespace {

std::vector<unsigned char> read_data(const char *dir, const char *name) {
    const auto path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "conformance" / dir / name;
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void to_standard(benchmark::State &state, int type, const char *name) {
    const std::vector<unsigned char> qrx = read_data("decode", name);
    Qrxc_type_desc desc{};
    const int hlen = qrx.size() >= 4 ? Qrxc_header_length(qrx.data()) : -1;
    if (hlen < 0 || Qrxc_type_info(type, &desc) != 0) return state.SkipWithError("reference stream not found");
    const size_t fb = static_cast<size_t>(desc.frame_bytes);
    const size_t frames = qrx.size() > static_cast<size_t>(hlen) ? (qrx.size() - static_cast<size_t>(hlen)) / fb : 0;
    if (frames == 0) return state.SkipWithError("reference stream not found");
    unsigned char out[QRXC_G723_STANDARD_MAX_BYTES];
    size_t f = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Qrxc_g723_to_standard(qrx.data() + hlen + f * fb, type, out));
        benchmark::ClobberMemory();
        if (++f == frames) f = 0;
    }
    state.counters["frames"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void from_standard(benchmark::State &state, int type, const char *name) {
    const std::vector<unsigned char> bits = read_data("standard", name);
    if (bits.empty()) return state.SkipWithError("reference stream not found");
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    size_t at = 0;
    for (auto _ : state) {
        int kind = 0;
        at += static_cast<size_t>(Qrxc_g723_from_standard(bits.data() + at, bits.size() - at, type, frame, &kind));
        benchmark::DoNotOptimize(frame);
        if (at >= bits.size()) at = 0;
    }
    state.counters["frames"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void decode_standard(benchmark::State &state, int type, const char *name) {
    const std::vector<unsigned char> bits = read_data("standard", name);
    // Any reference stream of the type opens the decoder.
    const std::vector<unsigned char> hdr = read_data("decode", type == 2 ? "PATHC63H_RCO.QRX" : "PATHC53_RCO.QRX");
    if (bits.empty() || hdr.size() < 16) return state.SkipWithError("reference stream not found");
    Qrxc_context *ctx = Qrxc_create();
    G_header info{};
    if (Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, const_cast<unsigned char *>(hdr.data())) < 0) {
        Qrxc_destroy(ctx);
        return state.SkipWithError("cannot open the stream");
    }
    short pcm[240];
    size_t at = 0;
    for (auto _ : state) {
        at += static_cast<size_t>(Qrxc_decode_standard_ctx(ctx, bits.data() + at, bits.size() - at, pcm, nullptr));
        benchmark::DoNotOptimize(pcm);
        if (at >= bits.size()) at = 0;
    }
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.030, benchmark::Counter::kIsRate);
    Qrxc_destroy(ctx);
}

void BM_ToStandard53(benchmark::State &s) { to_standard(s, 1, "PATHC53_RCO.QRX"); }
void BM_ToStandard63(benchmark::State &s) { to_standard(s, 2, "PATHC63H_RCO.QRX"); }
void BM_FromStandard53(benchmark::State &s) { from_standard(s, 1, "PATHC53_RCO.bit"); }
void BM_FromStandard63(benchmark::State &s) { from_standard(s, 2, "PATHC63H_RCO.bit"); }
void BM_DecodeStandard53(benchmark::State &s) { decode_standard(s, 1, "PATHC53_RCO.bit"); }
void BM_DecodeStandard63(benchmark::State &s) { decode_standard(s, 2, "PATHC63H_RCO.bit"); }

BENCHMARK(BM_ToStandard53);
BENCHMARK(BM_ToStandard63);
BENCHMARK(BM_FromStandard53);
BENCHMARK(BM_FromStandard63);
BENCHMARK(BM_DecodeStandard53);
BENCHMARK(BM_DecodeStandard63);

}  // namespace
