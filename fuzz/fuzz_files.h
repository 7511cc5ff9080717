// Files for the harnesses that go through the file system: a private
// scratch directory and plain-system-call helpers (stdio's buffer and
// opendir's would be allocated, under ASan with a quarantine, per input).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace qrxc::fuzz {

// One directory per process and name, in memory where the system offers
// it, removed at exit.
inline std::string make_scratch_dir(const char *name) {
    const char *bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
    for (const char *base : bases) {
        if (base == nullptr || ::access(base, W_OK) != 0) continue;
        std::string templ = std::string(base) + "/" + name + "-XXXXXX";
        if (::mkdtemp(templ.data()) != nullptr) return templ;
    }
    std::abort();
}

struct Dir_remover {
    const std::string &dir;
    ~Dir_remover() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

inline bool write_file(const std::string &path, const std::uint8_t *data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
    return ::close(fd) == 0 && ok;
}

inline bool dir_is_empty(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    alignas(8) char buf[1024];
    bool empty = true;
    long n;
    while (empty && (n = ::syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0) {
        for (long at = 0; at < n;) {
            const auto *e = reinterpret_cast<const struct dirent64 *>(buf + at);
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) empty = false;
            at += e->d_reclen;
        }
    }
    ::close(fd);
    return empty;
}

}  // namespace qrxc::fuzz
