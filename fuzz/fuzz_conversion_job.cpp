// Arbitrary bytes as a QRX file through the whole conversion job: the file
// is written to a private temporary directory and converted beside itself.
// Whatever the bytes, the job says one thing, and leaves either a complete
// WAV of the right size or nothing at all.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "codec/context.h"
#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "conversion/wav_writer.h"
#include "fuzz/fuzz_files.h"
#include "fuzz/fuzz_support.h"

namespace {

class Quiet_ui : public qrxc::Job_ui {
public:
    int messages = 0;
    void message(const std::string &) override { ++messages; }
    void progress(int position) override { qrxc::fuzz::check(position >= 0 && position <= 100); }
};

const std::string &work_dir() {
    static const std::string dir = qrxc::fuzz::make_scratch_dir("qrx-fuzz-job");
    static const qrxc::fuzz::Dir_remover remover{dir};
    // A batch's deferral: the file is still flushed before its rename, but
    // the directory, which the harness empties again, is not flushed per input.
    static const bool deferred = (qrxc::defer_directory_sync(true), true);
    (void)deferred;
    return dir;
}

}  // namespace

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size > qrxc::fuzz::INPUT_CAP) return 0;
    const std::string &dir = work_dir();
    const std::string source = dir + "/in.QRX";
    const std::string output = qrxc::output_path_for(source);
    if (!qrxc::fuzz::write_file(source, data, size)) return 0;

    // One context, loaded afresh per input, instead of one allocated per input.
    static Qrxc_context context;
    qrxc::context_load(context);
    Qrxc_context *const ctx = &context;
    Quiet_ui ui;
    qrxc::Conversion_job job(source, output, ui, ctx);
    const qrxc::Job_result result = job.run();
    check(ui.messages == 1);

    struct stat st {};
    const bool have_output = ::stat(output.c_str(), &st) == 0;
    if (result == qrxc::Job_result::success) {
        // Every whole frame after the header, two bytes per sample.
        check(have_output);
        // The job is done with ctx: it reads the header again here.
        G_header info{};
        unsigned char hdr[QRXC_HEADER_MAX] = {};
        for (std::size_t i = 0; i < 16 && i < size; ++i) hdr[i] = data[i];
        const int hlen = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr);
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
    check(qrxc::fuzz::dir_is_empty(dir));
    return 0;
}
