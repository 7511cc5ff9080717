// qrx info: what a QRX file's header says and how many frames follow it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "qrxc.h"

namespace qrx::cli {
namespace {

const char *coder_name(unsigned type) {
    switch (type) {
    case 0: return "G.723.1 5.3 kbit/s, 4:3 rate converter";
    case 1: return "G.723.1 5.3 kbit/s";
    case 2: return "G.723.1 6.3 kbit/s";
    case 4: return "ADPCM 3 bits per sample";
    case 5: return "ADPCM 4 bits per sample";
    case 6: return "ADPCM 5 bits per sample";
    default: return "unknown";
    }
}

const char *header_error(int code) {
    switch (code) {
    case QRXC_ERR_ARG: return "header does not match its type (frame sizes)";
    case QRXC_ERR_HEADER: return "not a QRX stream header (magic, rate or type)";
    default: return "header rejected";
    }
}

int run_info(const std::string &path) {
    if (stdin_refused(path)) return EXIT_SOURCE;
    std::uint64_t size = 0;
    unsigned char hdr[16] = {};
    std::size_t got = 0;
    if (!read_head(path, hdr, sizeof hdr, got, size)) {
        print_error(path + ": cannot read file");
        return EXIT_SOURCE;
    }
    const bool long_form = got >= 4 && (hdr[3] & 0xC0) != 0;
    if (got < 4 || (long_form && got < 16)) {
        print_error(path + ": too short for a QRX header");
        return EXIT_FORMAT;
    }

    Qrxc_context *ctx = Qrxc_create();
    if (ctx == nullptr) {
        print_error("out of memory");
        return EXIT_SOURCE;
    }
    G_header h{};
    const int header_len = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr);
    Qrxc_destroy(ctx);
    if (header_len < 0) {
        print_error(path + ": " + header_error(header_len));
        return EXIT_FORMAT;
    }

    const std::uint64_t payload = size - static_cast<std::uint64_t>(header_len);
    const std::uint64_t frames = payload / h.frame_bytes;
    const std::uint64_t trailing = payload % h.frame_bytes;
    const double seconds = static_cast<double>(frames) * h.pcm_frame / h.sample_rate;

    std::printf("file:         %s\n", path.c_str());
    std::printf("header:       %s, %d bytes, version byte 0x%02X\n", header_len == 16 ? "long" : "short", header_len,
                header_len == 16 ? hdr[3] : h.version);
    std::printf("sample rate:  %u Hz\n", static_cast<unsigned>(h.sample_rate));
    std::printf("type:         %u (%s)\n", static_cast<unsigned>(h.type), coder_name(h.type));
    std::printf("pcm_frame:    %u samples\n", static_cast<unsigned>(h.pcm_frame));
    std::printf("frame_bytes:  %u bytes\n", static_cast<unsigned>(h.frame_bytes));
    std::printf("header_size:  %u\n", static_cast<unsigned>(h.header_size));
    std::printf("frames:       %llu\n", static_cast<unsigned long long>(frames));
    std::printf("duration:     %.3f s\n", seconds);
    std::printf("trailing:     %llu bytes\n", static_cast<unsigned long long>(trailing));
    return EXIT_OK;
}

}  // namespace

void add_info_command(CLI::App &app) {
    auto path = std::make_shared<std::string>();
    CLI::App *cmd = app.add_subcommand("info", "Show a QRX file's header, frame count and duration");
    cmd->add_option("file", *path, "QRX file")->required();
    cmd->callback([path] {
        const int rc = run_info(*path);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
