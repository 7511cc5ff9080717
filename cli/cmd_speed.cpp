// qrx speed: decode QRX files and play them through the speed control or
// the voice effects into audio files at the stream's rate (or --rate).
// The speed control's diagnostics go to standard error, so -o - works.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/batch.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/render.h"
#include "conversion/conversion_job.h"
#include "qrxc.h"

namespace qrxc::cli {
namespace {

struct Speed_options {
    Batch_options batch;
    std::string format;
    int rate = 0;
    bool tag_date = false;
    int level = -1;
    std::string effect;  // numeric code, decimal or 0x-hex
    int pitch = 0;
    bool vibrato = false;
    std::string echo;  // "short" or "long"
    bool force_format = false;
};

// Parses "29", "0x1D" or "035" as an effect code 0..31.
bool parse_effect_code(const std::string &text, int &code) {
    if (text.empty()) return false;
    try {
        std::size_t used = 0;
        const long v = std::stol(text, &used, 0);
        if (used != text.size() || v < 0 || v > QRMD_EFFECT_MASK) return false;
        code = static_cast<int>(v);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// The Qrmd flags the options ask for, or -1 with a message on stderr.
int flags_for(const Speed_options &opt) {
    const bool named = opt.pitch != 0 || opt.vibrato || !opt.echo.empty();
    const bool coded = !opt.effect.empty();
    if ((opt.level >= 0) + (named || coded) != 1 || (named && coded)) {
        print_error("give exactly one of --level, --effect, or the named effects (--pitch, --vibrato, --echo)");
        return -1;
    }
    if (opt.level >= 0) return opt.level;
    int code = 0;
    if (coded) {
        if (!parse_effect_code(opt.effect, code)) {
            print_error("--effect takes a code from 0 to 31 (0x1D and the like work too)");
            return -1;
        }
        return QRMD_EFFECT_MODE | code;
    }
    if (opt.vibrato && !opt.echo.empty()) {
        print_error("--vibrato and --echo cannot be combined: an effect frame runs one of them");
        return -1;
    }
    code = QRMD_PITCH(opt.pitch);
    if (opt.vibrato) code |= QRMD_VIBRATO;
    if (opt.echo == "short") code |= QRMD_ECHO_SHORT;
    if (opt.echo == "long") code |= QRMD_ECHO_LONG;
    return QRMD_EFFECT_MODE | code;
}

// NAME.level8.wav, NAME.effect29.wav: never the name qrx decode gives.
std::string speed_output_for(const std::string &input, int flags, const Render_settings &s) {
    const std::string tag = (flags & QRMD_EFFECT_MODE) != 0 ? ".effect" + std::to_string(flags & QRMD_EFFECT_MASK)
                                                            : ".level" + std::to_string(flags);
    return beside_qrx(input, tag, format_extension(s.format_given ? s.format : Audio_format::wav));
}

}  // namespace

void add_speed_command(CLI::App &app) {
    auto opt = std::make_shared<Speed_options>();
    CLI::App *cmd = app.add_subcommand(
        "speed", "Decode QRX files at another speed (--level) or with voice effects into audio files");
    add_batch_options(*cmd, opt->batch, "QRX files or directories ('-' reads standard input)", true);
    cmd->add_option("--level", opt->level, "Speed level: 0 twice as fast, 4 normal, 12 half speed")
        ->check(CLI::Range(0, 12));
    cmd->add_option("--effect", opt->effect,
                    "Effect code 0..31: pitch setting in bits 2-4, then 1 vibrato, 2 short echo, 3 long echo");
    cmd->add_option("--pitch", opt->pitch, "Pitch shift: 1..3 lower, 4..7 higher")->check(CLI::Range(1, 7));
    cmd->add_flag("--vibrato", opt->vibrato, "Vibrato");
    cmd->add_option("--echo", opt->echo, "Echo: short (160 samples later) or long (504 samples later)")
        ->check(CLI::IsMember({"short", "long"}));
    cmd->add_option("--format", opt->format,
                    "Output format: wav, flac, ogg, opus, mp3 or raw; default from the -o name, else wav")
        ->check(CLI::IsMember({"wav", "flac", "ogg", "opus", "mp3", "raw"}));
    cmd->add_option("--rate", opt->rate, "Output sample rate in Hz (resampled); default: the stream's rate")
        ->check(CLI::Range(1000, 384000));
    add_force_format_flag(*cmd, opt->force_format);
    add_tag_date_flag(*cmd, opt->tag_date);
    cmd->callback([opt] {
        const int flags = flags_for(*opt);
        if (flags < 0) throw CLI::RuntimeError(EXIT_FORMAT);
        Render_settings s;
        s.speed_flags = flags;
        s.format_given = !opt->format.empty();
        if (s.format_given) parse_audio_format(opt->format, s.format);
        s.rate = opt->rate;
        s.tag_date = opt->tag_date;
        if (const std::string fault = render_options_fault(s, opt->batch, opt->force_format); !fault.empty()) {
            print_error(fault);
            throw CLI::RuntimeError(EXIT_FORMAT);
        }
        Batch_kind kind;
        kind.picks = has_qrx_extension;
        kind.default_output = [flags, s](const std::string &in) { return speed_output_for(in, flags, s); };
        kind.convert = [s](const Task &t, Qrxc_context *ctx) { return render_file(t, ctx, s); };
        const int rc = run_batch(opt->batch, kind);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
