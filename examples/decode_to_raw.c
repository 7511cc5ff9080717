/* decode_to_raw: decodes a QRX file into raw 16-bit little-endian mono PCM.
 *
 *     decode_to_raw IN.QRX OUT.raw     (OUT "-" writes standard output)
 *
 * The sample rate goes to standard error; a trailing partial frame is
 * ignored, as every qrxc tool does. Build against an installed qrxc with
 *     cc decode_to_raw.c $(pkg-config --cflags --libs qrxc)
 */
#include <stdio.h>
#include <string.h>

#include <qrxc.h>

static int fail(const char *what, const char *name) {
    fprintf(stderr, "decode_to_raw: %s: %s\n", what, name);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: decode_to_raw IN.QRX OUT.raw\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in)
        return fail("cannot open", argv[1]);

    /* The short header is 4 bytes; its version byte says when 12 more follow. */
    unsigned char hdr[16] = {0};
    size_t have = fread(hdr, 1, 4, in);
    if (have == 4 && (hdr[3] & 0xC0) != 0)
        have += fread(hdr + 4, 1, 12, in);

    Qrxc_context *ctx = Qrxc_create();
    if (!ctx) {
        fclose(in);
        return fail("out of memory", argv[1]);
    }
    G_header info;
    const int offset = have >= 4 ? Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr) : QRXC_ERR_HEADER;
    if (offset < 0 || (size_t)offset != have) {
        Qrxc_destroy(ctx);
        fclose(in);
        return fail("not a QRX stream", argv[1]);
    }

    const int to_stdout = strcmp(argv[2], "-") == 0;
    FILE *out = to_stdout ? stdout : fopen(argv[2], "wb");
    if (!out) {
        Qrxc_destroy(ctx);
        fclose(in);
        return fail("cannot create", argv[2]);
    }

    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char bytes[2 * QRXC_MAX_PCM_FRAME];
    long frames = 0;
    int ok = 1;
    while (ok && fread(frame, 1, info.frame_bytes, in) == info.frame_bytes) {
        /* Decoding writes pcm from frame; Qrxc_frame_ctx serves both directions. */
        if (Qrxc_frame_ctx(ctx, pcm, frame) != 0)
            ok = 0;
        for (int i = 0; ok && i < info.pcm_frame; ++i) {
            const unsigned short s = (unsigned short)pcm[i];
            bytes[2 * i] = (unsigned char)(s & 0xFF);
            bytes[2 * i + 1] = (unsigned char)(s >> 8);
        }
        if (ok && fwrite(bytes, 2, info.pcm_frame, out) != info.pcm_frame)
            ok = 0;
        ++frames;
    }
    if (ferror(in))
        ok = 0;
    Qrxc_destroy(ctx);
    fclose(in);
    if (to_stdout ? fflush(out) != 0 : fclose(out) != 0)
        ok = 0;
    if (!ok) {
        if (!to_stdout)
            remove(argv[2]);
        return fail("decoding failed", argv[1]);
    }
    fprintf(stderr, "%ld frames, %ld samples at %u Hz\n", frames, frames * info.pcm_frame,
            (unsigned)info.sample_rate);
    return 0;
}
