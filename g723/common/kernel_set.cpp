#include "g723/common/kernel_set.h"

#include <cstdlib>
#include <cstring>

#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr Kernel_set ALL_SETS[] = {Kernel_set::generic, Kernel_set::sse2, Kernel_set::avx2};

Kernel_set best_available() {
    Kernel_set best = Kernel_set::generic;
    for (Kernel_set s : ALL_SETS)
        if (kernel_set_available(s)) best = s;
    return best;
}

Kernel_set choose() {
    if (const char *asked = std::getenv("QRXC_CPU"))
        for (Kernel_set s : ALL_SETS)
            if (std::strcmp(asked, kernel_set_name(s)) == 0 && kernel_set_available(s)) return s;
    return best_available();
}

}  // namespace

bool kernel_set_available(Kernel_set set) {
    switch (set) {
    case Kernel_set::generic: return true;
#if QRXC_X86_KERNELS
    case Kernel_set::sse2: return true;
#endif
#if QRXC_AVX2_KERNELS
    case Kernel_set::avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2");
#endif
    default: return false;
    }
}

const char *kernel_set_name(Kernel_set set) {
    switch (set) {
    case Kernel_set::sse2: return "sse2";
    case Kernel_set::avx2: return "avx2";
    default: return "generic";
    }
}

Kernel_set kernel_set() {
    static const Kernel_set chosen = choose();
    return chosen;
}

}  // namespace qrxc::g723
