// How a hot function gets its AVX2 twin in the same binary: its body is a
// template on the kernel set, forced inline into a wrapper per set, and the
// AVX2 wrapper is compiled for AVX2 (the body's loops vectorise 16 lanes
// wide there). The portable inline helpers it calls are defined without a
// target, so no out-of-line copy of them ever holds AVX2 code.
#pragma once

#include "g723/common/kernel_set.h"

// QRXC_X86_KERNELS: the hand-written SSE2 forms are built. On x86-64 the
// AVX2 twins come with them (QRXC_AVX2_KERNELS); a WebAssembly module built
// with -msimd128 -msse2 runs the SSE2 forms alone, emscripten mapping each
// intrinsic onto WebAssembly SIMD (the pair multiply-add onto
// i32x4.dot_i16x8_s), so that one set of kernels serves both.
#if defined(__x86_64__) && defined(__SSE2__) && defined(__GNUC__) && !defined(QRXC_PLAIN_OPS)
#define QRXC_X86_KERNELS 1
#define QRXC_AVX2_KERNELS 1
#define QRXC_TARGET_AVX2 __attribute__((target("avx2")))
#elif defined(__wasm_simd128__) && defined(__SSE2__) && !defined(QRXC_PLAIN_OPS)
#define QRXC_X86_KERNELS 1
#define QRXC_AVX2_KERNELS 0
#else
#define QRXC_X86_KERNELS 0
#define QRXC_AVX2_KERNELS 0
#endif

#define QRXC_KERNEL_BODY [[gnu::always_inline]] inline

// Runs BODY<set>(args...) with the process's kernel set, through the AVX2
// wrapper NAME_avx2 where that set was chosen.
#if QRXC_AVX2_KERNELS
#define QRXC_DISPATCH(name, body, ...)                                                             \
    switch (::qrxc::g723::kernel_set()) {                                                          \
    case ::qrxc::g723::Kernel_set::avx2: return name##_avx2(__VA_ARGS__);                          \
    case ::qrxc::g723::Kernel_set::sse2: return body<::qrxc::g723::Kernel_set::sse2>(__VA_ARGS__); \
    default: return body<::qrxc::g723::Kernel_set::generic>(__VA_ARGS__);                          \
    }
#elif QRXC_X86_KERNELS
#define QRXC_DISPATCH(name, body, ...) return body<::qrxc::g723::Kernel_set::sse2>(__VA_ARGS__);
#else
#define QRXC_DISPATCH(name, body, ...) return body<::qrxc::g723::Kernel_set::generic>(__VA_ARGS__);
#endif

// Defines NAME_avx2 (PARAMS) as BODY<avx2> (ARGS), compiled for AVX2.
#if QRXC_AVX2_KERNELS
#define QRXC_AVX2_TWIN(ret, name, body, params, args) \
    QRXC_TARGET_AVX2 ret name##_avx2 params { return body<::qrxc::g723::Kernel_set::avx2> args; }
#else
#define QRXC_AVX2_TWIN(ret, name, body, params, args)
#endif
