// qrx decode of a standard G.723.1 stream (one file of a batch) to the
// converter's WAV at 8000 Hz.
#pragma once

#include <cstdint>

#include "cli/batch.h"
#include "cli/standard_reader.h"
#include "qrxc.h"

namespace qrxc::cli {

Task_result decode_standard(const Task &task, Qrxc_context *ctx);

// A standard stream through the decoder frame by frame, counted the way qrx
// reports it: frames by kind as sent, and by what the decoder made of them.
class Standard_decoding {
public:
    // A fresh decoder on ctx for a stream whose first frame is of kind
    // first_kind; false if the codec refuses.
    bool open(Qrxc_context *ctx, int first_kind);
    // Decodes what the reader's last step gave (a frame, or a frame cut
    // short, decoded as lost) into 240 samples; false if the codec failed.
    bool decode(const Standard_reader &in, Standard_reader::Step step, short *pcm);

    std::uint64_t sent(int kind) const { return sent_[kind]; }
    std::uint64_t cut() const { return cut_; }
    std::uint64_t comfort_noise() const { return decoded_as_[QRXC_G723_DECODED_COMFORT_NOISE]; }
    std::uint64_t lost() const { return decoded_as_[QRXC_G723_DECODED_LOST]; }
    // Comfort-noise frames that came as lost speech frames inside a silence.
    std::uint64_t lost_in_silence() const {
        return comfort_noise() - sent_[QRXC_G723_KIND_SID] - sent_[QRXC_G723_KIND_UNTRANSMITTED];
    }

private:
    Qrxc_context *ctx_ = nullptr;
    std::uint64_t sent_[4] = {}, decoded_as_[3] = {}, cut_ = 0;
};

}  // namespace qrxc::cli
