/* encode_raw: encodes raw 16-bit little-endian mono PCM into a QRX file.
 *
 *     encode_raw IN.raw OUT.QRX [TYPE [RATE [short]]]
 *
 * TYPE defaults to 5 (4-bit ADPCM), RATE to 8000 Hz; "short" writes the
 * 4-byte header instead of the 16-byte one. IN "-" reads standard input.
 * The last partial frame is padded with silence. Build against an
 * installed qrxc with
 *     cc encode_raw.c $(pkg-config --cflags --libs qrxc)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qrxc.h>

static int fail(const char *name, const char *what) {
    fprintf(stderr, "encode_raw: %s: %s\n", name, what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc < 3 || argc > 6) {
        fprintf(stderr, "usage: encode_raw IN.raw OUT.QRX [TYPE [RATE [short]]]\n");
        return 2;
    }
    const int type = argc > 3 ? atoi(argv[3]) : 5;
    const int rate = argc > 4 ? atoi(argv[4]) : 8000;
    const int long_header = !(argc > 5 && strcmp(argv[5], "short") == 0);

    Qrxc_context *ctx = Qrxc_create();
    if (!ctx)
        return fail(argv[1], "out of memory");
    Qrxc_version_ctx(ctx, long_header);
    G_header info;
    unsigned char hdr[QRXC_HEADER_MAX];
    const int hlen = Qrxc_initial_ctx(ctx, QRXC_ENCODE, rate, type, &info, hdr);
    if (hlen < 0) {
        Qrxc_destroy(ctx);
        fprintf(stderr, "encode_raw: type %d at %d Hz: %s\n", type, rate, Qrxc_strerror(hlen));
        return 2;
    }

    const int from_stdin = strcmp(argv[1], "-") == 0;
    FILE *in = from_stdin ? stdin : fopen(argv[1], "rb");
    if (!in) {
        Qrxc_destroy(ctx);
        return fail(argv[1], "cannot open");
    }
    FILE *out = fopen(argv[2], "wb");
    if (!out) {
        Qrxc_destroy(ctx);
        if (!from_stdin)
            fclose(in);
        return fail(argv[2], "cannot create");
    }

    const char *error = fwrite(hdr, 1, (size_t)hlen, out) == (size_t)hlen ? NULL : "write error";
    const char *where = argv[2];  /* the file the error concerns */
    unsigned char bytes[2 * QRXC_MAX_PCM_FRAME];
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    const size_t want = 2u * info.pcm_frame;
    size_t got;
    while (!error && (got = fread(bytes, 1, want, in)) > 0) {
        memset(bytes + got, 0, want - got);
        for (size_t i = 0; i < info.pcm_frame; ++i)
            pcm[i] = (short)(unsigned short)(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        const int rc = Qrxc_encode_frame(ctx, pcm, frame);
        if (rc != QRXC_OK)
            error = Qrxc_strerror(rc);
        else if (fwrite(frame, 1, info.frame_bytes, out) != info.frame_bytes)
            error = "write error";
        if (got < want)
            break;
    }
    if (!error && ferror(in)) {
        error = "read error";
        where = argv[1];
    }
    Qrxc_destroy(ctx);
    if (!from_stdin)
        fclose(in);
    if (fclose(out) != 0 && !error)
        error = "write error";
    if (error) {
        remove(argv[2]);
        return fail(where, error);
    }
    return 0;
}
