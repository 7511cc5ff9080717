// qrx decode: a QRX file to a WAV file, through the converter's own job.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/g723_standard.h"
#include "convertor/core/conversion_job.h"
#include "qrxc.h"

namespace qrx::cli {
namespace {

struct Decode_options {
    std::string input;
    std::string output;
    bool quiet = false;
    std::string input_format = "auto";
};

// Collects the job's message box and draws its progress on the terminal.
class Cli_ui : public Job_ui {
public:
    void message(const std::string &text) override { last_message = text; }
    void progress(int position) override { line.update(position); }
    Progress_line line{"decoding"};
    std::string last_message;
};

std::atomic<Conversion_job *> running_job{nullptr};

extern "C" void cancel_on_signal(int) {
    if (Conversion_job *job = running_job.load()) job->cancel();
}

int exit_code_for(Job_result r) {
    switch (r) {
    case Job_result::success: return EXIT_OK;
    case Job_result::open_failed:
    case Job_result::read_failed: return EXIT_SOURCE;
    case Job_result::bad_header: return EXIT_FORMAT;
    case Job_result::create_failed:
    case Job_result::write_failed: return EXIT_OUTPUT;
    case Job_result::cancelled: return EXIT_CANCELLED;
    }
    return EXIT_OUTPUT;
}

// PCM bytes the input decodes to, or 0 when its header cannot be read here
// (the job then reports what is wrong).
std::uint64_t decoded_size(const std::string &input) {
    unsigned char hdr[16] = {};
    std::size_t got = 0;
    std::uint64_t size = 0;
    if (!read_head(input, hdr, sizeof hdr, got, size) || got < 4) return 0;
    Qrxc_context *ctx = Qrxc_create();
    if (ctx == nullptr) return 0;
    G_header h{};
    const int len = (hdr[3] & 0xC0) != 0 && got < 16 ? -1 : Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr);
    Qrxc_destroy(ctx);
    if (len < 0 || size < static_cast<std::uint64_t>(len)) return 0;
    return wav_data_bytes(size - static_cast<std::uint64_t>(len), h.frame_bytes, h.pcm_frame);
}

int run_decode(const Decode_options &opt) {
    if (standard_input_wanted(opt.input, opt.input_format)) return decode_standard(opt.input, opt.output, opt.quiet);
    if (stdin_refused(opt.input)) return EXIT_SOURCE;
    const std::string target = opt.output.empty() ? output_path_for(opt.input) : opt.output;
    if (target != "-" && same_file(opt.input, target)) {
        print_error(target + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }
    if (const std::uint64_t pcm = decoded_size(opt.input); pcm > WAV_MAX_DATA_BYTES) {
        print_error(opt.input + ": decodes to " + std::to_string(pcm) +
                    " bytes of PCM, more than a WAV file can hold (4 GiB)");
        return EXIT_OUTPUT;
    }
    // The WAV header's sizes are known only at the end, so standard output,
    // devices and pipes get the finished file copied in; a device node is
    // never replaced by a file.
    const bool through = target == "-" || is_stream_target(target);
    std::optional<Temp_dir> temp;
    std::string output = target;
    if (through) {
        temp.emplace();
        if (temp->path().empty()) {
            print_error("cannot create a temporary directory");
            return EXIT_OUTPUT;
        }
        output = temp->path() + "/decoded.wav";
    }

    Qrxc_context *ctx = Qrxc_create();
    if (ctx == nullptr) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    Cli_ui ui;
    Conversion_job job(opt.input, output, ui, ctx);
    running_job.store(&job);
    auto previous_int = std::signal(SIGINT, cancel_on_signal);
    auto previous_term = std::signal(SIGTERM, cancel_on_signal);
    const Job_result result = job.run();
    std::signal(SIGINT, previous_int);
    std::signal(SIGTERM, previous_term);
    running_job.store(nullptr);
    Qrxc_destroy(ctx);
    ui.line.finish();

    if (result == Job_result::cancelled) {
        print_error("interrupted; no output written");
        return EXIT_CANCELLED;
    }
    if (result != Job_result::success) {
        std::string text = ui.last_message;
        if (result == Job_result::open_failed) text = opt.input + ": " + text;
        if (result == Job_result::bad_header) text = opt.input + ": " + text;
        if (through && text.starts_with(output)) text = (target == "-" ? "standard output" : target) + text.substr(output.size());
        print_error(text);
        return exit_code_for(result);
    }
    if (through) {
        if (!deliver(output, target)) {
            print_error(target == "-" ? "writing to standard output failed" : target + ": write failed");
            return EXIT_OUTPUT;
        }
        return EXIT_OK;
    }
    if (!opt.quiet) std::printf("%s\n", ui.last_message.c_str());
    return EXIT_OK;
}

}  // namespace

void add_decode_command(CLI::App &app) {
    auto opt = std::make_shared<Decode_options>();
    CLI::App *cmd = app.add_subcommand("decode", "Convert a QRX file to a 16-bit mono PCM WAV file");
    cmd->add_option("file", opt->input, "QRX file to convert")->required();
    cmd->add_option("-o,--output", opt->output,
                    "WAV file to write ('-' for standard output); default: the input name with .wav");
    cmd->add_flag("-q,--quiet", opt->quiet, "Do not print the success message");
    cmd->add_option("--input-format", opt->input_format,
                    "qrx, or g723 for a standard G.723.1 stream; default: g723 for .g723, .tco, .rco, .bit")
        ->check(CLI::IsMember({"auto", "qrx", "g723"}));
    cmd->callback([opt] {
        const int rc = run_decode(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
