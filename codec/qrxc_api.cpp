// Placeholder stream exports; replaced by the stream API.
#include "codec/context.h"

extern "C" {
QRXC_API void Qrxc_version(int) {}
QRXC_API int Qrxc_initial(int, int, int, G_header *, unsigned char *) { return -1; }
QRXC_API int Qrxc_frame(short *, unsigned char *) { return -1; }
QRXC_API void Qrxc_version_ctx(Qrxc_context *, int) {}
QRXC_API int Qrxc_initial_ctx(Qrxc_context *, int, int, int, G_header *, unsigned char *) { return -1; }
QRXC_API int Qrxc_frame_ctx(Qrxc_context *, short *, unsigned char *) { return -1; }
}
