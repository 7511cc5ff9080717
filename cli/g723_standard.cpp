#include "cli/g723_standard.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "convertor/core/conversion_job.h"
#include "convertor/core/wav_writer.h"
#include "qrxc.h"

namespace qrx::cli {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void remove_quietly(const std::string &path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

struct Context_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};

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
    if (got < 4 || ((head[3] & 0xC0) != 0 && got < 16)) return -1;
    std::unique_ptr<Qrxc_context, Context_deleter> ctx(Qrxc_create());
    if (!ctx) return -1;
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

bool read_input(const std::string &path, std::vector<unsigned char> &bytes) {
    const bool from_stdin = path == "-";
    std::FILE *f = from_stdin ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        print_error("cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    bytes.clear();
    unsigned char buf[1 << 15];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    const bool ok = std::ferror(f) == 0;
    if (!from_stdin) std::fclose(f);
    if (!ok) print_error("cannot read " + (from_stdin ? std::string("standard input") : path));
    return ok;
}

Staged_output::~Staged_output() {
    if (!committed_ && !path_.empty()) remove_quietly(path_);
}

int Staged_output::prepare(const std::string &target, const std::string &input) {
    target_ = target;
    shown_ = target == "-" ? "standard output" : target;
    if (input != "-" && target != "-" && same_file(input, target)) {
        print_error(target + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }
    through_ = target == "-" || is_stream_target(target);
    if (through_) {
        temp_.emplace();
        if (temp_->path().empty()) {
            print_error("cannot create a temporary directory");
            return EXIT_OUTPUT;
        }
        path_ = temp_->path() + "/output";
    } else {
        path_ = target + ".part";
    }
    return EXIT_OK;
}

int Staged_output::commit() {
    committed_ = true;
    if (through_) {
        if (deliver(path_, target_)) return EXIT_OK;
        print_error("cannot write " + shown_);
        return EXIT_OUTPUT;
    }
    std::error_code ec;
    std::filesystem::rename(path_, target_, ec);
    if (!ec) return EXIT_OK;
    remove_quietly(path_);
    print_error("cannot create " + target_ + ": " + ec.message());
    return EXIT_OUTPUT;
}

int decode_standard(const std::string &input, const std::string &target_arg, bool quiet) {
    std::vector<unsigned char> in;
    if (!read_input(input, in)) return EXIT_SOURCE;
    if (in.empty()) {
        print_error(input + ": holds no G.723.1 frames");
        return EXIT_FORMAT;
    }
    const std::uint64_t frames = standard_frame_count(in);
    if (frames * 2 * 240 > WAV_MAX_DATA_BYTES) {
        print_error(input + ": decodes to more PCM than a WAV file can hold (4 GiB)");
        return EXIT_OUTPUT;
    }
    const std::string target = target_arg.empty() ? with_extension(input, ".wav") : target_arg;
    Staged_output out;
    if (const int rc = out.prepare(target, input); rc != EXIT_OK) return rc;

    std::unique_ptr<Qrxc_context, Context_deleter> ctx(Qrxc_create());
    if (!ctx) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    // A fresh decoder for the stream; each frame then brings its own rate.
    int first_kind = -1;
    Qrxc_g723_from_standard(in.data(), in.size(), 1, nullptr, &first_kind);
    if (!open_decoding(ctx.get(), first_kind == QRXC_G723_KIND_63 ? 2 : 1)) {
        print_error("the codec refused a G.723.1 stream");
        return EXIT_OUTPUT;
    }

    Wav_writer wav;
    wav.set_format(8000);
    if (!wav.open(out.path())) {
        print_error("cannot create " + out.shown() + ": " + std::strerror(errno));
        return EXIT_OUTPUT;
    }
    const Interrupt_guard interrupts;
    Progress_line progress("decoding");
    std::uint64_t count[4] = {}, cut = 0;
    short pcm[240];
    unsigned char le[480];
    for (std::size_t at = 0; at < in.size();) {
        if (Interrupt_guard::raised()) {
            wav.abandon();
            print_error("interrupted; no output written");
            return EXIT_CANCELLED;
        }
        int kind = -1;
        int used = Qrxc_decode_standard_ctx(ctx.get(), in.data() + at, in.size() - at, pcm, &kind);
        if (used == QRXC_ERR_BUFFER) {
            // A frame cut short at the end is concealed like a frame never sent.
            const unsigned char untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
            Qrxc_decode_standard_ctx(ctx.get(), &untransmitted, 1, pcm, nullptr);
            ++cut;
            used = static_cast<int>(in.size() - at);
        } else if (used < 0) {
            wav.abandon();
            print_error("the codec failed");
            return EXIT_OUTPUT;
        } else {
            ++count[kind];
        }
        to_little_endian(pcm, le, 240);
        if (!wav.write(le, sizeof le)) {
            wav.abandon();
            print_error("cannot write " + out.shown());
            return EXIT_OUTPUT;
        }
        at += static_cast<std::size_t>(used);
        progress.update(progress_position(at, in.size()));
    }
    progress.finish();
    if (!wav.close()) {
        print_error("cannot write " + out.shown());
        return EXIT_OUTPUT;
    }
    const std::uint64_t concealed = count[QRXC_G723_KIND_SID] + count[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    if (concealed > 0)
        std::fprintf(stderr,
                     "qrx: %s: concealed %llu of %llu frames (%llu SID, %llu untransmitted, %llu cut short); "
                     "there is no comfort-noise generator\n",
                     input.c_str(), static_cast<unsigned long long>(concealed),
                     static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_SID]),
                     static_cast<unsigned long long>(count[QRXC_G723_KIND_UNTRANSMITTED]),
                     static_cast<unsigned long long>(cut));
    if (const int rc = out.commit(); rc != EXIT_OK) return rc;
    if (!quiet && target != "-" && !is_stream_target(target)) std::printf("%s%s\n", target.c_str(), MSG_CREATE_SUCCESS);
    return EXIT_OK;
}

int encode_standard(const std::string &input, const std::string &target_arg, int type,
                    const std::function<int(const std::string &)> &encode_qrx) {
    if (type != 1 && type != 2) {
        print_error("--output-format g723 needs type 1 (5.3 kbit/s) or 2 (6.3 kbit/s)");
        return EXIT_FORMAT;
    }
    const std::string target = target_arg.empty() ? with_extension(input, ".g723") : target_arg;
    if (input != "-" && target != "-" && same_file(input, target)) {
        print_error(target + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }
    const Temp_dir temp;
    if (temp.path().empty()) {
        print_error("cannot create a temporary directory");
        return EXIT_OUTPUT;
    }
    const std::string qrx = temp.path() + "/encoded.QRX";
    if (const int rc = encode_qrx(qrx); rc != EXIT_OK) return rc;
    unsigned char head[16] = {};
    std::size_t got = 0;
    std::uint64_t size = 0;
    G_header info{};
    // The label is the input's rate; standard streams are 8000 Hz by definition.
    if (read_head(qrx, head, sizeof head, got, size) && qrx_header(head, got, info) > 0 && info.sample_rate != 8000) {
        print_error(input + " is sampled at " + std::to_string(info.sample_rate) +
                    " Hz; standard G.723.1 streams are 8000 Hz");
        return EXIT_FORMAT;
    }
    return export_to_standard(qrx, target);
}

}  // namespace qrx::cli
