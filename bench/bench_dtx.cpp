// Silence compression: the standard-stream encoder with and without voice
// activity detection, decoding with comfort noise, and the detector's own
// share of a frame ("realtime": seconds of audio per CPU second).
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "g723/encoder/enc_cng.h"
#include "g723/encoder/encoder.h"
#include "g723/encoder/hp_filter.h"
#include "g723/encoder/lpc_analysis.h"
#include "g723/encoder/vad.h"
#include "qrxc.h"

namespace {

std::vector<unsigned char> read_vector(const char *name) {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "annexa" / name;
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<short> samples_of(const std::vector<unsigned char> &b) {
    std::vector<short> v(b.size() / 2 / 240 * 240);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>(b[2 * i] | (b[2 * i + 1] << 8));
    return v;
}

Qrxc_context *opened(int direction) {
    Qrxc_context *ctx = Qrxc_create();
    unsigned char hdr[QRXC_HEADER_MAX];
    G_header h{};
    Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, 2, &h, hdr);
    if (direction == QRXC_DECODE) Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr);
    return ctx;
}

void realtime(benchmark::State &state) {
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.030, benchmark::Counter::kIsRate);
}

// DTX63.TIN: speech with pauses; a fifth of its frames are silence.
void encode(benchmark::State &state, int rate, int flags) {
    const std::vector<short> pcm = samples_of(read_vector("DTX63.TIN"));
    if (pcm.empty()) return state.SkipWithError("vector not found");
    Qrxc_context *ctx = opened(QRXC_ENCODE);
    unsigned char out[QRXC_G723_STANDARD_MAX_BYTES];
    std::size_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Qrxc_encode_standard_ctx(ctx, pcm.data() + at, rate, flags, out));
        if ((at += 240) == pcm.size()) at = 0;
    }
    realtime(state);
    Qrxc_destroy(ctx);
}

void decode(benchmark::State &state, const std::vector<unsigned char> &bits) {
    if (bits.empty()) return state.SkipWithError("vector not found");
    Qrxc_context *ctx = opened(QRXC_DECODE);
    short pcm[240];
    std::size_t at = 0;
    for (auto _ : state) {
        at += static_cast<std::size_t>(Qrxc_decode_standard_ctx(ctx, bits.data() + at, bits.size() - at, pcm, nullptr));
        benchmark::DoNotOptimize(pcm);
        if (at >= bits.size()) at = 0;
    }
    realtime(state);
    Qrxc_destroy(ctx);
}

// What detection adds to every frame, speech or not: the autocorrelation
// history and the detector itself.
void BM_VadOnly(benchmark::State &state) {
    const std::vector<short> pcm = samples_of(read_vector("DTX63.TIN"));
    if (pcm.empty()) return state.SkipWithError("vector not found");
    qrxc::g723::Enc_state st;
    qrxc::g723::enc_reset(st);
    qrxc::g723::Enc_dtx_state dtx;
    qrxc::g723::enc_dtx_reset(dtx);
    Word16 frame[240], lpc[40], acf[44], shift[4];
    std::memcpy(frame, pcm.data(), sizeof frame);
    qrxc::g723::hp_filter(st, frame);
    qrxc::g723::lpc_analysis(st, lpc, frame, acf, shift);
    for (auto _ : state) {
        qrxc::g723::cng_store_acf(dtx.cng, acf, shift);
        benchmark::DoNotOptimize(qrxc::g723::vad_frame(dtx.vad, st, frame));
    }
    realtime(state);
}

void BM_EncodeStandard63(benchmark::State &s) { encode(s, QRXC_G723_KIND_63, 0); }
void BM_EncodeStandard63Vad(benchmark::State &s) { encode(s, QRXC_G723_KIND_63, QRXC_G723_VAD); }
void BM_EncodeStandard53(benchmark::State &s) { encode(s, QRXC_G723_KIND_53, 0); }
void BM_EncodeStandard53Vad(benchmark::State &s) { encode(s, QRXC_G723_KIND_53, QRXC_G723_VAD); }
// DTX63.RCO: a fifth of its frames comfort noise; then comfort noise only.
void BM_DecodeDtx63(benchmark::State &s) { decode(s, read_vector("DTX63.RCO")); }
void BM_DecodeComfortNoise(benchmark::State &s) {
    std::vector<unsigned char> bits(1003, 0x03);
    const unsigned char sid[4] = {0x02, 0x00, 0x00, 0x50};  // gain index 20
    std::memcpy(bits.data(), sid, sizeof sid);
    decode(s, bits);
}

}  // namespace

BENCHMARK(BM_EncodeStandard63);
BENCHMARK(BM_EncodeStandard63Vad);
BENCHMARK(BM_EncodeStandard53);
BENCHMARK(BM_EncodeStandard53Vad);
BENCHMARK(BM_VadOnly);
BENCHMARK(BM_DecodeDtx63);
BENCHMARK(BM_DecodeComfortNoise);
