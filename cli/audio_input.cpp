#include "cli/audio_input.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace qrxc::cli {
namespace {

constexpr sf_count_t BLOCK_FRAMES = 4096;

short to_pcm16(double v) {
    const double s = v * 32768.0;
    if (s >= 32767.0) return 32767;
    if (s <= -32768.0) return -32768;
    return static_cast<short>(std::lrint(s));
}

// A sample on the 16-bit scale's rails at most, so an infinity or a huge
// value neither overflows the mix nor reaches the resampler, whose filter
// would spread it (or an Inf - Inf) into NaN.
double to_full_scale(double v) { return std::clamp(v, -1.0, 32767.0 / 32768.0); }

}  // namespace

Audio_input::~Audio_input() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
}

bool Audio_input::start(SNDFILE *file, const SF_INFO &info, int target_rate) {
    file_ = file;
    channels_ = info.channels;
    if (file == nullptr || channels_ < 1 || channels_ > 1024 || info.samplerate < 1) {
        error_ = "not audio this tool can read";
        return false;
    }
    // Files report their length; a pipe cannot (libsndfile then says SF_COUNT_MAX or 0).
    expected_frames_ = info.frames > 0 && info.frames < SF_COUNT_MAX && (info.seekable != 0) ? info.frames : 0;
    if (info.samplerate != target_rate) {
        soxr_error_t err = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        resampler_ = soxr_create(info.samplerate, target_rate, 1, &err, &io, &quality, &runtime);
        if (resampler_ == nullptr || err != nullptr) {
            error_ = std::string("cannot resample: ") + (err != nullptr ? err : "?");
            return false;
        }
    }
    direct_ = channels_ == 1 && resampler_ == nullptr && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    block_.resize(static_cast<std::size_t>(BLOCK_FRAMES * channels_));
    mono_.resize(BLOCK_FRAMES);
    resampled_.resize(static_cast<std::size_t>(BLOCK_FRAMES) * 8);
    return true;
}

// Reads one block, checks and mixes it down, resamples, and appends the
// 16-bit result to pending_. False on error or when nothing more comes.
bool Audio_input::fill() {
    if (input_done_ && (resampler_ == nullptr || flushed_)) return false;
    std::size_t mono_count = 0;
    if (!input_done_) {
        // 16-bit mono at the stream's rate goes straight through: the mix,
        // the clip and the rounding would each give back the same sample.
        const std::size_t at = pending_.size();
        if (direct_) pending_.resize(at + BLOCK_FRAMES);
        const sf_count_t got = direct_ ? sf_readf_short(file_, pending_.data() + at, BLOCK_FRAMES)
                                       : sf_readf_double(file_, block_.data(), BLOCK_FRAMES);
        if (direct_) pending_.resize(at + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
        if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
            error_ = std::string("read failed: ") + sf_strerror(file_);
            return false;
        }
        for (sf_count_t f = 0; !direct_ && f < got; ++f) {
            double sum = 0;
            for (int c = 0; c < channels_; ++c) {
                const double v = block_[static_cast<std::size_t>(f * channels_ + c)];
                if (std::isnan(v)) {
                    error_ = "sample " + std::to_string(frames_read_ + f) +
                             (channels_ > 1 ? " (channel " + std::to_string(c + 1) + ")" : std::string()) +
                             " is not a number (NaN)";
                    return false;
                }
                sum += to_full_scale(v);
            }
            mono_[static_cast<std::size_t>(f)] = static_cast<float>(sum / channels_);
            if (resampler_ == nullptr) pending_.push_back(to_pcm16(sum / channels_));
        }
        frames_read_ += got;
        mono_count = static_cast<std::size_t>(got);
        if (got < BLOCK_FRAMES) {
            input_done_ = true;
            if (expected_frames_ > 0 && frames_read_ < expected_frames_) {
                error_ = "read failed: the file ended after " + std::to_string(frames_read_) + " of " +
                         std::to_string(expected_frames_) + " samples (did it shrink?)";
                return false;
            }
        }
    }
    if (resampler_ != nullptr) {
        // With no input left, soxr is drained until it has nothing more.
        std::size_t used = 0;
        do {
            std::size_t idone = 0, odone = 0;
            const float *in = input_done_ && mono_count == 0 ? nullptr : mono_.data() + used;
            if (soxr_process(resampler_, in, mono_count - used, &idone, resampled_.data(), resampled_.size(), &odone) !=
                nullptr) {
                error_ = "resampling failed";
                return false;
            }
            used += idone;
            for (std::size_t i = 0; i < odone; ++i) pending_.push_back(to_pcm16(resampled_[i]));
            if (in == nullptr && odone == 0) flushed_ = true;
            if (in == nullptr) break;
        } while (used < mono_count);
    }
    return true;
}

long Audio_input::read(short *pcm, long count) {
    while (static_cast<long>(pending_.size() - pending_at_) < count) {
        if (pending_at_ > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pending_at_));
            pending_at_ = 0;
        }
        if (!fill()) {
            if (!error_.empty()) return -1;
            break;
        }
    }
    const long n = std::min(count, static_cast<long>(pending_.size() - pending_at_));
    std::copy(pending_.begin() + static_cast<long>(pending_at_), pending_.begin() + static_cast<long>(pending_at_) + n,
              pcm);
    pending_at_ += static_cast<std::size_t>(n);
    return n;
}

}  // namespace qrxc::cli
