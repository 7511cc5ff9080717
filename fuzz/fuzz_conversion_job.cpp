// Arbitrary bytes as a QRX file through the whole conversion job: the file
// is written to a private temporary directory and converted beside itself.
// Whatever the bytes, the job says one thing, and leaves either a complete
// WAV of the right size or nothing at all.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "conversion/conversion_job.h"
#include "conversion/wav_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

class Quiet_ui : public qrxc::Job_ui {
public:
    int messages = 0;
    void message(const std::string &) override { ++messages; }
    void progress(int position) override { qrxc::fuzz::check(position >= 0 && position <= 100); }
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
    static const struct Remover {
        ~Remover() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } remover;
    return dir;
}

bool write_file(const std::string &path, const std::uint8_t *data, std::size_t size) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size > qrxc::fuzz::INPUT_CAP) return 0;
    const std::string &dir = work_dir();
    const std::string source = dir + "/in.QRX";
    const std::string output = qrxc::output_path_for(source);
    if (!write_file(source, data, size)) return 0;

    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    Quiet_ui ui;
    qrxc::Conversion_job job(source, output, ui, ctx.get());
    const qrxc::Job_result result = job.run();
    check(ui.messages == 1);

    struct stat st {};
    const bool have_output = ::stat(output.c_str(), &st) == 0;
    if (result == qrxc::Job_result::success) {
        // Every whole frame after the header, two bytes per sample.
        check(have_output);
        G_header info{};
        qrxc::fuzz::Ctx probe(Qrxc_create());
        if (!probe) return 0;
        unsigned char hdr[16] = {};
        for (std::size_t i = 0; i < 16 && i < size; ++i) hdr[i] = data[i];
        const int hlen = Qrxc_initial_ctx(probe.get(), QRXC_DECODE, 0, 0, &info, hdr);
        check(hlen == job.header_length());
        const std::uint64_t frames = (size - static_cast<std::size_t>(hlen)) / info.frame_bytes;
        check(job.frames_converted() == frames);
        check(static_cast<std::uint64_t>(st.st_size) == qrxc::WAV_HEADER_BYTES + frames * info.pcm_frame * 2);
        std::remove(output.c_str());
    } else {
        check(!have_output);
    }
    // Nothing but the source is left behind.
    std::remove(source.c_str());
    check(std::filesystem::is_empty(dir));
    return 0;
}
