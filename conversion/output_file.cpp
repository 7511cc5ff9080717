#include "conversion/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace qrxc {
namespace {

// ---- live temporaries, removable from a signal handler ----
// Fixed slots, so the handler needs no allocation and never reads a path
// that is being freed: 0 free, 1 being filled, 2 live. constinit keeps
// the 2 MiB table in zero pages until a slot is used: filled at start-up,
// it cost every run of the tool some 500 page faults.
constexpr int SLOTS = 512;
struct Slot {
    std::atomic<int> state{0};
    char path[PATH_MAX] = {};
};
constinit Slot slots[SLOTS];

int claim_slot(const std::string &path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < SLOTS; ++i) {
        int expected = 0;
        if (slots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            return i;
        }
    }
    return -1;
}

// Called once the file exists: only files this process created are live.
void make_live(int slot) { slots[slot].state.store(2); }
void release_slot(int slot) {
    if (slot >= 0) slots[slot].state.store(0);
}

// A creation in progress and the handler's scan must not cross: a file
// made just after the scan would outlive the process. Each creation counts
// itself in and then looks for the closing flag; the handler raises the flag
// and then waits for the count to drain, so one of the two always sees the
// other (both sequentially consistent).
std::atomic<bool> closing{false};
std::atomic<int> creating{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void remove_live_temporaries() {
    closing.store(true);
    // Creators hold every signal blocked, so none of them is this thread.
    while (creating.load() != 0) {}
    for (Slot &s : slots)
        if (s.state.load() == 2) ::unlink(s.path);
}

int interrupt_exit_code = 5;
const char *interrupt_message = nullptr;

std::atomic<bool> interrupt_taken{false};

extern "C" void on_terminating_signal(int sig) {
    const int saved = errno;
    // A second SIGINT or SIGTERM on another thread waits for the first to end
    // the process.
    if ((sig == SIGINT || sig == SIGTERM) && interrupt_taken.exchange(true))
        for (;;) ::pause();
    remove_live_temporaries();
    if (sig == SIGINT || sig == SIGTERM) {
        if (interrupt_message != nullptr) {
            const ssize_t ignored = ::write(STDERR_FILENO, interrupt_message, std::strlen(interrupt_message));
            (void)ignored;
        }
        ::_exit(interrupt_exit_code);
    }
    errno = saved;
    // The default action back, then the signal again: the full sa_mask blocks
    // it while the handler runs, so it waits until the handler returns and
    // then ends the process as the signal would have. (SA_RESETHAND would put
    // the default back before the mask applies: a second signal in that gap,
    // or in a worker thread, ended the process with its temporaries still there.)
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);
}

// ---- names ----
constexpr std::size_t NAME_MAX_BYTES = 255;
constexpr const char *TEMP_SUFFIX = ".XXXXXX.part";

std::string dir_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows target's chain of symbolic links to the name that is, or will
// become, the file. magic is set when the chain runs through /proc (as
// /dev/stdout does): such a name stands for an open file, not a path.
bool resolve_links(const std::string &target, std::string &final_path, bool &magic) {
    std::string p = target;
    magic = p.starts_with("/proc/");
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            final_path = p;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            final_path = p;
            return true;
        }
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
            errno = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        std::string next(buf, static_cast<std::size_t>(n));
        if (next.empty()) {
            errno = ENOENT;
            return false;
        }
        if (next[0] != '/') next = dir_of(p) + "/" + next;
        if (next.starts_with("/proc/")) magic = true;
        p = next;
    }
    errno = ELOOP;
    return false;
}

char random_char() {
    static const char set[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char b = 0;
    if (::getrandom(&b, 1, GRND_NONBLOCK) != 1) {
        static std::atomic<unsigned> counter{0};
        b = static_cast<unsigned char>(counter.fetch_add(1) * 2654435761u >> 24 ^ static_cast<unsigned>(::getpid()));
    }
    return set[b % (sizeof set - 1)];
}

bool write_all(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

std::atomic<bool> source_times_kept{true};

std::mutex deferred_mutex;
bool deferring = false;
std::set<std::string> deferred_dirs;

void sync_directory(const std::string &dir) {
    {
        const std::lock_guard<std::mutex> lock(deferred_mutex);
        if (deferring) {
            deferred_dirs.insert(dir);
            return;
        }
    }
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return;
    // The rename is done; a file system that cannot sync directories
    // (EINVAL) has nothing more to offer, so the result is not a failure.
    ::fsync(d);
    ::close(d);
}

bool rename_into_place(const std::string &from, const std::string &to, bool replace) {
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a hard link fails just the same on an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

std::string temporary_name_for(const std::string &target) {
    std::string base = base_of(target);
    const std::size_t room = NAME_MAX_BYTES - 1 - std::strlen(TEMP_SUFFIX);
    if (base.size() > room) {
        std::size_t n = room;
        while (n > 0 && (static_cast<unsigned char>(base[n]) & 0xC0) == 0x80) --n;  // keep UTF-8 whole
        base.resize(n);
    }
    return dir_of(target) + "/." + base + TEMP_SUFFIX;
}

bool written_through(const std::string &target) {
    if (target == "-") return true;
    std::string final_path;
    bool magic = false;
    if (!resolve_links(target, final_path, magic)) return false;
    if (magic) return true;
    struct stat st {};
    if (::stat(final_path.c_str(), &st) != 0) return false;
    return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

std::string replaced_path(const std::string &target) {
    std::string final_path;
    bool magic = false;
    return resolve_links(target, final_path, magic) ? final_path : target;
}

Output_kind output_kind(const std::string &target) {
    if (written_through(target)) return Output_kind::through;
    struct stat st {};
    return ::lstat(target.c_str(), &st) == 0 ? Output_kind::replaces : Output_kind::new_file;
}

bool Output_file::fail(const char *what, int err) {
    errno_ = err;
    error_ = std::string(what) + ": " + std::strerror(err);
    discard();
    return false;
}

bool Output_file::open(const std::string &target) {
    discard();
    target_ = target;
    error_.clear();
    errno_ = 0;
    through_ = written_through(target);
    if (through_) {
        // An unnamed scratch file: nothing to clean up, even after SIGKILL.
        const char *tmp = std::getenv("TMPDIR");
        const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        final_ = target;
        fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0) return true;
        std::string name = temporary_name_for(dir + "/qrx");
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            for (std::size_t i = name.size() - 11; i < name.size() - 5; ++i) name[i] = random_char();
            fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) return fail("cannot create a scratch file", errno);
        ::unlink(name.c_str());
        return true;
    }
    bool magic = false;
    if (!resolve_links(target, final_, magic)) return fail("cannot resolve the output path", errno);
    std::string name = temporary_name_for(final_);
    const std::size_t x = name.size() - 11;  // the XXXXXX
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = x; i < x + 6; ++i) name[i] = random_char();
        slot_ = claim_slot(name);
        if (slot_ < 0) return fail("cannot create a temporary file", name.size() >= PATH_MAX ? ENAMETOOLONG : EMFILE);
        // A signal between the create and make_live() would leave the file
        // behind, so this thread takes none until the file is live.
        sigset_t all, before;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &before);
        creating.fetch_add(1);
        // Once the process is being cleaned up no new temporary is made.
        const bool ending = closing.load();
        fd_ = ending ? -1 : ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        const int err = ending ? ECANCELED : errno;
        if (fd_ >= 0) make_live(slot_);
        creating.fetch_sub(1);
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (fd_ >= 0) {
            temp_ = name;
            return true;
        }
        release_slot(slot_);
        slot_ = -1;
        if (err != EEXIST) return fail("cannot create", err);
    }
    return fail("cannot create", EEXIST);
}

std::FILE *Output_file::stream() {
    if (stream_ == nullptr && fd_ >= 0) stream_ = ::fdopen(fd_, "w+b");
    return stream_;
}

bool Output_file::copy_through() {
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
    const bool to_stdout = target_ == "-";
    const int out = to_stdout ? STDOUT_FILENO : ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) return false;
    char buf[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!write_all(out, buf, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    const int err = errno;
    if (!to_stdout && ::close(out) != 0) ok = false;
    errno = ok ? 0 : err;
    return ok;
}

bool Output_file::commit(bool replace) {
    if (fd_ < 0) return fail("not open", EBADF);
    if (stream_ != nullptr && std::fflush(stream_) != 0) return fail("write failed", errno);
    if (through_) {
        if (!copy_through()) return fail("write failed", errno != 0 ? errno : EIO);
        discard();
        return true;
    }
    // A replaced file keeps its mode, so a private recording stays private,
    // and, when we may set it, its owner; a new file keeps 0666 less the umask.
    struct stat old {};
    if (replace && ::lstat(final_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (::geteuid() == 0) {
            // Best effort: some file systems have no owners to keep.
            const int ignored = ::fchown(fd_, old.st_uid, old.st_gid);
            (void)ignored;
        }
        struct stat now {};
        // A file system without modes (FAT) refuses; refused or not, the new
        // file may not end up readable by more people than the old one.
        if (::fchmod(fd_, old.st_mode & 07777) != 0 &&
            (::fstat(fd_, &now) != 0 || (now.st_mode & ~old.st_mode & 0777) != 0))
            return fail("cannot keep the old file's permissions", errno);
    }
    // Best effort, as cp -p: a file system that keeps coarser times (FAT) or
    // refuses them still gets the complete file.
    if (keep_times_) {
        const int ignored = ::futimens(fd_, times_);
        (void)ignored;
    }
    // On disk before the name: a power cut never leaves an empty file
    // under the final name.
    if (::fsync(fd_) != 0) return fail("write failed", errno);
    const int closed = stream_ != nullptr ? std::fclose(stream_) : ::close(fd_);
    stream_ = nullptr;
    fd_ = -1;
    if (closed != 0) return fail("write failed", errno);
    if (!rename_into_place(temp_, final_, replace)) return fail("cannot put the file in place", errno);
    temp_.clear();
    release_slot(slot_);
    slot_ = -1;
    sync_directory(dir_of(final_));
    return true;
}

void Output_file::keep_times_of(const std::string &source) {
    struct stat st {};
    keep_times_ = source_times_kept.load() && source != "-" && ::stat(source.c_str(), &st) == 0;
    if (!keep_times_) return;
    times_[0] = st.st_atim;
    times_[1] = st.st_mtim;
}

void preserve_source_times(bool on) { source_times_kept.store(on); }

void Output_file::discard() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    else if (fd_ >= 0)
        ::close(fd_);
    stream_ = nullptr;
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    release_slot(slot_);
    slot_ = -1;
}

void defer_directory_sync(bool on) {
    const std::lock_guard<std::mutex> lock(deferred_mutex);
    deferring = on;
}

void sync_deferred_directories() {
    std::set<std::string> dirs;
    {
        const std::lock_guard<std::mutex> lock(deferred_mutex);
        dirs.swap(deferred_dirs);
    }
    for (const std::string &d : dirs) {
        const int fd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        ::fsync(fd);
        ::close(fd);
    }
}

void remove_temporaries_on_signals(int interrupt_exit, const char *interrupt_text) {
    interrupt_exit_code = interrupt_exit;
    interrupt_message = interrupt_text;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
    struct sigaction clean {};
    clean.sa_handler = on_terminating_signal;
    sigfillset(&clean.sa_mask);
    clean.sa_flags = 0;
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGABRT})
        ::sigaction(sig, &clean, nullptr);
}

}  // namespace qrxc
