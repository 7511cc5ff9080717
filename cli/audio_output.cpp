#include "cli/audio_output.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/paths.h"

namespace qrxc::cli {
namespace {

struct Format_row {
    Audio_format format;
    const char *name;
    const char *extension;
    int sndfile;   // 0: written here
    double level;  // libsndfile compression level of the lossy ones, variable bit rate
};

constexpr Format_row FORMATS[] = {
    // Speech settings: about 25 to 30 kbit/s for 8 kHz mono.
    {Audio_format::wav, "wav", ".wav", 0, 0},
    {Audio_format::flac, "flac", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0},
    {Audio_format::ogg, "ogg", ".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.5},
    {Audio_format::opus, "opus", ".opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 0.9},
    {Audio_format::mp3, "mp3", ".mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0.5},
    {Audio_format::raw, "raw", ".raw", 0, 0},
};

const Format_row &row(Audio_format f) {
    for (const Format_row &r : FORMATS)
        if (r.format == f) return r;
    return FORMATS[0];
}

}  // namespace

bool parse_audio_format(const std::string &name, Audio_format &format) {
    for (const Format_row &r : FORMATS)
        if (name == r.name) {
            format = r.format;
            return true;
        }
    return false;
}

const char *format_name(Audio_format format) { return row(format).name; }
const char *format_extension(Audio_format format) { return row(format).extension; }

Audio_format format_for_name(const std::string &path, Audio_format fallback) {
    const std::string ext = extension_of(path);
    for (const Format_row &r : FORMATS)
        if (ext == r.extension) return r.format;
    if (ext == ".oga") return Audio_format::ogg;
    if (ext == ".pcm") return Audio_format::raw;
    return fallback;
}

bool known_audio_extension(const std::string &path) {
    // An unknown extension is the only one whose answer is the fallback asked for.
    return std::filesystem::path(path).extension().empty() ||
           format_for_name(path, Audio_format::raw) == format_for_name(path, Audio_format::wav);
}

std::string format_names() {
    std::string names;
    for (const Format_row &r : FORMATS) names += (names.empty() ? "" : ", ") + std::string(r.name);
    return names;
}

// A trial writer on a sink that keeps nothing: sf_format_check passes some
// rates that the encoders refuse only when opened (Opus at 44100 Hz).
std::string rate_fault(Audio_format format, int rate) {
    const Format_row &r = row(format);
    if (r.sndfile == 0) return {};
    struct Sink {
        sf_count_t at = 0, size = 0;
    } sink;
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void *u) { return static_cast<Sink *>(u)->size; };
    io.seek = [](sf_count_t off, int whence, void *u) {
        Sink &k = *static_cast<Sink *>(u);
        k.at = whence == SEEK_SET ? off : whence == SEEK_CUR ? k.at + off : k.size + off;
        return k.at;
    };
    io.read = [](void *, sf_count_t, void *) { return sf_count_t{0}; };
    io.write = [](const void *, sf_count_t n, void *u) {
        Sink &k = *static_cast<Sink *>(u);
        k.at += n;
        k.size = std::max(k.size, k.at);
        return n;
    };
    io.tell = [](void *u) { return static_cast<Sink *>(u)->at; };
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = r.sndfile;
    SNDFILE *trial = sf_format_check(&info) ? sf_open_virtual(&io, SFM_WRITE, &info, &sink) : nullptr;
    if (trial != nullptr) {
        sf_close(trial);
        return {};
    }
    return std::string(r.name) + " output at " + std::to_string(rate) +
           " Hz is not supported by this system's libsndfile";
}

Audio_output::Audio_output() = default;

Audio_output::~Audio_output() {
    if (snd_ != nullptr) sf_close(snd_);
    if (resampler_ != nullptr) soxr_delete(resampler_);
}

bool Audio_output::start(Output_file &file, Audio_format format, int in_rate, int out_rate) {
    file_ = &file;
    format_ = format;
    if (in_rate != out_rate) {
        soxr_error_t err = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;  // dither is random: outputs must not depend on the run
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread: workers run in parallel already
        resampler_ = soxr_create(in_rate, out_rate, 1, &err, &io, &quality, &runtime);
        if (resampler_ == nullptr || err != nullptr) {
            error_ = std::string("cannot resample to ") + std::to_string(out_rate) + " Hz: " + (err ? err : "?");
            return false;
        }
        resampled_.resize(4096);
    }
    const Format_row &r = row(format);
    if (format == Audio_format::wav) {
        wav_.set_format(static_cast<unsigned>(out_rate));
        wav_.set_creation_date(date_);
        if (!wav_.open(file.stream())) {
            error_ = "write failed";
            return false;
        }
        return true;
    }
    if (format == Audio_format::raw) return file.stream() != nullptr;
    if (error_ = rate_fault(format, out_rate); !error_.empty()) return false;
    SF_INFO info{};
    info.samplerate = out_rate;
    info.channels = 1;
    info.format = r.sndfile;
    snd_ = sf_open_fd(file.fd(), SFM_WRITE, &info, 0);
    if (snd_ == nullptr) {
        error_ =
            std::string("cannot write ") + r.name + " at " + std::to_string(out_rate) + " Hz: " + sf_strerror(nullptr);
        return false;
    }
    // Strings go in before the first sample, while the header is still open.
    if (!date_.empty()) sf_set_string(snd_, SF_STR_DATE, date_.c_str());
    if (format != Audio_format::flac) {
        int mode = SF_BITRATE_MODE_VARIABLE;
        double level = r.level;
        sf_command(snd_, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        sf_command(snd_, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }
    return true;
}

bool Audio_output::emit(const short *pcm, std::size_t samples) {
    if (samples == 0) return true;
    if (format_ == Audio_format::wav) {
        if constexpr (std::endian::native != std::endian::little) return false;
        return wav_.write(pcm, samples * sizeof(short));
    }
    if (format_ == Audio_format::raw) return std::fwrite(pcm, sizeof(short), samples, file_->stream()) == samples;
    return sf_write_short(snd_, pcm, static_cast<sf_count_t>(samples)) == static_cast<sf_count_t>(samples);
}

bool Audio_output::write(const short *pcm, std::size_t samples) {
    if (resampler_ == nullptr) return emit(pcm, samples);
    std::size_t used = 0;
    while (used < samples) {
        std::size_t idone = 0, odone = 0;
        if (soxr_process(resampler_, pcm + used, samples - used, &idone, resampled_.data(), resampled_.size(),
                         &odone) != nullptr)
            return false;
        used += idone;
        if (!emit(resampled_.data(), odone)) return false;
        if (idone == 0 && odone == 0) return false;
    }
    return true;
}

bool Audio_output::finish() {
    bool ok = true;
    if (resampler_ != nullptr) {
        for (;;) {
            std::size_t odone = 0;
            if (soxr_process(resampler_, nullptr, 0, nullptr, resampled_.data(), resampled_.size(), &odone) !=
                nullptr) {
                ok = false;
                break;
            }
            if (odone == 0) break;
            if (!emit(resampled_.data(), odone)) {
                ok = false;
                break;
            }
        }
    }
    if (format_ == Audio_format::wav) ok = wav_.close() && ok;
    if (snd_ != nullptr) {
        ok = sf_close(snd_) == 0 && ok;
        snd_ = nullptr;
    }
    if (!ok) error_ = "write failed";
    return ok;
}

}  // namespace qrxc::cli
