#include "cli/cli_support.h"

#include <unistd.h>

#include <cstdio>

namespace qrx::cli {

void print_error(const std::string &text) { std::fprintf(stderr, "qrx: %s\n", text.c_str()); }

bool progress_wanted() { return ::isatty(STDERR_FILENO) != 0; }

Progress_line::Progress_line(std::string label) : label_(std::move(label)), enabled_(progress_wanted()) {}

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

bool read_head(const std::string &path, unsigned char *head, std::size_t max, std::size_t &got, std::uint64_t &size) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    got = std::fread(head, 1, max, f);
    bool ok = std::ferror(f) == 0 && ::fseeko(f, 0, SEEK_END) == 0;
    const off_t end = ok ? ::ftello(f) : -1;
    ok = ok && end >= 0;
    size = ok ? static_cast<std::uint64_t>(end) : 0;
    std::fclose(f);
    return ok;
}

bool copy_to_stdout(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[1 << 15];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n > 0 && std::fwrite(buf, 1, n, stdout) != n) {
            ok = false;
            break;
        }
        if (n < sizeof buf) {
            ok = std::ferror(f) == 0;
            break;
        }
    }
    std::fclose(f);
    return std::fflush(stdout) == 0 && ok;
}

}  // namespace qrx::cli
