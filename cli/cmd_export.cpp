// qrx export: a G.723.1 QRX stream to a standard G.723.1 stream, frame by
// frame, without decoding.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/batch.h"
#include "cli/capture/capture_commands.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/qrx_reader.h"
#include "cli/staged_output.h"
#include "cli/standard_names.h"
#include "cli/standard_reader.h"
#include "qrxc.h"

namespace qrxc::cli {

namespace {

// The frames of a QRX stream of type 0, 1 or 2 in the standard layout at
// target. quiet leaves out the notes; errors are still printed. pcap: target
// is a packet capture of the frames as RTP.
int export_to_standard(const std::string &input, const std::string &target, bool replace, bool quiet, bool pcap) {
    const std::string name = shown_input(input);
    Input_fd fd;
    if (!fd.open(input)) {
        print_error(fd.error_message(input));
        return EXIT_SOURCE;
    }
    Context ctx;
    if (ctx.get() == nullptr) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    Qrx_reader in;
    switch (in.open(fd, ctx.get())) {
    case Qrx_reader::ok: break;
    case Qrx_reader::unreadable: print_error(msg::cannot_read_input(input, errno)); return EXIT_SOURCE;
    case Qrx_reader::too_short: print_error(msg::too_short(input)); return EXIT_FORMAT;
    case Qrx_reader::rejected: print_error(msg::bad_header(input, in.header_code())); return EXIT_FORMAT;
    }
    const G_header &info = in.header();
    if (info.type > 2) {
        print_error(shown_input(input) + ": is a type " + std::to_string(info.type) +
                    " (ADPCM) stream; only G.723.1 streams (types 0, 1, 2) have a standard form");
        return EXIT_FORMAT;
    }
    // The same bound as the standard streams' own: more frames than any WAV holds decoded.
    if (in.frames_expected() > STANDARD_MAX_FRAMES) {
        print_error(too_many_frames(input));
        return EXIT_OUTPUT;
    }
    if (!quiet && info.type == QRXC_TYPE_G723_RESAMPLED)
        std::fprintf(stderr,
                     "qrx: %s: type 0: the audio inside was resampled by 3/4 before coding, so other G.723.1 "
                     "tools play it at another speed\n",
                     name.c_str());
    else if (!quiet && info.sample_rate != QRXC_G723_SAMPLE_RATE)
        std::fprintf(stderr, "qrx: %s: labelled %u Hz; standard G.723.1 streams play at 8000 Hz\n", name.c_str(),
                     static_cast<unsigned>(info.sample_rate));

    Staged_output out;
    if (const int rc = out.prepare(target, input, replace); rc != EXIT_OK) return rc;
    std::FILE *f = out.stream();
    std::vector<unsigned char> frames;  // for a capture, packetised at the end
    unsigned char frame[QRXC_MAX_FRAME_BYTES], bits[QRXC_G723_STANDARD_MAX_BYTES];
    Progress_line line("exporting", !quiet && in.frames_expected() > 0);
    int got = 0;
    while ((got = in.next(frame)) == 1) {
        if (in.frames_read() > STANDARD_MAX_FRAMES) {
            print_error(too_many_frames(input));
            return EXIT_OUTPUT;
        }
        const int n = Qrxc_g723_to_standard(frame, info.type, bits);
        line.update(progress_position(in.frames_read(), in.frames_expected()));
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
    if (got < 0) {
        print_error(msg::input_shrank(input));
        return EXIT_SOURCE;
    }
    errno = 0;
    if (pcap && (std::fflush(f) != 0 || !write_rtp_capture(frames.data(), frames.size(), ::fileno(f)))) {
        print_error(msg::cannot_write_output(target, errno_text()));
        return EXIT_OUTPUT;
    }
    if (in.trailing_bytes() != 0 && !quiet)
        std::fprintf(stderr, "qrx: %s: ignored %llu bytes of a partial last frame, as a decoder does\n", name.c_str(),
                     static_cast<unsigned long long>(in.trailing_bytes()));
    return out.commit();
}

}  // namespace

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
