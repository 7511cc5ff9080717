// qrx info: what QRX files' headers say, how many frames follow, and how
// many of them the decoder will conceal; for standard G.723.1 streams the
// frames by kind and what the decoder makes of them. As text, as one JSON
// array (an object per input, failed ones included) or as JSON lines.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/capture/capture_commands.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/info_report.h"
#include "cli/json_text.h"
#include "cli/qrx_reader.h"
#include "cli/standard_decode.h"
#include "cli/standard_names.h"
#include "cli/standard_reader.h"
#include "qrxc.h"

namespace qrxc::cli {
namespace {

struct Info_options {
    Batch_options batch;
    bool json = false;
    bool json_lines = false;
    std::string stream;
    Capture_options capture;
};

std::string format(const char *fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// How one input's entry is laid out: a JSON object (indented in the array,
// one to a line for --json-lines) or text.
struct Entry {
    Entry(const Task &task, Info_form form)
        : json(form != Info_form::text),
          indent(form == Info_form::json ? "  " : ""),
          end(form == Info_form::json_lines ? "\n" : ""),
          file(json_name("file", task.input == "-" ? "standard input" : task.input)) {}

    // A failed input keeps its place in the JSON: the file and why.
    Task_result failed(int code, const std::string &text, const char *kind) const {
        Task_result r;
        r.code = code;
        r.error = text;
        if (json)
            r.text = indent + "{" + file + ", \"error\": {\"code\": \"" + kind +
                     "\", \"message\": " + json_string(text) + "}}" + end;
        return r;
    }
    std::string object(const std::string &mtime, const std::string &members) const {
        return indent + "{" + file + ", \"mtime\": " + (mtime.empty() ? std::string("null") : json_string(mtime)) +
               members + "}" + end;
    }

    bool json;
    std::string indent, end, file;
};

using ull = unsigned long long;

// A standard stream is read through the decoder, so that its counts are the
// ones qrx decode reports: comfort noise apart from lost frames.
Task_result info_standard(const Task &task, Qrxc_context *ctx, const Entry &entry) {
    Standard_reader in;
    if (!in.open(task.input)) return entry.failed(in.exit_code(), in.error(), "cannot_open");
    const std::string mtime = modification_time_utc(in.file().get());
    Standard_decoding decoding;
    std::uint64_t cut_bytes = 0;
    short pcm[240];
    for (Standard_reader::Step step = in.next(); step != Standard_reader::end; step = in.next()) {
        if (step == Standard_reader::failed) return entry.failed(in.exit_code(), in.error(), "cannot_read");
        if (in.frames() == 1 && !decoding.open(ctx, in.kind()))
            return entry.failed(EXIT_OUTPUT, "the codec refused a G.723.1 stream", "cannot_read");
        if (step == Standard_reader::cut) cut_bytes = in.size();
        if (!decoding.decode(in, step, pcm)) return entry.failed(EXIT_OUTPUT, "the codec failed", "cannot_read");
    }
    Task_result r;
    const ull frames = in.frames();
    r.seconds = static_cast<double>(frames) * 240 / QRXC_G723_SAMPLE_RATE;
    const auto sent = [&](int kind) { return static_cast<ull>(decoding.sent(kind)); };
    if (entry.json) {
        r.text = entry.object(
            mtime,
            format(", \"format\": \"g723\", \"sample_rate\": %d, \"frames\": %llu, \"duration\": %.3f",
                   QRXC_G723_SAMPLE_RATE, frames, r.seconds) +
                format(", \"frames_by_kind\": {\"6.3\": %llu, \"5.3\": %llu, \"sid\": %llu, \"untransmitted\": %llu}",
                       sent(QRXC_G723_KIND_63), sent(QRXC_G723_KIND_53), sent(QRXC_G723_KIND_SID),
                       sent(QRXC_G723_KIND_UNTRANSMITTED)) +
                format(", \"cut_bytes\": %llu, \"comfort_noise_frames\": %llu, \"lost_frames\": %llu",
                       static_cast<ull>(cut_bytes), static_cast<ull>(decoding.comfort_noise()),
                       static_cast<ull>(decoding.lost())));
        return r;
    }
    r.text = "file:         " + shown_input(task.input) + "\n" +
             format("format:       standard G.723.1, %d Hz\n", QRXC_G723_SAMPLE_RATE) +
             format("frames:       %llu (%llu at 6.3 kbit/s, %llu at 5.3 kbit/s, %llu SID, %llu untransmitted)\n",
                    frames, sent(QRXC_G723_KIND_63), sent(QRXC_G723_KIND_53), sent(QRXC_G723_KIND_SID),
                    sent(QRXC_G723_KIND_UNTRANSMITTED)) +
             format("duration:     %.3f s\n", r.seconds) +
             format("silence:      %llu frames of comfort noise (%llu lost in silence)\n",
                    static_cast<ull>(decoding.comfort_noise()), static_cast<ull>(decoding.lost_in_silence())) +
             format("lost:         %llu frames concealed (%llu cut short)\n", static_cast<ull>(decoding.lost()),
                    static_cast<ull>(decoding.cut()));
    return r;
}

}  // namespace

Task_result info_file(const Task &task, Qrxc_context *ctx, Info_form form) {
    const Entry entry(task, form);
    const bool json = entry.json;
    const auto failed = [&entry](int code, const std::string &text, const char *kind) {
        return entry.failed(code, text, kind);
    };
    if (task.input != "-" && is_standard_name(task.input)) return info_standard(task, ctx, entry);
    Task_result r;
    const std::string name = shown_input(task.input);
    Input_fd in;
    if (!in.open(task.input)) return failed(EXIT_SOURCE, in.error_message(task.input), "cannot_open");
    const std::string mtime = modification_time_utc(in.get());
    Qrx_reader reader;
    switch (reader.open(in, ctx)) {
    case Qrx_reader::ok: break;
    case Qrx_reader::unreadable: return failed(EXIT_SOURCE, msg::cannot_read_input(task.input, 0), "cannot_read");
    case Qrx_reader::too_short: return failed(EXIT_FORMAT, msg::too_short(task.input), "too_short");
    case Qrx_reader::rejected:
        return failed(EXIT_FORMAT, msg::bad_header(task.input, reader.header_code()), "bad_header");
    }
    const G_header &h = reader.header();
    Qrxc_type_desc desc{};
    const bool known = Qrxc_type_info(h.type, &desc) == 0;
    const bool g723 = h.type <= 2;
    std::vector<unsigned char> frame(h.frame_bytes);
    std::uint64_t concealed = 0;
    int got = 0;
    while ((got = reader.next(frame.data())) == 1)
        if (g723 && Qrxc_frame_concealed(static_cast<int>(h.type), frame.data()) == 1) ++concealed;
    if (got < 0) return failed(EXIT_SOURCE, msg::input_shrank(task.input), "cannot_read");

    const unsigned long long frames = reader.frames_read();
    const unsigned long long trailing = reader.trailing_bytes();
    const double seconds = static_cast<double>(frames) * h.pcm_frame / h.sample_rate;
    const int hlen = reader.header_length();
    const unsigned version = reader.header_bytes()[3];
    const std::string type_name = known ? desc.coder : "unknown";
    r.seconds = seconds;
    if (json) {
        r.text = entry.object(
            mtime,
            format(", \"header\": \"%s\", \"header_bytes\": %d", hlen == 16 ? "long" : "short", hlen) +
                format(", \"version_byte\": %u, \"sample_rate\": %u, \"type\": %u", version, unsigned(h.sample_rate),
                       unsigned(h.type)) +
                ", \"type_name\": " + json_string(type_name) +
                format(", \"pcm_frame\": %u, \"frame_bytes\": %u, \"header_size\": %u", unsigned(h.pcm_frame),
                       unsigned(h.frame_bytes), unsigned(h.header_size)) +
                format(", \"frames\": %llu, \"duration\": %.3f, \"trailing_bytes\": %llu", frames, seconds, trailing) +
                (g723 ? format(", \"concealed_frames\": %llu", static_cast<unsigned long long>(concealed))
                      : std::string(", \"concealed_frames\": null")));
        return r;
    }
    r.text = "file:         " + name + "\n" +
             format("header:       %s, %d bytes, version byte 0x%02X\n", hlen == 16 ? "long" : "short", hlen, version) +
             format("sample rate:  %u Hz\n", unsigned(h.sample_rate)) +
             format("type:         %u (%s)\n", unsigned(h.type), type_name.c_str()) +
             format("pcm_frame:    %u samples\n", unsigned(h.pcm_frame)) +
             format("frame_bytes:  %u bytes\n", unsigned(h.frame_bytes)) +
             format("header_size:  %u\n", unsigned(h.header_size)) + format("frames:       %llu\n", frames) +
             format("duration:     %.3f s\n", seconds) + format("trailing:     %llu bytes\n", trailing);
    if (g723)
        r.text += format("concealed:    %llu frames (forbidden lag or gain codes)\n",
                         static_cast<unsigned long long>(concealed));
    return r;
}

void add_info_command(CLI::App &app) {
    auto opt = std::make_shared<Info_options>();
    CLI::App *cmd = app.add_subcommand(
        "info",
        "Show QRX files' headers, frame counts, durations and concealed frames; standard G.723.1 streams' "
        "frames by kind, comfort noise and lost frames");
    add_batch_options(*cmd, opt->batch,
                      "QRX files, standard G.723.1 streams (.g723, .tco, .rco, .bit), captures or directories ('-' "
                      "reads standard input)",
                      false);
    auto *json = cmd->add_flag("--json", opt->json,
                               "Print one JSON array with an object per input (failed ones carry \"error\")");
    cmd->add_flag("--json-lines", opt->json_lines, "Print one JSON object per input and line, as each is read")
        ->excludes(json);
    add_capture_options(*cmd, opt->stream, opt->capture);
    cmd->callback([opt] {
        if (!opt->stream.empty()) opt->capture.ssrc = ssrc_option(opt->stream);
        Batch_kind kind;
        kind.picks = [](const std::string &path) {
            return has_qrx_extension(path) || is_standard_name(path) || is_capture_name(path);
        };
        kind.done_word = "read";
        const Info_form form = opt->json ? Info_form::json : opt->json_lines ? Info_form::json_lines : Info_form::text;
        const Capture_options capture = opt->capture;
        kind.convert = [form, capture](const Task &t, Qrxc_context *ctx) {
            if (is_capture_name(t.input))
                return capture_info(t, form != Info_form::text, form == Info_form::json_lines, capture);
            return info_file(t, ctx, form);
        };
        if (form == Info_form::json) {
            kind.text_open = "[\n";
            kind.text_separator = ",\n";
            kind.text_close = "\n]\n";
            kind.text_empty = "[]\n";
        }
        if (form == Info_form::text) kind.text_separator = "\n";
        // A directory without -r is an input that failed, not the end of the index.
        kind.directory_is_entry = form != Info_form::text;
        const int rc = run_batch(opt->batch, kind);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
