// qrx export: a G.723.1 QRX stream to a standard G.723.1 stream, frame by
// frame, without decoding.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/g723_standard.h"
#include "qrxc.h"

namespace qrx::cli {

int export_to_standard(const std::string &input, const std::string &target) {
    if (stdin_refused(input)) return EXIT_SOURCE;
    std::vector<unsigned char> in;
    if (!read_input(input, in)) return EXIT_SOURCE;
    G_header info{};
    const int header = qrx_header(in.data(), in.size(), info);
    if (header < 0) {
        print_error(input + ": not a QRX stream");
        return EXIT_FORMAT;
    }
    if (info.type > 2) {
        print_error(input + ": is a type " + std::to_string(info.type) +
                    " (ADPCM) stream; only G.723.1 streams (types 0, 1, 2) have a standard form");
        return EXIT_FORMAT;
    }
    if (info.type == 0)
        std::fprintf(stderr,
                     "qrx: %s: type 0: the audio inside was resampled by 3/4 before coding, so other G.723.1 "
                     "tools play it at another speed\n",
                     input.c_str());
    else if (info.sample_rate != 8000)
        std::fprintf(stderr, "qrx: %s: labelled %u Hz; standard G.723.1 streams play at 8000 Hz\n", input.c_str(),
                     static_cast<unsigned>(info.sample_rate));

    const std::size_t frame_bytes = info.frame_bytes;
    const std::size_t body = in.size() - static_cast<std::size_t>(header);
    if (body % frame_bytes != 0)
        std::fprintf(stderr, "qrx: %s: ignored %zu bytes of a partial last frame, as a decoder does\n", input.c_str(),
                     body % frame_bytes);

    Staged_output out;
    if (const int rc = out.prepare(target, input); rc != EXIT_OK) return rc;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(std::fopen(out.path().c_str(), "wb"), std::fclose);
    if (!f) {
        print_error("cannot create " + out.shown());
        return EXIT_OUTPUT;
    }
    const Interrupt_guard interrupts;
    unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
    for (std::size_t at = static_cast<std::size_t>(header); in.size() - at >= frame_bytes; at += frame_bytes) {
        if (Interrupt_guard::raised()) {
            print_error("interrupted; no output written");
            return EXIT_CANCELLED;
        }
        const int n = Qrxc_g723_to_standard(in.data() + at, info.type, bits);
        if (n < 0 || std::fwrite(bits, 1, static_cast<std::size_t>(n), f.get()) != static_cast<std::size_t>(n)) {
            print_error("cannot write " + out.shown());
            return EXIT_OUTPUT;
        }
    }
    if (std::fclose(f.release()) != 0) {
        print_error("cannot write " + out.shown());
        return EXIT_OUTPUT;
    }
    return out.commit();
}

void add_export_command(CLI::App &app) {
    struct Options {
        std::string input, output;
    };
    auto opt = std::make_shared<Options>();
    CLI::App *cmd = app.add_subcommand(
        "export", "Write the frames of a G.723.1 QRX file as a standard G.723.1 stream (ffmpeg -f g723_1, RTP)");
    cmd->add_option("input", opt->input, "QRX file of type 0, 1 or 2")->required();
    cmd->add_option("-o,--output", opt->output,
                    "standard stream to write ('-' for standard output); default: the input name with .g723");
    cmd->callback([opt] {
        const int rc =
            export_to_standard(opt->input, opt->output.empty() ? with_extension(opt->input, ".g723") : opt->output);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
