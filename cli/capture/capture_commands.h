// Captures in the qrx commands: decode writes one recording per G.723.1 RTP
// stream, info lists the streams, export --pcap packetises a stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/batch.h"
#include "cli/render.h"

namespace CLI {
class App;
}

namespace qrxc::cli {

// .pcap, .pcapng or .cap in any letter case.
bool is_capture_name(const std::string &path);
// True when path is read as a capture: format "pcap", or "auto" with a capture name.
bool capture_input_wanted(const std::string &path, const std::string &format);

// Where the per-stream outputs of a capture go: the capture's name without
// its extension, then ".{stream}" and ext; {stream} becomes
// SRC-PORT_DST-PORT.SSRC for each stream.
std::string capture_output_pattern(const std::string &input, const std::string &ext);

struct Capture_options {
    std::optional<std::uint32_t> ssrc;  // --stream
    int rtp_pt = -1;                    // --rtp-pt
};

// --stream SSRC and --rtp-pt N on a subcommand.
void add_capture_options(CLI::App &cmd, std::string &stream, Capture_options &options);
// The SSRC of a --stream value that add_capture_options checked.
std::uint32_t ssrc_option(const std::string &text);

// Parses an SSRC as the output names and info show it (hexadecimal, "0x" optional).
bool parse_ssrc(const std::string &text, std::uint32_t &ssrc);

// qrx decode of one capture. task.output is a pattern (above) or, from -o,
// the one output of a capture that holds one stream.
Task_result decode_capture(const Task &task, Qrxc_context *ctx, const Render_settings &s,
                           const Capture_options &options);

// qrx info of one capture: its streams, as text or as one JSON object.
Task_result capture_info(const Task &task, bool json, const Capture_options &options);

// qrx export --pcap: the standard frames of in_frames (back to back) as one
// RTP stream over UDP/IPv4 in a pcap file written to fd, one 30 ms frame per
// packet, payload type 4.
bool write_rtp_capture(const unsigned char *frames, std::size_t length, int fd);

}  // namespace qrxc::cli
