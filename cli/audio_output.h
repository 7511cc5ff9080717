// Decoded speech into an audio file: the converter's own WAV, headerless
// s16le, or FLAC, Ogg Vorbis, Opus and MP3 through libsndfile, optionally
// resampled with libsoxr on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "conversion/output_file.h"
#include "conversion/wav_writer.h"

typedef struct sf_private_tag SNDFILE;
struct soxr;

namespace qrxc::cli {

enum class Audio_format { wav, flac, ogg, opus, mp3, raw };

// "wav", "flac", ... (false if unknown).
bool parse_audio_format(const std::string &name, Audio_format &format);
const char *format_name(Audio_format format);
const char *format_extension(Audio_format format);  // ".wav", ".flac", ...
// The format an output name's extension asks for, or fallback.
Audio_format format_for_name(const std::string &path, Audio_format fallback);
// True when the name's extension is one of the formats' (or it has none).
bool known_audio_extension(const std::string &path);
// "wav, flac, ogg, opus, mp3, raw": for messages.
std::string format_names();
// "" when format can be written at rate, else why not.
std::string rate_fault(Audio_format format, int rate);

// Mono 16-bit PCM at in_rate, resampled to out_rate (out_rate == in_rate:
// untouched, sample for sample).
class Audio_output {
public:
    Audio_output();
    ~Audio_output();
    Audio_output(const Audio_output &) = delete;
    Audio_output &operator=(const Audio_output &) = delete;

    // A date tag (ISO 8601) for the file; set before start(). FLAC, Ogg and
    // Opus get a DATE comment, MP3 its year, WAV a LIST/INFO ICRD chunk after
    // the data; raw PCM has nowhere to keep it.
    void set_date_tag(std::string date) { date_ = std::move(date); }
    // Starts writing into file (open already); false with error().
    bool start(Output_file &file, Audio_format format, int in_rate, int out_rate);
    bool write(const short *pcm, std::size_t samples);
    // Flushes the resampler and finishes the file's header; the caller
    // then commits the Output_file.
    bool finish();
    const std::string &error() const { return error_; }

private:
    bool emit(const short *pcm, std::size_t samples);

    Audio_format format_ = Audio_format::wav;
    Output_file *file_ = nullptr;
    Wav_writer wav_;
    SNDFILE *snd_ = nullptr;
    soxr *resampler_ = nullptr;
    std::vector<short> resampled_;
    std::string date_;
    std::string error_;
};

// The most samples a converter WAV can hold.
inline constexpr std::uint64_t WAV_MAX_SAMPLES = WAV_MAX_DATA_BYTES / 2;

}  // namespace qrxc::cli
