/* qrxc: speech codec library for QRX voice streams.
 *
 * A QRX stream is a 4- or 16-byte header followed by fixed-size coded
 * frames. A frame is `pcm_frame` samples of 16-bit mono PCM (240, or 320
 * in type 0) and `frame_bytes` coded bytes; both come from the header.
 *
 * The five classic entry points (Qrxc_version, Qrxc_initial, Qrxc_frame,
 * Qrmd_initial, Qrmd_frame) work on one process-wide default context, which
 * is not thread-safe: drive it from one thread at a time. The *_ctx
 * variants and the calls taking a Qrxc_context work on a context the caller
 * owns (Qrxc_create / Qrxc_destroy); independent contexts may be used from
 * different threads, one thread per context at a time. Destroying a context
 * twice, or using it after Qrxc_destroy, is undefined. A NULL context makes
 * a call fail (QRXC_ERR_ARG, whose value -1 the older calls document) or,
 * for calls without a result, do nothing. The calls without a context
 * (format queries, Qrxc_parse_header, Qrxc_write_header) keep no state and
 * are thread-safe.
 *
 * PCM is 16-bit signed mono, native byte order: `short` here is int16_t on
 * every platform the library builds for, so int16_t buffers may be passed.
 *
 * Buffer sizes: a PCM frame is pcm_frame samples (QRXC_MAX_PCM_FRAME at
 * most), a coded frame frame_bytes bytes (QRXC_MAX_FRAME_BYTES at most), an
 * encoded header up to QRXC_HEADER_MAX bytes, and a speed-control output
 * buffer room for 2 x pcm_frame samples. The whole-buffer calls take
 * explicit capacities.
 *
 * Flags of Qrmd_initial / Qrmd_frame: only the low byte counts. Without
 * QRMD_EFFECT_MODE the low 4 bits are the speed level and a level above 12
 * acts as 12; with it the low 5 bits are the effect code and the level is
 * normal speed. Other bits are ignored; QRMD_EFFECT_MODE together with
 * QRMD_RESERVED is refused. Qrxc_version uses only v & 3.
 */
#ifndef QRXC_H
#define QRXC_H

#include <stddef.h>
#include <stdint.h>

#include "qrxc_version.h"

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

/* Result codes; Qrxc_strerror gives a text for each. */
#define QRXC_OK             0
#define QRXC_ERR_ARG        (-1) /* bad direction, null pointer, or header inconsistent with its type */
#define QRXC_ERR_STATE      (-1) /* no open stream, as the older calls report it: the value of
                                    QRXC_ERR_ARG, kept because callers compare it */
#define QRXC_ERR_RATE       (-2) /* encoding: sample rate not 8000, 12000 or 16000 */
#define QRXC_ERR_TYPE       (-3) /* encoding: type 3 or above 6 */
#define QRXC_ERR_HEADER     (-4) /* decoding: bad magic, rate code, type or sample rate */
#define QRXC_ERR_DIRECTION  (-5) /* the open stream codes the other way */
#define QRXC_ERR_BUFFER     (-6) /* a caller buffer is too small, or a size is out of range */
#define QRXC_ERR_NOT_OPEN   (-7) /* wrong state: nothing open that the call works on (Qrmd_process_ctx) */

/* Speed control flags for Qrmd_initial / Qrmd_frame. */
#define QRMD_EFFECT_MODE 0x80 /* low 5 bits then select the voice effect */
#define QRMD_RESERVED    0x40

/* ---- library information ---- */

/* "MAJOR.MINOR.PATCH" of the library actually loaded. */
QRXC_API const char *Qrxc_version_string(void);
/* A static text for every result code; "unknown error" for anything else. */
QRXC_API const char *Qrxc_strerror(int code);

/* ---- format queries (no context, no state) ---- */

/* Length of the header a stream starts with, 4 or 16, from its first 4
 * bytes; QRXC_ERR_HEADER if they are not a QRX header (bad magic, or a short
 * header with rate code 3 or a type that does not exist), QRXC_ERR_ARG for
 * NULL. A long header needs all 16 bytes for Qrxc_initial. */
QRXC_API int Qrxc_header_length(const unsigned char *first4);

typedef struct Qrxc_type_desc {
    int pcm_frame;      /* samples per frame: 240, or 320 in type 0 */
    int frame_bytes;    /* coded bytes per frame */
    int bit_rate;       /* bits per second at 8000 Hz: frame_bytes * 64000 / pcm_frame */
    const char *coder;  /* e.g. "G.723.1 6.3 kbit/s", "ADPCM 4 bits"; static */
} Qrxc_type_desc;
/* Fills out for a stream type: 0, or QRXC_ERR_TYPE (3, negative or above 6) / QRXC_ERR_ARG (NULL). */
QRXC_API int Qrxc_type_info(int type, Qrxc_type_desc *out);
/* 1 when the decoder will conceal this coded frame (frame_bytes bytes) of
 * the given type instead of decoding it (forbidden lag or gain codes), 0
 * when not (always 0 for the ADPCM types), QRXC_ERR_TYPE or QRXC_ERR_ARG. */
QRXC_API int Qrxc_frame_concealed(int type, const unsigned char *frame);

/* ---- process-wide default context ---- */

/* Not a version query (that is Qrxc_version_string): selects the header
 * form that later encoding opens on the default context write. v & 3 is
 * the form: 0 the short 4-byte header, 1..3 the long 16-byte header with
 * version byte 0x40, 0x80 or 0xC0; the other bits are ignored. At load the
 * form is 1. Decoding reads either form whatever this setting. */
QRXC_API void Qrxc_version(int v);
/* Opens a stream, replacing any open one, and resets the coder it uses.
 * direction 1 encodes: hdr receives the header, the result is its length
 * (4 or 16; room for 16). direction 2 decodes: hdr holds the stream's first
 * bytes (4 for a short header, 16 for a long one), the result is the offset
 * of the first frame. out receives the header record. Negative results are
 * QRXC_ERR_*; then nothing is written to out or hdr and no stream is open.
 * Encoding judges the whole int rate and type (73536 is not 8000), though
 * the header record keeps their low 16 bits. */
QRXC_API int Qrxc_initial(int direction, int sample_rate, int type, G_header *out, unsigned char *hdr);
/* Codes one frame of the open stream: encoding reads pcm_frame samples
 * from pcm and writes frame_bytes bytes to data; decoding the reverse. The
 * input buffer is not modified. 0 on success, QRXC_ERR_ARG (-1) with no open
 * stream or a null pointer. */
QRXC_API int Qrxc_frame(short *pcm, unsigned char *data);

/* Playback speed control on decoded frames of the open stream. Qrmd_initial
 * must run (on the same context) before the first Qrmd_frame. Opening a
 * stream restarts the speed control at its level and clears the voice
 * effects, so every stream plays the same whatever came before. */
QRXC_API int Qrmd_initial(int flags);
/* Writes the frame's output samples to dst (room for 2 x pcm_frame); src may
 * equal dst. Returns 0, or -1 for bad flags (0x80 with 0x40), null buffers,
 * no successfully opened stream, or no Qrmd_initial yet; a failed call
 * writes nothing. Qrmd_last_count tells how many samples the last call wrote
 * (0 after a failed call). */
QRXC_API int Qrmd_frame(int flags, short *src, short *dst);
QRXC_API int Qrmd_last_count(void);

/* ---- caller-owned contexts ---- */

typedef struct Qrxc_context Qrxc_context;

/* A fresh context in the state of a freshly loaded library (no open
 * stream, long headers, no speed control); NULL when out of memory. Any
 * thread may create or destroy contexts. */
QRXC_API Qrxc_context *Qrxc_create(void);
/* Frees ctx and everything it holds; NULL is ignored. */
QRXC_API void Qrxc_destroy(Qrxc_context *ctx);

/* The calls above on a caller-owned context, with the same arguments and
 * results; a NULL ctx fails with QRXC_ERR_ARG (-1) or is ignored. */
QRXC_API void Qrxc_version_ctx(Qrxc_context *ctx, int v);
QRXC_API int Qrxc_initial_ctx(Qrxc_context *ctx, int direction, int sample_rate, int type,
                              G_header *out, unsigned char *hdr);
QRXC_API int Qrxc_frame_ctx(Qrxc_context *ctx, short *pcm, unsigned char *data);
QRXC_API int Qrmd_initial_ctx(Qrxc_context *ctx, int flags);
QRXC_API int Qrmd_frame_ctx(Qrxc_context *ctx, int flags, const short *src, short *dst);
QRXC_API int Qrmd_last_count_ctx(const Qrxc_context *ctx);

/* One frame of the open stream, const-correct: decode_frame reads
 * frame_bytes bytes and writes pcm_frame samples, encode_frame the reverse.
 * 0, QRXC_ERR_ARG for a NULL pointer, QRXC_ERR_STATE with no open stream,
 * QRXC_ERR_DIRECTION when the open stream codes the other way. */
QRXC_API int Qrxc_decode_frame(Qrxc_context *ctx, const unsigned char *frame, short *pcm);
QRXC_API int Qrxc_encode_frame(Qrxc_context *ctx, const short *pcm, unsigned char *frame);

/* Whole-buffer coding. A stream is its header (4 or 16 bytes) followed by
 * frames; a trailing partial frame is ignored, as the converter does.
 * Qrxc_decoded_samples: the samples the stream decodes to, or
 * QRXC_ERR_ARG (NULL) / QRXC_ERR_HEADER (too short or not a valid header) /
 * QRXC_ERR_BUFFER (a count beyond range). */
QRXC_API long long Qrxc_decoded_samples(const unsigned char *stream, size_t len);
/* Opens the stream on ctx, decodes every whole frame into pcm (room for
 * pcm_capacity samples, at least Qrxc_decoded_samples) and copies the header
 * record to info (may be NULL). Returns the samples written, or a negative
 * result; on failure ctx and pcm are untouched. pcm may be NULL only with
 * pcm_capacity 0. */
QRXC_API long long Qrxc_decode_buffer(Qrxc_context *ctx, const unsigned char *stream, size_t len,
                                      short *pcm, size_t pcm_capacity, G_header *info);
/* Bytes that samples PCM samples encode to: the header (16 when long_header
 * is non-zero, else 4) plus one frame per pcm_frame samples, a last partial
 * frame padded with silence. QRXC_ERR_TYPE or QRXC_ERR_BUFFER (beyond range). */
QRXC_API long long Qrxc_encoded_bytes(int type, size_t samples, int long_header);
/* Encodes samples PCM samples into out (room for out_capacity bytes, at
 * least Qrxc_encoded_bytes) exactly as the qrx encode command writes them:
 * header, then the frames, the last one padded with silence. Returns the
 * bytes written or a negative result (QRXC_ERR_ARG, _RATE, _TYPE, _BUFFER);
 * on failure ctx and out are untouched. On success the encoding stream
 * stays open on ctx; its Qrxc_version_ctx setting is kept. pcm may be NULL
 * only with samples 0. */
QRXC_API long long Qrxc_encode_buffer(Qrxc_context *ctx, int sample_rate, int type, int long_header,
                                      const short *pcm, size_t samples, unsigned char *out,
                                      size_t out_capacity);

/* The speed control's diagnostic texts (one line each, ending in a newline)
 * go to fn(user, text). The default context prints them to standard output;
 * a caller-owned context prints nothing unless given a callback; fn NULL
 * silences it again. A NULL ctx is ignored. */
typedef void (*Qrxc_diagnostic_fn)(void *user, const char *text);
QRXC_API void Qrxc_set_diagnostics(Qrxc_context *ctx, Qrxc_diagnostic_fn fn, void *user);

/* ---- stream facts and set-up without a header ----
 *
 * The facts a front end needs about streams and the speed control, so that
 * none has to copy them, and the set-up calls for streams that arrive
 * without a QRX header or PCM that comes from no stream. */

/* Stream types, as a header names them; 3 names nothing. Qrxc_type_info
 * describes each. */
#define QRXC_TYPE_G723_RESAMPLED 0 /* G.723.1 5.3 kbit/s behind a 4:3 rate converter, 320-sample frames */
#define QRXC_TYPE_G723_53        1 /* G.723.1 5.3 kbit/s */
#define QRXC_TYPE_G723_63        2 /* G.723.1 6.3 kbit/s */
#define QRXC_TYPE_ADPCM_3        4 /* ADPCM, 3 bits per sample */
#define QRXC_TYPE_ADPCM_4        5
#define QRXC_TYPE_ADPCM_5        6
#define QRXC_TYPE_LAST           QRXC_TYPE_ADPCM_5

/* The G.723.1 coder's own frame: 240 samples, 30 ms at 8000 Hz, the rate
 * standard G.723.1 streams play at. */
#define QRXC_G723_PCM_FRAME   240
#define QRXC_G723_SAMPLE_RATE 8000

/* Header lengths: the short form (magic, then type and rate code in one
 * byte) and the long form, G_header byte for byte. */
#define QRXC_HEADER_SHORT 4
#define QRXC_HEADER_LONG  16
#define QRXC_HEADER_MAX   QRXC_HEADER_LONG

/* Speed levels (flags without QRMD_EFFECT_MODE): 0 plays twice as fast,
 * QRMD_NORMAL_LEVEL at normal speed, QRMD_SPEED_LEVELS - 1 at half speed. */
#define QRMD_SPEED_LEVELS 13
#define QRMD_NORMAL_LEVEL 4
#define QRMD_LEVEL_MASK   0x0F
/* Effect codes (flags with QRMD_EFFECT_MODE): a pitch setting in bits 2-4
 * (QRMD_PITCH(1..3) lower, QRMD_PITCH(4..7) higher), ORed with at most one
 * of vibrato and the two echoes (160 and 504 samples later). */
#define QRMD_EFFECT_MASK    0x1F
#define QRMD_PITCH(setting) (((setting) & 7) << 2)
#define QRMD_PITCH_SETTINGS 8
#define QRMD_VIBRATO        0x01
#define QRMD_ECHO_SHORT     0x02
#define QRMD_ECHO_LONG      0x03

/* Reads the QRX header at the start of bytes (len bytes available) without
 * a context, exactly as a decoding open would.
 *   bytes, len  the stream's first bytes: 4 suffice for a short header, a
 *               long one needs all 16.
 *   out         receives the header record: type, sample_rate, pcm_frame,
 *               frame_bytes, the version byte (1 for a short header) and
 *               header_size as the long form stores it.
 * Returns the header length (QRXC_HEADER_SHORT or QRXC_HEADER_LONG), the
 * offset of the first frame. Errors, with out unspecified:
 * QRXC_ERR_ARG (bytes or out NULL), QRXC_ERR_BUFFER (len shorter than the
 * header: fewer than 4 bytes, or a long header cut short), QRXC_ERR_HEADER
 * (not a QRX header, or one whose frame sizes contradict its type).
 * Thread-safe. */
QRXC_API int Qrxc_parse_header(const unsigned char *bytes, size_t len, G_header *out);

/* Writes the header an encoding stream starts with, without a context:
 * the bytes Qrxc_initial_ctx writes after Qrxc_version_ctx(ctx, form).
 *   sample_rate, type  as for Qrxc_initial (8000/12000/16000; 0..2, 4..6)
 *   form         0 the short header, 1..3 the long one (only form & 3 counts)
 *   hdr          receives the header: room for QRXC_HEADER_MAX bytes
 *   out          receives the header record (may be NULL)
 * Returns the bytes written (QRXC_HEADER_SHORT or QRXC_HEADER_LONG), or
 * QRXC_ERR_ARG (hdr NULL), QRXC_ERR_RATE, QRXC_ERR_TYPE with nothing
 * written. Thread-safe. */
QRXC_API int Qrxc_write_header(int sample_rate, int type, int form, unsigned char *hdr, G_header *out);

/* Opens a decoding stream of the given type on ctx, as if a long header of
 * that type and sample rate had been read (streams that carry their frames
 * without a QRX header: standard G.723.1 files, RTP). The decoder is reset
 * and the speed control restarts, as for Qrxc_initial_ctx.
 *   type         0, 1, 2, 4, 5 or 6
 *   sample_rate  8000, 12000 or 16000: the label out and a WAV carry
 *   out          receives the header record (may be NULL)
 * Returns QRXC_OK, or QRXC_ERR_ARG (ctx NULL), QRXC_ERR_TYPE,
 * QRXC_ERR_RATE; on failure ctx is unchanged.
 * One thread per context at a time. */
QRXC_API int Qrxc_open_decoding_ctx(Qrxc_context *ctx, int type, int sample_rate, G_header *out);

/* Sets ctx up for the speed control alone, on frames of pcm_frame samples
 * (any stream type's frame length: 240 or 320), and runs Qrmd_initial_ctx
 * with flags. Any stream open on ctx is closed, so the context codes
 * nothing until the next open; opening a stream later makes the speed
 * control follow that stream's frames again.
 * Returns QRXC_OK, or QRXC_ERR_ARG (ctx NULL, or QRMD_EFFECT_MODE with
 * QRMD_RESERVED in flags), QRXC_ERR_BUFFER (no stream type has frames of
 * pcm_frame samples); on failure the context is unchanged.
 * One thread per context at a time. */
QRXC_API int Qrmd_open_ctx(Qrxc_context *ctx, int pcm_frame, int flags);

/* One frame through the speed control, as Qrmd_frame_ctx, returning the
 * count at once.
 *   src  pcm_frame samples of the open stream (or of Qrmd_open_ctx)
 *   dst  room for 2 x pcm_frame samples; may equal src
 * Returns the samples written to dst (0 while the control fills its
 * buffer, up to 2 x pcm_frame at the slow levels), or QRXC_ERR_ARG (NULL
 * pointer, or QRMD_EFFECT_MODE with QRMD_RESERVED), QRXC_ERR_NOT_OPEN (no
 * stream or speed-only set-up on ctx, or no Qrmd_initial_ctx since);
 * a failed call writes nothing. One thread per context at a time. */
QRXC_API int Qrmd_process_ctx(Qrxc_context *ctx, int flags, const short *src, short *dst);

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
 * frame to frame. SID frames and untransmitted frames (silence compression)
 * decode to comfort noise: SID frames carry the noise's spectrum and level,
 * untransmitted frames continue it. A speech frame with a forbidden lag or
 * gain code, the way a lost frame is marked, is concealed from the speech
 * before it, or continues the comfort noise when silence came before it.
 * Returns the bytes consumed and sets *kind when kind is not NULL. Errors,
 * with nothing decoded: QRXC_ERR_ARG (null pointer, or no G.723.1 stream
 * of type 1 or 2 open for decoding), QRXC_ERR_BUFFER (len shorter than the
 * frame). */
QRXC_API int Qrxc_decode_standard_ctx(Qrxc_context *ctx, const unsigned char *in, size_t len, short *pcm,
                                      int *kind);

/* What the last frame Qrxc_decode_standard_ctx decoded on ctx became:
 * QRXC_G723_DECODED_SPEECH, _COMFORT_NOISE (a SID or untransmitted frame,
 * or a lost frame inside silence) or _LOST (a lost frame concealed from
 * the speech before it). QRXC_ERR_ARG for a NULL ctx; speech before any
 * frame was decoded. */
#define QRXC_G723_DECODED_SPEECH        0
#define QRXC_G723_DECODED_COMFORT_NOISE 1
#define QRXC_G723_DECODED_LOST          2
QRXC_API int Qrxc_decode_standard_last_ctx(const Qrxc_context *ctx);

/* Encodes 240 samples at pcm to one standard frame at out (room for
 * QRXC_G723_STANDARD_MAX_BYTES), on a context opened for encoding type 1 or
 * 2 at 8000 Hz (that open resets the encoder). rate_kind picks the frame's
 * rate, QRXC_G723_KIND_63 or QRXC_G723_KIND_53, and may change from frame
 * to frame whatever the opened type. With QRXC_G723_VAD in flags, frames
 * the voice activity detector calls silence become SID frames (4 bytes)
 * when the noise changed and untransmitted frames (1 byte) otherwise;
 * keep the flag the same for a whole stream. Without it every frame is
 * speech, the bytes Qrxc_encode_frame and Qrxc_g723_to_standard give.
 * Returns the bytes written (24, 20, 4 or 1); the kind is in the first
 * byte's two low bits. QRXC_ERR_ARG for a null pointer, a context not
 * opened so, a rate_kind other than 0 and 1, or an unknown flag. */
#define QRXC_G723_VAD 1
QRXC_API int Qrxc_encode_standard_ctx(Qrxc_context *ctx, const short *pcm, int rate_kind, int flags,
                                      unsigned char *out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(G_header) == 16, "G_header is the 16-byte stream header");
#else
_Static_assert(sizeof(G_header) == 16, "G_header is the 16-byte stream header");
#endif

#endif /* QRXC_H */
