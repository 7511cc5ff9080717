// Audio for the encoder: any file libsndfile reads, at any rate and with
// any number of channels, delivered as 16-bit mono PCM at the stream's rate.
// Channels are mixed down to their mean and the rate is converted with
// libsoxr. Float samples are full scale at 1.0: louder ones (infinities too)
// clip to the rail of their sign before mixing and resampling, and a NaN is
// refused.
#pragma once

#include <algorithm>

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

struct soxr;

namespace qrxc::cli {

class Audio_input {
public:
    Audio_input() = default;
    ~Audio_input();
    Audio_input(const Audio_input &) = delete;
    Audio_input &operator=(const Audio_input &) = delete;

    // Reads from file, which the caller opened (sf_open, sf_open_fd or
    // sf_open_virtual) and closes after this object is done with it; info is
    // what the open returned. False with error() set.
    bool start(SNDFILE *file, const SF_INFO &info, int target_rate);

    // Fills pcm with up to count samples; returns how many (fewer only at
    // the end), or -1 with error() set.
    long read(short *pcm, long count);

    // True when the input needed mixing down or resampling.
    bool converted() const { return channels_ != 1 || resampler_ != nullptr; }
    const std::string &error() const { return error_; }
    // How far through the input the reading is, 0..100; -1 when its length
    // is not known (a pipe).
    int percent_read() const {
        return expected_frames_ > 0 ? static_cast<int>(std::min<sf_count_t>(frames_read_ * 100 / expected_frames_, 100))
                                    : -1;
    }

private:
    bool fill();

    SNDFILE *file_ = nullptr;
    int channels_ = 1;
    sf_count_t expected_frames_ = 0;  // 0 when not known (a pipe)
    sf_count_t frames_read_ = 0;
    soxr *resampler_ = nullptr;
    bool input_done_ = false;
    bool flushed_ = false;
    bool direct_ = false;  // 16-bit mono at the stream's rate: no conversion at all
    std::vector<double> block_;
    std::vector<float> mono_, resampled_;
    std::vector<short> pending_;
    std::size_t pending_at_ = 0;
    std::string error_;
};

}  // namespace qrxc::cli
