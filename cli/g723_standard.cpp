#include "cli/g723_standard.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "conversion/conversion_job.h"
#include "conversion/wav_writer.h"
#include "qrxc.h"

namespace qrxc::cli {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Samples go to the WAV little-endian whatever the host.
void to_little_endian(const short *pcm, unsigned char *out, int samples) {
    for (int i = 0; i < samples; ++i) {
        const auto u = static_cast<unsigned short>(pcm[i]);
        out[2 * i] = static_cast<unsigned char>(u & 0xff);
        out[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
}

// Frames of a standard stream, whole or cut short.
std::uint64_t standard_frame_count(const std::vector<unsigned char> &in) {
    std::uint64_t frames = 0;
    for (std::size_t at = 0; at < in.size(); ++frames) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(in.data() + at, in.size() - at, 1, nullptr, &kind);
        if (used <= 0) return frames + 1;
        at += static_cast<std::size_t>(used);
    }
    return frames;
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

int qrx_header(const unsigned char *head, std::size_t got, G_header &info) {
    if (got < 4) return -1;
    const int len = Qrxc_header_length(head);
    if (len < 0 || got < static_cast<std::size_t>(len)) return -1;
    Context ctx;
    if (ctx.get() == nullptr) return -1;
    return Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &info, const_cast<unsigned char *>(head));
}

bool is_standard_name(const std::string &path) {
    const std::string ext = lower(std::filesystem::path(path).extension().string());
    return ext == ".g723" || ext == ".tco" || ext == ".rco" || ext == ".bit";
}

bool standard_input_wanted(const std::string &path, const std::string &format) {
    return format == "g723" || (format == "auto" && is_standard_name(path));
}

std::string with_extension(const std::string &path, const std::string &ext) {
    if (path == "-") return path;
    std::filesystem::path p(path);
    p.replace_extension(ext);
    return p.string();
}

bool read_input(const std::string &path, std::vector<unsigned char> &bytes, std::string &error) {
    Input_fd in;
    if (!in.open(path)) {
        error = in.error_message(path);
        return false;
    }
    bytes.clear();
    unsigned char buf[1 << 15];
    for (;;) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = msg::cannot_read_input(path, errno);
            return false;
        }
        bytes.insert(bytes.end(), buf, buf + n);
    }
    // A file that shrank while it was read is a read failure, not a short stream.
    if (in.sized() && bytes.size() < in.size()) {
        error = msg::input_shrank(path);
        return false;
    }
    return true;
}

bool read_input(const std::string &path, std::vector<unsigned char> &bytes) {
    std::string error;
    if (read_input(path, bytes, error)) return true;
    print_error(error);
    return false;
}

int Staged_output::prepare(const std::string &target, const std::string &input, bool replace) {
    shown_ = shown_output(target);
    target_ = target;
    replace_ = replace;
    if (input != "-" && target != "-" && same_file(input, target)) {
        print_error(msg::output_is_input(target));
        return EXIT_OUTPUT;
    }
    if (!file_.open(target) || file_.stream() == nullptr) {
        print_error(msg::cannot_create_output(target, file_.error()));
        return EXIT_OUTPUT;
    }
    file_.keep_times_of(input);
    return EXIT_OK;
}

int Staged_output::commit() {
    if (file_.commit(replace_)) return EXIT_OK;
    print_error(file_.error_number() == EEXIST ? msg::output_exists(target_)
                                               : msg::cannot_write_output(target_, file_.error()));
    return EXIT_OUTPUT;
}

Task_result decode_standard(const Task &task, Qrxc_context *ctx) {
    Task_result r;
    auto failed = [&r](int code, const std::string &text) {
        r.code = code;
        r.error = text;
        return r;
    };
    const std::string input = shown_input(task.input);
    std::vector<unsigned char> in;
    std::string error;
    if (!read_input(task.input, in, error)) return failed(EXIT_SOURCE, error);
    if (in.empty()) return failed(EXIT_FORMAT, input + ": holds no G.723.1 frames");
    const std::uint64_t frames = standard_frame_count(in);
    if (frames * 2 * 240 > WAV_MAX_DATA_BYTES)
        return failed(EXIT_OUTPUT, input + ": decodes to more PCM than a WAV file can hold (4 GiB)");
    // A fresh decoder for the stream; each frame then brings its own rate.
    int first_kind = -1;
    Qrxc_g723_from_standard(in.data(), in.size(), 1, nullptr, &first_kind);
    if (!open_decoding(ctx, first_kind == QRXC_G723_KIND_63 ? 2 : 1))
        return failed(EXIT_OUTPUT, "the codec refused a G.723.1 stream");

    Output_file out;
    if (!out.open(task.output) || out.stream() == nullptr)
        return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, out.error()));
    out.keep_times_of(task.input);
    Wav_writer wav;
    wav.set_format(8000);
    errno = 0;
    if (!wav.open(out.stream())) return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, errno_text()));
    Progress_line progress("decoding", task.single && !task.quiet);
    std::uint64_t count[4] = {}, decoded_as[3] = {}, cut = 0;
    short pcm[240];
    unsigned char le[480];
    for (std::size_t at = 0; at < in.size();) {
        int kind = -1;
        int used = Qrxc_decode_standard_ctx(ctx, in.data() + at, in.size() - at, pcm, &kind);
        if (used == QRXC_ERR_BUFFER) {
            // A frame cut short at the end is a lost frame: a speech frame
            // with a forbidden lag code.
            unsigned char lost[24] = {}, standard[24];
            lost[3] = 124;
            Qrxc_g723_to_standard(lost, 2, standard);
            Qrxc_decode_standard_ctx(ctx, standard, sizeof standard, pcm, nullptr);
            ++cut;
            used = static_cast<int>(in.size() - at);
        } else if (used < 0) {
            return failed(EXIT_OUTPUT, "the codec failed");
        } else {
            ++count[kind];
        }
        ++decoded_as[Qrxc_decode_standard_last_ctx(ctx)];
        to_little_endian(pcm, le, 240);
        errno = 0;
        if (!wav.write(le, sizeof le)) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
        at += static_cast<std::size_t>(used);
        progress.update(progress_position(at, in.size()));
    }
    progress.finish();
    errno = 0;
    if (!wav.close()) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
    const std::uint64_t noise = decoded_as[QRXC_G723_DECODED_COMFORT_NOISE];
    const std::uint64_t lost = decoded_as[QRXC_G723_DECODED_LOST];
    // Comfort noise is what the sender asked for; lost audio is worth saying even under -q.
    const std::uint64_t silent = count[QRXC_G723_KIND_SID] + count[QRXC_G723_KIND_UNTRANSMITTED];
    if (noise > 0 && !task.quiet)
        std::fprintf(stderr,
                     "qrx: %s: %llu of %llu frames are comfort noise (%llu SID, %llu untransmitted, %llu lost in "
                     "silence)\n",
                     input.c_str(), static_cast<unsigned long long>(noise), static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_SID]),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_UNTRANSMITTED]),
                     static_cast<unsigned long long>(noise - silent));
    if (lost > 0)
        std::fprintf(stderr, "qrx: %s: concealed %llu of %llu frames as lost (%llu cut short)\n", input.c_str(),
                     static_cast<unsigned long long>(lost), static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(cut));
    if (!out.commit(task.replace))
        return failed(EXIT_OUTPUT, out.error_number() == EEXIST ? msg::output_exists(task.output)
                                                                : msg::cannot_write_output(task.output, out.error()));
    r.seconds = static_cast<double>(frames) * 240 / 8000;
    if (task.single && !task.quiet && !written_through(task.output)) r.text = task.output + MSG_CREATE_SUCCESS + "\n";
    return r;
}

}  // namespace qrxc::cli
