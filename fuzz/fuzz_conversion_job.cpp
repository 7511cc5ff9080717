// Arbitrary bytes as a QRX file through the whole conversion job: the file
// is written to a private temporary directory and converted beside itself.
// Whatever the bytes, the job says one thing, and leaves either a complete
// WAV of the right size or nothing at all.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "convertor/core/conversion_job.h"
#include "convertor/core/output_file.h"
#include "convertor/core/wav_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

class Quiet_ui : public qrx::Job_ui {
public:
    int messages = 0;
    void message(const std::string &) override { ++messages; }
    void progress(int position) override { qrx_fuzz::check(position >= 0 && position <= 100); }
};

// One directory per process, in memory where the system offers it, removed at exit.
const std::string &work_dir() {
    static const std::string dir = [] {
        const char *bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
        for (const char *base : bases) {
            if (base == nullptr || ::access(base, W_OK) != 0) continue;
            std::string templ = std::string(base) + "/qrx-fuzz-job-XXXXXX";
            if (::mkdtemp(templ.data()) != nullptr) return templ;
        }
        std::abort();
    }();
    // A batch's deferral: the file is still flushed before its rename, but
    // the directory, which the harness empties again, is not flushed per input.
    static const bool deferred = (qrx::defer_directory_sync(true), true);
    (void)deferred;
    static const struct Remover {
        ~Remover() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } remover;
    return dir;
}

// Plain system calls: stdio's buffer and opendir's would be allocated
// (under ASan, with a quarantine) for every input.
bool write_file(const std::string &path, const std::uint8_t *data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
    return ::close(fd) == 0 && ok;
}

bool dir_is_empty(const std::string &path) {
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

}  // namespace

QRX_FUZZ_MAX_LEN(qrx_fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrx_fuzz::check;
    if (size > qrx_fuzz::INPUT_CAP) return 0;
    const std::string &dir = work_dir();
    const std::string source = dir + "/in.QRX";
    const std::string output = qrx::output_path_for(source);
    if (!write_file(source, data, size)) return 0;

    qrx_fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    Quiet_ui ui;
    qrx::Conversion_job job(source, output, ui, ctx.get());
    const qrx::Job_result result = job.run();
    check(ui.messages == 1);

    struct stat st{};
    const bool have_output = ::stat(output.c_str(), &st) == 0;
    if (result == qrx::Job_result::success) {
        // Every whole frame after the header, two bytes per sample.
        check(have_output);
        // The job is done with ctx: it reads the header again here.
        G_header info{};
        unsigned char hdr[16] = {};
        for (std::size_t i = 0; i < 16 && i < size; ++i) hdr[i] = data[i];
        const int hlen = Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, hdr);
        check(hlen == job.header_length());
        const std::uint64_t frames = (size - static_cast<std::size_t>(hlen)) / info.frame_bytes;
        check(job.frames_converted() == frames);
        check(static_cast<std::uint64_t>(st.st_size) == qrx::WAV_HEADER_BYTES + frames * info.pcm_frame * 2);
        std::remove(output.c_str());
    } else {
        check(!have_output);
    }
    // Nothing but the source is left behind.
    std::remove(source.c_str());
    check(dir_is_empty(dir));
    return 0;
}
