// qrx speed: decode a QRX file and play it through the speed control or
// the voice effects into a WAV file at the stream's rate.
//
// The speed control prints its diagnostics on standard output, so audio
// never goes there: the output is always a file, written under a temporary
// name and renamed once complete.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "convertor/core/conversion_job.h"
#include "convertor/core/wav_writer.h"
#include "qrxc.h"

namespace qrx::cli {
namespace {

struct Speed_options {
    std::string input;
    std::string output;
    int level = -1;
    std::string effect;   // numeric code, decimal or 0x-hex
    int pitch = 0;
    bool vibrato = false;
    std::string echo;     // "short" or "long"
};

constexpr int EFFECT_MODE = 0x80;

// Parses "29", "0x1D" or "035" as an effect code 0..31.
bool parse_effect_code(const std::string &text, int &code) {
    if (text.empty()) return false;
    try {
        std::size_t used = 0;
        const long v = std::stol(text, &used, 0);
        if (used != text.size() || v < 0 || v > 31) return false;
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
        return EFFECT_MODE | code;
    }
    if (opt.vibrato && !opt.echo.empty()) {
        print_error("--vibrato and --echo cannot be combined: an effect frame runs one of them");
        return -1;
    }
    code = opt.pitch << 2;
    if (opt.vibrato) code |= 1;
    if (opt.echo == "short") code |= 2;
    if (opt.echo == "long") code |= 3;
    return EFFECT_MODE | code;
}

class Source {
public:
    explicit Source(const std::string &path) : f_(std::fopen(path.c_str(), "rb")) {}
    ~Source() {
        if (f_ != nullptr) std::fclose(f_);
    }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;
    std::FILE *get() const { return f_; }

private:
    std::FILE *f_;
};

struct Context_deleter {
    void operator()(Qrxc_context *ctx) const { Qrxc_destroy(ctx); }
};

int run_speed(const Speed_options &opt) {
    if (stdin_refused(opt.input)) return EXIT_SOURCE;
    const int flags = flags_for(opt);
    if (flags < 0) return EXIT_FORMAT;
    if (opt.output == "-") {
        print_error("the speed control reports on standard output; give a file name with -o");
        return EXIT_OUTPUT;
    }
    const std::string output = opt.output.empty() ? output_path_for(opt.input) : opt.output;
    if (same_file(opt.input, output)) {
        print_error(output + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }

    Source src(opt.input);
    if (src.get() == nullptr) {
        print_error(opt.input + ": cannot open");
        return EXIT_SOURCE;
    }
    // A short header is followed by frame data: pad what was read so that
    // the header parser never sees bytes the file does not have.
    unsigned char head[16] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, src.get());
    if (std::ferror(src.get()) != 0) {  // e.g. a directory
        print_error(opt.input + ": cannot read");
        return EXIT_SOURCE;
    }
    std::unique_ptr<Qrxc_context, Context_deleter> ctx(Qrxc_create());
    if (!ctx) {
        print_error("out of memory");
        return EXIT_OUTPUT;
    }
    G_header header{};
    const int header_len = got >= 4 ? Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &header, head) : -1;
    if (header_len < 0 || static_cast<std::size_t>(header_len) > got) {
        print_error(opt.input + ": not a QRX stream this tool can decode");
        return EXIT_FORMAT;
    }
    if (std::fseek(src.get(), header_len, SEEK_SET) != 0) {
        print_error(opt.input + ": cannot read");
        return EXIT_SOURCE;
    }
    if (Qrmd_initial_ctx(ctx.get(), flags) != 0) {
        print_error("bad speed flags");
        return EXIT_FORMAT;
    }

    // A device or pipe gets the finished file copied in, never replaced.
    const bool through = is_stream_target(output);
    std::optional<Temp_dir> temp_dir;
    if (through) {
        temp_dir.emplace();
        if (temp_dir->path().empty()) {
            print_error("cannot create a temporary directory");
            return EXIT_OUTPUT;
        }
    }
    const std::string temp = through ? temp_dir->path() + "/speed.wav" : output + ".part-" + std::to_string(::getpid());
    const Interrupt_guard interrupts;
    Wav_writer wav;
    wav.set_format(header.sample_rate);
    if (!wav.open(temp)) {
        print_error(output + ": cannot create");
        return EXIT_OUTPUT;
    }
    auto fail = [&](const std::string &text, int code) {
        wav.abandon();
        std::remove(temp.c_str());
        print_error(text);
        return code;
    };

    const std::size_t frame_samples = header.pcm_frame;
    std::vector<unsigned char> coded(header.frame_bytes);
    std::vector<short> pcm(frame_samples), out(2 * frame_samples);
    auto play = [&]() {
        if (Qrmd_frame_ctx(ctx.get(), flags, pcm.data(), out.data()) != 0) return false;
        const int n = Qrmd_last_count_ctx(ctx.get());
        return n >= 0 && wav.write(out.data(), static_cast<std::size_t>(n) * sizeof(short));
    };
    while (!Interrupt_guard::raised() && std::fread(coded.data(), 1, coded.size(), src.get()) == coded.size()) {
        if (Qrxc_frame_ctx(ctx.get(), pcm.data(), coded.data()) != 0)
            return fail(opt.input + ": cannot decode", EXIT_FORMAT);
        if (!play()) return fail(output + ": write failed", EXIT_OUTPUT);
    }
    if (Interrupt_guard::raised()) return fail("interrupted; no output written", EXIT_CANCELLED);
    if (std::ferror(src.get()) != 0) return fail(opt.input + ": read failed", EXIT_SOURCE);
    // The speed control holds up to a period more than 240 samples back;
    // two frames of silence bring the end of the speech out.
    std::fill(pcm.begin(), pcm.end(), short{0});
    for (int i = 0; i < 2; ++i)
        if (!play()) return fail(output + ": write failed", EXIT_OUTPUT);
    if (!wav.close()) return fail(output + ": write failed", EXIT_OUTPUT);
    if (through) {
        if (!deliver(temp, output)) {
            print_error(output + ": write failed");
            return EXIT_OUTPUT;
        }
        return EXIT_OK;
    }
    if (std::rename(temp.c_str(), output.c_str()) != 0) {
        std::remove(temp.c_str());
        print_error(output + ": cannot replace");
        return EXIT_OUTPUT;
    }
    return EXIT_OK;
}

}  // namespace

void add_speed_command(CLI::App &app) {
    auto opt = std::make_shared<Speed_options>();
    CLI::App *cmd = app.add_subcommand(
        "speed", "Decode a QRX file at another speed (--level) or with voice effects into a WAV file");
    cmd->add_option("file", opt->input, "QRX file to play")->required();
    cmd->add_option("-o,--output", opt->output, "WAV file to write; default: the input name with .wav");
    cmd->add_option("--level", opt->level, "Speed level: 0 twice as fast, 4 normal, 12 half speed")
        ->check(CLI::Range(0, 12));
    cmd->add_option("--effect", opt->effect,
                    "Effect code 0..31: pitch setting in bits 2-4, then 1 vibrato, 2 short echo, 3 long echo");
    cmd->add_option("--pitch", opt->pitch, "Pitch shift: 1..3 lower, 4..7 higher")->check(CLI::Range(1, 7));
    cmd->add_flag("--vibrato", opt->vibrato, "Vibrato");
    cmd->add_option("--echo", opt->echo, "Echo: short (160 samples later) or long (504 samples later)")
        ->check(CLI::IsMember({"short", "long"}));
    cmd->callback([opt] {
        const int rc = run_speed(*opt);
        if (rc != EXIT_OK) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
