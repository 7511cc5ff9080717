// Shared pieces of the fuzz harnesses: input caps, default libFuzzer flags,
// and a context that frees itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "qrxc.h"

namespace qrxc::fuzz {

// A handful of frames is enough to reach every path of a coder; longer
// inputs only repeat the same work and slow the search down.
inline constexpr std::size_t INPUT_CAP = 256;

struct Ctx_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
using Ctx = std::unique_ptr<Qrxc_context, Ctx_deleter>;

// A harness-found fault: stop with a stack trace under every sanitizer.
[[noreturn]] inline void fail() { __builtin_trap(); }
inline void check(bool ok) {
    if (!ok) fail();
}

// Puts "-max_len=N" ahead of the command line's own flags (a later flag
// wins), so a plain run of the fuzzer keeps to the harness's cap.
inline void default_max_len(int *argc, char ***argv, std::size_t max_len) {
    static std::vector<std::string> storage;
    static std::vector<char *> args;
    if (argc == nullptr || argv == nullptr || *argc < 1) return;
    storage.assign(1, "-max_len=" + std::to_string(max_len));
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, storage[0].data());
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size() - 1);
    *argv = args.data();
}

inline unsigned le16(const std::uint8_t *p) { return static_cast<unsigned>(p[0] | (p[1] << 8)); }

}  // namespace qrxc::fuzz

// Every harness caps its input with this.
#define QRX_FUZZ_MAX_LEN(n)                                        \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) { \
        qrxc::fuzz::default_max_len(argc, argv, (n));              \
        return 0;                                                  \
    }
