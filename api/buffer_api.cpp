// Whole-buffer coding: a stream in memory to PCM and back, frame by frame
// through the context, with every size checked before anything is written.
#include <climits>
#include <cstring>

#include "codec/context.h"
#include "codec/stream.h"

namespace qrxc {
namespace {

struct Extent {
    G_header header;
    int header_len;
    std::size_t frames;
};

// The header and the whole frames of a stream; a trailing partial frame is
// ignored. Any header Qrxc_initial refuses is QRXC_ERR_HEADER here.
long long stream_extent(const unsigned char *stream, std::size_t len, Extent &e) {
    if (stream == nullptr) return QRXC_ERR_ARG;
    if (len < HEADER_SHORT) return QRXC_ERR_HEADER;
    e.header_len = header_length(stream);
    if (e.header_len < 0 || len < static_cast<std::size_t>(e.header_len)) return QRXC_ERR_HEADER;
    e.header = G_header{};
    if (header_parse(stream, e.header) < 0) return QRXC_ERR_HEADER;
    e.frames = (len - static_cast<std::size_t>(e.header_len)) / e.header.frame_bytes;
    if (e.frames > static_cast<unsigned long long>(LLONG_MAX) / e.header.pcm_frame) return QRXC_ERR_BUFFER;
    return static_cast<long long>(e.frames) * e.header.pcm_frame;
}

const Stream_mode *mode_of(int type) { return type < 0 ? nullptr : stream_mode(static_cast<unsigned>(type)); }

}  // namespace
}  // namespace qrxc

extern "C" {

QRXC_API long long Qrxc_decoded_samples(const unsigned char *stream, size_t len) {
    qrxc::Extent e{};
    return qrxc::stream_extent(stream, len, e);
}

QRXC_API long long Qrxc_decode_buffer(Qrxc_context *ctx, const unsigned char *stream, size_t len, short *pcm,
                                      size_t pcm_capacity, G_header *info) {
    if (ctx == nullptr || (pcm == nullptr && pcm_capacity != 0)) return QRXC_ERR_ARG;
    qrxc::Extent e{};
    const long long samples = qrxc::stream_extent(stream, len, e);
    if (samples < 0) return samples;
    if (static_cast<unsigned long long>(samples) > pcm_capacity) return QRXC_ERR_BUFFER;

    G_header h{};
    // Decoding only reads the header bytes.
    if (qrxc::stream_initial(*ctx, QRXC_DECODE, 0, 0, &h, const_cast<unsigned char *>(stream)) < 0)
        return QRXC_ERR_HEADER;
    const unsigned char *frame = stream + e.header_len;
    for (std::size_t i = 0; i < e.frames; ++i, frame += h.frame_bytes, pcm += h.pcm_frame)
        qrxc::stream_decode(*ctx, frame, pcm);
    if (info != nullptr) *info = h;
    return samples;
}

QRXC_API long long Qrxc_encoded_bytes(int type, size_t samples, int long_header) {
    const qrxc::Stream_mode *mode = qrxc::mode_of(type);
    if (mode == nullptr) return QRXC_ERR_TYPE;
    const std::size_t frames = samples / mode->pcm_frame + (samples % mode->pcm_frame != 0 ? 1 : 0);
    const int header_len = long_header != 0 ? qrxc::HEADER_LONG : qrxc::HEADER_SHORT;
    if (frames > static_cast<unsigned long long>(LLONG_MAX - header_len) / mode->frame_bytes) return QRXC_ERR_BUFFER;
    return header_len + static_cast<long long>(frames) * mode->frame_bytes;
}

QRXC_API long long Qrxc_encode_buffer(Qrxc_context *ctx, int sample_rate, int type, int long_header, const short *pcm,
                                      size_t samples, unsigned char *out, size_t out_capacity) {
    if (ctx == nullptr || out == nullptr || (pcm == nullptr && samples != 0)) return QRXC_ERR_ARG;
    if (sample_rate < 0 || !qrxc::is_supported_rate(static_cast<unsigned>(sample_rate))) return QRXC_ERR_RATE;
    const long long bytes = Qrxc_encoded_bytes(type, samples, long_header);
    if (bytes < 0) return bytes;
    if (static_cast<unsigned long long>(bytes) > out_capacity) return QRXC_ERR_BUFFER;

    // The header form is this call's; the context's own setting stays.
    const std::uint8_t version_byte = ctx->stream.version_byte;
    qrxc::stream_version(ctx->stream, long_header != 0 ? 1 : 0);
    G_header h{};
    unsigned char hdr[qrxc::HEADER_LONG];
    const int header_len = qrxc::stream_initial(*ctx, QRXC_ENCODE, sample_rate, type, &h, hdr);
    ctx->stream.version_byte = version_byte;
    if (header_len < 0) return header_len;
    std::memcpy(out, hdr, static_cast<std::size_t>(header_len));
    out += header_len;

    const std::size_t pcm_frame = h.pcm_frame;
    std::size_t left = samples;
    for (; left >= pcm_frame; left -= pcm_frame, pcm += pcm_frame, out += h.frame_bytes)
        qrxc::stream_encode(*ctx, pcm, out);
    if (left > 0) {
        // The last partial frame is completed with silence, as qrx encode does.
        short last[QRXC_MAX_PCM_FRAME] = {};
        std::memcpy(last, pcm, left * sizeof(short));
        qrxc::stream_encode(*ctx, last, out);
    }
    return bytes;
}

}  // extern "C"
