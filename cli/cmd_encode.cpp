// qrx encode: audio files (any rate, any channels) to QRX streams.
#include <sndfile.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/audio_input.h"
#include "cli/batch.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/declared_length.h"
#include "cli/messages.h"
#include "cli/standard_names.h"
#include "cli/standard_reader.h"
#include "conversion/output_file.h"
#include "qrxc.h"

namespace qrxc::cli {

namespace {

struct Encode_options {
    Batch_options batch;
    int type = 1;
    int rate = 0;  // 0: the input's rate when a stream can carry it, else 8000
    bool short_header = false;
    bool strict = false;
    std::string output_format = "qrx";
    bool vad = false;       // silence as SID and untransmitted frames
    std::string rate_file;  // one byte a frame: 0 = 6.3, 1 = 5.3 kbit/s
    std::vector<unsigned char> rates;
};

// Reads a rate file: one byte a frame, 0 or 1.
bool read_rate_file(const std::string &path, std::vector<unsigned char> &rates, std::string &error) {
    Input_fd in;
    if (!in.open(path)) {
        error = in.error_message(path);
        return false;
    }
    rates.clear();
    unsigned char buf[4096];
    for (;;) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = msg::cannot_read_input(path, errno);
            return false;
        }
        if (n == 0) break;
        rates.insert(rates.end(), buf, buf + n);
        // No stream can have more frames than a decode may write.
        if (rates.size() > STANDARD_MAX_FRAMES) {
            error = shown_input(path) + ": holds more frame rates than a stream can have frames";
            return false;
        }
    }
    if (rates.empty()) {
        error = shown_input(path) + ": holds no frame rates";
        return false;
    }
    for (std::size_t i = 0; i < rates.size(); ++i)
        if (rates[i] > 1) {
            error = shown_input(path) + ": byte " + std::to_string(i) + " is " + std::to_string(rates[i]) +
                    "; a rate file holds 0 (6.3 kbit/s) or 1 (5.3 kbit/s) for each frame";
            return false;
        }
    return true;
}

struct Sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};

// The extensions of the formats this system's libsndfile reads.
bool is_audio_file(const std::string &path) {
    static const std::set<std::string> known = [] {
        std::set<std::string> exts = {"wav", "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "au", "caf", "w64"};
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO fi{};
            fi.format = i;
            if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &fi, sizeof fi) == 0 && fi.extension != nullptr)
                exts.insert(fi.extension);
        }
        exts.erase("raw");  // headerless: nothing says how to read it
        return exts;
    }();
    const std::string ext = extension_of(path);
    return ext.size() >= 2 && known.contains(ext.substr(1));
}

std::atomic<bool> conversion_noted{false};

Task_result encode_file(const Task &task, Qrxc_context *ctx, const Encode_options &o) {
    Task_result r;
    auto failed = [&](int code, const std::string &text) {
        r.code = code;
        r.error = text;
        return r;
    };
    const std::string in_name = shown_input(task.input);
    const std::string out_name = shown_output(task.output);
    Input_fd in;
    if (!in.open(task.input)) return failed(EXIT_SOURCE, in.error_message(task.input));
    SF_INFO info{};
    std::unique_ptr<SNDFILE, Sndfile_closer> snd(sf_open_fd(in.get(), SFM_READ, &info, 0));
    if (!snd) return failed(EXIT_SOURCE, in_name + ": not audio this tool can read: " + sf_strerror(nullptr));
    // A cut recording: libsndfile reads what is there, which is worth
    // saying, or under --strict refusing.
    if (const std::int64_t promised = declared_frames(in.get(), in.start(), info); promised > info.frames) {
        const std::string counts = in_name + ": the header promises " + std::to_string(promised) +
                                   " samples, the file holds " + std::to_string(info.frames);
        if (o.strict) return failed(EXIT_FORMAT, counts + " (--strict)");
        std::fprintf(stderr, "qrx: %s; encoding those\n", counts.c_str());
    }
    const int rate = o.rate != 0 ? o.rate : is_stream_rate(info.samplerate) ? info.samplerate : QRXC_G723_SAMPLE_RATE;
    Audio_input audio;
    if (!audio.start(snd.get(), info, rate)) return failed(EXIT_FORMAT, in_name + ": " + audio.error());
    if (audio.converted() && !task.quiet && !conversion_noted.exchange(true))
        std::fprintf(stderr, "qrx: %s: %d Hz, %d channel%s; converted to mono at %d Hz\n", in_name.c_str(),
                     info.samplerate, info.channels, info.channels == 1 ? "" : "s", rate);

    const bool standard = o.output_format == "g723";
    // Standard streams are 8000 Hz by definition.
    if (standard && rate != QRXC_G723_SAMPLE_RATE)
        return failed(EXIT_FORMAT, in_name + " would be coded at " + std::to_string(rate) +
                                       " Hz; standard G.723.1 streams are 8000 Hz (give --rate 8000)");
    Qrxc_version_ctx(ctx, o.short_header ? 0 : 1);
    G_header hdr{};
    unsigned char hdr_bytes[QRXC_HEADER_MAX];
    const int hlen = Qrxc_initial_ctx(ctx, QRXC_ENCODE, rate, o.type, &hdr, hdr_bytes);
    if (hlen < 0)
        return failed(EXIT_FORMAT, "the codec refused type " + std::to_string(o.type) + " at " + std::to_string(rate) +
                                       " Hz: " + Qrxc_strerror(hlen));

    Output_file out;
    if (!out.open(task.output)) return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, out.error()));
    out.keep_times_of(task.input);
    std::FILE *f = out.stream();
    auto write_all = [&](const void *p, std::size_t n) {
        errno = 0;
        return f != nullptr && std::fwrite(p, 1, n, f) == n;
    };
    auto write_failed = [&] { return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text())); };
    if (!standard && !write_all(hdr_bytes, static_cast<std::size_t>(hlen))) return write_failed();
    const int pcm_frame = hdr.pcm_frame;
    const auto frame_bytes = static_cast<std::size_t>(hdr.frame_bytes);
    std::vector<short> pcm(QRXC_MAX_PCM_FRAME);
    std::vector<unsigned char> data(QRXC_MAX_FRAME_BYTES);
    std::uint64_t samples = 0;
    Progress_line line("encoding", task.single && !task.quiet);
    // Silence compression and rate switching take the frame-by-frame standard encoder.
    const bool dtx = standard && (o.vad || !o.rates.empty());
    std::size_t frame = 0;
    for (;;) {
        const long got = audio.read(pcm.data(), pcm_frame);
        if (got < 0) return failed(EXIT_SOURCE, in_name + ": cannot read input: " + audio.error());
        if (got == 0) break;
        samples += static_cast<std::uint64_t>(got);
        // A final partial frame is completed with silence.
        std::fill(pcm.begin() + got, pcm.begin() + pcm_frame, short{0});
        if (dtx) {
            // Past the rate file's end the last rate holds.
            const std::size_t k = std::min<std::size_t>(frame, o.rates.empty() ? 0 : o.rates.size() - 1);
            const int kind = o.rates.empty() ? (o.type == 2 ? QRXC_G723_KIND_63 : QRXC_G723_KIND_53) : o.rates[k];
            unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
            const int n = Qrxc_encode_standard_ctx(ctx, pcm.data(), kind, o.vad ? QRXC_G723_VAD : 0, bits);
            if (n < 0) return failed(EXIT_OUTPUT, "the codec failed");
            if (!write_all(bits, static_cast<std::size_t>(n))) return write_failed();
            ++frame;
        } else if (Qrxc_frame_ctx(ctx, pcm.data(), data.data()) < 0) {
            return failed(EXIT_OUTPUT, "the codec failed");
        } else if (standard) {
            unsigned char bits[QRXC_G723_STANDARD_MAX_BYTES];
            const int n = Qrxc_g723_to_standard(data.data(), o.type, bits);
            if (n < 0) return failed(EXIT_OUTPUT, "the codec failed");
            if (!write_all(bits, static_cast<std::size_t>(n))) return write_failed();
        } else if (!write_all(data.data(), frame_bytes)) {
            return write_failed();
        }
        if (const int percent = audio.percent_read(); percent >= 0) line.update(percent);
        if (got < pcm_frame) break;
    }
    line.finish();
    if (!out.commit(task.replace))
        return failed(EXIT_OUTPUT, out.error_number() == EEXIST ? msg::output_exists(task.output)
                                                                : msg::cannot_write_output(task.output, out.error()));
    r.seconds = static_cast<double>(samples) / rate;
    return r;
}

}  // namespace

void add_encode_command(CLI::App &app) {
    auto opts = std::make_shared<Encode_options>();
    CLI::App *cmd = app.add_subcommand("encode", "Encode audio files (any rate and channel count) into QRX streams");
    add_batch_options(*cmd, opts->batch, "audio files or directories ('-' reads standard input)", true);
    cmd->add_option("-t,--type", opts->type,
                    "stream type: 0 (5.3 kbit/s, 320 samples), 1 (5.3 kbit/s), 2 (6.3 kbit/s), "
                    "4, 5, 6 (ADPCM 3, 4, 5 bits)")
        ->required()
        ->check(CLI::IsMember(stream_types()));
    cmd->add_option("--rate", opts->rate,
                    "stream sample rate: 8000, 12000 or 16000 (default: the input's rate if one of these, else 8000); "
                    "the input is resampled to it")
        ->check(CLI::IsMember({8000, 12000, 16000}));
    cmd->add_flag("--short-header", opts->short_header, "write the 4-byte header form");
    cmd->add_flag("--strict", opts->strict,
                  "fail on a WAV or AIFF file that holds fewer samples than its header says, instead of warning");
    cmd->add_option("--output-format", opts->output_format,
                    "qrx, or g723 for a standard G.723.1 stream (types 1 and 2, 8000 Hz; default name .g723)")
        ->check(CLI::IsMember({"qrx", "g723"}));
    cmd->add_flag("--vad", opts->vad,
                  "with --output-format g723: code silence as SID frames and untransmitted frames "
                  "(voice activity detection, discontinuous transmission)");
    cmd->add_option("--rate-file", opts->rate_file,
                    "with --output-format g723: one byte a frame, 0 for 6.3 and 1 for 5.3 kbit/s (the last rate "
                    "holds past its end)");
    cmd->callback([opts]() {
        // Known before any file is read, so said once.
        if (opts->output_format == "g723" && opts->type != 1 && opts->type != 2) {
            print_error("--output-format g723 needs type 1 (5.3 kbit/s) or 2 (6.3 kbit/s)");
            throw CLI::RuntimeError(EXIT_FORMAT);
        }
        if (opts->output_format == "g723" && opts->rate != 0 && opts->rate != 8000) {
            print_error("standard G.723.1 streams are 8000 Hz; --rate " + std::to_string(opts->rate) +
                        " cannot be one");
            throw CLI::RuntimeError(EXIT_FORMAT);
        }
        if ((opts->vad || !opts->rate_file.empty()) && opts->output_format != "g723") {
            print_error("--vad and --rate-file need --output-format g723");
            throw CLI::RuntimeError(EXIT_FORMAT);
        }
        if (!opts->rate_file.empty()) {
            std::string error;
            if (!read_rate_file(opts->rate_file, opts->rates, error)) {
                print_error(error);
                throw CLI::RuntimeError(EXIT_SOURCE);
            }
        }
        Batch_kind kind;
        kind.picks = is_audio_file;
        const Encode_options o = *opts;
        kind.default_output = [o](const std::string &in) {
            return with_extension(in, o.output_format == "g723" ? ".g723" : ".QRX");
        };
        kind.convert = [o](const Task &t, Qrxc_context *ctx) { return encode_file(t, ctx, o); };
        const int rc = run_batch(opts->batch, kind);
        if (rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrxc::cli
