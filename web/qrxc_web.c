/* The few calls web/qrxc.mjs makes into the library, shaped for JavaScript:
 * plain ints and pointers into the module's memory, no 64-bit values and no
 * structs across the boundary. Every call works on a caller-owned context. */
#include <emscripten/emscripten.h>
#include <stddef.h>
#include <string.h>

#include "qrxc.h"

#define KEEP EMSCRIPTEN_KEEPALIVE

KEEP Qrxc_context *qw_create(void) { return Qrxc_create(); }
KEEP void qw_destroy(Qrxc_context *ctx) { Qrxc_destroy(ctx); }

KEEP const char *qw_strerror(int code) { return Qrxc_strerror(code); }
KEEP const char *qw_version(void) { return Qrxc_version_string(); }

/* A type's frame lengths and rate in out[0..2]; returns its coder's name, or
 * NULL for a type the library does not have. */
KEEP const char *qw_type_info(int type, int *out) {
    Qrxc_type_desc d;
    if (out == NULL || Qrxc_type_info(type, &d) != 0) return NULL;
    out[0] = d.pcm_frame;
    out[1] = d.frame_bytes;
    out[2] = d.bit_rate;
    return d.coder;
}

/* The length of the header a stream of len bytes starts with, or a
 * negative result code when it does not start with one. */
KEEP int qw_header_length(const unsigned char *head, size_t len) {
    if (head == NULL) return QRXC_ERR_ARG;
    return len < QRXC_HEADER_SHORT ? QRXC_ERR_HEADER : Qrxc_header_length(head);
}

/* The library's facts that web/qrxc.mjs exports, in the order it reads them. */
enum {
    FACT_SPEED_LEVELS,
    FACT_NORMAL_LEVEL,
    FACT_EFFECT_MODE,
    FACT_EFFECT_MASK,
    FACT_ERR_ARG,
    FACT_ERR_HEADER,
    FACT_ERR_BUFFER,
    FACTS
};
KEEP int qw_facts(int *out) {
    if (out == NULL) return QRXC_ERR_ARG;
    out[FACT_SPEED_LEVELS] = QRMD_SPEED_LEVELS;
    out[FACT_NORMAL_LEVEL] = QRMD_NORMAL_LEVEL;
    out[FACT_EFFECT_MODE] = QRMD_EFFECT_MODE;
    out[FACT_EFFECT_MASK] = QRMD_EFFECT_MASK;
    out[FACT_ERR_ARG] = QRXC_ERR_ARG;
    out[FACT_ERR_HEADER] = QRXC_ERR_HEADER;
    out[FACT_ERR_BUFFER] = QRXC_ERR_BUFFER;
    return FACTS;
}

/* Fields of the header record, in the order web/qrxc.mjs reads them. */
enum { F_HEADER_LEN, F_SAMPLE_RATE, F_TYPE, F_PCM_FRAME, F_FRAME_BYTES, F_VERSION, F_FIELDS };

/* Opens the stream in head (len bytes, the start of a file) for decoding.
 * Returns the header length and fills fields, or a negative result code. */
KEEP int qw_decode_open(Qrxc_context *ctx, const unsigned char *head, size_t len, int *fields) {
    if (ctx == NULL || head == NULL || fields == NULL) return QRXC_ERR_ARG;
    const int header_len = qw_header_length(head, len);
    if (header_len < 0) return header_len;
    if (len < (size_t)header_len) return QRXC_ERR_HEADER;
    unsigned char hdr[QRXC_HEADER_MAX] = {0};
    memcpy(hdr, head, (size_t)header_len);
    G_header h;
    const int rc = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, hdr);
    if (rc < 0) return rc;
    fields[F_HEADER_LEN] = rc;
    fields[F_SAMPLE_RATE] = h.sample_rate;
    fields[F_TYPE] = h.type;
    fields[F_PCM_FRAME] = h.pcm_frame;
    fields[F_FRAME_BYTES] = h.frame_bytes;
    fields[F_VERSION] = head[3];
    return rc;
}

/* Decodes frames whole frames of the open stream from data into pcm.
 * Returns the samples written or a negative result code. */
KEEP int qw_decode_frames(Qrxc_context *ctx, const unsigned char *data, int frames, int frame_bytes, int pcm_frame,
                          short *pcm) {
    for (int i = 0; i < frames; ++i) {
        const int rc =
            Qrxc_decode_frame(ctx, data + (size_t)i * (size_t)frame_bytes, pcm + (size_t)i * (size_t)pcm_frame);
        if (rc < 0) return rc;
    }
    return frames * pcm_frame;
}

/* How many of frames coded frames of the given type the decoder conceals. */
KEEP int qw_concealed(int type, const unsigned char *data, int frames, int frame_bytes) {
    int n = 0;
    for (int i = 0; i < frames; ++i) {
        const int rc = Qrxc_frame_concealed(type, data + (size_t)i * (size_t)frame_bytes);
        if (rc < 0) return rc;
        n += rc;
    }
    return n;
}

/* Bytes that samples PCM samples encode to, or a negative result code. */
KEEP int qw_encoded_bytes(int type, size_t samples, int long_header) {
    const long long n = Qrxc_encoded_bytes(type, samples, long_header);
    return n > 0x7FFFFFFF ? QRXC_ERR_BUFFER : (int)n;
}

/* A whole stream, as qrx encode writes it. Bytes written or a negative result code. */
KEEP int qw_encode(Qrxc_context *ctx, int sample_rate, int type, int long_header, const short *pcm, size_t samples,
                   unsigned char *out, size_t capacity) {
    const long long n = Qrxc_encode_buffer(ctx, sample_rate, type, long_header, pcm, samples, out, capacity);
    return n > 0x7FFFFFFF ? QRXC_ERR_BUFFER : (int)n;
}

/* Opens ctx for the standard G.723.1 layout in the given direction. */
static int standard_open(Qrxc_context *ctx, int direction) {
    if (direction == QRXC_DECODE) return Qrxc_open_decoding_ctx(ctx, QRXC_TYPE_G723_63, QRXC_G723_SAMPLE_RATE, NULL);
    unsigned char hdr[QRXC_HEADER_MAX];
    G_header h;
    const int r = Qrxc_initial_ctx(ctx, QRXC_ENCODE, QRXC_G723_SAMPLE_RATE, QRXC_TYPE_G723_63, &h, hdr);
    return r < 0 ? r : 0;
}

/* Standard G.723.1 frames back to back for samples of 8000 Hz PCM (the last
 * partial frame completed with silence), at rate_kind 0 (6.3) or 1 (5.3
 * kbit/s), silence as SID and untransmitted frames when vad is non-zero.
 * capacity of 24 bytes a frame always suffices. Bytes written or a negative
 * result code. */
KEEP int qw_encode_standard(Qrxc_context *ctx, const short *pcm, size_t samples, int rate_kind, int vad,
                            unsigned char *out, size_t capacity) {
    if (ctx == NULL || (pcm == NULL && samples > 0) || out == NULL) return QRXC_ERR_ARG;
    if (capacity / QRXC_G723_STANDARD_MAX_BYTES < (samples + 239) / 240) return QRXC_ERR_BUFFER;
    int r = standard_open(ctx, QRXC_ENCODE);
    size_t written = 0;
    for (size_t at = 0; r == 0 && at < samples; at += 240) {
        short frame[240] = {0};
        memcpy(frame, pcm + at, sizeof(short) * (samples - at < 240 ? samples - at : 240));
        const int n = Qrxc_encode_standard_ctx(ctx, frame, rate_kind, vad ? QRXC_G723_VAD : 0, out + written);
        if (n < 0)
            r = n;
        else
            written += (size_t)n;
    }
    if (r < 0) return r;
    return written > 0x7FFFFFFF ? QRXC_ERR_BUFFER : (int)written;
}

/* Frames in a standard G.723.1 stream of len bytes, a cut last one included. */
KEEP int qw_standard_frames(const unsigned char *in, size_t len) {
    if (in == NULL && len > 0) return QRXC_ERR_ARG;
    int frames = 0;
    for (size_t at = 0; at < len && frames < 0x7FFFFFFF / 240; ++frames) {
        int kind = -1;
        const int n = Qrxc_g723_from_standard(in + at, len - at, 1, NULL, &kind);
        at = n < 0 ? len : at + (size_t)n;
    }
    return frames;
}

/* Readies ctx to decode a standard G.723.1 stream from its first frame. */
KEEP int qw_decode_standard_open(Qrxc_context *ctx) {
    if (ctx == NULL) return QRXC_ERR_ARG;
    return standard_open(ctx, QRXC_DECODE);
}

/* Where qw_decode_standard_frames counts: each frame's kind (the library's
 * QRXC_G723_KIND_*), what it was decoded as (QRXC_G723_DECODED_*), and the
 * cut last frame. */
enum { COUNT_KINDS = 0, COUNT_DECODED_AS = 4, COUNT_CUT = 7, COUNTS };

/* Decodes the next frames frames of the stream opened by
 * qw_decode_standard_open from in (len bytes left) into pcm, 240 samples a
 * frame, as qrx decode does: speech, comfort noise for SID and
 * untransmitted frames, a cut last frame concealed as lost. Adds to
 * counts[COUNTS]. Returns the bytes used or a negative result code. */
KEEP int qw_decode_standard_frames(Qrxc_context *ctx, const unsigned char *in, size_t len, int frames, short *pcm,
                                   int *counts) {
    if (ctx == NULL || (in == NULL && len > 0) || pcm == NULL || counts == NULL || frames < 0) return QRXC_ERR_ARG;
    size_t at = 0;
    for (int i = 0; i < frames && at < len; ++i) {
        short *out = pcm + (size_t)i * 240;
        int kind = -1;
        int used = Qrxc_decode_standard_ctx(ctx, in + at, len - at, out, &kind);
        if (used == QRXC_ERR_BUFFER) {
            /* A lost frame: a speech frame with a forbidden lag code. */
            unsigned char lost[24] = {0}, standard[24];
            lost[3] = 124;
            Qrxc_g723_to_standard(lost, 2, standard);
            if (Qrxc_decode_standard_ctx(ctx, standard, sizeof standard, out, NULL) < 0) return QRXC_ERR_ARG;
            used = (int)(len - at);
            ++counts[COUNT_CUT];
        } else if (used < 0) {
            return used;
        } else {
            ++counts[COUNT_KINDS + kind];
        }
        ++counts[COUNT_DECODED_AS + Qrxc_decode_standard_last_ctx(ctx)];
        at += (size_t)used;
    }
    return at > 0x7FFFFFFF ? QRXC_ERR_BUFFER : (int)at;
}

/* Sets the context up for the speed control alone on frames of
 * frame_length samples. */
KEEP int qw_speed_open(Qrxc_context *ctx, int frame_length, int flags) {
    return Qrmd_open_ctx(ctx, frame_length, flags);
}

/* One frame through the speed control: samples written to dst (room for
 * two frames), or a negative result code. */
KEEP int qw_speed_frame(Qrxc_context *ctx, int flags, const short *src, short *dst) {
    return Qrmd_process_ctx(ctx, flags, src, dst);
}
