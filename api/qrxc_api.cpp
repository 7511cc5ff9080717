// The context and stream exports: one-line forwards to the context
// operations. Nothing below them throws, so nothing can cross the C boundary.
#include <new>

#include "codec/context.h"
#include "codec/stream.h"

extern "C" {

QRXC_API Qrxc_context *Qrxc_create(void) {
    auto *ctx = new (std::nothrow) Qrxc_context;
    if (ctx != nullptr) qrxc::context_load(*ctx);
    return ctx;
}

QRXC_API void Qrxc_destroy(Qrxc_context *ctx) { delete ctx; }

QRXC_API void Qrxc_version(int v) { qrxc::stream_version(qrxc::default_context().stream, v); }

QRXC_API int Qrxc_initial(int direction, int sample_rate, int type, G_header *out, unsigned char *hdr) {
    return qrxc::stream_initial(qrxc::default_context(), direction, sample_rate, type, out, hdr);
}

QRXC_API int Qrxc_frame(short *pcm, unsigned char *data) {
    return qrxc::stream_frame(qrxc::default_context(), pcm, data);
}

QRXC_API void Qrxc_version_ctx(Qrxc_context *ctx, int v) {
    if (ctx != nullptr) qrxc::stream_version(ctx->stream, v);
}

QRXC_API int Qrxc_initial_ctx(Qrxc_context *ctx, int direction, int sample_rate, int type, G_header *out,
                              unsigned char *hdr) {
    if (ctx == nullptr) return QRXC_ERR_ARG;
    return qrxc::stream_initial(*ctx, direction, sample_rate, type, out, hdr);
}

QRXC_API int Qrxc_frame_ctx(Qrxc_context *ctx, short *pcm, unsigned char *data) {
    if (ctx == nullptr) return QRXC_ERR_ARG;
    return qrxc::stream_frame(*ctx, pcm, data);
}

QRXC_API int Qrxc_open_decoding_ctx(Qrxc_context *ctx, int type, int sample_rate, G_header *out) {
    if (ctx == nullptr) return QRXC_ERR_ARG;
    return qrxc::stream_open_decoding(*ctx, type, sample_rate, out);
}

}  // extern "C"

extern "C" {

QRXC_API int Qrxc_decode_frame(Qrxc_context *ctx, const unsigned char *frame, short *pcm) {
    if (ctx == nullptr || frame == nullptr || pcm == nullptr) return QRXC_ERR_ARG;
    return qrxc::stream_decode(*ctx, frame, pcm);
}

QRXC_API int Qrxc_encode_frame(Qrxc_context *ctx, const short *pcm, unsigned char *frame) {
    if (ctx == nullptr || pcm == nullptr || frame == nullptr) return QRXC_ERR_ARG;
    return qrxc::stream_encode(*ctx, pcm, frame);
}

}  // extern "C"
