// Silence compression both ways. Decoding: arbitrary bytes as a standard
// stream (speech of either rate, SID frames with any fields, untransmitted
// frames, lost frames inside silence, a cut last frame). Encoding: the
// bytes as PCM through the encoder with voice activity detection, each
// frame's rate taken from one bit; whatever it writes must decode again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

// Six frames take a quiet input through the detector's start into a SID
// frame and untransmitted ones; each frame more costs a whole encode.
constexpr std::size_t MAX_ENCODED_FRAMES = 6;
constexpr std::size_t MAX_LEN = 1 + 2 * 60 * MAX_ENCODED_FRAMES;

qrxc::fuzz::Ctx opened(int direction) {
    qrxc::fuzz::Ctx ctx(Qrxc_create());
    qrxc::fuzz::check(ctx != nullptr);
    unsigned char hdr[16];
    G_header h{};
    qrxc::fuzz::check(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 2, &h, hdr) > 0);
    if (direction == QRXC_DECODE) qrxc::fuzz::check(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &h, hdr) > 0);
    return ctx;
}

// Silence frames are one to four bytes: without a cap, an input of the
// harness's length decodes hundreds of frames, where a dozen or so reach
// every state the comfort noise carries from one frame to the next.
constexpr std::size_t MAX_DECODED_FRAMES = 16;

void decode_all(const std::uint8_t *data, std::size_t size) {
    qrxc::fuzz::Ctx ctx = opened(QRXC_DECODE);
    short pcm[240];
    for (std::size_t at = 0, frames = 0; at < size && frames < MAX_DECODED_FRAMES; ++frames) {
        int kind = -1;
        const int used = Qrxc_decode_standard_ctx(ctx.get(), data + at, size - at, pcm, &kind);
        if (used < 0) {
            qrxc::fuzz::check(used == QRXC_ERR_BUFFER);
            break;
        }
        qrxc::fuzz::check(used >= 1 && used <= 24 && kind == (data[at] & 3));
        const int as = Qrxc_decode_standard_last_ctx(ctx.get());
        qrxc::fuzz::check(as >= QRXC_G723_DECODED_SPEECH && as <= QRXC_G723_DECODED_LOST);
        at += static_cast<std::size_t>(used);
    }
}

}  // namespace

QRX_FUZZ_MAX_LEN(MAX_LEN)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    size = size < MAX_LEN ? size : MAX_LEN;  // longer inputs only repeat work
    if ((data[0] & 1) == 0) {
        decode_all(data + 1, size - 1);
        return 0;
    }
    // Samples from byte pairs, repeated to fill whole frames and made
    // quieter by the first byte's bits, so the detector's speech and silence
    // paths are both reached.
    const int shift = (data[0] >> 1) & 15;
    const std::size_t pairs = (size - 1) / 2;
    const std::size_t frames = pairs / 60 + 1 < MAX_ENCODED_FRAMES ? pairs / 60 + 1 : MAX_ENCODED_FRAMES;
    std::vector<short> pcm(frames * 240);
    for (std::size_t i = 0; pairs > 0 && i < pcm.size(); ++i) {
        const std::size_t k = 1 + 2 * (i % pairs);
        pcm[i] = static_cast<short>(static_cast<std::int16_t>(data[k] | data[k + 1] << 8) >> shift);
    }
    qrxc::fuzz::Ctx ctx = opened(QRXC_ENCODE);
    std::vector<unsigned char> coded;
    for (std::size_t f = 0; f < frames; ++f) {
        unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
        const int rate = static_cast<int>((data[f % size] >> 4) & 1);
        const int n = Qrxc_encode_standard_ctx(ctx.get(), pcm.data() + 240 * f, rate, QRXC_G723_VAD, bits);
        qrxc::fuzz::check(n == 24 || n == 20 || n == 4 || n == 1);
        qrxc::fuzz::check((n == 24) == ((bits[0] & 3) == 0) && (n == 20) == ((bits[0] & 3) == 1));
        coded.insert(coded.end(), bits, bits + n);
    }
    decode_all(coded.data(), coded.size());
    return 0;
}
