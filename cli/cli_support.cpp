#include "cli/cli_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace qrx::cli {

void print_error(const std::string &text) { std::fprintf(stderr, "qrx: %s\n", text.c_str()); }

bool stdin_refused(const std::string &input) {
    if (input != "-") return false;
    print_error("QRX input cannot come from standard input; give a file name");
    return true;
}

namespace {
volatile std::sig_atomic_t interrupt_raised = 0;
extern "C" void raise_interrupt_flag(int) { interrupt_raised = 1; }
}  // namespace

Interrupt_guard::Interrupt_guard()
    : previous_int_(std::signal(SIGINT, raise_interrupt_flag)), previous_term_(std::signal(SIGTERM, raise_interrupt_flag)) {}

Interrupt_guard::~Interrupt_guard() {
    std::signal(SIGINT, previous_int_);
    std::signal(SIGTERM, previous_term_);
}

bool Interrupt_guard::raised() { return interrupt_raised != 0; }

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

bool is_stream_target(const std::string &path) {
    struct stat st{};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    // Renaming onto a link would replace the link (think of /dev/stdout
    // redirected to a file), so links are written through as well.
    if (S_ISLNK(st.st_mode)) return true;
    return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

bool same_file(const std::string &a, const std::string &b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

Temp_dir::Temp_dir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qrx-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
}

Temp_dir::~Temp_dir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool deliver(const std::string &path, const std::string &target) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::remove(path.c_str());
    // A reader that closes early gives a write error here, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    const bool to_stdout = target == "-";
    std::FILE *out = to_stdout ? stdout : std::fopen(target.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(f);
        return false;
    }
    char buf[1 << 15];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n > 0 && std::fwrite(buf, 1, n, out) != n) {
            ok = false;
            break;
        }
        if (n < sizeof buf) {
            ok = std::ferror(f) == 0;
            break;
        }
    }
    std::fclose(f);
    ok = std::fflush(out) == 0 && ok;
    if (!to_stdout) ok = std::fclose(out) == 0 && ok;
    return ok;
}

}  // namespace qrx::cli
