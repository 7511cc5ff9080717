/* qrxc: speech codec library for QRX voice streams.
 *
 * A QRX stream is a 4- or 16-byte header followed by fixed-size coded
 * frames. A frame is `pcm_frame` samples of 16-bit mono PCM (240, or 320
 * in type 0) and `frame_bytes` coded bytes; both come from the header.
 *
 * The five classic entry points (Qrxc_version, Qrxc_initial, Qrxc_frame,
 * Qrmd_initial, Qrmd_frame) work on one process-wide default context. The
 * *_ctx variants work on a context the caller owns (Qrxc_create /
 * Qrxc_destroy); independent contexts may be used from different threads,
 * one thread per context at a time.
 */
#ifndef QRXC_H
#define QRXC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QRXC_BUILDING)
#    define QRXC_API __declspec(dllexport)
#  else
#    define QRXC_API __declspec(dllimport)
#  endif
#else
#  define QRXC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The 16-byte stream header; multi-byte fields are little-endian in a stream. */
typedef struct G_header {
    unsigned char magic[3];  /* 'Q' 'R' 'X' */
    unsigned char version;   /* bits 6-7 clear: short 4-byte header form */
    uint16_t sample_rate;    /* 8000, 12000 or 16000; a label only */
    uint16_t type;           /* 0, 1, 2 (G.723.1), 4, 5, 6 (ADPCM 3/4/5 bits) */
    uint16_t pcm_frame;      /* PCM samples per frame: 240, or 320 in type 0 */
    uint16_t frame_bytes;    /* coded bytes per frame: 20, 24, 90, 120, 150 */
    uint32_t header_size;    /* 16 when encoding, 4 after a short header */
} G_header;

#define QRXC_ENCODE 1
#define QRXC_DECODE 2

/* Largest frame sizes, for callers sizing their buffers. */
#define QRXC_MAX_PCM_FRAME 320
#define QRXC_MAX_FRAME_BYTES 150

/* Result codes of Qrxc_initial. */
#define QRXC_ERR_ARG        (-1) /* bad direction, null pointer, or header inconsistent with its type */
#define QRXC_ERR_RATE       (-2) /* encoding: sample rate not 8000, 12000 or 16000 */
#define QRXC_ERR_TYPE       (-3) /* encoding: type 3 or above 6 */
#define QRXC_ERR_HEADER     (-4) /* decoding: bad magic, rate code, type or sample rate */

/* Speed control flags for Qrmd_initial / Qrmd_frame. */
#define QRMD_EFFECT_MODE 0x80 /* low 5 bits then select the voice effect */
#define QRMD_RESERVED    0x40

/* ---- process-wide default context ---- */

/* Selects the header form of later encodings: 0 short (4 bytes), 1..3 long. */
QRXC_API void Qrxc_version(int v);
/* Opens a stream, replacing any open one, and resets the coder it uses.
 * direction 1 encodes: hdr receives the header, the result is its length
 * (4 or 16; room for 16). direction 2 decodes: hdr holds the stream's first
 * bytes (4 for a short header, 16 for a long one), the result is the offset
 * of the first frame. out receives the header record. Negative results are
 * QRXC_ERR_*; then nothing is written to out or hdr and no stream is open. */
QRXC_API int Qrxc_initial(int direction, int sample_rate, int type, G_header *out, unsigned char *hdr);
/* Codes one frame: encoding reads pcm_frame samples and writes frame_bytes
 * bytes; decoding the reverse. 0 on success, -1 with no open stream or a
 * null pointer. */
QRXC_API int Qrxc_frame(short *pcm, unsigned char *data);

/* Playback speed control on decoded frames of the open stream. */
QRXC_API int Qrmd_initial(int flags);
/* Writes the frame's output samples to dst (room for 2 x pcm_frame); src may
 * equal dst. Returns 0, or -1 for bad flags (0x80 with 0x40), null buffers or
 * no successfully opened stream. Qrmd_last_count tells how many samples the
 * last call wrote (0 after a failed call). */
QRXC_API int Qrmd_frame(int flags, short *src, short *dst);
QRXC_API int Qrmd_last_count(void);

/* ---- caller-owned contexts ---- */

typedef struct Qrxc_context Qrxc_context;

/* A fresh context in the state of a freshly loaded library; NULL when out of memory. */
QRXC_API Qrxc_context *Qrxc_create(void);
QRXC_API void Qrxc_destroy(Qrxc_context *ctx);

QRXC_API void Qrxc_version_ctx(Qrxc_context *ctx, int v);
QRXC_API int Qrxc_initial_ctx(Qrxc_context *ctx, int direction, int sample_rate, int type,
                              G_header *out, unsigned char *hdr);
QRXC_API int Qrxc_frame_ctx(Qrxc_context *ctx, short *pcm, unsigned char *data);
QRXC_API int Qrmd_initial_ctx(Qrxc_context *ctx, int flags);
QRXC_API int Qrmd_frame_ctx(Qrxc_context *ctx, int flags, short *src, short *dst);
QRXC_API int Qrmd_last_count_ctx(const Qrxc_context *ctx);

/* ---- standard G.723.1 bitstreams ----
 *
 * Telephony tools and RTP (RFC 3551) carry G.723.1 in the standard layout:
 * frames back to back with no header, bits least significant first within
 * each byte, the first two bits of a frame its kind. A QRX frame of type 0
 * or 1 (5.3 kbit/s) or 2 (6.3 kbit/s) holds the same fields in another
 * order, so conversion either way is exact and decodes nothing. */
#define QRXC_G723_KIND_63            0 /* 6.3 kbit/s speech, 24 bytes */
#define QRXC_G723_KIND_53            1 /* 5.3 kbit/s speech, 20 bytes */
#define QRXC_G723_KIND_SID           2 /* silence descriptor, 4 bytes */
#define QRXC_G723_KIND_UNTRANSMITTED 3 /* no frame sent, 1 byte */
#define QRXC_G723_STANDARD_MAX_BYTES 24
#ifndef QRXC_ERR_BUFFER
#define QRXC_ERR_BUFFER (-6)           /* a caller buffer is too small, or a size is out of range */
#endif

/* Writes the QRX frame of the given type in the standard layout to out
 * (room for 24 bytes) and returns the bytes written: 20 (types 0, 1) or 24
 * (type 2). Open-loop lag codes above 127 do not fit the standard's 7 bits
 * and are written as 127; a decoder conceals the frame either way.
 * QRXC_ERR_ARG for a null pointer, QRXC_ERR_TYPE for any other type. */
QRXC_API int Qrxc_g723_to_standard(const unsigned char *frame, int type, unsigned char *out);

/* Reads the one standard frame at the start of in (len bytes available).
 * Returns the bytes it takes (24, 20, 4 or 1) whatever its kind, with
 * *kind set to QRXC_G723_KIND_*. When the kind is the rate of type (0 or 1:
 * 5.3 kbit/s, 2: 6.3 kbit/s), frame receives that QRX frame (20 or 24
 * bytes). For any other kind (SID, untransmitted, the other rate) frame
 * receives a QRX frame of the type that the decoder conceals, as for a lost
 * frame; callers that must not accept those compare *kind first. frame may
 * be NULL to step over frames only. Errors, with nothing written to frame:
 * QRXC_ERR_ARG (in or kind null), QRXC_ERR_TYPE (type not 0..2),
 * QRXC_ERR_BUFFER (len shorter than the frame; *kind is then the kind of
 * the cut frame, or -1 when len is 0). */
QRXC_API int Qrxc_g723_from_standard(const unsigned char *in, size_t len, int type, unsigned char *frame,
                                     int *kind);

/* Decodes the standard frame at the start of in to 240 samples at pcm, on a
 * context opened for decoding type 1 or 2 (that open resets the decoder).
 * Each frame is decoded at its own rate, so a stream may switch rates from
 * frame to frame; SID and untransmitted frames are concealed like lost
 * frames (there is no comfort-noise generator). Returns the bytes consumed
 * and sets *kind when kind is not NULL. Errors, with nothing decoded:
 * QRXC_ERR_ARG (null pointer, or no G.723.1 stream of type 1 or 2 open for
 * decoding), QRXC_ERR_BUFFER (len shorter than the frame). */
QRXC_API int Qrxc_decode_standard_ctx(Qrxc_context *ctx, const unsigned char *in, size_t len, short *pcm,
                                      int *kind);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(G_header) == 16, "G_header is the 16-byte stream header");
#else
_Static_assert(sizeof(G_header) == 16, "G_header is the 16-byte stream header");
#endif

#endif /* QRXC_H */
