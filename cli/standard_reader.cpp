#include "cli/standard_reader.h"

#include "cli/messages.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qrxc.h"

namespace qrxc::cli {

std::string too_many_frames(const std::string &shown) {
    return shown + ": holds more G.723.1 frames than a WAV file can hold decoded (4 GiB)";
}

bool Standard_reader::open(const std::string &path) {
    shown_ = shown_input(path);
    path_ = path;
    if (!in_.open(path)) {
        fail(EXIT_SOURCE, in_.error_message(path));
        return false;
    }
    // No frame is longer than the largest kind, so the size alone can show a
    // stream too long to decode.
    if (in_.sized() && in_.size() / QRXC_G723_STANDARD_MAX_BYTES > STANDARD_MAX_FRAMES) {
        fail(EXIT_OUTPUT, too_many_frames(shown_));
        return false;
    }
    return true;
}

Standard_reader::Step Standard_reader::fail(int code, const std::string &text) {
    code_ = code;
    error_ = text;
    return failed;
}

// Tops the buffer up to a whole frame at least, unless the input ends first.
bool Standard_reader::fill() {
    if (have_ - at_ >= QRXC_G723_STANDARD_MAX_BYTES || eof_) return true;
    std::memmove(buf_, buf_ + at_, have_ - at_);
    have_ -= at_;
    at_ = 0;
    while (have_ < QRXC_G723_STANDARD_MAX_BYTES && !eof_) {
        const ssize_t n = ::read(in_.get(), buf_ + have_, sizeof buf_ - have_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fail(EXIT_SOURCE, msg::cannot_read_input(path_, errno));
            return false;
        }
        if (n == 0) eof_ = true;
        have_ += static_cast<std::size_t>(n);
        read_ += static_cast<std::uint64_t>(n);
    }
    // A file that shrank while it was read is a read failure, not a short stream.
    if (eof_ && in_.sized() && read_ < in_.size()) {
        fail(EXIT_SOURCE, msg::input_shrank(path_));
        return false;
    }
    return true;
}

Standard_reader::Step Standard_reader::next() {
    at_ += size_;
    offset_ += size_;
    size_ = 0;
    if (!fill()) return failed;
    if (at_ == have_) return end;
    if (frames_ == STANDARD_MAX_FRAMES) return fail(EXIT_OUTPUT, too_many_frames(shown_));
    ++frames_;
    const int used = Qrxc_g723_from_standard(buf_ + at_, have_ - at_, 1, nullptr, &kind_);
    if (used == QRXC_ERR_BUFFER) {
        size_ = have_ - at_;
        return cut;
    }
    if (used <= 0) return fail(EXIT_OUTPUT, "the codec failed");
    size_ = static_cast<std::size_t>(used);
    return frame;
}

bool Standard_reader::count_frames(std::uint64_t &count) {
    count = 0;
    if (!in_.sized()) {
        error_ = shown_ + ": its size is not known";
        return false;
    }
    unsigned char buf[1 << 15];
    std::uint64_t at = 0;  // of the next frame, from start()
    std::size_t have = 0;  // bytes in buf, from at
    for (;;) {
        if (have < QRXC_G723_STANDARD_MAX_BYTES && at + have < in_.size()) {
            const auto pos = static_cast<off_t>(in_.start() + at + have);
            const ssize_t n = ::pread(in_.get(), buf + have, sizeof buf - have, pos);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fail(EXIT_SOURCE, n < 0 ? msg::cannot_read_input(path_, errno) : msg::input_shrank(path_));
                return false;
            }
            have += static_cast<std::size_t>(n);
            continue;
        }
        if (have == 0) return true;
        std::size_t off = 0;
        // Step over the frames whole in the buffer; the rest waits for more.
        while (have - off >= QRXC_G723_STANDARD_MAX_BYTES || (at + have >= in_.size() && off < have)) {
            int kind = -1;
            const int used = Qrxc_g723_from_standard(buf + off, have - off, 1, nullptr, &kind);
            if (++count > STANDARD_MAX_FRAMES) {
                fail(EXIT_OUTPUT, too_many_frames(shown_));
                return false;
            }
            off = used > 0 ? off + static_cast<std::size_t>(used) : have;
        }
        std::memmove(buf, buf + off, have - off);
        at += off;
        have -= off;
    }
}

}  // namespace qrxc::cli
