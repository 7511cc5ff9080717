// One ADPCM frame: 240 codes packed least significant bit first.
#pragma once

#include "codec/adpcm.h"
#include "codec/stream.h"

namespace qrxc {

inline constexpr int ADPCM_FRAME_SAMPLES = 240;

// Reads 240 samples, writes 240 * enc_bits / 8 bytes.
void frame_adpcm_encode(Codec_stream &s, Adpcm_state &a, const short *pcm, unsigned char *data);
// Reads 240 * dec_bits / 8 bytes, writes 240 samples.
void frame_adpcm_decode(Codec_stream &s, Adpcm_state &a, short *pcm, const unsigned char *data);

}  // namespace qrxc
