#include "codec/stream.h"

#include "codec/adpcm_frame.h"
#include "codec/context.h"
#include "codec/g723_path.h"
#include "speed/speed_control.h"

namespace qrxc {
namespace {

constexpr unsigned char MAGIC[3] = {'Q', 'R', 'X'};

constexpr Stream_mode MODES[TYPE_ADPCM_5 + 1] = {
    {320, 20, 1, 1, 0, "G.723.1 5.3 kbit/s, 4:3 resampled"},
    {240, 20, 1, 0, 0, "G.723.1 5.3 kbit/s"},
    {240, 24, 0, 0, 0, "G.723.1 6.3 kbit/s"},
    {0, 0, 0, 0, 0, nullptr},  // 3: not a mode
    {240, 90, 4, 0, 3, "ADPCM 3 bits"},
    {240, 120, 5, 0, 4, "ADPCM 4 bits"},
    {240, 150, 6, 0, 5, "ADPCM 5 bits"},
};

// Rate code of the short header form (bits 4-5 of byte 3); 3 is invalid.
constexpr std::uint16_t SHORT_FORM_RATES[3] = {8000, 12000, 16000};

bool is_long_form(std::uint8_t version) { return (version & 0xC0) != 0; }

void put16(unsigned char *p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}
std::uint16_t get16(const unsigned char *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void set_magic(G_header &h) {
    for (int i = 0; i < 3; ++i) h.magic[i] = MAGIC[i];
}

// Stores the mode's settings and resets the coder the stream will use.
void set_up_mode(Qrxc_context &ctx, const Stream_mode &mode, bool encoding) {
    Codec_stream &s = ctx.stream;
    s.resample = mode.resample;
    s.rate_select = mode.rate_select;
    if (mode.adpcm_bits != 0) {
        (encoding ? s.enc_bits : s.dec_bits) = mode.adpcm_bits;
        // A fresh predictor per stream, so a file decodes the same whatever
        // the process coded before.
        adpcm_load(ctx.adpcm);
    } else if (encoding) {
        g723_encode_setup(ctx);
    } else {
        g723_decode_setup(ctx);
    }
    // Nothing of the previous stream may be heard in this one: the speed
    // control restarts at its level, the effects from scratch.
    if (ctx.speed.ready != 0) speed_reset(ctx.speed, ctx.speed.level);
    ctx.effects = Effects_state{};
}

// Fills h and writes the header bytes of an encoding: the header length,
// or QRXC_ERR_RATE / QRXC_ERR_TYPE with h partly written.
int header_build(int sample_rate, int type, std::uint8_t version_byte, G_header &h, unsigned char *hdr) {
    // The header fields are stored before they are checked.
    set_magic(h);
    h.version = version_byte;
    h.sample_rate = static_cast<std::uint16_t>(sample_rate);
    h.type = static_cast<std::uint16_t>(type);
    // The whole arguments are judged: 73536 is not 8000.
    if (sample_rate < 0 || !is_supported_rate(static_cast<unsigned>(sample_rate))) return QRXC_ERR_RATE;
    const Stream_mode *mode = type < 0 ? nullptr : stream_mode(static_cast<unsigned>(type));
    if (mode == nullptr) return QRXC_ERR_TYPE;
    h.pcm_frame = mode->pcm_frame;
    h.frame_bytes = mode->frame_bytes;
    h.header_size = HEADER_LONG;

    int length = HEADER_LONG;
    if (is_long_form(h.version)) {
        header_to_bytes(h, hdr);
    } else {
        for (int i = 0; i < 3; ++i) hdr[i] = MAGIC[i];
        const unsigned rate_code = h.sample_rate == 12000 ? 0x10u : h.sample_rate == 16000 ? 0x20u : 0u;
        hdr[3] = static_cast<unsigned char>((h.type & 0xFFu) | rate_code);
        length = HEADER_SHORT;
    }
    return length;
}

int open_encoding(Qrxc_context &ctx, int sample_rate, int type, unsigned char *hdr) {
    const int length = header_build(sample_rate, type, ctx.stream.version_byte, ctx.stream.header, hdr);
    if (length < 0) return length;
    set_up_mode(ctx, *stream_mode(ctx.stream.header.type), true);
    return length;
}

int open_decoding(Qrxc_context &ctx, const unsigned char *hdr) {
    const int length = header_parse(hdr, ctx.stream.header);
    if (length < 0) return length;
    set_up_mode(ctx, *stream_mode(ctx.stream.header.type), false);
    return length;
}

// The rate code 3 and the types without a mode make no short header.
bool short_form_valid(std::uint8_t b3) { return ((b3 >> 4) & 3u) != 3 && stream_mode(b3 & 0x0Fu) != nullptr; }

}  // namespace

int header_length(const unsigned char first4[4]) {
    if (first4[0] != MAGIC[0] || first4[1] != MAGIC[1] || first4[2] != MAGIC[2]) return QRXC_ERR_HEADER;
    if (is_long_form(first4[3])) return HEADER_LONG;
    return short_form_valid(first4[3]) ? HEADER_SHORT : QRXC_ERR_HEADER;
}

int header_parse(const unsigned char *hdr, G_header &h) {
    if (hdr[0] != MAGIC[0] || hdr[1] != MAGIC[1] || hdr[2] != MAGIC[2]) return QRXC_ERR_HEADER;
    if (!is_long_form(hdr[3])) {
        set_magic(h);
        h.version = 1;
        const unsigned rate_code = (hdr[3] >> 4) & 3u;
        if (rate_code == 3) return QRXC_ERR_HEADER;
        h.sample_rate = SHORT_FORM_RATES[rate_code];
        h.type = static_cast<std::uint16_t>(hdr[3] & 0x0Fu);
        const Stream_mode *mode = stream_mode(h.type);
        if (mode == nullptr) return QRXC_ERR_HEADER;
        h.pcm_frame = mode->pcm_frame;
        h.frame_bytes = mode->frame_bytes;
        h.header_size = HEADER_SHORT;
        return HEADER_SHORT;
    }
    h = header_from_bytes(hdr);
    if (!is_supported_rate(h.sample_rate)) return QRXC_ERR_HEADER;
    const Stream_mode *mode = stream_mode(h.type);
    if (mode == nullptr) return QRXC_ERR_HEADER;
    if (h.pcm_frame != mode->pcm_frame) return QRXC_ERR_ARG;
    if (h.frame_bytes != mode->frame_bytes) return QRXC_ERR_ARG;
    return HEADER_LONG;
}

int header_parse_bytes(const unsigned char *bytes, std::size_t len, G_header &h) {
    if (len < HEADER_SHORT) return QRXC_ERR_BUFFER;
    const int length = header_length(bytes);
    if (length < 0) return length;
    if (len < static_cast<std::size_t>(length)) return QRXC_ERR_BUFFER;
    const int r = header_parse(bytes, h);
    // A long header whose frame sizes contradict its type is no header either.
    return r == QRXC_ERR_ARG ? QRXC_ERR_HEADER : r;
}

int stream_open_decoding(Qrxc_context &ctx, int type, int sample_rate, G_header *out) {
    const Stream_mode *mode = type < 0 ? nullptr : stream_mode(static_cast<unsigned>(type));
    if (mode == nullptr) return QRXC_ERR_TYPE;
    if (sample_rate < 0 || !is_supported_rate(static_cast<unsigned>(sample_rate))) return QRXC_ERR_RATE;
    Codec_stream &s = ctx.stream;
    s.speed_only = false;
    s.direction = QRXC_DECODE;
    G_header &h = s.header;
    set_magic(h);
    h.version = 0x40;
    h.sample_rate = static_cast<std::uint16_t>(sample_rate);
    h.type = static_cast<std::uint16_t>(type);
    h.pcm_frame = mode->pcm_frame;
    h.frame_bytes = mode->frame_bytes;
    h.header_size = HEADER_LONG;
    set_up_mode(ctx, *mode, false);
    s.open = true;
    if (out != nullptr) *out = h;
    return QRXC_OK;
}

const Stream_mode *stream_mode(unsigned type) {
    if (type > TYPE_ADPCM_5 || type == TYPE_NONE) return nullptr;
    return &MODES[type];
}

void header_to_bytes(const G_header &h, unsigned char out[16]) {
    for (int i = 0; i < 3; ++i) out[i] = h.magic[i];
    out[3] = h.version;
    put16(out + 4, h.sample_rate);
    put16(out + 6, h.type);
    put16(out + 8, h.pcm_frame);
    put16(out + 10, h.frame_bytes);
    put32(out + 12, h.header_size);
}

G_header header_from_bytes(const unsigned char in[16]) {
    G_header h{};
    for (int i = 0; i < 3; ++i) h.magic[i] = in[i];
    h.version = in[3];
    h.sample_rate = get16(in + 4);
    h.type = get16(in + 6);
    h.pcm_frame = get16(in + 8);
    h.frame_bytes = get16(in + 10);
    h.header_size = get32(in + 12);
    return h;
}

std::uint8_t version_byte_of(int v) {
    const unsigned form = static_cast<unsigned>(v) & 3u;
    // Form 0 is the short header; its version byte 1 shows only in the caller's copy.
    return static_cast<std::uint8_t>((form << 6) | (form == 0 ? 1u : 0u));
}

void stream_version(Codec_stream &s, int v) { s.version_byte = version_byte_of(v); }

int header_write(int sample_rate, int type, int form, unsigned char *hdr, G_header *out) {
    G_header h{};
    const int length = header_build(sample_rate, type, version_byte_of(form), h, hdr);
    if (length >= 0 && out != nullptr) *out = h;
    return length;
}

int stream_initial(Qrxc_context &ctx, int direction, int sample_rate, int type, G_header *out, unsigned char *hdr) {
    if (out == nullptr || hdr == nullptr) return QRXC_ERR_ARG;
    if (direction != QRXC_ENCODE && direction != QRXC_DECODE) return QRXC_ERR_ARG;
    Codec_stream &s = ctx.stream;
    s.direction = direction;
    s.open = false;
    s.speed_only = false;
    const int result = direction == QRXC_ENCODE ? open_encoding(ctx, sample_rate, type, hdr) : open_decoding(ctx, hdr);
    if (result < 0) return result;
    s.open = true;
    *out = s.header;
    return result;
}

int stream_frame(Qrxc_context &ctx, short *pcm, unsigned char *data) {
    if (pcm == nullptr || data == nullptr) return QRXC_ERR_ARG;
    const int r = ctx.stream.direction == QRXC_ENCODE ? stream_encode(ctx, pcm, data) : stream_decode(ctx, data, pcm);
    // The classic call has one failure result for all causes.
    return r < 0 ? QRXC_ERR_ARG : QRXC_OK;
}

int stream_encode(Qrxc_context &ctx, const short *pcm, unsigned char *data) {
    Codec_stream &s = ctx.stream;
    if (!s.open) return QRXC_ERR_STATE;
    if (s.direction != QRXC_ENCODE) return QRXC_ERR_DIRECTION;
    switch (s.header.type) {
    case TYPE_G723_RESAMPLED:
    case TYPE_G723_53:
    case TYPE_G723_63: frame_g723_encode(ctx, pcm, data); break;
    case TYPE_ADPCM_3:
    case TYPE_ADPCM_4:
    case TYPE_ADPCM_5: frame_adpcm_encode(s, ctx.adpcm, pcm, data); break;
    default: break;
    }
    return 0;
}

int stream_decode(Qrxc_context &ctx, const unsigned char *data, short *pcm) {
    Codec_stream &s = ctx.stream;
    if (!s.open) return QRXC_ERR_STATE;
    if (s.direction != QRXC_DECODE) return QRXC_ERR_DIRECTION;
    switch (s.header.type) {
    case TYPE_G723_RESAMPLED:
    case TYPE_G723_53:
    case TYPE_G723_63: frame_g723_decode(ctx, pcm, data); break;
    case TYPE_ADPCM_3:
    case TYPE_ADPCM_4:
    case TYPE_ADPCM_5: frame_adpcm_decode(s, ctx.adpcm, pcm, data); break;
    default: break;
    }
    return 0;
}

}  // namespace qrxc
