// qrx import: a standard G.723.1 stream to a QRX stream of type 1 or 2,
// frame by frame, without decoding.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool is_silence(int kind) { return kind == QRXC_G723_KIND_SID || kind == QRXC_G723_KIND_UNTRANSMITTED; }

// QRX frames of the given type for the stream's comfort noise: the whole
// stream decoded as a standard decoder plays it, then coded again one frame
// ahead, so that frame k of the result plays what frame k played (the
// encoder's output lags its input by 60 samples). Empty when the stream has
// no SID or untransmitted frame.
std::vector<unsigned char> comfort_noise_frames(const std::vector<unsigned char> &in, int type) {
    bool any = false;
    for (std::size_t at = 0; at < in.size() && !any;) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(in.data() + at, in.size() - at, 1, nullptr, &kind);
        if (used < 0) break;
        any = is_silence(kind);
        at += static_cast<std::size_t>(used);
    }
    if (!any) return {};
    Context dec, enc;
    G_header info{};
    unsigned char hdr[16];
    if (dec.get() == nullptr || enc.get() == nullptr) return {};
    Qrxc_version_ctx(dec.get(), 1);
    if (Qrxc_initial_ctx(dec.get(), QRXC_ENCODE, 8000, 2, &info, hdr) < 0 ||
        Qrxc_initial_ctx(dec.get(), QRXC_DECODE, 0, 0, &info, hdr) < 0)
        return {};
    constexpr std::size_t LEAD = 60;
    std::vector<short> pcm;
    for (std::size_t at = 0; at < in.size();) {
        short frame[240];
        const int used = Qrxc_decode_standard_ctx(dec.get(), in.data() + at, in.size() - at, frame, nullptr);
        if (used < 0) break;  // a cut last frame is written as lost anyway
        pcm.insert(pcm.end(), frame, frame + 240);
        at += static_cast<std::size_t>(used);
    }
    const std::size_t frames = pcm.size() / 240;
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<long>(std::min(LEAD, pcm.size())));
    pcm.resize(frames * 240);
    if (Qrxc_initial_ctx(enc.get(), QRXC_ENCODE, 8000, type, &info, hdr) < 0) return {};
    std::vector<unsigned char> out(frames * info.frame_bytes);
    for (std::size_t k = 0; k < frames; ++k)
        if (Qrxc_encode_frame(enc.get(), pcm.data() + 240 * k, out.data() + k * info.frame_bytes) < 0) return {};
    return out;
}

int run_import(const Import_options &o) {
    std::vector<unsigned char> in;
    if (!read_input(o.input, in)) return EXIT_SOURCE;
    const int type = stream_type(in);
    if (type == 0) {
        print_error(shown_input(o.input) + (in.empty() ? ": is empty" : ": holds no G.723.1 speech frames"));
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
        print_error(msg::cannot_write_output(out.target(), errno_text()));
        return EXIT_OUTPUT;
    }
    // Comfort noise is kept as ordinary frames that play it.
    const std::vector<unsigned char> noise = o.conceal ? comfort_noise_frames(in, type) : std::vector<unsigned char>{};
    std::uint64_t index = 0, concealed[4] = {}, cut = 0, recoded = 0;
    unsigned char frame[24];
    Progress_line line("importing", !o.quiet);
    for (std::size_t at = 0; at < in.size(); ++index) {
        line.update(static_cast<int>(static_cast<std::uint64_t>(at) * 100 / in.size()));
        int kind = -1;
        int used = Qrxc_g723_from_standard(in.data() + at, in.size() - at, type, frame, &kind);
        const std::string where =
            shown_input(o.input) + ": frame " + std::to_string(index) + " at byte " + std::to_string(at);
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
            if (is_silence(kind) && (index + 1) * info.frame_bytes <= noise.size()) {
                std::memcpy(frame, noise.data() + index * info.frame_bytes, info.frame_bytes);
                ++recoded;
            } else {
                ++concealed[kind];
            }
        }
        errno = 0;
        if (std::fwrite(frame, 1, info.frame_bytes, f) != info.frame_bytes) {
            print_error(msg::cannot_write_output(out.target(), errno_text()));
            return EXIT_OUTPUT;
        }
        at += static_cast<std::size_t>(used);
    }
    line.finish();
    const std::uint64_t other_rate = concealed[type == 2 ? QRXC_G723_KIND_53 : QRXC_G723_KIND_63];
    const std::uint64_t total =
        other_rate + concealed[QRXC_G723_KIND_SID] + concealed[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    if (recoded > 0)
        std::fprintf(stderr,
                     "qrx: %s: %llu of %llu frames were silence (SID or untransmitted), written as speech frames "
                     "that play its comfort noise\n",
                     o.input.c_str(), static_cast<unsigned long long>(recoded), static_cast<unsigned long long>(index));
    // What became of such frames is worth saying even under -q, as decode does.
    if (total > 0)
        std::fprintf(stderr,
                     "qrx: %s: wrote %llu of %llu frames as lost frames (%llu of the other rate, %llu SID, "
                     "%llu untransmitted, %llu cut short)\n",
                     shown_input(o.input).c_str(), static_cast<unsigned long long>(total),
                     static_cast<unsigned long long>(index), static_cast<unsigned long long>(other_rate),
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
                  "write frames one QRX stream cannot hold instead of stopping: the comfort noise of SID and "
                  "untransmitted frames decoded and coded again as speech frames, the other rate and a cut last "
                  "frame as lost frames");
    cmd->add_flag("-y,--force", opt->force, "replace an existing output file");
    add_quiet_flag(*cmd, opt->quiet);
    add_preserve_time_flag(*cmd);
    cmd->callback([opt] {
        const int rc = run_import(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
