#include "codec/adpcm_frame.h"

namespace qrxc {
namespace {

// Coder record of the stream's width and direction.
Adpcm_coder &encoder_for(Adpcm_state &a, int bits) { return bits == 3 ? a.enc3 : bits == 4 ? a.enc4 : a.enc5; }
Adpcm_coder &decoder_for(Adpcm_state &a, int bits) { return bits == 3 ? a.dec3 : bits == 4 ? a.dec4 : a.dec5; }

}  // namespace

void frame_adpcm_encode(Codec_stream &s, Adpcm_state &a, const short *pcm, unsigned char *data) {
    const Adpcm_width *w = adpcm_width(s.enc_bits);
    if (w == nullptr) return;
    Adpcm_coder &coder = encoder_for(a, s.enc_bits);
    s.pack_acc = 0;
    s.pack_count = 0;
    for (int i = 0; i < ADPCM_FRAME_SAMPLES; ++i) {
        const int code = adpcm_encode(*w, coder, a.pred, pcm[i], LAW_LINEAR);
        s.pack_acc |= static_cast<std::uint32_t>(code & 0xFF) << s.pack_count;
        s.pack_count += s.enc_bits;
        if (s.pack_count >= 8) {
            *data++ = static_cast<unsigned char>(s.pack_acc & 0xFF);
            s.pack_acc >>= 8;
            s.pack_count -= 8;
        }
    }
}

void frame_adpcm_decode(Codec_stream &s, Adpcm_state &a, short *pcm, const unsigned char *data) {
    const Adpcm_width *w = adpcm_width(s.dec_bits);
    if (w == nullptr) return;
    Adpcm_coder &coder = decoder_for(a, s.dec_bits);
    const std::uint32_t mask = (1u << s.dec_bits) - 1;
    s.unpack_acc = 0;
    s.unpack_count = 0;
    for (int i = 0; i < ADPCM_FRAME_SAMPLES; ++i) {
        if (s.unpack_count < s.dec_bits) {
            s.unpack_acc |= static_cast<std::uint32_t>(*data++) << s.unpack_count;
            s.unpack_count += 8;
        }
        const int code = static_cast<int>(s.unpack_acc & mask);
        s.unpack_acc >>= s.dec_bits;
        s.unpack_count -= s.dec_bits;
        pcm[i] = static_cast<short>(adpcm_decode(*w, coder, a.pred, code));
    }
}

}  // namespace qrxc
