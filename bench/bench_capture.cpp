// A one-hour call of two parties captured as RTP (a packet of one 6.3
// kbit/s frame every 30 ms each way), read from memory, put in time and
// decoded, as qrx decode does with a capture file. "realtime" is seconds of
// the call per CPU second; "audio" counts both legs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/capture/packet_builder.h"
#include "cli/capture/rtp_stream.h"
#include "cli/capture/stream_decode.h"
#include "qrxc.h"

namespace {

using namespace qrxc::capture;

constexpr int CALL_SECONDS = 3600;

std::vector<std::vector<std::uint8_t>> speech_frames() {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "conformance" /
                      "standard" / "CODEC63_RCO.bit";
    std::ifstream f(path, std::ios::binary);
    const std::vector<std::uint8_t> bits{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at < bits.size();) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(bits.data() + at, bits.size() - at, 1, nullptr, &kind);
        if (used <= 0) break;
        frames.emplace_back(bits.begin() + static_cast<long>(at), bits.begin() + static_cast<long>(at) + used);
        at += static_cast<std::size_t>(used);
    }
    return frames;
}

struct Null_sink : Pcm_sink {
    bool write(const short *pcm, std::size_t n) override {
        benchmark::DoNotOptimize(pcm[n - 1]);
        return true;
    }
};

void BM_capture_call(benchmark::State &state) {
    const auto frames = speech_frames();
    if (frames.empty()) return state.SkipWithError("reference stream not found");
    Packet_spec a, b;
    a.src = b.dst = ipv4_address(10, 0, 0, 1);
    a.dst = b.src = ipv4_address(10, 0, 0, 2);
    a.src_port = b.dst_port = 40000;
    a.dst_port = b.src_port = 50000;
    std::vector<std::vector<std::uint8_t>> packets;
    const int count = CALL_SECONDS * 8000 / SAMPLES_PER_FRAME;
    for (int i = 0; i < count; ++i)
        for (int leg = 0; leg < 2; ++leg) {
            const auto &f = frames[static_cast<std::size_t>(i + leg * 7) % frames.size()];
            const auto rtp = build_rtp(4, i == 0, static_cast<std::uint16_t>(i), static_cast<std::uint32_t>(i * 240),
                                       leg == 0 ? 0xA : 0xB, f.data(), f.size());
            packets.push_back(build_udp_packet(leg == 0 ? a : b, rtp.data(), rtp.size()));
        }
    Qrxc_context *ctx = Qrxc_create();
    for (auto _ : state) {
        Stream_collector collector;
        double t = 0;
        for (const auto &p : packets) collector.add_packet(LINK_ETHERNET, p.data(), p.size(), t += 0.015);
        for (const Rtp_stream *s : collector.finish()) {
            Null_sink sink;
            if (decode_stream(*s, ctx, sink) != Decode_status::ok) state.SkipWithError("decode failed");
        }
    }
    Qrxc_destroy(ctx);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * CALL_SECONDS, benchmark::Counter::kIsRate);
    state.counters["audio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2 * CALL_SECONDS, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_capture_call)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
