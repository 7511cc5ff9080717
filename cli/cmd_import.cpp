// qrx import: a standard G.723.1 stream to a QRX stream of type 1 or 2,
// frame by frame, without decoding (but for --conceal's comfort noise).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/batch.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/messages.h"
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
    int rate_label = QRXC_G723_SAMPLE_RATE;
};

const char *kind_name(int kind) {
    switch (kind) {
    case QRXC_G723_KIND_63: return "a 6.3 kbit/s frame";
    case QRXC_G723_KIND_53: return "a 5.3 kbit/s frame";
    case QRXC_G723_KIND_SID: return "a SID frame (Annex A silence)";
    default: return "an untransmitted frame (Annex A)";
    }
}

const char *rate_name(int type) { return type == QRXC_TYPE_G723_63 ? "6.3 kbit/s" : "5.3 kbit/s"; }

// Writes one QRX frame; false with the message printed.
bool write_frame(Staged_output &out, const unsigned char *frame, std::size_t bytes) {
    errno = 0;
    if (std::fwrite(frame, 1, bytes, out.stream()) == bytes) return true;
    print_error(msg::cannot_write_output(out.target(), errno_text()));
    return false;
}

bool is_silence(int kind) { return kind == QRXC_G723_KIND_SID || kind == QRXC_G723_KIND_UNTRANSMITTED; }

// The stream's comfort noise as QRX frames of the given type: each standard
// frame decoded as a standard decoder plays it, then coded again one frame
// later, 60 samples ahead, so that QRX frame k plays what frame k played
// (the encoder's output lags its input by 60 samples). Frame k's recoding
// is ready once frame k + 1 has been decoded, or at the end.
class Noise_recoder {
public:
    bool open(int type) {
        G_header info{};
        unsigned char hdr[QRXC_HEADER_MAX];
        if (dec_.get() == nullptr || enc_.get() == nullptr) return false;
        return Qrxc_open_decoding_ctx(dec_.get(), QRXC_TYPE_G723_63, QRXC_G723_SAMPLE_RATE, nullptr) == QRXC_OK &&
               Qrxc_initial_ctx(enc_.get(), QRXC_ENCODE, QRXC_G723_SAMPLE_RATE, type, &info, hdr) > 0;
    }
    // Decodes the next standard frame; true when the previous frame's
    // recoding is ready in recoded().
    bool push(const unsigned char *frame, std::size_t len) {
        short pcm[240];
        if (Qrxc_decode_standard_ctx(dec_.get(), frame, len, pcm, nullptr) < 0) return false;
        return take(pcm);
    }
    // The last frame's recoding, its lead filled with silence.
    bool finish() {
        const short silence[240] = {};
        return decoded_ > 0 && take(silence);
    }
    const unsigned char *recoded() const { return out_; }

private:
    static constexpr int LEAD = 60;
    bool take(const short pcm[240]) {
        bool ready = false;
        if (decoded_ > 0) {
            // The held frame's last 180 samples, then this one's first 60.
            short in[240];
            std::memcpy(in, held_ + LEAD, sizeof(short) * (240 - LEAD));
            std::memcpy(in + 240 - LEAD, pcm, sizeof(short) * LEAD);
            ready = Qrxc_encode_frame(enc_.get(), in, out_) >= 0;
        }
        std::memcpy(held_, pcm, sizeof held_);
        ++decoded_;
        return ready;
    }
    Context dec_, enc_;
    std::uint64_t decoded_ = 0;
    short held_[240] = {};
    unsigned char out_[QRXC_MAX_FRAME_BYTES] = {};
};

int run_import(const Import_options &o) {
    Standard_reader in;
    if (!in.open(o.input)) {
        print_error(in.error());
        return in.exit_code();
    }
    // The first speech frame's rate names the stream's type; the frames
    // before it are only counted, so memory stays bounded.
    std::uint64_t leading[4] = {};
    int first_kind = -1, type = -1;  // -1 until a speech frame names it
    std::vector<unsigned char> leading_bytes;
    Standard_reader::Step step = in.next();
    for (; step == Standard_reader::frame; step = in.next()) {
        if (in.kind() == QRXC_G723_KIND_63 || in.kind() == QRXC_G723_KIND_53) {
            type = in.kind() == QRXC_G723_KIND_63 ? QRXC_TYPE_G723_63 : QRXC_TYPE_G723_53;
            break;
        }
        if (first_kind < 0) first_kind = in.kind();
        ++leading[in.kind()];
        // Only --conceal needs them again, to decode their comfort noise; none is over 24 bytes.
        if (o.conceal) leading_bytes.insert(leading_bytes.end(), in.data(), in.data() + in.size());
    }
    if (step == Standard_reader::failed) {
        print_error(in.error());
        return in.exit_code();
    }
    if (type < 0) {
        print_error(shown_input(o.input) + (in.frames() == 0 ? ": is empty" : ": holds no G.723.1 speech frames"));
        return EXIT_FORMAT;
    }
    const int wanted_kind = type == QRXC_TYPE_G723_63 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53;
    const char *advice = "; give --conceal to write such frames as lost frames";
    if (first_kind >= 0 && !o.conceal) {
        print_error(shown_input(o.input) + ": frame 0 at byte 0 is " + kind_name(first_kind) + " in a " +
                    rate_name(type) + " stream; one QRX stream holds frames of one rate only" + advice);
        return EXIT_FORMAT;
    }

    G_header info{};
    unsigned char hdr[QRXC_HEADER_MAX];
    const int hlen = Qrxc_write_header(o.rate_label, type, o.short_header ? 0 : 1, hdr, &info);
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
    unsigned char lost[24];
    int kind = -1;
    Qrxc_g723_from_standard(&untransmitted, 1, type, lost, &kind);

    // Under --conceal each frame waits one frame for its comfort noise, so a
    // silence frame can be written as the speech frame that plays it.
    Noise_recoder noise;
    if (o.conceal && !noise.open(type)) {
        print_error("the codec refused a G.723.1 stream");
        return EXIT_OUTPUT;
    }
    unsigned char held[24];
    bool holding = false, held_silence = false;
    std::uint64_t concealed[4] = {}, cut = 0, recoded = 0;
    auto emit = [&](const unsigned char *qrx, bool silence, bool ready) {
        if (holding) {
            const bool use_noise = held_silence && ready;
            if (use_noise) ++recoded;
            if (!write_frame(out, use_noise ? noise.recoded() : held, info.frame_bytes)) return false;
        }
        holding = qrx != nullptr;
        if (holding) {
            std::memcpy(held, qrx, info.frame_bytes);
            held_silence = silence;
        }
        return true;
    };
    // One standard frame of the given kind, its QRX form already in qrx.
    auto put = [&](const unsigned char *standard, std::size_t len, const unsigned char *qrx, int k) {
        const bool silence = is_silence(k);
        if (!o.conceal) return write_frame(out, qrx, info.frame_bytes);
        return emit(qrx, silence, noise.push(standard, len));
    };
    for (std::size_t at = 0; at < leading_bytes.size();) {
        const int used =
            Qrxc_g723_from_standard(leading_bytes.data() + at, leading_bytes.size() - at, type, nullptr, &kind);
        if (used <= 0) break;
        if (!is_silence(kind)) ++concealed[kind];
        if (!put(leading_bytes.data() + at, static_cast<std::size_t>(used), lost, kind)) return EXIT_OUTPUT;
        at += static_cast<std::size_t>(used);
    }
    if (!o.conceal)
        for (std::uint64_t i = 0; i < leading[QRXC_G723_KIND_SID] + leading[QRXC_G723_KIND_UNTRANSMITTED]; ++i)
            if (!write_frame(out, lost, info.frame_bytes)) return EXIT_OUTPUT;
    Progress_line line("importing", !o.quiet && in.sized());
    unsigned char frame[24];
    for (; step != Standard_reader::end; step = in.next()) {
        if (step == Standard_reader::failed) {
            print_error(in.error());
            return in.exit_code();
        }
        line.update(progress_position(in.offset(), in.total()));
        auto where = [&] {
            return shown_input(o.input) + ": frame " + std::to_string(in.frames() - 1) + " at byte " +
                   std::to_string(in.offset());
        };
        if (step == Standard_reader::cut) {
            if (!o.conceal) {
                print_error(where() + " is cut short: " + kind_name(in.kind()) + ", but only " +
                            std::to_string(in.size()) + " bytes remain" + advice);
                return EXIT_FORMAT;
            }
            // A cut last frame is written as lost; the comfort noise before it is complete.
            ++cut;
            if (!emit(lost, false, noise.finish())) return EXIT_OUTPUT;
            holding = true;
            continue;
        }
        if (Qrxc_g723_from_standard(in.data(), in.size(), type, frame, &kind) < 0) {
            print_error("the codec failed");
            return EXIT_OUTPUT;
        }
        if (kind != wanted_kind) {
            if (!o.conceal) {
                print_error(where() + " is " + kind_name(kind) + " in a " + rate_name(type) +
                            " stream; one QRX stream holds frames of one rate only" + advice);
                return EXIT_FORMAT;
            }
            if (!is_silence(kind)) ++concealed[kind];
        }
        if (!put(in.data(), in.size(), frame, kind)) return EXIT_OUTPUT;
    }
    line.finish();
    if (o.conceal && cut == 0 && !emit(nullptr, false, noise.finish())) return EXIT_OUTPUT;
    if (o.conceal && cut > 0 && !emit(nullptr, false, false)) return EXIT_OUTPUT;
    if (!o.conceal) {
        concealed[QRXC_G723_KIND_SID] += leading[QRXC_G723_KIND_SID];
        concealed[QRXC_G723_KIND_UNTRANSMITTED] += leading[QRXC_G723_KIND_UNTRANSMITTED];
    }
    // Silence frames that could not be recoded (none, normally) stay lost frames.
    const std::uint64_t other_rate = concealed[type == QRXC_TYPE_G723_63 ? QRXC_G723_KIND_53 : QRXC_G723_KIND_63];
    const std::uint64_t total =
        other_rate + concealed[QRXC_G723_KIND_SID] + concealed[QRXC_G723_KIND_UNTRANSMITTED] + cut;
    const std::string name = shown_input(o.input);
    if (recoded > 0)
        std::fprintf(stderr,
                     "qrx: %s: %llu of %llu frames were silence (SID or untransmitted), written as speech frames "
                     "that play its comfort noise\n",
                     name.c_str(), static_cast<unsigned long long>(recoded),
                     static_cast<unsigned long long>(in.frames()));
    // What became of such frames is worth saying even under -q, as decode does.
    if (total > 0)
        std::fprintf(stderr,
                     "qrx: %s: wrote %llu of %llu frames as lost frames (%llu of the other rate, %llu SID, "
                     "%llu untransmitted, %llu cut short)\n",
                     name.c_str(), static_cast<unsigned long long>(total), static_cast<unsigned long long>(in.frames()),
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
    cmd->callback([opt] {
        const int rc = run_import(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
