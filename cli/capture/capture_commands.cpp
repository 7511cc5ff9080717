#include "cli/capture/capture_commands.h"
#include "cli/json_text.h"
#include "cli/messages.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "cli/audio_output.h"
#include "cli/capture/capture_file.h"
#include "cli/capture/packet_builder.h"
#include "cli/capture/stream_decode.h"
#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "qrxc.h"

namespace qrxc::cli {
namespace {

using capture::Rtp_stream;

constexpr const char *STREAM_FIELD = "{stream}";
// A capture with no G.723.1 stream in it fails as a whole, like a batch.
constexpr int EXIT_NO_STREAMS = EXIT_BATCH_FAILED;

std::string format(const char *fmt, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string ssrc_text(std::uint32_t ssrc) { return format("%08x", static_cast<unsigned>(ssrc)); }

std::string stream_name(const Rtp_stream &s) {
    return format("%u_%u.", unsigned(s.key().src_port), unsigned(s.key().dst_port)) + ssrc_text(s.key().ssrc);
}

// Each stream's part of its output name; streams that differ only in their
// addresses get "-2", "-3", ... so that no output overwrites another.
std::vector<std::string> stream_names(const std::vector<const Rtp_stream *> &streams) {
    std::vector<std::string> names;
    for (const Rtp_stream *s : streams) {
        std::string name = stream_name(*s);
        for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n)
            name = stream_name(*s) + "-" + std::to_string(n);
        names.push_back(name);
    }
    return names;
}

// The capture read and its G.723.1 streams picked; false with r filled on failure.
struct Scan {
    capture::Stream_collector collector;
    std::vector<const Rtp_stream *> streams;
    std::vector<std::string> warnings;
    explicit Scan(int rtp_pt) : collector(rtp_pt) {}
};

bool scan_capture(const Task &task, const Capture_options &options, Scan &scan, Task_result &r) {
    const std::string name = shown_input(task.input);
    const capture::Capture_read read = capture::read_capture(task.input, scan.collector);
    if (!read.opened) {
        std::error_code ec;
        const bool missing = task.input != "-" && !std::filesystem::exists(task.input, ec);
        r.code = missing ? EXIT_SOURCE : EXIT_FORMAT;
        r.error = name + ": cannot read as a packet capture (" + read.error + ")";
        return false;
    }
    if (!read.error.empty())
        scan.warnings.push_back(name + ": the capture ends inside a packet (" + read.error +
                                "); the packets before it are used");
    const capture::Capture_counts &c = scan.collector.counts();
    if (c.truncated > 0)
        scan.warnings.push_back(name + format(": %llu packets were cut short (snap length %s); what they carried is "
                                              "concealed as lost",
                                              static_cast<unsigned long long>(c.truncated),
                                              read.snapped > 0 ? "too short" : "or damage"));
    if (c.fragments > 0)
        scan.warnings.push_back(name + format(": %llu IP fragments are not reassembled; what they carried is "
                                              "concealed as lost",
                                              static_cast<unsigned long long>(c.fragments)));
    if (c.unknown_link > 0)
        scan.warnings.push_back(name + format(": link type %d is not read; no packets used", read.link_type));
    for (const Rtp_stream *s : scan.collector.finish())
        if (!options.ssrc || s->key().ssrc == *options.ssrc) scan.streams.push_back(s);
    if (!scan.streams.empty()) return true;
    r.code = EXIT_NO_STREAMS;
    if (options.ssrc)
        r.error = name + ": no G.723.1 RTP stream with SSRC " + ssrc_text(*options.ssrc);
    else
        r.error = name + format(
                             ": no G.723.1 RTP streams found (%llu packets, %llu UDP, %llu RTP; payload type 4, a "
                             "G723 type in an SDP, or --rtp-pt N is looked for)",
                             static_cast<unsigned long long>(c.packets), static_cast<unsigned long long>(c.udp),
                             static_cast<unsigned long long>(c.rtp));
    return false;
}

void print_warnings(const Scan &scan) {
    for (const std::string &w : scan.warnings) print_error(w);
}

class Output_sink : public capture::Pcm_sink {
public:
    explicit Output_sink(Audio_output &out) : out_(out) {}
    bool write(const short *pcm, std::size_t samples) override { return out_.write(pcm, samples); }

private:
    Audio_output &out_;
};

bool exists(const std::string &path) {
    struct stat st {};
    return path != "-" && ::lstat(path.c_str(), &st) == 0;
}

// One stream into one output; "" or why not.
std::string decode_one(const Rtp_stream &s, const std::string &input, const std::string &output, bool replace,
                       Qrxc_context *ctx, const Render_settings &settings) {
    const std::string shown = shown_output(output);
    const Audio_format fmt = output_format(settings, output);
    if (!replace && !written_through(output) && exists(output)) return msg::output_exists(output);
    const std::uint64_t samples = s.frame_count() * capture::SAMPLES_PER_FRAME;
    const int out_rate = settings.rate > 0 ? settings.rate : 8000;
    if (fmt == Audio_format::wav && samples * static_cast<std::uint64_t>(out_rate) / 8000 > WAV_MAX_SAMPLES)
        return shown + ": the stream plays longer than a WAV file can hold (4 GiB)";
    Output_file file;
    if (!file.open(output)) return msg::cannot_create_output(output, file.error());
    Audio_output out;
    if (!out.start(file, fmt, 8000, out_rate)) return shown + ": " + out.error();
    Output_sink sink(out);
    errno = 0;
    switch (capture::decode_stream(s, ctx, sink)) {
    case capture::Decode_status::ok: break;
    case capture::Decode_status::codec_refused: return "the codec refused a G.723.1 stream";
    case capture::Decode_status::sink_failed: return msg::cannot_write_output(output, errno_text());
    }
    errno = 0;
    if (!out.finish()) return msg::cannot_write_output(output, errno_text());
    // A call's recordings carry the capture's date, as every other output carries its input's.
    file.keep_times_of(input);
    if (!file.commit(replace))
        return file.error_number() == EEXIST ? msg::output_exists(output) : shown + ": " + file.error();
    return "";
}

std::string rates_text(const capture::Stream_stats &st, bool json) {
    std::string out;
    const char *names[2] = {"6.3", "5.3"};
    for (int k = 0; k < 2; ++k)
        if (st.frames[k] > 0) {
            if (!out.empty()) out += json ? ", " : " and ";
            out += json ? std::string("\"") + names[k] + "\"" : std::string(names[k]) + " kbit/s";
        }
    return json ? "[" + out + "]" : out.empty() ? "none" : out;
}

std::string stream_json(const Rtp_stream &s, const std::string &output) {
    const capture::Stream_stats &st = s.stats();
    const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    return "{\"ssrc\": \"" + ssrc_text(s.key().ssrc) + "\", \"src\": " + json_string(address_text(s.key().src)) +
           format(", \"src_port\": %u", unsigned(s.key().src_port)) +
           ", \"dst\": " + json_string(address_text(s.key().dst)) +
           format(", \"dst_port\": %u, \"packets\": %llu, \"lost\": %llu, \"reordered\": %llu, \"duplicates\": %llu",
                  unsigned(s.key().dst_port), n(st.packets), n(st.lost), n(st.reordered), n(st.duplicates)) +
           format(
               ", \"late\": %llu, \"bad_payloads\": %llu, \"first_time\": %.6f, \"last_time\": %.6f, \"duration\": "
               "%.3f",
               n(st.late), n(st.bad_payloads), st.first_time, st.last_time,
               static_cast<double>(s.frame_count()) * capture::SAMPLES_PER_FRAME / 8000) +
           ", \"rates\": " + rates_text(st, true) +
           format(", \"frames_63\": %llu, \"frames_53\": %llu, \"sid_frames\": %llu, \"timestamp_jumps\": %llu",
                  n(st.frames[QRXC_G723_KIND_63]), n(st.frames[QRXC_G723_KIND_53]), n(st.frames[QRXC_G723_KIND_SID]),
                  n(st.unfilled_jumps)) +
           ", \"output\": " + json_string(output) + "}";
}

}  // namespace

bool is_capture_name(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".pcap" || ext == ".pcapng" || ext == ".cap";
}

bool capture_input_wanted(const std::string &path, const std::string &format) {
    return format == "pcap" || (format == "auto" && is_capture_name(path));
}

std::string capture_output_pattern(const std::string &input, const std::string &ext) {
    std::filesystem::path p(input);
    p.replace_extension();
    return p.string() + "." + STREAM_FIELD + ext;
}

bool parse_ssrc(const std::string &text, std::uint32_t &ssrc) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : digits) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
        v = v << 4 | static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c)) != 0
                                                    ? c - '0'
                                                    : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    ssrc = v;
    return true;
}

void add_capture_options(CLI::App &cmd, std::string &stream, Capture_options &options) {
    cmd.add_option("--stream", stream, "Of a packet capture, only the RTP stream with this SSRC (hexadecimal)")
        ->check(CLI::Validator(
            [](std::string &text) {
                std::uint32_t ssrc = 0;
                return parse_ssrc(text, ssrc) ? std::string() : "an SSRC is up to 8 hexadecimal digits: " + text;
            },
            "SSRC"));
    cmd.add_option("--rtp-pt", options.rtp_pt,
                   "Of a packet capture, RTP payload type N carries G.723.1 too (besides 4 and SDP's G723)")
        ->check(CLI::Range(0, 127));
}

std::uint32_t ssrc_option(const std::string &text) {
    std::uint32_t ssrc = 0;
    parse_ssrc(text, ssrc);
    return ssrc;
}

Task_result decode_capture(const Task &task, Qrxc_context *ctx, const Render_settings &s,
                           const Capture_options &options) {
    Task_result r;
    Scan scan(options.rtp_pt);
    const bool scanned = scan_capture(task, options, scan, r);
    print_warnings(scan);
    if (!scanned) return r;
    const std::string name = shown_input(task.input);
    const std::size_t field = task.output.find(STREAM_FIELD);
    if (field == std::string::npos && scan.streams.size() > 1) {
        r.code = EXIT_OUTPUT;
        r.error = name + format(": holds %zu G.723.1 streams, and -o names one output; use -O DIR, or --stream SSRC",
                                scan.streams.size());
        return r;
    }
    std::vector<std::string> errors;
    const std::vector<std::string> names = stream_names(scan.streams);
    for (std::size_t i = 0; i < scan.streams.size(); ++i) {
        const Rtp_stream *stream = scan.streams[i];
        std::string output = task.output;
        if (field != std::string::npos) output.replace(field, std::string(STREAM_FIELD).size(), names[i]);
        for (const std::string &note : stream->notes())
            print_error(name + ": stream " + ssrc_text(stream->key().ssrc) + ": " + note);
        const std::string error = decode_one(*stream, task.input, output, task.replace, ctx, s);
        if (!error.empty()) {
            errors.push_back(error);
            continue;
        }
        const capture::Stream_stats &st = stream->stats();
        if (!task.quiet && (st.filled_erased > 0 || st.bad_payloads > 0))
            std::fprintf(stderr, "qrx: %s: stream %s: %llu lost packets, %llu frames concealed\n", name.c_str(),
                         ssrc_text(stream->key().ssrc).c_str(), static_cast<unsigned long long>(st.lost),
                         static_cast<unsigned long long>(st.filled_erased));
        r.seconds += static_cast<double>(stream->frame_count()) * capture::SAMPLES_PER_FRAME / 8000;
        if (task.single && !task.quiet && !written_through(output)) r.text += output + MSG_CREATE_SUCCESS + "\n";
    }
    if (!errors.empty()) {
        r.code = EXIT_OUTPUT;
        r.error = errors[0];
        for (std::size_t i = 1; i < errors.size(); ++i) r.error += "\nqrx: " + errors[i];
    }
    return r;
}

Task_result capture_info(const Task &task, bool json, bool json_lines, const Capture_options &options) {
    Task_result r;
    Scan scan(options.rtp_pt);
    const bool scanned = scan_capture(task, options, scan, r);
    print_warnings(scan);
    const std::string indent = json && !json_lines ? "  " : "";
    const std::string end = json_lines ? "\n" : "";
    const std::string file = json_name("file", task.input == "-" ? "standard input" : task.input);
    // A capture that cannot be read keeps its place in the JSON index.
    if (!scanned) {
        if (json)
            r.text = indent + "{" + file +
                     ", \"error\": {\"code\": \"cannot_read\", \"message\": " + json_string(r.error) + "}}" + end;
        return r;
    }
    const std::string name = shown_input(task.input);
    const std::string base = capture_output_pattern(name, "");
    const std::string capture_name = base.substr(0, base.size() - std::string(STREAM_FIELD).size() - 1);
    const capture::Capture_counts &c = scan.collector.counts();
    const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    if (json) {
        r.text = indent + "{" + file +
                 format(", \"capture\": {\"packets\": %llu, \"udp\": %llu, \"rtp\": %llu}, \"streams\": [",
                        n(c.packets), n(c.udp), n(c.rtp));
        const std::vector<std::string> names = stream_names(scan.streams);
        for (std::size_t i = 0; i < scan.streams.size(); ++i)
            r.text += (i > 0 ? ", " : "") + stream_json(*scan.streams[i], capture_name + "." + names[i] + ".wav");
        r.text += "]}" + end;
        return r;
    }
    r.text = "file:         " + name + "\n" +
             format("packets:      %llu (%llu UDP, %llu RTP)\n", n(c.packets), n(c.udp), n(c.rtp)) +
             format("streams:      %zu\n", scan.streams.size());
    for (const Rtp_stream *s : scan.streams) {
        const capture::Stream_stats &st = s->stats();
        r.text += "stream " + ssrc_text(s->key().ssrc) + ": " + address_text(s->key().src) +
                  format(" port %u -> ", unsigned(s->key().src_port)) + address_text(s->key().dst) +
                  format(" port %u\n", unsigned(s->key().dst_port)) +
                  format("  packets %llu, lost %llu, reordered %llu, duplicates %llu, late %llu\n", n(st.packets),
                         n(st.lost), n(st.reordered), n(st.duplicates), n(st.late)) +
                  format("  %.3f s from %.6f to %.6f, ", static_cast<double>(s->frame_count()) * 0.03, st.first_time,
                         st.last_time) +
                  rates_text(st, false) + format(", %llu SID frames\n", n(st.frames[QRXC_G723_KIND_SID]));
    }
    return r;
}

bool write_rtp_capture(const unsigned char *frames, std::size_t length, int fd) {
    capture::Capture_writer writer;
    if (!writer.open(fd, capture::LINK_ETHERNET)) return false;
    capture::Packet_spec spec;
    // Documentation addresses (RFC 5737) and the usual RTP port.
    spec.src = capture::ipv4_address(192, 0, 2, 1);
    spec.dst = capture::ipv4_address(192, 0, 2, 2);
    spec.src_port = spec.dst_port = 5004;
    constexpr std::uint32_t SSRC = 0x51525801;
    std::uint16_t seq = 0;
    std::uint32_t ts = 0;
    for (std::size_t at = 0; at < length; ++seq, ts += capture::SAMPLES_PER_FRAME) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(frames + at, length - at, 1, nullptr, &kind);
        if (used <= 0) return false;
        // Nothing is sent for a frame not transmitted; its timestamp passes.
        if (kind == QRXC_G723_KIND_UNTRANSMITTED) {
            at += static_cast<std::size_t>(used);
            --seq;
            continue;
        }
        const auto rtp = capture::build_rtp(capture::STATIC_G723_PT, at == 0, seq, ts, SSRC, frames + at,
                                            static_cast<std::size_t>(used));
        const auto packet = capture::build_udp_packet(spec, rtp.data(), rtp.size());
        if (!writer.write(packet.data(), packet.size(), ts / 8000.0)) return false;
        at += static_cast<std::size_t>(used);
    }
    return writer.close();
}

}  // namespace qrxc::cli
