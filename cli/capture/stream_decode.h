// A placed RTP stream decoded by the library's standard-stream decoder, on a
// context of its own: received frames as they are, untransmitted spans as
// frames never sent, lost packets as erased frames of the rate last heard.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/capture/rtp_stream.h"
#include "qrxc.h"

namespace qrxc::capture {

// A standard speech frame of the given rate (QRXC_G723_KIND_63 or _53) that
// the decoder treats as erased: its open-loop lag code is out of range.
// Returns its length (24 or 20); out has room for 24 bytes.
int erased_frame(int rate, std::uint8_t *out);

// Receives decoded PCM, frames at a time; false stops the decoding.
class Pcm_sink {
public:
    virtual ~Pcm_sink() = default;
    virtual bool write(const short *pcm, std::size_t samples) = 0;
};

enum class Decode_status { ok, codec_refused, sink_failed };

// Decodes every slot of stream on ctx (opened here; its previous stream is
// replaced) into sink: frame_count() * 240 samples at 8000 Hz.
Decode_status decode_stream(const Rtp_stream &stream, Qrxc_context *ctx, Pcm_sink &sink);

}  // namespace qrxc::capture
