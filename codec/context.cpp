#include "codec/context.h"

#include <cstdio>

#include "g723/common/kernel_set.h"

namespace qrxc {

void context_load(Qrxc_context &ctx) {
    ctx = Qrxc_context{};
    ctx.stream.version_byte = 0x40;  // long header unless Qrxc_version says otherwise
    adpcm_load(ctx.adpcm);
    // The kernel set is chosen here, once per process, rather than inside
    // the first frame.
    static_cast<void>(g723::kernel_set());
}

namespace {
void print_to_stdout(void *, const char *text) { std::fputs(text, stdout); }
}  // namespace

Qrxc_context &default_context() {
    static Qrxc_context ctx = [] {
        Qrxc_context c;
        context_load(c);
        // The classic exports have always printed the speed control's diagnostics.
        c.speed.diag = {print_to_stdout, nullptr};
        return c;
    }();
    return ctx;
}

}  // namespace qrxc
