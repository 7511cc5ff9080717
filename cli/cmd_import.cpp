// qrx import: a standard G.723.1 stream to a QRX stream of type 1 or 2,
// frame by frame, without decoding.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/batch.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/staged_output.h"
#include "cli/standard_names.h"
#include "cli/standard_reader.h"
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

// Writes one QRX frame; false with the message printed.
bool write_frame(Staged_output &out, const unsigned char *frame, std::size_t bytes) {
    errno = 0;
    if (std::fwrite(frame, 1, bytes, out.stream()) == bytes) return true;
    print_error("cannot write " + out.shown() + errno_cause());
    return false;
}

int run_import(const Import_options &o) {
    Standard_reader in;
    if (!in.open(o.input)) {
        print_error(in.error());
        return in.exit_code();
    }
    // The first speech frame's rate names the stream's type; the frames
    // before it are only counted, so memory stays bounded.
    std::uint64_t leading[4] = {};
    int first_kind = -1, type = 0;
    Standard_reader::Step step = in.next();
    for (; step == Standard_reader::frame; step = in.next()) {
        if (in.kind() == QRXC_G723_KIND_63 || in.kind() == QRXC_G723_KIND_53) {
            type = in.kind() == QRXC_G723_KIND_63 ? 2 : 1;
            break;
        }
        if (first_kind < 0) first_kind = in.kind();
        ++leading[in.kind()];
    }
    if (step == Standard_reader::failed) {
        print_error(in.error());
        return in.exit_code();
    }
    if (type == 0) {
        print_error(o.input + (in.frames() == 0 ? ": is empty" : ": holds no G.723.1 speech frames"));
        return EXIT_FORMAT;
    }
    const int wanted_kind = type == 2 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53;
    const char *advice = "; give --conceal to write such frames as lost frames";
    if (first_kind >= 0 && !o.conceal) {
        print_error(o.input + ": frame 0 at byte 0 is " + kind_name(first_kind) + " in a " + rate_name(type) +
                    " stream; one QRX stream holds frames of one rate only" + advice);
        return EXIT_FORMAT;
    }

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
    if (!write_frame(out, hdr, static_cast<std::size_t>(hlen))) return EXIT_OUTPUT;
    // An untransmitted frame converts to a lost frame of the stream's type.
    const unsigned char untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
    unsigned char lost[24], frame[24];
    int kind = -1;
    Qrxc_g723_from_standard(&untransmitted, 1, type, lost, &kind);
    for (std::uint64_t i = 0; i < leading[QRXC_G723_KIND_SID] + leading[QRXC_G723_KIND_UNTRANSMITTED]; ++i)
        if (!write_frame(out, lost, info.frame_bytes)) return EXIT_OUTPUT;
    std::uint64_t concealed[4] = {leading[0], leading[1], leading[2], leading[3]}, cut = 0;
    for (; step != Standard_reader::end; step = in.next()) {
        if (step == Standard_reader::failed) {
            print_error(in.error());
            return in.exit_code();
        }
        auto where = [&] {
            return o.input + ": frame " + std::to_string(in.frames() - 1) + " at byte " + std::to_string(in.offset());
        };
        const unsigned char *qrx = frame;
        if (step == Standard_reader::cut) {
            if (!o.conceal) {
                print_error(where() + " is cut short: " + kind_name(in.kind()) + ", but only " +
                            std::to_string(in.size()) + " bytes remain" + advice);
                return EXIT_FORMAT;
            }
            qrx = lost;
            ++cut;
        } else if (Qrxc_g723_from_standard(in.data(), in.size(), type, frame, &kind) < 0) {
            print_error("the codec failed");
            return EXIT_OUTPUT;
        } else if (kind != wanted_kind) {
            if (!o.conceal) {
                print_error(where() + " is " + kind_name(kind) + " in a " + rate_name(type) +
                            " stream; one QRX stream holds frames of one rate only" + advice);
                return EXIT_FORMAT;
            }
            ++concealed[kind];
        }
        if (!write_frame(out, qrx, info.frame_bytes)) return EXIT_OUTPUT;
    }
    const std::uint64_t other_rate = concealed[type == 2 ? QRXC_G723_KIND_53 : QRXC_G723_KIND_63];
    const std::uint64_t total =
        other_rate + concealed[QRXC_G723_KIND_SID] + concealed[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    // Lost audio is worth saying even under -q, as decode does.
    if (total > 0)
        std::fprintf(stderr,
                     "qrx: %s: wrote %llu of %llu frames as lost frames (%llu of the other rate, %llu SID, "
                     "%llu untransmitted, %llu cut short)\n",
                     o.input.c_str(), static_cast<unsigned long long>(total),
                     static_cast<unsigned long long>(in.frames()), static_cast<unsigned long long>(other_rate),
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
    cmd->callback([opt] {
        const int rc = run_import(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
