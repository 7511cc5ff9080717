// Silence compression, both directions, bit for bit: the public VAD/DTX
// vectors and generated streams (speech with pauses, noise, tones, silence,
// a per-frame rate list, lost frames) coded and decoded by an independent
// codec. The generated input is composed here as scripts/make-dtx-fixtures.py
// composes it; the fixtures hold the coded streams and per-frame hashes of
// the decoded output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common_support.h"
#include "qrxc.h"

namespace {

using qrxc::test::Bytes;
struct Context_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
using Context = std::unique_ptr<Qrxc_context, Context_deleter>;
constexpr int FRAME = 240;
constexpr int LOST_EVERY = 23;
constexpr unsigned char RATE_FILE = 0xff;

std::string data(const std::string &name) { return std::string(QRXC_TEST_DATA) + "/" + name; }

std::vector<short> pcm_file(const std::string &name) {
    const Bytes b = qrxc::test::read_bytes(data(name));
    std::vector<short> v(b.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>(b[2 * i] | (b[2 * i + 1] << 8));
    return v;
}

short s16(long v) { return static_cast<short>(std::clamp(v, -32768L, 32767L)); }

std::vector<short> noise(int frames, int amp, std::uint32_t seed) {
    std::vector<short> v;
    for (int n = 0; n < frames * FRAME; ++n) {
        seed = seed * 1103515245u + 12345u;
        const int x = static_cast<int>((seed >> 16) & 0x7fff) - 16384;
        v.push_back(static_cast<short>((x * amp) >> 14));
    }
    return v;
}

std::vector<short> tone(int frames, int c_q14, int start) {
    std::vector<short> v;
    long a = 0, b = start;
    for (int n = 0; n < frames * FRAME; ++n) {
        v.push_back(static_cast<short>(b));
        const long next = s16(((2 * c_q14 * b) >> 14) - a);
        a = b;
        b = next;
    }
    return v;
}

// Variant 0 in this order, variant 1 reversed.
std::vector<short> compose(int variant) {
    std::vector<short> speech = pcm_file("speech_8k.raw");
    speech.resize(speech.size() / FRAME * FRAME);
    std::vector<short> quiet = speech;
    for (short &s : quiet) s = static_cast<short>(s >> 2);
    std::vector<short> mixed = tone(100, 6270, 3696);
    const std::vector<short> hiss = noise(100, 300, 3);
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = s16(long{mixed[i]} + hiss[i]);
    std::vector<std::vector<short>> parts = {
        speech,
        std::vector<short>(40 * FRAME),
        pcm_file("speech/voice1.pcm"),
        noise(150, 200, 1),
        pcm_file("speech/voice2.pcm"),
        tone(100, 15137, 1531),
        noise(100, 1500, 2),
        pcm_file("annexa/DTX63.TIN"),
        std::vector<short>(30 * FRAME),
        mixed,
        quiet,
    };
    if (variant == 1) std::reverse(parts.begin(), parts.end());
    std::vector<short> all;
    for (const auto &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::uint32_t fnv(const short *pcm) {
    std::uint32_t h = 0x811C9DC5u;
    for (int i = 0; i < FRAME; ++i) {
        const auto u = static_cast<unsigned short>(pcm[i]);
        for (const unsigned c : {unsigned{u} & 0xffu, unsigned{u} >> 8u}) h = (h ^ c) * 0x01000193u;
    }
    return h;
}

std::vector<std::uint32_t> fnv_file(const std::string &name) {
    const Bytes b = qrxc::test::read_bytes(data(name));
    std::vector<std::uint32_t> v(b.size() / 4);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | static_cast<std::uint32_t>(b[4 * i + 3]) << 24;
    return v;
}

Context opened(int direction) {
    Context ctx(Qrxc_create());
    unsigned char hdr[16];
    G_header h{};
    Qrxc_version_ctx(ctx.get(), 1);
    EXPECT_GT(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, 2, &h, hdr), 0);
    if (direction == QRXC_DECODE) {
        EXPECT_GT(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &h, hdr), 0);
    }
    return ctx;
}

// Coded with VAD at the given rates (the last one holds).
Bytes encode(const std::vector<short> &pcm, const Bytes &rates) {
    Context ctx = opened(QRXC_ENCODE);
    Bytes out;
    for (std::size_t f = 0; f * FRAME < pcm.size(); ++f) {
        unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
        const int n = Qrxc_encode_standard_ctx(ctx.get(), pcm.data() + f * FRAME, rates[std::min(f, rates.size() - 1)],
                                               QRXC_G723_VAD, bits);
        EXPECT_GT(n, 0);
        out.insert(out.end(), bits, bits + std::max(n, 0));
    }
    return out;
}

// Per-frame hashes of the decoded stream; with lost, every LOST_EVERY-th
// frame is replaced by a speech frame with a forbidden lag code.
std::vector<std::uint32_t> decode(const Bytes &stream, bool lost, std::vector<short> *pcm_out = nullptr) {
    Context ctx = opened(QRXC_DECODE);
    unsigned char marked[24] = {};
    marked[3] = 0xfc;  // lag code 127
    marked[4] = 0x01;
    std::vector<std::uint32_t> h;
    for (std::size_t at = 0, f = 0; at < stream.size(); ++f) {
        short pcm[FRAME];
        int kind = -1;
        const int n = Qrxc_g723_from_standard(stream.data() + at, stream.size() - at, 2, nullptr, &kind);
        if (n <= 0) {
            ADD_FAILURE() << "frame " << f << ": " << n;
            break;
        }
        const bool marked_lost = lost && f % LOST_EVERY == LOST_EVERY - 1;
        const unsigned char *in = marked_lost ? marked : stream.data() + at;
        const std::size_t len = marked_lost ? sizeof marked : stream.size() - at;
        EXPECT_EQ(Qrxc_decode_standard_ctx(ctx.get(), in, len, pcm, nullptr), marked_lost ? 24 : n);
        h.push_back(fnv(pcm));
        if (pcm_out != nullptr) pcm_out->insert(pcm_out->end(), pcm, pcm + FRAME);
        at += static_cast<std::size_t>(n);
    }
    return h;
}

// The first frames (at most 10) where two per-frame sequences differ.
template <typename T>
std::string differing(const std::vector<T> &got, const std::vector<T> &want) {
    std::string s;
    int shown = 0;
    for (std::size_t f = 0; f < std::max(got.size(), want.size()) && shown < 10; ++f)
        if (f >= got.size() || f >= want.size() || got[f] != want[f]) {
            s += ' ';
            s += std::to_string(f);
            ++shown;
        }
    return s.empty() ? "none" : s;
}

// Frame by frame (SID and untransmitted frames are shorter).
std::vector<Bytes> frames_of(const Bytes &stream) {
    std::vector<Bytes> v;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>("\x18\x14\x04\x01"[stream[at] & 3], stream.size() - at);
        v.emplace_back(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + n));
        at += n;
    }
    return v;
}

TEST(DtxConformance, PublicVectorsBothWays) {
    struct Case {
        const char *input, *coded, *decoded;
        unsigned char rate;
    };
    for (const Case &c : {Case{"DTX63.TIN", "DTX63.RCO", "DTX63.ROU", QRXC_G723_KIND_63},
                          Case{"DTX53MIX.TIN", "DTX53.RCO", "DTX53.ROU", QRXC_G723_KIND_53}}) {
        SCOPED_TRACE(c.coded);
        const Bytes coded = qrxc::test::read_bytes(data(std::string("annexa/") + c.coded));
        const Bytes got = encode(pcm_file(std::string("annexa/") + c.input), {c.rate});
        EXPECT_TRUE(got == coded) << "frames differ:" << differing(frames_of(got), frames_of(coded));
        std::vector<short> pcm;
        decode(coded, false, &pcm);
        EXPECT_TRUE(pcm == pcm_file(std::string("annexa/") + c.decoded));
    }
}

TEST(DtxConformance, GeneratedStreamsBothWays) {
    struct Case {
        const char *name;
        int variant;
        unsigned char rate;  // RATE_FILE: the case's rate file
    };
    for (const Case &c :
         {Case{"gen63", 0, QRXC_G723_KIND_63}, Case{"gen53", 1, QRXC_G723_KIND_53}, Case{"genmix", 0, RATE_FILE}}) {
        SCOPED_TRACE(c.name);
        const std::string base = std::string("annexa/") + c.name;
        const Bytes coded = qrxc::test::read_bytes(data(base + ".rco"));
        const Bytes rates = c.rate == RATE_FILE ? qrxc::test::read_bytes(data(base + ".rate")) : Bytes{c.rate};
        const Bytes got = encode(compose(c.variant), rates);
        EXPECT_TRUE(got == coded) << "frames differ:" << differing(frames_of(got), frames_of(coded));
        for (const bool lost : {false, true}) {
            const std::vector<std::uint32_t> want = fnv_file(base + (lost ? "_lost.fnv" : ".fnv"));
            EXPECT_EQ(want.size(), 2290u);
            const std::vector<std::uint32_t> h = decode(coded, lost);
            EXPECT_TRUE(h == want) << (lost ? "with lost frames, " : "") << "frames differ:" << differing(h, want);
        }
    }
}

}  // namespace
