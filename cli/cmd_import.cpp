// qrx import: a standard G.723.1 stream to a QRX stream of type 1 or 2,
// frame by frame, without decoding.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/g723_standard.h"
#include "qrxc.h"

namespace qrxc::cli {

namespace {

struct Import_options {
    std::string input, output;
    bool short_header = false;
    bool conceal = false;
    bool force = false;
    bool quiet = false;  // accepted like everywhere; import prints no success message or summary
    int rate_label = 8000;
};

const char *kind_name(int kind) {
    switch (kind) {
    case QRXC_G723_KIND_63: return "a 6.3 kbit/s frame";
    case QRXC_G723_KIND_53: return "a 5.3 kbit/s frame";
    case QRXC_G723_KIND_SID: return "a SID frame (Annex A silence)";
    default: return "an untransmitted frame (Annex A)";
    }
}

const char *rate_name(int type) { return type == 2 ? "6.3 kbit/s" : "5.3 kbit/s"; }

// The QRX type of the first speech frame's rate, or 0 when there is none.
int stream_type(const std::vector<unsigned char> &in) {
    for (std::size_t at = 0; at < in.size();) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(in.data() + at, in.size() - at, 1, nullptr, &kind);
        if (used < 0) break;
        if (kind == QRXC_G723_KIND_63) return 2;
        if (kind == QRXC_G723_KIND_53) return 1;
        at += static_cast<std::size_t>(used);
    }
    return 0;
}

int run_import(const Import_options &o) {
    std::vector<unsigned char> in;
    if (!read_input(o.input, in)) return EXIT_SOURCE;
    const int type = stream_type(in);
    if (type == 0) {
        print_error(o.input + (in.empty() ? ": is empty" : ": holds no G.723.1 speech frames"));
        return EXIT_FORMAT;
    }
    const int wanted_kind = type == 2 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53;

    Context ctx;
    if (ctx.get() == nullptr) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    Qrxc_version_ctx(ctx.get(), o.short_header ? 0 : 1);
    G_header info{};
    unsigned char hdr[16];
    const int hlen = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, o.rate_label, type, &info, hdr);
    if (hlen < 0) {
        print_error("the codec refused type " + std::to_string(type) + " at " + std::to_string(o.rate_label) + " Hz");
        return EXIT_FORMAT;
    }

    Staged_output out;
    if (const int rc = out.prepare(o.output.empty() ? with_extension(o.input, ".QRX") : o.output, o.input, o.force);
        rc != EXIT_OK)
        return rc;
    std::FILE *f = out.stream();
    errno = 0;
    if (std::fwrite(hdr, 1, static_cast<std::size_t>(hlen), f) != static_cast<std::size_t>(hlen)) {
        print_error("cannot write " + out.shown() + errno_cause());
        return EXIT_OUTPUT;
    }
    std::uint64_t index = 0, concealed[4] = {}, cut = 0;
    unsigned char frame[24];
    for (std::size_t at = 0; at < in.size(); ++index) {
        int kind = -1;
        int used = Qrxc_g723_from_standard(in.data() + at, in.size() - at, type, frame, &kind);
        const std::string where = o.input + ": frame " + std::to_string(index) + " at byte " + std::to_string(at);
        const char *advice = "; give --conceal to write such frames as lost frames";
        if (used == QRXC_ERR_BUFFER) {
            if (!o.conceal) {
                print_error(where + " is cut short: " + kind_name(kind) + ", but only " +
                            std::to_string(in.size() - at) + " bytes remain" + advice);
                return EXIT_FORMAT;
            }
            // An untransmitted frame converts to a lost frame of the stream's type.
            const unsigned char untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
            Qrxc_g723_from_standard(&untransmitted, 1, type, frame, &kind);
            ++cut;
            used = static_cast<int>(in.size() - at);
        } else if (used < 0) {
            print_error("the codec failed");
            return EXIT_OUTPUT;
        } else if (kind != wanted_kind) {
            if (!o.conceal) {
                print_error(where + " is " + kind_name(kind) + " in a " + rate_name(type) +
                            " stream; one QRX stream holds frames of one rate only" + advice);
                return EXIT_FORMAT;
            }
            ++concealed[kind];
        }
        errno = 0;
        if (std::fwrite(frame, 1, info.frame_bytes, f) != info.frame_bytes) {
            print_error("cannot write " + out.shown() + errno_cause());
            return EXIT_OUTPUT;
        }
        at += static_cast<std::size_t>(used);
    }
    const std::uint64_t other_rate = concealed[type == 2 ? QRXC_G723_KIND_53 : QRXC_G723_KIND_63];
    const std::uint64_t total =
        other_rate + concealed[QRXC_G723_KIND_SID] + concealed[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    // Lost audio is worth saying even under -q, as decode does.
    if (total > 0)
        std::fprintf(stderr,
                     "qrx: %s: wrote %llu of %llu frames as lost frames (%llu of the other rate, %llu SID, "
                     "%llu untransmitted, %llu cut short)\n",
                     o.input.c_str(), static_cast<unsigned long long>(total), static_cast<unsigned long long>(index),
                     static_cast<unsigned long long>(other_rate),
                     static_cast<unsigned long long>(concealed[QRXC_G723_KIND_SID]),
                     static_cast<unsigned long long>(concealed[QRXC_G723_KIND_UNTRANSMITTED]),
                     static_cast<unsigned long long>(cut));
    return out.commit();
}

}  // namespace

void add_import_command(CLI::App &app) {
    auto opt = std::make_shared<Import_options>();
    CLI::App *cmd = app.add_subcommand(
        "import", "Turn a standard G.723.1 stream (.g723, .tco, .rco, .bit, RTP payloads) into a QRX file");
    cmd->add_option("input", opt->input, "standard G.723.1 stream ('-' reads standard input)")->required();
    cmd->add_option("-o,--output", opt->output,
                    "QRX file to write ('-' for standard output); default: the input name with .QRX");
    cmd->add_flag("--short-header", opt->short_header, "write the 4-byte header form");
    cmd->add_option("--rate-label", opt->rate_label, "sample rate written in the header (default 8000)")
        ->check(CLI::IsMember({8000, 12000, 16000}));
    cmd->add_flag("--conceal", opt->conceal,
                  "write frames one QRX stream cannot hold (SID, untransmitted, the other rate, a cut last frame) "
                  "as lost frames instead of stopping");
    cmd->add_flag("-y,--force", opt->force, "replace an existing output file");
    add_quiet_flag(*cmd, opt->quiet);
    add_preserve_time_flag(*cmd);
    cmd->callback([opt] {
        const int rc = run_import(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
