// A standard G.723.1 stream read once, front to back, one frame at a time
// through a fixed buffer: pipes, FIFOs and devices work as files do, and the
// memory used is the same whatever the input's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/cli_support.h"
#include "conversion/conversion_job.h"

namespace qrxc::cli {

// The most frames a standard stream may hold: their PCM (240 samples each)
// fills a WAV file. The QRX side keeps to the same bound.
inline constexpr std::uint64_t STANDARD_MAX_FRAMES = WAV_MAX_DATA_BYTES / (240 * 2);

class Standard_reader {
public:
    enum Step { frame, cut, end, failed };

    // False with error() and exit_code() set. A file whose size alone shows
    // more than STANDARD_MAX_FRAMES is refused here, before any reading.
    bool open(const std::string &path);

    // frame: the next frame is at data(), size() bytes, of kind();
    // cut: the stream ends inside a frame of kind(), whose size() bytes are all there is;
    // end: nothing is left;
    // failed: a read failed, the file shrank, or it holds too many frames.
    Step next();
    const unsigned char *data() const { return buf_ + at_; }
    std::size_t size() const { return size_; }
    int kind() const { return kind_; }
    std::uint64_t offset() const { return offset_; }  // of the frame at data()
    std::uint64_t frames() const { return frames_; }  // returned so far, a cut one included

    // For a regular file: the frames it holds (a cut last one included),
    // counted without moving on; false with error() set otherwise.
    bool count_frames(std::uint64_t &count);

    const Input_fd &file() const { return in_; }
    bool sized() const { return in_.sized(); }
    std::uint64_t total() const { return in_.size(); }
    const std::string &error() const { return error_; }
    int exit_code() const { return code_; }

private:
    bool fill();
    Step fail(int code, const std::string &text);

    Input_fd in_;
    std::string shown_;
    std::string path_;
    unsigned char buf_[1 << 16];
    std::size_t at_ = 0, have_ = 0, size_ = 0;
    bool eof_ = false;
    int kind_ = -1;
    std::uint64_t offset_ = 0, read_ = 0, frames_ = 0;
    std::string error_;
    int code_ = EXIT_OK;
};

// The message for a stream over STANDARD_MAX_FRAMES.
std::string too_many_frames(const std::string &shown);

}  // namespace qrxc::cli
