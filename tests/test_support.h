// Small helpers shared by the tests: scratch directories, file bytes and
// running commands.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qrx_test {

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

}  // namespace qrx_test
