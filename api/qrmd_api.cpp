// The speed-control exports: Qrmd_initial / Qrmd_frame on the default
// context, their *_ctx forms on caller-owned ones, and the output count.
#include "codec/context.h"
#include "codec/speed_path.h"

extern "C" {

QRXC_API int Qrmd_initial(int flags) { return qrxc::qrmd_initial(qrxc::default_context(), flags); }

QRXC_API int Qrmd_frame(int flags, short *src, short *dst) {
    return qrxc::qrmd_frame(qrxc::default_context(), flags, src, dst);
}

QRXC_API int Qrmd_last_count(void) { return qrxc::default_context().speed.last_count; }

QRXC_API int Qrmd_initial_ctx(Qrxc_context *ctx, int flags) {
    return ctx == nullptr ? -1 : qrxc::qrmd_initial(*ctx, flags);
}

QRXC_API int Qrmd_frame_ctx(Qrxc_context *ctx, int flags, const short *src, short *dst) {
    return ctx == nullptr ? -1 : qrxc::qrmd_frame(*ctx, flags, src, dst);
}

QRXC_API void Qrxc_set_diagnostics(Qrxc_context *ctx, Qrxc_diagnostic_fn fn, void *user) {
    if (ctx != nullptr) ctx->speed.diag = {fn, user};
}

QRXC_API int Qrmd_last_count_ctx(const Qrxc_context *ctx) { return ctx == nullptr ? -1 : ctx->speed.last_count; }

}  // extern "C"
