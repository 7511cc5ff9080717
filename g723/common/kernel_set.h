// Which forms of the hot kernels the process runs. The choice is made once,
// on first use (a context's creation makes it), from what the CPU offers
// and, for tests and comparisons, the QRXC_CPU environment variable
// (generic, sse2 or avx2). A set the CPU lacks is never chosen: asking for
// it gives the best set the CPU has. Every set computes the same bits.
#pragma once

namespace qrxc::g723 {

enum class Kernel_set {
    generic,  // portable C++ only
    sse2,     // the hand-written SSE2 forms (the x86-64 baseline)
    avx2,     // the searches and filters compiled for AVX2, on CPUs that have it
};

// The process's choice; thread-safe, fixed after the first call.
Kernel_set kernel_set();

bool kernel_set_available(Kernel_set set);
const char *kernel_set_name(Kernel_set set);

}  // namespace qrxc::g723
