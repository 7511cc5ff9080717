// qrx encode: WAV (16-bit mono at 8000, 12000 or 16000 Hz) to a QRX stream.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/g723_standard.h"
#include "qrxc.h"

namespace qrx::cli {

namespace {

struct Encode_options {
    std::string input;
    std::string output;
    int type = 1;
    bool short_header = false;
    std::string output_format = "qrx";
};

struct Sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
struct Context_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
struct File_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

std::string default_output(const std::string &in) {
    if (in == "-") return "-";
    std::filesystem::path p(in);
    p.replace_extension(".QRX");
    return p.string();
}

bool write_all(std::FILE *f, const void *p, std::size_t n) { return std::fwrite(p, 1, n, f) == n; }

void remove_quietly(const std::string &path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// 16-bit samples from any sample format. Reading shorts directly would take
// float files' values unscaled (0.5 becomes 0); the library's normalised
// floats times 32768 give 16-bit input back exactly, and louder float
// samples clip instead of wrapping.
sf_count_t read_pcm(SNDFILE *f, short *pcm, int count) {
    float buf[QRXC_MAX_PCM_FRAME];
    const sf_count_t got = sf_read_float(f, buf, count);
    for (sf_count_t i = 0; i < got; ++i) {
        const long v = std::lrint(static_cast<double>(buf[i]) * 32768.0);
        pcm[i] = static_cast<short>(std::clamp(v, -32768L, 32767L));
    }
    return got;
}

int run_encode(const Encode_options &o) {
    if (o.output_format == "g723")
        return encode_standard(o.input, o.output, o.type, [&o](const std::string &qrx) {
            Encode_options plain = o;
            plain.output = qrx;
            plain.output_format = "qrx";
            return run_encode(plain);
        });
    SF_INFO info{};
    const bool from_stdin = o.input == "-";
    std::unique_ptr<SNDFILE, Sndfile_closer> in(from_stdin ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, 0)
                                                           : sf_open(o.input.c_str(), SFM_READ, &info));
    if (!in) {
        print_error("cannot read " + o.input + ": " + sf_strerror(nullptr));
        return EXIT_SOURCE;
    }
    if (info.channels != 1) {
        print_error(o.input + " has " + std::to_string(info.channels) + " channels; only mono input can be encoded");
        return EXIT_FORMAT;
    }
    if (info.samplerate != 8000 && info.samplerate != 12000 && info.samplerate != 16000) {
        print_error(o.input + " is sampled at " + std::to_string(info.samplerate) +
                    " Hz; QRX streams hold 8000, 12000 or 16000 Hz");
        return EXIT_FORMAT;
    }

    std::unique_ptr<Qrxc_context, Context_deleter> ctx(Qrxc_create());
    if (!ctx) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    Qrxc_version_ctx(ctx.get(), o.short_header ? 0 : 1);
    G_header hdr{};
    unsigned char hdr_bytes[16];
    const int hlen = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, info.samplerate, o.type, &hdr, hdr_bytes);
    if (hlen < 0) {
        print_error("the codec refused type " + std::to_string(o.type) + " at " + std::to_string(info.samplerate) +
                    " Hz (error " + std::to_string(hlen) + ")");
        return EXIT_FORMAT;
    }

    // The stream goes to a temporary file that replaces the output only once
    // it is complete, so a failure never leaves a truncated stream behind.
    // Standard output, devices and pipes get the finished stream copied in.
    const std::string out_path = o.output.empty() ? default_output(o.input) : o.output;
    if (!from_stdin && out_path != "-" && same_file(o.input, out_path)) {
        print_error(out_path + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }
    const bool through = out_path == "-" || is_stream_target(out_path);
    std::optional<Temp_dir> temp;
    if (through) {
        temp.emplace();
        if (temp->path().empty()) {
            print_error("cannot create a temporary directory");
            return EXIT_OUTPUT;
        }
    }
    const std::string tmp_path = through ? temp->path() + "/encoded.QRX" : out_path + ".part";
    const std::string shown = out_path == "-" ? "standard output" : out_path;
    const Interrupt_guard interrupts;
    std::unique_ptr<std::FILE, File_closer> out(std::fopen(tmp_path.c_str(), "wb"));
    if (!out) {
        print_error("cannot create " + shown + ": " + std::strerror(errno));
        return EXIT_OUTPUT;
    }
    auto fail = [&](int code, const std::string &what) {
        print_error(what);
        out.reset();
        remove_quietly(tmp_path);
        return code;
    };

    if (!write_all(out.get(), hdr_bytes, static_cast<std::size_t>(hlen))) return fail(EXIT_OUTPUT, "cannot write " + shown);
    const int pcm_frame = hdr.pcm_frame;
    const auto frame_bytes = static_cast<std::size_t>(hdr.frame_bytes);
    std::vector<short> pcm(QRXC_MAX_PCM_FRAME);
    std::vector<unsigned char> data(QRXC_MAX_FRAME_BYTES);
    for (;;) {
        if (Interrupt_guard::raised()) break;
        const sf_count_t got = read_pcm(in.get(), pcm.data(), pcm_frame);
        if (got <= 0) break;
        // A final partial frame is completed with silence.
        std::fill(pcm.begin() + got, pcm.begin() + pcm_frame, short{0});
        if (Qrxc_frame_ctx(ctx.get(), pcm.data(), data.data()) < 0) return fail(EXIT_OUTPUT, "the codec failed");
        if (!write_all(out.get(), data.data(), frame_bytes)) return fail(EXIT_OUTPUT, "cannot write " + shown);
        if (got < pcm_frame) break;
    }
    if (Interrupt_guard::raised()) return fail(EXIT_CANCELLED, "interrupted; no output written");
    if (sf_error(in.get()) != SF_ERR_NO_ERROR)
        return fail(EXIT_SOURCE, "error reading " + o.input + ": " + sf_strerror(in.get()));
    if (std::fflush(out.get()) != 0) return fail(EXIT_OUTPUT, "cannot write " + shown);
    if (std::fclose(out.release()) != 0) {
        remove_quietly(tmp_path);
        print_error("cannot write " + shown);
        return EXIT_OUTPUT;
    }
    if (through) {
        const bool ok = deliver(tmp_path, out_path);
        if (!ok) print_error(out_path == "-" ? "cannot write to standard output" : "cannot write " + out_path);
        return ok ? EXIT_OK : EXIT_OUTPUT;
    }
    std::error_code ec;
    std::filesystem::rename(tmp_path, out_path, ec);
    if (ec) {
        remove_quietly(tmp_path);
        print_error("cannot create " + out_path + ": " + ec.message());
        return EXIT_OUTPUT;
    }
    return EXIT_OK;
}

}  // namespace

void add_encode_command(CLI::App &app) {
    auto opts = std::make_shared<Encode_options>();
    CLI::App *cmd = app.add_subcommand("encode", "Encode a mono WAV file (8000, 12000 or 16000 Hz) into a QRX stream");
    cmd->add_option("input", opts->input, "mono WAV file at 8000, 12000 or 16000 Hz ('-' reads standard input)")
        ->required();
    cmd->add_option("-t,--type", opts->type,
                    "stream type: 0 (5.3 kbit/s, 320 samples), 1 (5.3 kbit/s), 2 (6.3 kbit/s), "
                    "4, 5, 6 (ADPCM 3, 4, 5 bits)")
        ->required()
        ->check(CLI::IsMember({0, 1, 2, 4, 5, 6}));
    cmd->add_option("-o,--output", opts->output, "output file (default: the input with .QRX; '-' writes standard output)");
    cmd->add_flag("--short-header", opts->short_header, "write the 4-byte header form");
    cmd->add_option("--output-format", opts->output_format,
                    "qrx, or g723 for a standard G.723.1 stream (types 1 and 2; default name .g723)")
        ->check(CLI::IsMember({"qrx", "g723"}));
    cmd->callback([opts]() {
        const int rc = run_encode(*opts);
        if (rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
