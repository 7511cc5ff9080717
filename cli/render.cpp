#include "cli/render.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/qrx_reader.h"
#include "conversion/output_file.h"
#include "qrxc.h"

namespace qrxc::cli {
namespace {

// The speed control's texts go to standard error, never among audio on stdout.
extern "C" void diagnostics_to_stderr(void *, const char *text) { std::fprintf(stderr, "%s", text); }
extern "C" void diagnostics_dropped(void *, const char *) {}

// At most how many samples the stream plays to: the speed level sets the
// output per frame (level 12 doubles it), plus the samples the control holds.
std::uint64_t played_samples(std::uint64_t frames, int pcm_frame, int flags) {
    const std::uint64_t per_frame = static_cast<std::uint64_t>(pcm_frame);
    if (flags < 0) return frames * per_frame;
    const int level = (flags & QRMD_EFFECT_MODE) != 0                  ? QRMD_NORMAL_LEVEL
                      : (flags & QRMD_LEVEL_MASK) >= QRMD_SPEED_LEVELS ? QRMD_SPEED_LEVELS - 1
                                                                       : flags & QRMD_LEVEL_MASK;
    // Level 4 + k plays (8 + 2k) / 8 of the input; the control holds at most 360 samples back.
    return (frames + 2) * per_frame * static_cast<std::uint64_t>(QRMD_NORMAL_LEVEL + level) / 8 + 360;
}

}  // namespace

Audio_format output_format(const Render_settings &s, const std::string &output) {
    if (s.format_given) return s.format;
    return output == "-" ? Audio_format::wav : format_for_name(output, Audio_format::wav);
}

std::string render_options_fault(const Render_settings &s, const Batch_options &batch, bool force_format) {
    const std::string &output = batch.output;
    const bool is_input = std::any_of(batch.inputs.begin(), batch.inputs.end(),
                                      [&](const std::string &in) { return same_file(in, output); });
    if (!output.empty() && output != "-" && !written_through(output) && !force_format && !is_input) {
        const std::string ext = std::filesystem::path(output).extension().string();
        if (!known_audio_extension(output)) return msg::unknown_extension(output, ext, format_names());
        if (s.format_given && !ext.empty() && format_for_name(output, s.format) != s.format)
            return msg::extension_contradicts(output, format_name(s.format));
    }
    if (s.rate > 0) return rate_fault(s.format_given ? s.format : output_format(s, output), s.rate);
    return {};
}

void add_force_format_flag(CLI::App &cmd, bool &force) {
    cmd.add_flag("--force-format", force, "Write --format even when the -o name's extension says otherwise");
}

void add_tag_date_flag(CLI::App &cmd, bool &tag_date) {
    cmd.add_flag("--tag-date", tag_date,
                 "Write the input's modification time as the output's date tag (FLAC, Ogg, Opus, MP3; a LIST/INFO "
                 "ICRD chunk in WAV)");
}

Task_result render_file(const Task &task, Qrxc_context *ctx, const Render_settings &s) {
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
    Qrx_reader reader;
    switch (reader.open(in, ctx)) {
    case Qrx_reader::ok: break;
    case Qrx_reader::unreadable: return failed(EXIT_SOURCE, msg::cannot_read_input(task.input, 0));
    case Qrx_reader::too_short: return failed(EXIT_FORMAT, msg::too_short(task.input));
    case Qrx_reader::rejected: return failed(EXIT_FORMAT, msg::bad_header(task.input, reader.header_code()));
    }
    const G_header &h = reader.header();
    const int in_rate = static_cast<int>(h.sample_rate);
    const int out_rate = s.rate > 0 ? s.rate : in_rate;
    const Audio_format format = output_format(s, task.output);
    if (s.speed_flags >= 0) {
        Qrxc_set_diagnostics(ctx, task.quiet ? diagnostics_dropped : diagnostics_to_stderr, nullptr);
        if (Qrmd_initial_ctx(ctx, s.speed_flags) != 0) return failed(EXIT_FORMAT, "bad speed flags");
    }
    if (format == Audio_format::wav && in.sized()) {
        const std::uint64_t samples = played_samples(reader.frames_expected(), h.pcm_frame, s.speed_flags) *
                                      static_cast<std::uint64_t>(out_rate) / static_cast<std::uint64_t>(in_rate);
        if (samples > WAV_MAX_SAMPLES)
            return failed(EXIT_OUTPUT, in_name + ": plays to about " + std::to_string(samples * 2) +
                                           " bytes of PCM, more than a WAV file can hold (4 GiB)");
    }

    Output_file file;
    if (!file.open(task.output)) return failed(EXIT_OUTPUT, msg::cannot_create_output(task.output, file.error()));
    file.keep_times_of(task.input);
    Audio_output out;
    if (s.tag_date) out.set_date_tag(modification_time_utc(in.get()));
    if (!out.start(file, format, in_rate, out_rate))
        return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, out.error()));

    const std::size_t n = h.pcm_frame;
    std::vector<unsigned char> coded(h.frame_bytes);
    std::vector<short> pcm(n), played(2 * n);
    Progress_line line(s.speed_flags >= 0 ? "playing" : "decoding", task.single && !task.quiet);
    auto emit = [&]() {
        if (s.speed_flags < 0) return out.write(pcm.data(), n);
        if (Qrmd_frame_ctx(ctx, s.speed_flags, pcm.data(), played.data()) != 0) return false;
        const int count = Qrmd_last_count_ctx(ctx);
        return count >= 0 && out.write(played.data(), static_cast<std::size_t>(count));
    };
    int got = 0;
    while ((got = reader.next(coded.data())) == 1) {
        if (Qrxc_frame_ctx(ctx, pcm.data(), coded.data()) != 0) return failed(EXIT_FORMAT, in_name + ": cannot decode");
        errno = 0;
        if (!emit()) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
        if (reader.frames_expected() > 0)
            line.update(static_cast<int>(reader.frames_read() * 100 / reader.frames_expected()));
    }
    if (got < 0) return failed(EXIT_SOURCE, msg::input_shrank(task.input));
    if (s.speed_flags >= 0) {
        // The speed control holds up to a period more than a frame back;
        // two frames of silence bring the end of the speech out.
        std::fill(pcm.begin(), pcm.end(), short{0});
        errno = 0;
        for (int i = 0; i < 2; ++i)
            if (!emit()) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
    }
    line.finish();
    errno = 0;
    if (!out.finish()) return failed(EXIT_OUTPUT, msg::cannot_write_output(task.output, errno_text()));
    if (!file.commit(task.replace))
        return failed(EXIT_OUTPUT, file.error_number() == EEXIST ? msg::output_exists(task.output)
                                                                 : msg::cannot_write_output(task.output, file.error()));
    r.seconds = static_cast<double>(reader.frames_read()) * h.pcm_frame / in_rate;
    return r;
}

}  // namespace qrxc::cli
