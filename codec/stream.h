// The open-stream record, the stream header's byte form and the table of
// coding modes.
#pragma once

#include <cstddef>
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
    bool open;        // a stream is open: the last Qrxc_initial that got past the direction succeeded
    bool speed_only;  // set up by Qrmd_open_ctx: header.pcm_frame is the speed control's frame, nothing codes
};
static_assert(std::is_trivially_copyable_v<Codec_stream>);

inline constexpr int HEADER_LONG = QRXC_HEADER_LONG;
inline constexpr int HEADER_SHORT = QRXC_HEADER_SHORT;

// The stream types a header names: three G.723.1 modes, then ADPCM at 3, 4
// and 5 bits. Type 3 names nothing.
inline constexpr int TYPE_G723_RESAMPLED = QRXC_TYPE_G723_RESAMPLED;  // 5.3 kbit/s on 4:3 resampled frames
inline constexpr int TYPE_G723_53 = QRXC_TYPE_G723_53;
inline constexpr int TYPE_G723_63 = QRXC_TYPE_G723_63;
inline constexpr int TYPE_NONE = 3;
inline constexpr int TYPE_ADPCM_3 = QRXC_TYPE_ADPCM_3;
inline constexpr int TYPE_ADPCM_4 = QRXC_TYPE_ADPCM_4;
inline constexpr int TYPE_ADPCM_5 = QRXC_TYPE_ADPCM_5;

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

// The header at the start of len bytes, with its length checked against
// len: the header length, QRXC_ERR_BUFFER when len is short of it, or the
// error header_parse gives (an inconsistent long header is QRXC_ERR_HEADER).
int header_parse_bytes(const unsigned char *bytes, std::size_t len, G_header &h);

// The long header form, little-endian whatever the host.
void header_to_bytes(const G_header &h, unsigned char out[16]);
G_header header_from_bytes(const unsigned char in[16]);

// The version byte Qrxc_version(v) selects.
std::uint8_t version_byte_of(int v);
// The header an encoding open with header form `form` writes, without a
// context: its length, or QRXC_ERR_RATE / QRXC_ERR_TYPE with nothing written.
int header_write(int sample_rate, int type, int form, unsigned char *hdr, G_header *out);

// The operations behind the exports, on one context.
void stream_version(Codec_stream &s, int v);
int stream_initial(Qrxc_context &ctx, int direction, int sample_rate, int type, G_header *out, unsigned char *hdr);
int stream_frame(Qrxc_context &ctx, short *pcm, unsigned char *data);
// A decoding stream of type without a header: 0, QRXC_ERR_TYPE or QRXC_ERR_RATE.
int stream_open_decoding(Qrxc_context &ctx, int type, int sample_rate, G_header *out);
// One frame in a known direction: 0, QRXC_ERR_STATE or QRXC_ERR_DIRECTION.
int stream_encode(Qrxc_context &ctx, const short *pcm, unsigned char *data);
int stream_decode(Qrxc_context &ctx, const unsigned char *data, short *pcm);

}  // namespace qrxc
