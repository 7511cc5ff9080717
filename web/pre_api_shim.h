/* Stand-ins for library calls that are on their way; goes when they land. */
#include <string.h>

#define QRXC_ERR_BUFFER (-6)

typedef struct Qrxc_type_desc {
    int pcm_frame;
    int frame_bytes;
    int bit_rate;
    const char *coder;
} Qrxc_type_desc;

static const char *Qrxc_strerror(int code) {
    switch (code) {
    case 0: return "no error";
    case QRXC_ERR_ARG: return "bad argument, or header inconsistent with its type";
    case QRXC_ERR_RATE: return "sample rate not 8000, 12000 or 16000";
    case QRXC_ERR_TYPE: return "unknown stream type";
    case QRXC_ERR_HEADER: return "not a QRX stream header";
    case QRXC_ERR_BUFFER: return "buffer too small";
    default: return "unknown error";
    }
}

static int Qrxc_type_info(int type, Qrxc_type_desc *out) {
    static const Qrxc_type_desc t[7] = {{320, 20, 5300, "G.723.1 5.3 kbit/s, 4:3"}, {240, 20, 5300, "G.723.1 5.3 kbit/s"},
                                        {240, 24, 6300, "G.723.1 6.3 kbit/s"},     {0, 0, 0, 0},
                                        {240, 90, 24000, "ADPCM 3 bits"},           {240, 120, 32000, "ADPCM 4 bits"},
                                        {240, 150, 40000, "ADPCM 5 bits"}};
    if (out == NULL) return QRXC_ERR_ARG;
    if (type < 0 || type > 6 || t[type].pcm_frame == 0) return QRXC_ERR_TYPE;
    *out = t[type];
    return 0;
}

static int Qrxc_header_length(const unsigned char *h) {
    if (h == NULL) return QRXC_ERR_ARG;
    if (h[0] != 'Q' || h[1] != 'R' || h[2] != 'X') return QRXC_ERR_HEADER;
    return (h[3] & 0xC0) != 0 ? 16 : 4;
}

static int Qrxc_decode_frame(Qrxc_context *ctx, const unsigned char *frame, short *pcm) {
    return Qrxc_frame_ctx(ctx, pcm, (unsigned char *)frame);
}

static int Qrxc_frame_concealed(int type, const unsigned char *frame) {
    (void)type;
    (void)frame;
    return 0;
}

static long long Qrxc_encoded_bytes(int type, size_t samples, int long_header) {
    Qrxc_type_desc d;
    const int rc = Qrxc_type_info(type, &d);
    if (rc < 0) return rc;
    return (long_header ? 16 : 4) + (long long)((samples + (size_t)d.pcm_frame - 1) / (size_t)d.pcm_frame) * d.frame_bytes;
}

static long long Qrxc_encode_buffer(Qrxc_context *ctx, int sample_rate, int type, int long_header, const short *pcm,
                                    size_t samples, unsigned char *out, size_t capacity) {
    const long long need = Qrxc_encoded_bytes(type, samples, long_header);
    if (need < 0) return need;
    if ((size_t)need > capacity) return QRXC_ERR_BUFFER;
    Qrxc_version_ctx(ctx, long_header ? 1 : 0);
    G_header h;
    const int hl = Qrxc_initial_ctx(ctx, QRXC_ENCODE, sample_rate, type, &h, out);
    if (hl < 0) return hl;
    size_t at = (size_t)hl;
    short frame[QRXC_MAX_PCM_FRAME];
    for (size_t pos = 0; pos < samples; pos += h.pcm_frame) {
        const size_t n = samples - pos < h.pcm_frame ? samples - pos : h.pcm_frame;
        memset(frame, 0, sizeof frame);
        memcpy(frame, pcm + pos, n * sizeof(short));
        if (Qrxc_frame_ctx(ctx, frame, out + at) < 0) return QRXC_ERR_ARG;
        at += h.frame_bytes;
    }
    return (long long)at;
}
