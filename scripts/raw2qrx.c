/* Encodes raw 16-bit little-endian mono PCM from stdin into a QRX stream on
 * stdout with the qrxc library: raw2qrx TYPE [RATE [short]]; "short" writes
 * the 4-byte header. The last partial frame
 * is padded with silence. Used by make-sample.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qrxc.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: raw2qrx TYPE [RATE [short]] < in.raw > out.QRX\n");
        return 1;
    }
    const int type = atoi(argv[1]);
    const int rate = argc > 2 ? atoi(argv[2]) : 8000;
    G_header info;
    unsigned char hdr[16];
    Qrxc_version(argc > 3 && strcmp(argv[3], "short") == 0 ? 0 : 1);
    const int len = Qrxc_initial(QRXC_ENCODE, rate, type, &info, hdr);
    if (len < 0) {
        fprintf(stderr, "raw2qrx: cannot encode type %d at %d Hz (%d)\n", type, rate, len);
        return 1;
    }
    fwrite(hdr, 1, (size_t)len, stdout);
    unsigned char raw[2 * QRXC_MAX_PCM_FRAME];
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    const size_t want = 2u * info.pcm_frame;
    size_t got;
    while ((got = fread(raw, 1, want, stdin)) > 0) {
        memset(raw + got, 0, want - got);
        for (size_t i = 0; i < info.pcm_frame; ++i)
            pcm[i] = (short)(unsigned short)(raw[2 * i] | (raw[2 * i + 1] << 8));
        Qrxc_frame(pcm, frame);
        fwrite(frame, 1, info.frame_bytes, stdout);
        if (got < want) break;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
