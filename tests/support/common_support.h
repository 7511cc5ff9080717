// Small helpers shared by the tests: scratch directories, file bytes and
// running commands.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "qrxc.h"

namespace qrxc::test {

using Bytes = std::vector<unsigned char>;

// A fresh directory under the system temp dir, removed with its contents.
class Scratch_dir {
public:
    Scratch_dir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("qrxc-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~Scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    const std::filesystem::path &path() const { return path_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path path_;
};

// A context destroyed with its owner.
struct Ctx_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
using Ctx = std::unique_ptr<Qrxc_context, Ctx_deleter>;
inline Ctx fresh() { return Ctx(Qrxc_create()); }

inline Bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void put16(Bytes &b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
inline void put32(Bytes &b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

// A 16-byte header with the given fields.
inline Bytes long_header(unsigned rate, unsigned type, unsigned pcm_frame, unsigned frame_bytes,
                         std::uint32_t header_size = 16, unsigned char version = 0x40) {
    Bytes b = {'Q', 'R', 'X', version};
    put16(b, rate);
    put16(b, type);
    put16(b, pcm_frame);
    put16(b, frame_bytes);
    put32(b, header_size);
    return b;
}

// A finished converter WAV: 46-byte header (18-byte fmt chunk), then data.
inline Bytes wav_file(std::uint32_t rate, const Bytes &data) {
    Bytes b = {'R', 'I', 'F', 'F'};
    put32(b, 38 + static_cast<std::uint32_t>(data.size()));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
    put32(b, 18);
    put16(b, 1);  // PCM
    put16(b, 1);  // mono
    put32(b, rate);
    put32(b, rate * 2);
    put16(b, 2);
    put16(b, 16);
    put16(b, 0);
    for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Command_result {
    int status;  // exit status, -1 if the command could not run or did not exit
    std::string out;
};

// Runs a shell command line, capturing its standard output.
inline Command_result run_command(const std::string &cmd) {
    Command_result r{-1, {}};
    std::FILE *p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Deterministic pseudo-random bytes.
inline Bytes noise_bytes(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto &x : b) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<unsigned char>(seed >> 24);
    }
    return b;
}

// A stream of the given type (noise frames) with trailing extra bytes.
inline Bytes noise_stream(unsigned type, std::size_t frames, std::size_t trailing = 0, unsigned rate = 8000,
                          std::uint32_t seed = 5) {
    Qrxc_type_desc d{};
    Qrxc_type_info(static_cast<int>(type), &d);
    const auto fb = static_cast<unsigned>(d.frame_bytes);
    Bytes b = long_header(rate, type, static_cast<unsigned>(d.pcm_frame), fb);
    const Bytes body = noise_bytes(frames * fb + trailing, seed);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The 44-byte header of a canonical WAV: format 1 (PCM) or 3 (float).
inline Bytes wav_header(std::uint32_t rate, unsigned channels, unsigned format, unsigned bits, std::uint32_t data) {
    Bytes b = {'R', 'I', 'F', 'F'};
    put32(b, 36 + data);
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
    put32(b, 16);
    put16(b, format);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * bits / 8 * channels);
    put16(b, bits / 8 * channels);
    put16(b, bits);
    for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
    put32(b, data);
    return b;
}

// A canonical WAV with 16-bit samples (interleaved when channels > 1), or
// 32-bit float ones.
inline Bytes pcm_wav(std::uint32_t rate, unsigned channels, const std::vector<short> &samples) {
    Bytes b = wav_header(rate, channels, 1, 16, static_cast<std::uint32_t>(samples.size() * 2));
    for (short v : samples) put16(b, static_cast<unsigned short>(v));
    return b;
}
inline Bytes float_wav(std::uint32_t rate, const std::vector<float> &samples, unsigned channels = 1) {
    Bytes b = wav_header(rate, channels, 3, 32, static_cast<std::uint32_t>(samples.size() * 4));
    for (float f : samples) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        put32(b, u);
    }
    return b;
}

// A speech-like tone, n samples at rate.
inline std::vector<short> tone(std::size_t n, double rate, double amplitude = 0.3) {
    std::vector<short> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<short>(
            32767 * amplitude *
            (std::sin(2 * M_PI * 220 * double(i) / rate) + 0.3 * std::sin(2 * M_PI * 1270 * double(i) / rate)));
    return v;
}

inline std::string quoted(const std::string &s) { return "'" + s + "'"; }
inline std::string text_of(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Every file and directory below root, as paths relative to it, sorted.
inline std::vector<std::string> tree(const std::filesystem::path &root) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        names.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(names.begin(), names.end());
    return names;
}

#ifdef QRX_CLI
struct Qrx_run {
    int status;
    std::string out, err;
};

// Runs "prefix qrx args" through the shell (args quoted by the caller),
// capturing standard output and standard error.
inline Qrx_run run_tool(const std::string &args, const std::string &prefix = "") {
    static int counter = 0;
    const std::string err_file = (std::filesystem::temp_directory_path() /
                                  ("qrx-err-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                                     .string();
    const Command_result r = run_command(prefix + "'" + QRX_CLI + "' " + args + " 2>'" + err_file + "'");
    Qrx_run out{r.status, r.out, text_of(read_bytes(err_file))};
    std::remove(err_file.c_str());
    return out;
}
#endif

}  // namespace qrxc::test
