// qrx export: a G.723.1 QRX stream to a standard G.723.1 stream, frame by
// frame, without decoding.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/capture/capture_commands.h"
#include "cli/commands.h"
#include "cli/g723_standard.h"
#include "qrxc.h"

namespace qrxc::cli {

int export_to_standard(const std::string &input, const std::string &target, bool replace, bool quiet, bool pcap) {
    const std::string name = shown_input(input);
    std::vector<unsigned char> in;
    if (!read_input(input, in)) return EXIT_SOURCE;
    G_header info{};
    const int header = qrx_header(in.data(), in.size(), info);
    if (header < 0) {
        const int len = in.size() >= 4 ? Qrxc_header_length(in.data()) : 0;
        const bool short_file = in.size() < 4 || (len > 0 && in.size() < static_cast<std::size_t>(len));
        print_error(short_file ? msg::too_short(input) : msg::bad_header(input, len < 0 ? len : header));
        return EXIT_FORMAT;
    }
    if (info.type > 2) {
        print_error(shown_input(input) + ": is a type " + std::to_string(info.type) +
                    " (ADPCM) stream; only G.723.1 streams (types 0, 1, 2) have a standard form");
        return EXIT_FORMAT;
    }
    if (!quiet && info.type == 0)
        std::fprintf(stderr,
                     "qrx: %s: type 0: the audio inside was resampled by 3/4 before coding, so other G.723.1 "
                     "tools play it at another speed\n",
                     name.c_str());
    else if (!quiet && info.sample_rate != 8000)
        std::fprintf(stderr, "qrx: %s: labelled %u Hz; standard G.723.1 streams play at 8000 Hz\n", name.c_str(),
                     static_cast<unsigned>(info.sample_rate));

    const std::size_t frame_bytes = info.frame_bytes;
    const std::size_t body = in.size() - static_cast<std::size_t>(header);
    if (body % frame_bytes != 0 && !quiet)
        std::fprintf(stderr, "qrx: %s: ignored %zu bytes of a partial last frame, as a decoder does\n", name.c_str(),
                     body % frame_bytes);

    Staged_output out;
    if (const int rc = out.prepare(target, input, replace); rc != EXIT_OK) return rc;
    std::FILE *f = out.stream();
    std::vector<unsigned char> frames;  // for a capture, packetised at the end
    unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
    Progress_line line("exporting", !quiet);
    for (std::size_t at = static_cast<std::size_t>(header); in.size() - at >= frame_bytes; at += frame_bytes) {
        line.update(static_cast<int>(static_cast<std::uint64_t>(at) * 100 / in.size()));
        const int n = Qrxc_g723_to_standard(in.data() + at, info.type, bits);
        if (pcap && n > 0) {
            frames.insert(frames.end(), bits, bits + n);
            continue;
        }
        errno = 0;
        if (n < 0 || std::fwrite(bits, 1, static_cast<std::size_t>(n), f) != static_cast<std::size_t>(n)) {
            print_error(msg::cannot_write_output(target, n < 0 ? std::string() : errno_text()));
            return EXIT_OUTPUT;
        }
    }
    line.finish();
    errno = 0;
    if (pcap && (std::fflush(f) != 0 || !write_rtp_capture(frames.data(), frames.size(), ::fileno(f)))) {
        print_error(msg::cannot_write_output(target, errno_text()));
        return EXIT_OUTPUT;
    }
    return out.commit();
}

void add_export_command(CLI::App &app) {
    struct Options {
        std::string input, output, pcap;
        bool force = false;
        bool quiet = false;
    };
    auto opt = std::make_shared<Options>();
    CLI::App *cmd = app.add_subcommand(
        "export", "Write the frames of a G.723.1 QRX file as a standard G.723.1 stream (ffmpeg -f g723_1, RTP)");
    cmd->add_option("input", opt->input, "QRX file of type 0, 1 or 2")->required();
    cmd->add_option("-o,--output", opt->output,
                    "standard stream to write ('-' for standard output); default: the input name with .g723");
    cmd->add_option("--pcap", opt->pcap,
                    "write a packet capture instead: the frames as one RTP stream (payload type 4) over UDP")
        ->excludes("--output");
    cmd->add_flag("-y,--force", opt->force, "replace an existing output file");
    add_quiet_flag(*cmd, opt->quiet);
    add_preserve_time_flag(*cmd);
    cmd->callback([opt] {
        const std::string target = !opt->pcap.empty()    ? opt->pcap
                                   : opt->output.empty() ? with_extension(opt->input, ".g723")
                                                         : opt->output;
        const int rc = export_to_standard(opt->input, target, opt->force, opt->quiet, !opt->pcap.empty());
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
