// The speed-control exports: Qrmd_initial / Qrmd_frame on the default
// context, their *_ctx forms on caller-owned ones, the output count, and the
// speed control set up without a stream.
#include "codec/context.h"
#include "codec/speed_path.h"

extern "C" {

QRXC_API int Qrmd_initial(int flags) { return qrxc::qrmd_initial(qrxc::default_context(), flags); }

QRXC_API int Qrmd_frame(int flags, short *src, short *dst) {
    return qrxc::qrmd_frame(qrxc::default_context(), flags, src, dst);
}

QRXC_API int Qrmd_last_count(void) { return qrxc::default_context().speed.last_count; }

QRXC_API int Qrmd_initial_ctx(Qrxc_context *ctx, int flags) {
    return ctx == nullptr ? QRXC_ERR_ARG : qrxc::qrmd_initial(*ctx, flags);
}

QRXC_API int Qrmd_frame_ctx(Qrxc_context *ctx, int flags, const short *src, short *dst) {
    return ctx == nullptr ? QRXC_ERR_ARG : qrxc::qrmd_frame(*ctx, flags, src, dst);
}

QRXC_API int Qrmd_open_ctx(Qrxc_context *ctx, int pcm_frame, int flags) {
    return ctx == nullptr ? QRXC_ERR_ARG : qrxc::qrmd_open(*ctx, pcm_frame, flags);
}

QRXC_API int Qrmd_process_ctx(Qrxc_context *ctx, int flags, const short *src, short *dst) {
    return ctx == nullptr ? QRXC_ERR_ARG : qrxc::qrmd_process(*ctx, flags, src, dst);
}

QRXC_API void Qrxc_set_diagnostics(Qrxc_context *ctx, Qrxc_diagnostic_fn fn, void *user) {
    if (ctx != nullptr) ctx->speed.diag = {fn, user};
}

QRXC_API int Qrmd_last_count_ctx(const Qrxc_context *ctx) {
    return ctx == nullptr ? QRXC_ERR_ARG : ctx->speed.last_count;
}

}  // extern "C"
