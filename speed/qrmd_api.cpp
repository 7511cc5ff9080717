// Placeholder exports until the speed control lands.
#include "codec/context.h"

extern "C" {
QRXC_API int Qrmd_initial(int) { return -1; }
QRXC_API int Qrmd_frame(int, short *, short *) { return -1; }
QRXC_API int Qrmd_last_count(void) { return 0; }
QRXC_API int Qrmd_initial_ctx(Qrxc_context *, int) { return -1; }
QRXC_API int Qrmd_frame_ctx(Qrxc_context *, int, short *, short *) { return -1; }
QRXC_API int Qrmd_last_count_ctx(const Qrxc_context *) { return 0; }
}
