// qrx decode: QRX files to audio. The converter's own job writes its WAV;
// other formats and rates go through the render path.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/batch.h"
#include "cli/capture/capture_commands.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/render.h"
#include "cli/standard_decode.h"
#include "cli/standard_names.h"
#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "qrxc.h"

namespace qrxc::cli {
namespace {

struct Decode_options {
    Batch_options batch;
    std::string format;
    std::string input_format = "auto";
    int rate = 0;
    bool tag_date = false;
    std::string stream;
    Capture_options capture;
    bool force_format = false;
};

// Collects the job's message box and draws its progress on the terminal.
class Cli_ui : public Job_ui {
public:
    explicit Cli_ui(bool draw) : line("decoding", draw) {}
    void message(const std::string &text) override { last_message = text; }
    void progress(int position) override { line.update(position); }
    Progress_line line;
    std::string last_message;
};

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

// PCM bytes a regular file decodes to, read from its header in place (the
// descriptor's position is left alone), or 0 when the job should judge it.
std::uint64_t decoded_size(const Input_fd &in) {
    unsigned char hdr[QRXC_HEADER_MAX] = {};
    const ssize_t got = in.sized() ? ::pread(in.get(), hdr, sizeof hdr, static_cast<off_t>(in.start())) : -1;
    G_header h{};
    const int len = got < 0 ? -1 : Qrxc_parse_header(hdr, static_cast<std::size_t>(got), &h);
    if (len < 0) return 0;
    return wav_data_bytes(in.size() - static_cast<std::uint64_t>(len), h.frame_bytes, h.pcm_frame);
}

// What is wrong with the header at the start of a regular file, worded as
// qrx info words it; a stream that cannot be read again gets the generic fault.
std::string header_problem(const Input_fd &in, const std::string &path) {
    unsigned char hdr[QRXC_HEADER_MAX] = {};
    const ssize_t got = in.sized() ? ::pread(in.get(), hdr, sizeof hdr, static_cast<off_t>(in.start())) : -1;
    if (got < 0) return msg::bad_header(path, 0);
    if (got < 4) return msg::too_short(path);
    const int len = Qrxc_header_length(hdr);
    if (len < 0) return msg::bad_header(path, len);
    if (got < len) return msg::too_short(path);
    G_header h{};
    const int code = Qrxc_parse_header(hdr, static_cast<std::size_t>(got), &h);
    return msg::bad_header(path, code < 0 ? code : QRXC_ERR_ARG);
}

// The job's outcome in plain words: its message-box texts belong to the dialog.
std::string job_failure(Job_result result, const Conversion_job &job, const Input_fd &in, const Task &task) {
    const std::string &cause = job.failure_cause();
    switch (result) {
    case Job_result::open_failed: return msg::cannot_read_input(task.input, 0);
    case Job_result::bad_header: return header_problem(in, task.input);
    case Job_result::read_failed: return msg::input_shrank(task.input);
    case Job_result::create_failed:
        return cause == "it exists" ? msg::output_exists(task.output) : msg::cannot_create_output(task.output, cause);
    case Job_result::write_failed: return msg::cannot_write_output(task.output, cause);
    case Job_result::cancelled:
    case Job_result::success: break;
    }
    return {};
}

// The converter's WAV through the conversion job.
Task_result decode_with_job(const Task &task, Qrxc_context *ctx) {
    Task_result r;
    const std::string in_name = shown_input(task.input);
    Input_fd in;
    if (!in.open(task.input)) {
        r.code = EXIT_SOURCE;
        r.error = in.error_message(task.input);
        return r;
    }
    if (const std::uint64_t pcm = decoded_size(in); pcm > WAV_MAX_DATA_BYTES) {
        r.code = EXIT_OUTPUT;
        r.error =
            in_name + ": decodes to " + std::to_string(pcm) + " bytes of PCM, more than a WAV file can hold (4 GiB)";
        return r;
    }
    Cli_ui ui(task.single && !task.quiet);
    Conversion_job job(task.input, task.output, ui, ctx);
    job.set_source_fd(in.get());
    job.set_write_through(true);
    job.set_replace(task.replace);
    const Job_result result = job.run();
    ui.line.finish();
    r.code = exit_code_for(result);
    if (result != Job_result::success) {
        r.error = job_failure(result, job, in, task);
        return r;
    }
    r.seconds = job.seconds_converted();
    // A device or pipe gets only the data.
    if (task.single && !task.quiet && !written_through(task.output)) r.text = ui.last_message + "\n";
    return r;
}

}  // namespace

void add_decode_command(CLI::App &app) {
    auto opt = std::make_shared<Decode_options>();
    CLI::App *cmd = app.add_subcommand("decode", "Convert QRX files to audio (16-bit mono PCM WAV by default)");
    add_batch_options(*cmd, opt->batch, "QRX files, standard G.723.1 streams or directories ('-' reads standard input)",
                      true);
    cmd->add_option("--format", opt->format,
                    "Output format: wav, flac, ogg, opus, mp3 or raw (s16le); default from the -o name, else wav")
        ->check(CLI::IsMember({"wav", "flac", "ogg", "opus", "mp3", "raw"}));
    cmd->add_option("--rate", opt->rate, "Output sample rate in Hz (resampled); default: the stream's rate")
        ->check(CLI::Range(1000, 384000));
    add_tag_date_flag(*cmd, opt->tag_date);
    cmd->add_option("--input-format", opt->input_format,
                    "qrx, g723 for a standard G.723.1 stream, or pcap for a packet capture; default: g723 for .g723, "
                    ".tco, .rco, .bit, pcap for .pcap, .pcapng, .cap")
        ->check(CLI::IsMember({"auto", "qrx", "g723", "pcap"}));
    add_capture_options(*cmd, opt->stream, opt->capture);
    add_force_format_flag(*cmd, opt->force_format);
    cmd->callback([opt] {
        if (!opt->stream.empty()) opt->capture.ssrc = ssrc_option(opt->stream);
        Render_settings s;
        s.format_given = !opt->format.empty();
        if (s.format_given) parse_audio_format(opt->format, s.format);
        s.rate = opt->rate;
        s.tag_date = opt->tag_date;
        if (const std::string fault = render_options_fault(s, opt->batch, opt->force_format); !fault.empty()) {
            print_error(fault);
            throw CLI::RuntimeError(EXIT_FORMAT);
        }
        Batch_kind kind;
        const std::string input_format = opt->input_format;
        // A walk collects what the chosen input format reads, and nothing else.
        kind.picks = [input_format](const std::string &path) {
            if (input_format == "g723") return is_standard_name(path);
            if (capture_input_wanted(path, input_format)) return is_capture_name(path);
            return has_qrx_extension(path) || (input_format == "auto" && is_standard_name(path));
        };
        kind.default_output = [s, input_format](const std::string &in) {
            const std::string ext = format_extension(s.format_given ? s.format : Audio_format::wav);
            if (capture_input_wanted(in, input_format)) return capture_output_pattern(in, ext);
            return standard_input_wanted(in, input_format) ? with_extension(in, ext) : beside_qrx(in, "", ext);
        };
        const Capture_options capture = opt->capture;
        kind.convert = [s, input_format, capture](const Task &t, Qrxc_context *ctx) {
            if (capture_input_wanted(t.input, input_format)) return decode_capture(t, ctx, s, capture);
            if (standard_input_wanted(t.input, input_format)) {
                if (output_format(s, t.output) != Audio_format::wav || s.rate != 0) {
                    Task_result r;
                    r.code = EXIT_FORMAT;
                    r.error = shown_input(t.input) + ": a standard G.723.1 stream decodes to WAV at 8000 Hz only";
                    return r;
                }
                return decode_standard(t, ctx);
            }
            if (output_format(s, t.output) == Audio_format::wav && s.rate == 0 && !s.tag_date)
                return decode_with_job(t, ctx);
            return render_file(t, ctx, s);
        };
        const int rc = run_batch(opt->batch, kind);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
