// The standard G.723.1 bitstream exports: frame conversion both ways and
// decoding with the rate taken from each frame.
#include <cstring>

#include "codec/context.h"
#include "g723/common/frame.h"
#include "g723/common/standard_frame.h"
#include "g723/decoder/dec_cng.h"
#include "g723/encoder/encoder.h"

namespace g723 = qrxc::g723;

namespace {

// The G.723.1 rate of a QRX type, or -1 for a type that is not G.723.1.
int rate_of_type(int type) {
    if (type == qrxc::TYPE_G723_RESAMPLED || type == qrxc::TYPE_G723_53) return g723::RATE_53;
    if (type == qrxc::TYPE_G723_63) return g723::RATE_63;
    return -1;
}

// The frame kind and length at the start of in; QRXC_ERR_BUFFER when cut short.
int standard_frame_at(const unsigned char *in, size_t len, g723::Standard_kind &kind) {
    if (len == 0) return QRXC_ERR_BUFFER;
    kind = g723::standard_kind(in[0]);
    const int need = g723::standard_frame_bytes(kind);
    return len < static_cast<size_t>(need) ? QRXC_ERR_BUFFER : need;
}

}  // namespace

extern "C" {

QRXC_API int Qrxc_g723_to_standard(const unsigned char *frame, int type, unsigned char *out) {
    if (frame == nullptr || out == nullptr) return QRXC_ERR_ARG;
    const int rate = rate_of_type(type);
    if (rate < 0) return QRXC_ERR_TYPE;
    return g723::frame_to_standard(frame, rate, out);
}

QRXC_API int Qrxc_g723_from_standard(const unsigned char *in, size_t len, int type, unsigned char *frame, int *kind) {
    if (in == nullptr || kind == nullptr) return QRXC_ERR_ARG;
    *kind = -1;
    const int rate = rate_of_type(type);
    if (rate < 0) return QRXC_ERR_TYPE;
    g723::Standard_kind k{};
    const int used = standard_frame_at(in, len, k);
    if (len > 0) *kind = static_cast<int>(k);
    if (used < 0 || frame == nullptr) return used;
    // The kind values of the two speech rates equal their rate selectors.
    unsigned char qrx[g723::FRAME_BYTES_63];
    if (static_cast<int>(k) == rate)
        g723::frame_from_standard(in, qrx);
    else
        g723::erased_frame(qrx);
    std::memcpy(frame, qrx, rate == g723::RATE_63 ? g723::FRAME_BYTES_63 : g723::FRAME_BYTES_53);
    return used;
}

QRXC_API int Qrxc_decode_standard_ctx(Qrxc_context *ctx, const unsigned char *in, size_t len, short *pcm, int *kind) {
    if (ctx == nullptr || in == nullptr || pcm == nullptr) return QRXC_ERR_ARG;
    const qrxc::Codec_stream &s = ctx->stream;
    if (!s.open || s.direction != QRXC_DECODE ||
        (s.header.type != qrxc::TYPE_G723_53 && s.header.type != qrxc::TYPE_G723_63))
        return QRXC_ERR_ARG;
    g723::Standard_kind k{};
    const int used = standard_frame_at(in, len, k);
    if (kind != nullptr) *kind = len > 0 ? static_cast<int>(k) : -1;
    if (used < 0) return used;

    Word16 out[g723::FRAME_LEN];
    ctx->standard_decoded_as = static_cast<int>(g723::g723_decode_standard(ctx->dec, k, in, out));
    std::memcpy(pcm, out, sizeof out);
    return used;
}

QRXC_API int Qrxc_encode_standard_ctx(Qrxc_context *ctx, const short *pcm, int rate_kind, int flags,
                                      unsigned char *out) {
    if (ctx == nullptr || pcm == nullptr || out == nullptr) return QRXC_ERR_ARG;
    const qrxc::Codec_stream &s = ctx->stream;
    if (!s.open || s.direction != QRXC_ENCODE || s.header.sample_rate != 8000 ||
        (s.header.type != qrxc::TYPE_G723_53 && s.header.type != qrxc::TYPE_G723_63))
        return QRXC_ERR_ARG;
    if ((rate_kind != QRXC_G723_KIND_63 && rate_kind != QRXC_G723_KIND_53) || (flags & ~QRXC_G723_VAD) != 0)
        return QRXC_ERR_ARG;
    // The kind values of the two speech rates equal their rate selectors.
    const int rate = rate_kind;
    // Every 5.3 kbit/s frame starts with a full search budget.
    if (rate == g723::RATE_53) g723::reset_acelp_budget(ctx->acelp_budget);
    Word16 samples[g723::FRAME_LEN];
    std::memcpy(samples, pcm, sizeof samples);
    unsigned char bytes[g723::FRAME_BYTES_63];
    const int kind = g723::enc_frame(ctx->enc, rate, ctx->acelp_budget, samples, bytes,
                                     (flags & QRXC_G723_VAD) != 0 ? &ctx->dtx : nullptr);
    if (kind == rate) return g723::frame_to_standard(bytes, rate, out);
    const int n = g723::standard_frame_bytes(static_cast<g723::Standard_kind>(kind));
    std::memcpy(out, bytes, static_cast<std::size_t>(n));
    return n;
}

QRXC_API int Qrxc_decode_standard_last_ctx(const Qrxc_context *ctx) {
    if (ctx == nullptr) return QRXC_ERR_ARG;
    return ctx->standard_decoded_as;
}

}  // extern "C"
