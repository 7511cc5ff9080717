// A QRX stream read once, front to back: the header, then whole frames.
// Works on pipes as on files; a file that ends before the size it had when
// opened is a read failure, not a short stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "qrxc.h"

namespace qrxc::cli {

class Input_fd;

class Qrx_reader {
public:
    enum Open_result { ok, unreadable, too_short, rejected };

    Qrx_reader() = default;
    ~Qrx_reader();
    Qrx_reader(const Qrx_reader &) = delete;
    Qrx_reader &operator=(const Qrx_reader &) = delete;

    // Reads the header from in (which stays open) and opens a decoding
    // stream on ctx; header_code() holds the library's result on rejected.
    Open_result open(const Input_fd &in, Qrxc_context *ctx);
    const G_header &header() const { return header_; }
    int header_length() const { return header_length_; }
    int header_code() const { return header_code_; }
    const unsigned char *header_bytes() const { return head_; }

    // 1 with the next whole frame in frame (header().frame_bytes bytes),
    // 0 at the end, -1 when reading failed or the file shrank.
    int next(unsigned char *frame);
    std::uint64_t frames_read() const { return frames_; }
    std::uint64_t trailing_bytes() const { return trailing_; }
    // Whole frames the stream holds, when its size is known (else 0).
    std::uint64_t frames_expected() const { return expected_frames_; }

private:
    std::FILE *f_ = nullptr;
    G_header header_{};
    unsigned char head_[QRXC_HEADER_MAX] = {};
    int header_length_ = 0;
    int header_code_ = 0;
    bool sized_ = false;
    std::uint64_t payload_ = 0;  // bytes after the header, when sized
    std::uint64_t expected_frames_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t trailing_ = 0;
};

}  // namespace qrxc::cli
