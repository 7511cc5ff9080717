// The open-stream record, the stream header's byte form and the table of
// coding modes.
#pragma once

#include <cstdint>
#include <type_traits>

#include "qrxc.h"

struct Qrxc_context;

namespace qrxc {

struct Codec_stream {
    int direction;  // 1 encode, 2 decode, 0 never opened
    G_header header;
    std::uint8_t version_byte;  // used by the next encoding open; 0x40 at load
    int rate_select;            // G.723.1 rate: 0 = 6.3, 1 = 5.3 kbit/s; the type in ADPCM modes
    std::uint16_t resample;     // 1 in type 0
    int enc_bits, dec_bits;     // ADPCM bits per code
    std::uint32_t pack_acc;
    int pack_count;
    std::uint32_t unpack_acc;
    int unpack_count;
    bool open;  // a stream is open: the last Qrxc_initial that got past the direction succeeded
};
static_assert(std::is_trivially_copyable_v<Codec_stream>);

inline constexpr int HEADER_LONG = 16;
inline constexpr int HEADER_SHORT = 4;

// The stream types a header names: three G.723.1 modes, then ADPCM at 3, 4
// and 5 bits. Type 3 names nothing.
inline constexpr int TYPE_G723_RESAMPLED = 0;  // 5.3 kbit/s on 4:3 resampled frames
inline constexpr int TYPE_G723_53 = 1;
inline constexpr int TYPE_G723_63 = 2;
inline constexpr int TYPE_NONE = 3;
inline constexpr int TYPE_ADPCM_3 = 4;
inline constexpr int TYPE_ADPCM_4 = 5;
inline constexpr int TYPE_ADPCM_5 = 6;

// One row of the mode table.
struct Stream_mode {
    std::uint16_t pcm_frame;
    std::uint16_t frame_bytes;
    int rate_select;
    std::uint16_t resample;
    int adpcm_bits;  // 0 for the G.723.1 modes
    const char *coder;
};
// The row for type, or nullptr for 3 and anything above 6.
const Stream_mode *stream_mode(unsigned type);

inline bool is_supported_rate(unsigned rate) { return rate == 8000 || rate == 12000 || rate == 16000; }

// Length of the header starting with these 4 bytes, 4 or 16, or
// QRXC_ERR_HEADER when they cannot start a stream.
int header_length(const unsigned char first4[4]);

// Reads a header (4 bytes in the short form, 16 in the long) into h as a
// decoding open does: the header length, or a negative result with h
// partly written.
int header_parse(const unsigned char *hdr, G_header &h);

// The long header form, little-endian whatever the host.
void header_to_bytes(const G_header &h, unsigned char out[16]);
G_header header_from_bytes(const unsigned char in[16]);

// The operations behind the exports, on one context.
void stream_version(Codec_stream &s, int v);
int stream_initial(Qrxc_context &ctx, int direction, int sample_rate, int type, G_header *out, unsigned char *hdr);
int stream_frame(Qrxc_context &ctx, short *pcm, unsigned char *data);
// One frame in a known direction: 0, QRXC_ERR_STATE or QRXC_ERR_DIRECTION.
int stream_encode(Qrxc_context &ctx, const short *pcm, unsigned char *data);
int stream_decode(Qrxc_context &ctx, const unsigned char *data, short *pcm);

}  // namespace qrxc
