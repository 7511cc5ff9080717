// Independent contexts on eight threads at once: every stream type encoded
// and decoded, with speed levels and voice effects on the decoded PCM; each
// thread's output must equal a serial run of the same work. Built alone
// under ThreadSanitizer by scripts/test.sh.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "qrxc.h"

namespace {

constexpr int TYPES[] = {0, 1, 2, 4, 5, 6};
// Normal speed, faster and slower levels, then effect codes.
constexpr int SPEED_FLAGS[] = {0, 1, 6, 12, 0x80, 0x81, 0x82, 0x83, 0x84};
constexpr int THREADS = 8;
constexpr int FRAMES = 8;

std::vector<short> speech() {
    std::ifstream in(QRXC_TEST_DATA "/speech_8k.raw", std::ios::binary);
    const std::vector<char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<short> pcm(b.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] =
            static_cast<short>(static_cast<unsigned char>(b[2 * i]) | (static_cast<unsigned char>(b[2 * i + 1]) << 8));
    return pcm;
}

// One stream type encoded, decoded and played with one speed setting on ctx;
// everything produced, as bytes and samples.
std::vector<int> run_job(Qrxc_context *ctx, const std::vector<short> &pcm, int type, int flags, std::size_t offset) {
    std::vector<int> out;
    G_header h{};
    unsigned char hdr[16];
    Qrxc_version_ctx(ctx, 1);
    out.push_back(Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, type, &h, hdr));
    std::vector<unsigned char> stream(hdr, hdr + 16);
    std::vector<short> frame(QRXC_MAX_PCM_FRAME);
    unsigned char coded[QRXC_MAX_FRAME_BYTES];
    for (int f = 0; f < FRAMES; ++f) {
        const std::size_t at = (offset + static_cast<std::size_t>(f) * h.pcm_frame) % (pcm.size() - h.pcm_frame);
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(at), h.pcm_frame, frame.begin());
        out.push_back(Qrxc_frame_ctx(ctx, frame.data(), coded));
        stream.insert(stream.end(), coded, coded + h.frame_bytes);
    }
    out.insert(out.end(), stream.begin(), stream.end());

    out.push_back(Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, stream.data()));
    out.push_back(Qrmd_initial_ctx(ctx, flags));
    std::vector<short> played(2 * QRXC_MAX_PCM_FRAME);
    for (std::size_t at = 16; at + h.frame_bytes <= stream.size(); at += h.frame_bytes) {
        out.push_back(Qrxc_frame_ctx(ctx, frame.data(), &stream[at]));
        out.insert(out.end(), frame.begin(), frame.begin() + h.pcm_frame);
        out.push_back(Qrmd_frame_ctx(ctx, flags, frame.data(), played.data()));
        const int n = Qrmd_last_count_ctx(ctx);
        out.insert(out.end(), played.begin(), played.begin() + n);
    }
    return out;
}

// Thread t's share: every type once, each with a speed setting of its own.
std::vector<int> run_thread(int t, const std::vector<short> &pcm) {
    Qrxc_context *ctx = Qrxc_create();
    std::vector<int> out;
    if (ctx == nullptr) return out;
    int k = 0;
    for (int type : TYPES) {
        const int flags = SPEED_FLAGS[(t * 3 + k) % std::size(SPEED_FLAGS)];
        const std::vector<int> job = run_job(ctx, pcm, type, flags, static_cast<std::size_t>(t * 997 + k * 240));
        out.insert(out.end(), job.begin(), job.end());
        ++k;
    }
    Qrxc_destroy(ctx);
    return out;
}

TEST(Threads, ContextsOnEightThreadsMatchASerialRun) {
    const std::vector<short> pcm = speech();
    ASSERT_GT(pcm.size(), 4000u);
    std::vector<std::vector<int>> serial(THREADS), parallel(THREADS);
    for (int t = 0; t < THREADS; ++t) serial[t] = run_thread(t, pcm);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) threads.emplace_back([&, t] { parallel[t] = run_thread(t, pcm); });
    for (auto &th : threads) th.join();
    for (int t = 0; t < THREADS; ++t) {
        ASSERT_FALSE(serial[t].empty());
        EXPECT_EQ(serial[t], parallel[t]) << "thread " << t;
    }
}

}  // namespace
