#include "cli/standard_decode.h"

#include <cerrno>
#include <cstdio>

#include "cli/messages.h"
#include "cli/standard_reader.h"
#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "conversion/wav_writer.h"
#include "qrxc.h"

namespace qrxc::cli {

namespace {

// Samples go to the WAV little-endian whatever the host.
void to_little_endian(const short *pcm, unsigned char *out, int samples) {
    for (int i = 0; i < samples; ++i) {
        const auto u = static_cast<unsigned short>(pcm[i]);
        out[2 * i] = static_cast<unsigned char>(u & 0xff);
        out[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
}

}  // namespace

bool Standard_decoding::open(Qrxc_context *ctx, int first_kind) {
    // Each frame then brings its own rate.
    ctx_ = ctx;
    const int type = first_kind == QRXC_G723_KIND_63 ? QRXC_TYPE_G723_63 : QRXC_TYPE_G723_53;
    return Qrxc_open_decoding_ctx(ctx, type, QRXC_G723_SAMPLE_RATE, nullptr) == QRXC_OK;
}

bool Standard_decoding::decode(const Standard_reader &in, Standard_reader::Step step, short *pcm) {
    if (step == Standard_reader::cut) {
        // A frame cut short at the end is a lost frame: a speech frame
        // with a forbidden lag code.
        unsigned char lost[24] = {}, standard[24];
        lost[3] = 124;
        Qrxc_g723_to_standard(lost, 2, standard);
        Qrxc_decode_standard_ctx(ctx_, standard, sizeof standard, pcm, nullptr);
        ++cut_;
    } else {
        int kind = -1;
        if (Qrxc_decode_standard_ctx(ctx_, in.data(), in.size(), pcm, &kind) < 0) return false;
        ++sent_[kind];
    }
    ++decoded_as_[Qrxc_decode_standard_last_ctx(ctx_)];
    return true;
}

Task_result decode_standard(const Task &task, Qrxc_context *ctx) {
    Task_result r;
    auto failed = [&r](int code, const std::string &text) {
        r.code = code;
        r.error = text;
        return r;
    };
    const std::string input = shown_input(task.input);
    Standard_reader in;
    if (!in.open(task.input)) return failed(in.exit_code(), in.error());
    // A file's frames are counted first, so that one too long for a WAV
    // fails before anything is written; a pipe is checked as it is read.
    std::uint64_t frames = 0;
    if (in.sized() && !in.count_frames(frames)) return failed(in.exit_code(), in.error());
    Standard_reader::Step step = in.next();
    if (step == Standard_reader::failed) return failed(in.exit_code(), in.error());
    if (step == Standard_reader::end) return failed(EXIT_FORMAT, input + ": holds no G.723.1 frames");
    Standard_decoding decoding;
    if (!decoding.open(ctx, in.kind())) return failed(EXIT_OUTPUT, "the codec refused a G.723.1 stream");

    Output_file out;
    if (!out.open(task.output) || out.stream() == nullptr)
        return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, out.error()));
    out.keep_times_of(task.input);
    Wav_writer wav;
    wav.set_format(8000);
    errno = 0;
    if (!wav.open(out.stream())) return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, errno_text()));
    Progress_line progress("decoding", task.single && !task.quiet && in.sized());
    short pcm[240];
    unsigned char le[480];
    for (; step != Standard_reader::end; step = in.next()) {
        if (step == Standard_reader::failed) return failed(in.exit_code(), in.error());
        if (!decoding.decode(in, step, pcm)) return failed(EXIT_OUTPUT, "the codec failed");
        to_little_endian(pcm, le, 240);
        errno = 0;
        if (!wav.write(le, sizeof le)) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
        progress.update(progress_position(in.offset() + in.size(), in.total()));
    }
    progress.finish();
    frames = in.frames();
    errno = 0;
    if (!wav.close()) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
    const std::uint64_t noise = decoding.comfort_noise(), lost = decoding.lost();
    // Comfort noise is what the sender asked for; lost audio is worth saying even under -q.
    if (noise > 0 && !task.quiet)
        std::fprintf(stderr,
                     "qrx: %s: %llu of %llu frames are comfort noise (%llu SID, %llu untransmitted, %llu lost in "
                     "silence)\n",
                     input.c_str(), static_cast<unsigned long long>(noise), static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(decoding.sent(QRXC_G723_KIND_SID)),
                     static_cast<unsigned long long>(decoding.sent(QRXC_G723_KIND_UNTRANSMITTED)),
                     static_cast<unsigned long long>(decoding.lost_in_silence()));
    if (lost > 0)
        std::fprintf(stderr, "qrx: %s: concealed %llu of %llu frames as lost (%llu cut short)\n", input.c_str(),
                     static_cast<unsigned long long>(lost), static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(decoding.cut()));
    if (!out.commit(task.replace))
        return failed(EXIT_OUTPUT, out.error_number() == EEXIST ? msg::output_exists(task.output)
                                                                : msg::cannot_write_output(task.output, out.error()));
    r.seconds = static_cast<double>(frames) * 240 / 8000;
    if (task.single && !task.quiet && !written_through(task.output)) r.text = task.output + MSG_CREATE_SUCCESS + "\n";
    return r;
}

}  // namespace qrxc::cli
