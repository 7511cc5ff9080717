#include "cli/cli_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "qrxc.h"

namespace qrxc::cli {

void print_error(const std::string &text) { std::fprintf(stderr, "qrx: %s\n", text.c_str()); }

std::string errno_text() {
    const int err = errno;
    return err != 0 ? os_error(err) : std::string();
}

Input_fd::~Input_fd() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

bool Input_fd::open(const std::string &path) {
    if (path == "-") {
        fd_ = STDIN_FILENO;
        owned_ = false;
    } else {
        // Opening a FIFO waits for its writer; the signal handlers keep that
        // interruptible.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        owned_ = true;
        if (fd_ < 0) {
            errno_ = errno;
            return false;
        }
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        errno_ = errno;
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        errno_ = EISDIR;
        return false;
    }
    sized_ = S_ISREG(st.st_mode);
    if (sized_) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        start_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
        const auto whole = static_cast<std::uint64_t>(st.st_size);
        size_ = whole > start_ ? whole - start_ : 0;
    }
    return true;
}

std::string modification_time_utc(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return "";
    struct tm utc {};
    char text[32];
    if (::gmtime_r(&st.st_mtime, &utc) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return "";
    return text;
}

bool same_file(const std::string &a, const std::string &b) {
    if (a == "-" || b == "-") return false;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::vector<int> stream_types() {
    std::vector<int> types;
    for (int t = 0; t <= QRXC_TYPE_LAST; ++t) {
        Qrxc_type_desc d{};
        if (Qrxc_type_info(t, &d) == QRXC_OK) types.push_back(t);
    }
    return types;
}

bool is_stream_rate(int rate) {
    unsigned char hdr[QRXC_HEADER_MAX];
    return Qrxc_write_header(rate, QRXC_TYPE_G723_53, 1, hdr, nullptr) != QRXC_ERR_RATE;
}

Context::Context() : ctx_(Qrxc_create()) {}
Context::~Context() { Qrxc_destroy(ctx_); }

bool progress_wanted() { return ::isatty(STDERR_FILENO) != 0; }

Progress_line::Progress_line(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled && progress_wanted()) {}

Progress_line::~Progress_line() { finish(); }

void Progress_line::update(int percent) {
    if (!enabled_ || percent == last_) return;
    last_ = percent;
    drawn_ = true;
    std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), percent);
    std::fflush(stderr);
}

void Progress_line::finish() {
    if (!drawn_) return;
    drawn_ = false;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 6, "");
    std::fflush(stderr);
}

}  // namespace qrxc::cli
