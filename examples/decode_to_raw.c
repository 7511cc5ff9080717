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

static int fail(const char *name, const char *what) {
    fprintf(stderr, "decode_to_raw: %s: %s\n", name, what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: decode_to_raw IN.QRX OUT.raw\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in)
        return fail(argv[1], "cannot open");

    /* The first 4 bytes tell the header's length: 4, or 16 in the long form. */
    unsigned char hdr[QRXC_HEADER_MAX];
    int hlen = fread(hdr, 1, 4, in) == 4 ? Qrxc_header_length(hdr) : QRXC_ERR_HEADER;
    if (hlen > 4 && fread(hdr + 4, 1, (size_t)hlen - 4, in) != (size_t)hlen - 4)
        hlen = QRXC_ERR_HEADER;
    if (hlen < 0) {
        fclose(in);
        return fail(argv[1], Qrxc_strerror(hlen));
    }
    Qrxc_context *ctx = Qrxc_create();
    if (!ctx) {
        fclose(in);
        return fail(argv[1], "out of memory");
    }
    G_header info;
    const int opened = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &info, hdr);
    if (opened < 0) {
        Qrxc_destroy(ctx);
        fclose(in);
        return fail(argv[1], Qrxc_strerror(opened));
    }

    const int to_stdout = strcmp(argv[2], "-") == 0;
    FILE *out = to_stdout ? stdout : fopen(argv[2], "wb");
    if (!out) {
        Qrxc_destroy(ctx);
        fclose(in);
        return fail(argv[2], "cannot create");
    }

    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char bytes[2 * QRXC_MAX_PCM_FRAME];
    long frames = 0;
    const char *error = NULL;  /* and the file it concerns */
    const char *where = argv[1];
    while (!error && fread(frame, 1, info.frame_bytes, in) == info.frame_bytes) {
        const int rc = Qrxc_decode_frame(ctx, frame, pcm);
        if (rc != QRXC_OK) {
            error = Qrxc_strerror(rc);
            break;
        }
        for (int i = 0; i < info.pcm_frame; ++i) {
            const unsigned short s = (unsigned short)pcm[i];
            bytes[2 * i] = (unsigned char)(s & 0xFF);
            bytes[2 * i + 1] = (unsigned char)(s >> 8);
        }
        if (fwrite(bytes, 2, info.pcm_frame, out) != info.pcm_frame) {
            error = "write error";
            where = argv[2];
        }
        ++frames;
    }
    if (!error && ferror(in))
        error = "read error";
    Qrxc_destroy(ctx);
    fclose(in);
    if ((to_stdout ? fflush(out) : fclose(out)) != 0 && !error) {
        error = "write error";
        where = argv[2];
    }
    if (error) {
        if (!to_stdout)
            remove(argv[2]);
        return fail(where, error);
    }
    fprintf(stderr, "%ld frames, %ld samples at %u Hz\n", frames, frames * info.pcm_frame,
            (unsigned)info.sample_rate);
    return 0;
}
