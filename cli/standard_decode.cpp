#include "cli/standard_decode.h"

#include <cerrno>
#include <cstdio>

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

// Opens ctx for decoding a stream of the given type from a fresh state.
bool open_decoding(Qrxc_context *ctx, int type) {
    unsigned char hdr[16];
    G_header info{};
    Qrxc_version_ctx(ctx, 1);
    return Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, type, &info, hdr) > 0 &&
           Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr) > 0;
}

}  // namespace

Task_result decode_standard(const Task &task, Qrxc_context *ctx) {
    Task_result r;
    auto failed = [&r](int code, const std::string &text) {
        r.code = code;
        r.error = text;
        return r;
    };
    const std::string input = shown_input(task.input);
    const std::string shown = shown_output(task.output);
    Standard_reader in;
    if (!in.open(task.input)) return failed(in.exit_code(), in.error());
    // A file's frames are counted first, so that one too long for a WAV
    // fails before anything is written; a pipe is checked as it is read.
    std::uint64_t frames = 0;
    if (in.sized() && !in.count_frames(frames)) return failed(in.exit_code(), in.error());
    Standard_reader::Step step = in.next();
    if (step == Standard_reader::failed) return failed(in.exit_code(), in.error());
    if (step == Standard_reader::end) return failed(EXIT_FORMAT, input + ": holds no G.723.1 frames");
    // A fresh decoder for the stream; each frame then brings its own rate.
    if (!open_decoding(ctx, in.kind() == QRXC_G723_KIND_63 ? 2 : 1))
        return failed(EXIT_OUTPUT, "the codec refused a G.723.1 stream");

    Output_file out;
    if (!out.open(task.output) || out.stream() == nullptr)
        return failed(EXIT_OUTPUT, "cannot create " + shown + ": " + out.error());
    Wav_writer wav;
    wav.set_format(8000);
    errno = 0;
    if (!wav.open(out.stream())) return failed(EXIT_OUTPUT, "cannot create " + shown + errno_cause());
    Progress_line progress("decoding", task.single && !task.quiet && in.sized());
    std::uint64_t count[4] = {}, cut = 0;
    short pcm[240];
    unsigned char le[480];
    for (; step != Standard_reader::end; step = in.next()) {
        if (step == Standard_reader::failed) return failed(in.exit_code(), in.error());
        if (step == Standard_reader::cut) {
            // A frame cut short at the end is concealed like a frame never sent.
            const unsigned char untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
            Qrxc_decode_standard_ctx(ctx, &untransmitted, 1, pcm, nullptr);
            ++cut;
        } else {
            int kind = -1;
            if (Qrxc_decode_standard_ctx(ctx, in.data(), in.size(), pcm, &kind) < 0)
                return failed(EXIT_OUTPUT, "the codec failed");
            ++count[kind];
        }
        to_little_endian(pcm, le, 240);
        errno = 0;
        if (!wav.write(le, sizeof le)) return failed(EXIT_OUTPUT, "cannot write " + shown + errno_cause());
        progress.update(progress_position(in.offset() + in.size(), in.total()));
    }
    progress.finish();
    frames = in.frames();
    errno = 0;
    if (!wav.close()) return failed(EXIT_OUTPUT, "cannot write " + shown + errno_cause());
    const std::uint64_t concealed = count[QRXC_G723_KIND_SID] + count[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    // Lost audio is worth saying even under -q.
    if (concealed > 0)
        std::fprintf(stderr,
                     "qrx: %s: concealed %llu of %llu frames (%llu SID, %llu untransmitted, %llu cut short); "
                     "there is no comfort-noise generator\n",
                     input.c_str(), static_cast<unsigned long long>(concealed), static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_SID]),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_UNTRANSMITTED]),
                     static_cast<unsigned long long>(cut));
    if (!out.commit(task.replace))
        return failed(EXIT_OUTPUT, out.error_number() == EEXIST ? shown + ": exists; -y replaces it"
                                                                : "cannot write " + shown + ": " + out.error());
    r.seconds = static_cast<double>(frames) * 240 / 8000;
    if (task.single && !task.quiet && !written_through(task.output)) r.text = task.output + MSG_CREATE_SUCCESS + "\n";
    return r;
}

}  // namespace qrxc::cli
