// The library-information, format-query, const-buffer and whole-buffer
// calls, each held against the frame-by-frame API it must agree with. The
// buffers passed in are const throughout: this file also shows that const
// data goes into the new calls without casts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/context.h"
#include "common_support.h"
#include "qrxc.h"

using qrxc::test::Bytes;

namespace {

using qrxc::test::Ctx;
using qrxc::test::fresh;

constexpr int TYPES[] = {0, 1, 2, 4, 5, 6};

// Speech from the test data, as 16-bit samples.
const std::vector<short> &speech() {
    static const std::vector<short> pcm = [] {
        const Bytes b = qrxc::test::read_bytes(std::string(QRXC_TEST_DATA) + "/speech_8k.raw");
        std::vector<short> s(b.size() / 2);
        std::memcpy(s.data(), b.data(), s.size() * 2);
        return s;
    }();
    return pcm;
}

// Frame-by-frame encoding through the classic _ctx calls, padded as qrx encode pads.
Bytes encode_by_frames(int rate, int type, int version, const std::vector<short> &pcm) {
    Ctx ctx = fresh();
    Qrxc_version_ctx(ctx.get(), version);
    G_header h{};
    unsigned char hdr[16];
    const int len = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, rate, type, &h, hdr);
    Bytes out(hdr, hdr + len);
    std::vector<short> frame(h.pcm_frame);
    std::vector<unsigned char> data(h.frame_bytes);
    for (std::size_t at = 0; at < pcm.size(); at += h.pcm_frame) {
        std::fill(frame.begin(), frame.end(), short{0});
        std::copy(pcm.begin() + static_cast<long>(at),
                  pcm.begin() + static_cast<long>(std::min(pcm.size(), at + h.pcm_frame)), frame.begin());
        Qrxc_frame_ctx(ctx.get(), frame.data(), data.data());
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

// Frame-by-frame decoding from the header length on, whole frames only, as the conversion job does.
std::vector<short> decode_by_frames(const Bytes &stream) {
    Ctx ctx = fresh();
    G_header h{};
    unsigned char hdr[16] = {};
    std::memcpy(hdr, stream.data(), std::min<std::size_t>(16, stream.size()));
    const int len = Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &h, hdr);
    std::vector<short> out;
    if (len < 0) return out;
    std::vector<short> pcm(h.pcm_frame);
    std::vector<unsigned char> frame(h.frame_bytes);
    for (std::size_t at = static_cast<std::size_t>(len); at + h.frame_bytes <= stream.size(); at += h.frame_bytes) {
        std::memcpy(frame.data(), &stream[at], h.frame_bytes);
        Qrxc_frame_ctx(ctx.get(), pcm.data(), frame.data());
        out.insert(out.end(), pcm.begin(), pcm.end());
    }
    return out;
}

}  // namespace

TEST(ApiInfo, VersionAndErrorTexts) {
    EXPECT_EQ(std::string(Qrxc_version_string()), std::to_string(QRXC_VERSION_MAJOR) + "." +
                                                      std::to_string(QRXC_VERSION_MINOR) + "." +
                                                      std::to_string(QRXC_VERSION_PATCH));
    const std::string unknown = Qrxc_strerror(INT_MIN);
    std::vector<std::string> seen;
    for (int code : {QRXC_OK, QRXC_ERR_ARG, QRXC_ERR_RATE, QRXC_ERR_TYPE, QRXC_ERR_HEADER, QRXC_ERR_DIRECTION,
                     QRXC_ERR_BUFFER, QRXC_ERR_NOT_OPEN}) {
        const std::string text = Qrxc_strerror(code);
        EXPECT_NE(text, unknown) << code;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << code;
        seen.push_back(text);
    }
    EXPECT_EQ(std::string(Qrxc_strerror(QRXC_ERR_STATE)), Qrxc_strerror(QRXC_ERR_ARG));
    for (int code : {-8, 4, 16, INT_MAX}) EXPECT_EQ(Qrxc_strerror(code), unknown) << code;
}

TEST(ApiQueries, HeaderLength) {
    struct Case {
        unsigned char b[4];
        int result;
    };
    const Case cases[] = {
        {{'Q', 'R', 'X', 0x40}, 16},
        {{'Q', 'R', 'X', 0xC5}, 16},
        {{'Q', 'R', 'X', 0x80}, 16},
        {{'Q', 'R', 'X', 0x01}, 4},
        {{'Q', 'R', 'X', 0x26}, 4},
        {{'Q', 'R', 'X', 0x10}, 4},
        {{'Q', 'R', 'X', 0x35}, QRXC_ERR_HEADER},  // rate code 3
        {{'Q', 'R', 'X', 0x03}, QRXC_ERR_HEADER},  // type 3
        {{'Q', 'R', 'X', 0x07}, QRXC_ERR_HEADER},  // type 7
        {{'Q', 'R', 'Y', 0x40}, QRXC_ERR_HEADER},
        {{'R', 'I', 'F', 'F'}, QRXC_ERR_HEADER},
    };
    for (const Case &c : cases) EXPECT_EQ(Qrxc_header_length(c.b), c.result) << std::hex << int(c.b[3]);
    EXPECT_EQ(Qrxc_header_length(nullptr), QRXC_ERR_ARG);
}

TEST(ApiQueries, ParseHeaderReadsWhatADecodingOpenReads) {
    const Bytes long_hdr = qrxc::test::long_header(12000, 2, 240, 24);
    Bytes odd_sizes = qrxc::test::long_header(8000, 1, 320, 20);
    struct Case {
        Bytes bytes;
        std::size_t len;
        int result;
    };
    const Case cases[] = {
        {long_hdr, 16, 16},
        {long_hdr, 15, QRXC_ERR_BUFFER},
        {{'Q', 'R', 'X', 0x15}, 4, 4},
        {{'Q', 'R', 'X', 0x15}, 3, QRXC_ERR_BUFFER},
        {{'Q', 'R', 'X', 0x35}, 4, QRXC_ERR_HEADER},
        {{'R', 'I', 'F', 'F'}, 4, QRXC_ERR_HEADER},
        {odd_sizes, 16, QRXC_ERR_HEADER},  // a decoding open calls this QRXC_ERR_ARG
    };
    for (const Case &c : cases) {
        G_header parsed{}, opened{};
        EXPECT_EQ(Qrxc_parse_header(c.bytes.data(), c.len, &parsed), c.result) << c.len;
        if (c.result < 0) continue;
        unsigned char hdr[16] = {};
        std::memcpy(hdr, c.bytes.data(), c.len);
        Ctx ctx = fresh();
        ASSERT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &opened, hdr), c.result);
        EXPECT_EQ(std::memcmp(&parsed, &opened, sizeof parsed), 0);
    }
    G_header h{};
    EXPECT_EQ(Qrxc_parse_header(nullptr, 16, &h), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_parse_header(long_hdr.data(), 16, nullptr), QRXC_ERR_ARG);
}

TEST(ApiQueries, WriteHeaderWritesWhatAnEncodingOpenWrites) {
    for (int form : {0, 1, 2, 3, 5})
        for (int rate : {8000, 12000, 16000, 11025})
            for (int type : {0, 2, 3, 6, 7}) {
                Ctx ctx = fresh();
                Qrxc_version_ctx(ctx.get(), form);
                G_header opened{}, written{};
                unsigned char a[16] = {}, b[16] = {};
                const int want = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, rate, type, &opened, a);
                ASSERT_EQ(Qrxc_write_header(rate, type, form, b, &written), want) << form << " " << rate << " " << type;
                EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
                if (want > 0) {
                    EXPECT_EQ(std::memcmp(&opened, &written, sizeof opened), 0);
                }
            }
    EXPECT_EQ(Qrxc_write_header(8000, 1, 1, nullptr, nullptr), QRXC_ERR_ARG);
}

TEST(ApiSetup, DecodingWithoutAHeaderMatchesAHeaderOpen) {
    const Bytes frames = qrxc::test::noise_bytes(3 * QRXC_MAX_FRAME_BYTES, 9);
    for (int type : TYPES) {
        Qrxc_type_desc d{};
        ASSERT_EQ(Qrxc_type_info(type, &d), 0);
        Bytes stream = qrxc::test::long_header(16000, static_cast<unsigned>(type), static_cast<unsigned>(d.pcm_frame),
                                               static_cast<unsigned>(d.frame_bytes));
        stream.insert(stream.end(), frames.begin(), frames.begin() + 3 * d.frame_bytes);
        Ctx ctx = fresh();
        G_header h{};
        ASSERT_EQ(Qrxc_open_decoding_ctx(ctx.get(), type, 16000, &h), QRXC_OK) << type;
        EXPECT_EQ(h.type, type);
        EXPECT_EQ(h.sample_rate, 16000);
        EXPECT_EQ(h.pcm_frame, d.pcm_frame);
        EXPECT_EQ(h.frame_bytes, d.frame_bytes);
        std::vector<short> pcm(3 * static_cast<std::size_t>(d.pcm_frame));
        for (int f = 0; f < 3; ++f)
            ASSERT_EQ(Qrxc_decode_frame(ctx.get(), frames.data() + f * d.frame_bytes, pcm.data() + f * d.pcm_frame), 0);
        EXPECT_EQ(pcm, decode_by_frames(stream)) << type;
    }
    Ctx ctx = fresh();
    EXPECT_EQ(Qrxc_open_decoding_ctx(ctx.get(), 3, 8000, nullptr), QRXC_ERR_TYPE);
    EXPECT_EQ(Qrxc_open_decoding_ctx(ctx.get(), 1, 11025, nullptr), QRXC_ERR_RATE);
    EXPECT_EQ(Qrxc_open_decoding_ctx(nullptr, 1, 8000, nullptr), QRXC_ERR_ARG);
    short pcm[QRXC_MAX_PCM_FRAME];
    EXPECT_EQ(Qrxc_decode_frame(ctx.get(), frames.data(), pcm), QRXC_ERR_STATE);  // the failures opened nothing
}

TEST(ApiSetup, SpeedControlWithoutAStreamMatchesOneOnAStream) {
    const std::vector<short> &pcm = speech();
    for (const auto &[frame, type] : {std::pair{240, 5}, std::pair{320, 0}}) {
        for (int flags :
             {0, QRMD_NORMAL_LEVEL, QRMD_SPEED_LEVELS - 1, QRMD_EFFECT_MODE | QRMD_PITCH(5) | QRMD_ECHO_LONG}) {
            Ctx alone = fresh(), on_stream = fresh();
            ASSERT_EQ(Qrmd_open_ctx(alone.get(), frame, flags), QRXC_OK);
            G_header h{};
            unsigned char hdr[16];
            ASSERT_GT(Qrxc_initial_ctx(on_stream.get(), QRXC_ENCODE, 8000, type, &h, hdr), 0);
            ASSERT_EQ(Qrmd_initial_ctx(on_stream.get(), flags), 0);
            short a[2 * QRXC_MAX_PCM_FRAME], b[2 * QRXC_MAX_PCM_FRAME];
            for (std::size_t at = 0; at + static_cast<std::size_t>(frame) <= pcm.size(); at += frame) {
                const int n = Qrmd_process_ctx(alone.get(), flags, &pcm[at], a);
                ASSERT_EQ(Qrmd_frame_ctx(on_stream.get(), flags, &pcm[at], b), 0);
                ASSERT_EQ(n, Qrmd_last_count_ctx(on_stream.get()));
                ASSERT_EQ(std::memcmp(a, b, static_cast<std::size_t>(n) * sizeof(short)), 0) << frame << " " << flags;
            }
        }
    }
    Ctx ctx = fresh();
    short buf[2 * QRXC_MAX_PCM_FRAME] = {};
    EXPECT_EQ(Qrmd_process_ctx(ctx.get(), 0, buf, buf), QRXC_ERR_NOT_OPEN);
    EXPECT_EQ(Qrmd_open_ctx(ctx.get(), 160, 0), QRXC_ERR_BUFFER);
    EXPECT_EQ(Qrmd_open_ctx(ctx.get(), 240, QRMD_EFFECT_MODE | QRMD_RESERVED), QRXC_ERR_ARG);
    EXPECT_EQ(Qrmd_open_ctx(nullptr, 240, 0), QRXC_ERR_ARG);
    ASSERT_EQ(Qrmd_open_ctx(ctx.get(), 240, 0), QRXC_OK);
    EXPECT_EQ(Qrmd_process_ctx(ctx.get(), QRMD_EFFECT_MODE | QRMD_RESERVED, buf, buf), QRXC_ERR_ARG);
    unsigned char data[QRXC_MAX_FRAME_BYTES];
    EXPECT_EQ(Qrxc_encode_frame(ctx.get(), buf, data), QRXC_ERR_STATE);  // the speed control alone codes nothing
}

TEST(ApiQueries, TypeInfoForEveryType) {
    struct Case {
        int type, result, pcm_frame, frame_bytes, bit_rate;
        const char *coder;
    };
    const Case cases[] = {
        {0, 0, 320, 20, 4000, "G.723.1 5.3 kbit/s, 4:3 resampled"},
        {1, 0, 240, 20, 5333, "G.723.1 5.3 kbit/s"},
        {2, 0, 240, 24, 6400, "G.723.1 6.3 kbit/s"},
        {3, QRXC_ERR_TYPE, 0, 0, 0, nullptr},
        {4, 0, 240, 90, 24000, "ADPCM 3 bits"},
        {5, 0, 240, 120, 32000, "ADPCM 4 bits"},
        {6, 0, 240, 150, 40000, "ADPCM 5 bits"},
        {7, QRXC_ERR_TYPE, 0, 0, 0, nullptr},
        {-1, QRXC_ERR_TYPE, 0, 0, 0, nullptr},
        {65537, QRXC_ERR_TYPE, 0, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        Qrxc_type_desc d{};
        ASSERT_EQ(Qrxc_type_info(c.type, &d), c.result) << c.type;
        if (c.result != 0) continue;
        EXPECT_EQ(d.pcm_frame, c.pcm_frame);
        EXPECT_EQ(d.frame_bytes, c.frame_bytes);
        EXPECT_EQ(d.bit_rate, c.bit_rate);
        EXPECT_STREQ(d.coder, c.coder);
        // The same table the streams are opened from.
        Ctx ctx = fresh();
        G_header h{};
        unsigned char hdr[16];
        ASSERT_GT(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, c.type, &h, hdr), 0);
        EXPECT_EQ(h.pcm_frame, d.pcm_frame);
        EXPECT_EQ(h.frame_bytes, d.frame_bytes);
    }
    EXPECT_EQ(Qrxc_type_info(1, nullptr), QRXC_ERR_ARG);
}

TEST(ApiQueries, FrameConcealed) {
    // A real coded frame of each G.723.1 type, then its lag and gain codes made forbidden.
    const std::vector<short> &pcm = speech();
    struct Case {
        int type;
        int byte, value;  // -1: the frame as coded
        int result;
    };
    const Case cases[] = {
        {1, -1, 0, 0},   {2, -1, 0, 0},   {0, -1, 0, 0},
        {1, 3, 124, 1},  {2, 4, 200, 1},  {0, 3, 255, 1},  // open-loop lag beyond 141
        {1, 6, 0xFF, 1}, {2, 6, 0xFF, 1},                  // gain code of subframe 0 beyond the table
        {4, 3, 255, 0},  {5, 6, 0xFF, 0}, {6, 3, 124, 0},  // ADPCM has no forbidden codes
    };
    for (const Case &c : cases) {
        const Bytes stream =
            encode_by_frames(8000, c.type, 1, std::vector<short>(pcm.begin() + 4000, pcm.begin() + 4960));
        Qrxc_type_desc d{};
        ASSERT_EQ(Qrxc_type_info(c.type, &d), 0);
        Bytes frame(stream.end() - d.frame_bytes, stream.end());  // the last frame
        if (c.byte >= 0) frame[static_cast<std::size_t>(c.byte)] = static_cast<unsigned char>(c.value);
        if (c.byte == 6) frame[5] |= 0xF0;
        const Bytes &cframe = frame;
        EXPECT_EQ(Qrxc_frame_concealed(c.type, cframe.data()), c.result) << c.type << " byte " << c.byte;
    }
    const unsigned char zeros[24] = {};
    EXPECT_EQ(Qrxc_frame_concealed(3, zeros), QRXC_ERR_TYPE);
    EXPECT_EQ(Qrxc_frame_concealed(-2, zeros), QRXC_ERR_TYPE);
    EXPECT_EQ(Qrxc_frame_concealed(1, nullptr), QRXC_ERR_ARG);
}

TEST(ApiFrames, ConstFrameCallsCodeAsQrxcFrame) {
    const std::vector<short> &pcm = speech();
    for (int type : TYPES) {
        SCOPED_TRACE(type);
        Ctx a = fresh(), b = fresh();
        G_header h{};
        unsigned char hdr[16];
        ASSERT_EQ(Qrxc_initial_ctx(a.get(), QRXC_ENCODE, 8000, type, &h, hdr), 16);
        ASSERT_EQ(Qrxc_initial_ctx(b.get(), QRXC_ENCODE, 8000, type, &h, hdr), 16);
        Bytes coded_a, coded_b;
        std::vector<unsigned char> fa(h.frame_bytes), fb(h.frame_bytes);
        std::vector<short> copy(h.pcm_frame);
        for (std::size_t at = 0; at + h.pcm_frame <= 12 * 320; at += h.pcm_frame) {
            const short *src = &pcm[at];
            std::copy(src, src + h.pcm_frame, copy.begin());
            ASSERT_EQ(Qrxc_frame_ctx(a.get(), copy.data(), fa.data()), 0);
            ASSERT_EQ(Qrxc_encode_frame(b.get(), src, fb.data()), 0);
            coded_a.insert(coded_a.end(), fa.begin(), fa.end());
            coded_b.insert(coded_b.end(), fb.begin(), fb.end());
        }
        EXPECT_EQ(coded_a, coded_b);
        unsigned char frame[QRXC_MAX_FRAME_BYTES];
        short out[QRXC_MAX_PCM_FRAME];
        EXPECT_EQ(Qrxc_decode_frame(b.get(), coded_b.data(), out), QRXC_ERR_DIRECTION);

        ASSERT_EQ(Qrxc_initial_ctx(a.get(), QRXC_DECODE, 0, 0, &h, hdr), 16);
        ASSERT_EQ(Qrxc_initial_ctx(b.get(), QRXC_DECODE, 0, 0, &h, hdr), 16);
        std::vector<short> pa(h.pcm_frame), pb(h.pcm_frame);
        for (std::size_t at = 0; at < coded_a.size(); at += h.frame_bytes) {
            const unsigned char *data = &coded_b[at];
            ASSERT_EQ(Qrxc_frame_ctx(a.get(), pa.data(), &coded_a[at]), 0);
            ASSERT_EQ(Qrxc_decode_frame(b.get(), data, pb.data()), 0);
            ASSERT_EQ(pa, pb);
        }
        EXPECT_EQ(Qrxc_encode_frame(b.get(), pb.data(), frame), QRXC_ERR_DIRECTION);
        EXPECT_EQ(Qrxc_encode_frame(b.get(), nullptr, frame), QRXC_ERR_ARG);
        EXPECT_EQ(Qrxc_decode_frame(b.get(), frame, nullptr), QRXC_ERR_ARG);
    }
    Ctx closed = fresh();
    const unsigned char frame[QRXC_MAX_FRAME_BYTES] = {};
    short pcm_out[QRXC_MAX_PCM_FRAME];
    EXPECT_EQ(Qrxc_decode_frame(closed.get(), frame, pcm_out), QRXC_ERR_STATE);
    EXPECT_EQ(Qrxc_encode_frame(closed.get(), pcm_out, nullptr), QRXC_ERR_ARG);
    unsigned char data[QRXC_MAX_FRAME_BYTES];
    EXPECT_EQ(Qrxc_encode_frame(closed.get(), pcm.data(), data), QRXC_ERR_STATE);
    EXPECT_EQ(Qrxc_decode_frame(nullptr, frame, pcm_out), QRXC_ERR_ARG);
}

TEST(ApiBuffers, DecodeBufferMatchesFrameByFrameDecoding) {
    std::vector<Bytes> streams;
    for (const char *name : {"hello.QRX", "hello-g723-53.QRX", "hello-g723-63.QRX"})
        streams.push_back(qrxc::test::read_bytes(std::string(QRXC_SAMPLES) + "/" + name));
    const std::vector<short> pcm(speech().begin(), speech().begin() + 2400);
    for (int type : TYPES) {
        streams.push_back(encode_by_frames(8000, type, 0, pcm));
        Bytes tail = encode_by_frames(16000, type, 1, pcm);
        tail.insert(tail.end(), 7, 0x55);  // a partial frame, ignored
        streams.push_back(tail);
    }
    for (const Bytes &stream : streams) {
        ASSERT_GT(stream.size(), 16u);
        const std::vector<short> expected = decode_by_frames(stream);
        ASSERT_FALSE(expected.empty());
        const unsigned char *data = stream.data();
        ASSERT_EQ(Qrxc_decoded_samples(data, stream.size()), static_cast<long long>(expected.size()));
        Ctx ctx = fresh();
        std::vector<short> out(expected.size() + 1, 0x1234);
        G_header info{};
        // One sample short is refused before anything is written.
        EXPECT_EQ(Qrxc_decode_buffer(ctx.get(), data, stream.size(), out.data(), expected.size() - 1, &info),
                  QRXC_ERR_BUFFER);
        EXPECT_EQ(out[0], 0x1234);
        ASSERT_EQ(Qrxc_decode_buffer(ctx.get(), data, stream.size(), out.data(), out.size(), &info),
                  static_cast<long long>(expected.size()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
        EXPECT_EQ(out.back(), 0x1234);
        EXPECT_EQ(info.type, (stream[3] & 0xC0) != 0 ? stream[6] : (stream[3] & 0x0F));
    }
}

TEST(ApiBuffers, DecodeRefusesBadStreams) {
    const Bytes good = encode_by_frames(8000, 2, 1, std::vector<short>(480, 100));
    struct Case {
        Bytes stream;
        long long result;
    };
    const Case cases[] = {
        {{'Q', 'R', 'X'}, QRXC_ERR_HEADER},
        {{'Q', 'R', 'X', 0x40, 0x40, 0x1F}, QRXC_ERR_HEADER},  // a long header cut short
        {{'Q', 'R', 'X', 0x35}, QRXC_ERR_HEADER},
        {qrxc::test::long_header(8000, 1, 320, 20), QRXC_ERR_HEADER},  // frame size not the type's
        {qrxc::test::long_header(11025, 1, 240, 20), QRXC_ERR_HEADER},
        {{'Q', 'R', 'X', 0x01}, 0},  // a header alone
        {Bytes(good.begin(), good.begin() + 16 + 23), 0},
        {good, 480},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Qrxc_decoded_samples(c.stream.data(), c.stream.size()), c.result) << c.stream.size();
        Ctx ctx = fresh();
        std::vector<short> out(480);
        EXPECT_EQ(Qrxc_decode_buffer(ctx.get(), c.stream.data(), c.stream.size(), out.data(), out.size(), nullptr),
                  c.result);
    }
    Ctx ctx = fresh();
    short one = 0;
    EXPECT_EQ(Qrxc_decoded_samples(nullptr, 4), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_decode_buffer(nullptr, good.data(), good.size(), &one, 1, nullptr), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_decode_buffer(ctx.get(), nullptr, good.size(), &one, 1, nullptr), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_decode_buffer(ctx.get(), good.data(), good.size(), nullptr, 480, nullptr), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_decode_buffer(ctx.get(), good.data(), good.size(), nullptr, 0, nullptr), QRXC_ERR_BUFFER);
    // Sizes whose sample count would not fit the result.
    static_assert(sizeof(std::size_t) >= 8);
    EXPECT_EQ(Qrxc_decoded_samples(good.data(), SIZE_MAX), QRXC_ERR_BUFFER);
}

#ifdef QRX_CLI
TEST(ApiBuffers, EncodeBufferWritesWhatQrxEncodeWrites) {
    qrxc::test::Scratch_dir dir;
    const std::vector<short> pcm(speech().begin(), speech().begin() + 5 * 320 + 77);
    Bytes wav_data(pcm.size() * 2);
    std::memcpy(wav_data.data(), pcm.data(), wav_data.size());
    qrxc::test::write_bytes(dir.file("in.wav"), qrxc::test::wav_file(12000, wav_data));
    for (int type : TYPES) {
        for (int long_header : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " long " << long_header);
            const std::string out = dir.file("out.QRX");
            const auto r = qrxc::test::run_command(std::string(QRX_CLI) + " encode -y " + dir.file("in.wav") + " -t " +
                                                   std::to_string(type) + (long_header ? "" : " --short-header") +
                                                   " -o " + out + " 2>&1");
            ASSERT_EQ(r.status, 0) << r.out;
            const Bytes expected = qrxc::test::read_bytes(out);
            ASSERT_EQ(Qrxc_encoded_bytes(type, pcm.size(), long_header), static_cast<long long>(expected.size()));
            Ctx ctx = fresh();
            Bytes got(expected.size() + 1, 0xEE);
            const short *src = pcm.data();
            EXPECT_EQ(Qrxc_encode_buffer(ctx.get(), 12000, type, long_header, src, pcm.size(), got.data(),
                                         expected.size() - 1),
                      QRXC_ERR_BUFFER);
            EXPECT_EQ(got[0], 0xEE);
            ASSERT_EQ(Qrxc_encode_buffer(ctx.get(), 12000, type, long_header, src, pcm.size(), got.data(), got.size()),
                      static_cast<long long>(expected.size()));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
            EXPECT_EQ(got.back(), 0xEE);
        }
    }
}
#endif

TEST(ApiBuffers, EncodeBufferMatchesFramesAndChecksItsArguments) {
    const std::vector<short> pcm(speech().begin(), speech().begin() + 3 * 240 + 1);
    for (int type : TYPES) {
        const Bytes expected = encode_by_frames(8000, type, 0, pcm);
        Ctx ctx = fresh();
        Qrxc_version_ctx(ctx.get(), 3);
        Bytes got(expected.size());
        ASSERT_EQ(Qrxc_encode_buffer(ctx.get(), 8000, type, 0, pcm.data(), pcm.size(), got.data(), got.size()),
                  static_cast<long long>(got.size()));
        EXPECT_EQ(got, expected) << type;
        // The context's own header form is kept.
        G_header h{};
        unsigned char hdr[16];
        EXPECT_EQ(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, type, &h, hdr), 16);
        EXPECT_EQ(hdr[3], 0xC0);
    }
    struct Case {
        int rate, type, long_header;
        std::size_t samples;
        long long result;
    };
    const Case cases[] = {
        {8000, 1, 1, 0, 16},
        {8000, 0, 0, 321, 4 + 2 * 20},
        {11025, 1, 1, 240, QRXC_ERR_RATE},
        {8000 + 65536, 1, 1, 240, QRXC_ERR_RATE},
        {8000, 3, 1, 240, QRXC_ERR_TYPE},
        {11025, 3, 1, 240, QRXC_ERR_RATE},  // the rate is judged first, as in Qrxc_initial
        {8000, 6, 1, SIZE_MAX, QRXC_ERR_BUFFER},
    };
    Bytes out(64);
    for (const Case &c : cases) {
        Ctx ctx = fresh();
        const std::vector<short> in(c.samples > 1000 ? 1 : c.samples);
        EXPECT_EQ(
            Qrxc_encode_buffer(ctx.get(), c.rate, c.type, c.long_header, in.data(), c.samples, out.data(), out.size()),
            c.result)
            << c.rate << " " << c.type << " " << c.samples;
        EXPECT_EQ(ctx->stream.open, c.result > 0);  // a refused call opens nothing
    }
    EXPECT_EQ(Qrxc_encoded_bytes(6, SIZE_MAX, 1), QRXC_ERR_BUFFER);
    EXPECT_EQ(Qrxc_encoded_bytes(7, 240, 1), QRXC_ERR_TYPE);
    Ctx ctx = fresh();
    const short s = 0;
    EXPECT_EQ(Qrxc_encode_buffer(nullptr, 8000, 1, 1, &s, 1, out.data(), out.size()), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_encode_buffer(ctx.get(), 8000, 1, 1, nullptr, 1, out.data(), out.size()), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_encode_buffer(ctx.get(), 8000, 1, 1, &s, 1, nullptr, 64), QRXC_ERR_ARG);
    EXPECT_EQ(Qrxc_encode_buffer(ctx.get(), 8000, 1, 1, nullptr, 0, out.data(), out.size()), 16);
}

TEST(ApiDiagnostics, CallbackGetsTheTextAndCreatedContextsStaySilent) {
    // A normal-speed frame with the held samples damaged gives the size diagnostic.
    const std::string text = "FATAL ERROR!!! 1: speed.size(340) = INIT_SIZE(240)+G_header.pcm_frame(240)\n";
    auto run = [](Qrxc_context &ctx) {
        G_header h{};
        const unsigned char hdr[4] = {'Q', 'R', 'X', 0x01};
        unsigned char copy[4];
        std::memcpy(copy, hdr, 4);
        ASSERT_EQ(Qrxc_initial_ctx(&ctx, QRXC_DECODE, 0, 0, &h, copy), 4);
        ASSERT_EQ(Qrmd_initial_ctx(&ctx, 4), 0);
        ctx.speed.size = 100;
        ctx.speed.frame_count = 0;
        const std::vector<short> in(240, 7);
        std::vector<short> out(480);
        ASSERT_EQ(Qrmd_frame_ctx(&ctx, 4, in.data(), out.data()), 0);
    };
    std::string got;
    Ctx ctx = fresh();
    Qrxc_set_diagnostics(
        ctx.get(), [](void *user, const char *t) { *static_cast<std::string *>(user) += t; }, &got);
    testing::internal::CaptureStdout();
    run(*ctx);
    Ctx quiet = fresh();
    run(*quiet);
    Qrxc_set_diagnostics(ctx.get(), nullptr, nullptr);
    run(*ctx);
    Qrxc_set_diagnostics(nullptr, nullptr, nullptr);  // ignored
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(got, text);

    // The default context prints the same text to standard output.
    Qrxc_context &def = qrxc::default_context();
    const Qrxc_context saved = def;
    testing::internal::CaptureStdout();
    run(def);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), text);
    def = saved;
}
