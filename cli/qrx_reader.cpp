#include "cli/qrx_reader.h"

#include <unistd.h>

#include "cli/cli_support.h"

namespace qrxc::cli {

Qrx_reader::~Qrx_reader() {
    if (f_ != nullptr) std::fclose(f_);
}

Qrx_reader::Open_result Qrx_reader::open(const Input_fd &in, Qrxc_context *ctx) {
    const int fd = ::dup(in.get());
    f_ = fd < 0 ? nullptr : ::fdopen(fd, "rb");
    if (f_ == nullptr) {
        if (fd >= 0) ::close(fd);
        return unreadable;
    }
    // Only the header's own bytes are taken, so the frames follow on a pipe.
    const std::size_t got = std::fread(head_, 1, 4, f_);
    if (std::ferror(f_)) return unreadable;
    if (got < 4) return too_short;
    const int len = Qrxc_header_length(head_);
    if (len < 0) {
        header_code_ = len;
        return rejected;
    }
    if (len > 4 && std::fread(head_ + 4, 1, static_cast<std::size_t>(len - 4), f_) != static_cast<std::size_t>(len - 4))
        return std::ferror(f_) ? unreadable : too_short;
    Qrxc_version_ctx(ctx, 1);
    header_code_ = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &header_, head_);
    if (header_code_ < 0 || header_.frame_bytes == 0 || header_.frame_bytes > QRXC_MAX_FRAME_BYTES ||
        header_.pcm_frame == 0 || header_.pcm_frame > QRXC_MAX_PCM_FRAME)
        return rejected;
    header_length_ = header_code_;
    sized_ = in.sized();
    if (sized_) {
        payload_ = in.size() > static_cast<std::uint64_t>(len) ? in.size() - static_cast<std::uint64_t>(len) : 0;
        expected_frames_ = payload_ / header_.frame_bytes;
    }
    return ok;
}

int Qrx_reader::next(unsigned char *frame) {
    const std::size_t want = header_.frame_bytes;
    const std::size_t n = std::fread(frame, 1, want, f_);
    if (n == want) {
        ++frames_;
        return 1;
    }
    trailing_ = n;
    if (std::ferror(f_)) return -1;
    if (sized_ && frames_ * want + n < payload_) return -1;
    return 0;
}

}  // namespace qrxc::cli
