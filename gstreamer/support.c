/* Helpers shared by the elements. */
#include <string.h>

#include "gstqrxc.h"

int qrxc_gst_open_decoder(Qrxc_context *ctx, int type, int sample_rate, G_header *h) {
    /* Frames arrive without their header: the library opens the stream from
     * the type and rate alone, and judges them itself. */
    return Qrxc_open_decoding_ctx(ctx, type, sample_rate, h);
}

GstClockTime qrxc_gst_frame_duration(int pcm_frame, int sample_rate) {
    return gst_util_uint64_scale_int(GST_SECOND, pcm_frame, sample_rate);
}

GstBuffer *qrxc_gst_encode(Qrxc_context *ctx, const G_header *h, const gint16 *pcm, gsize samples, gboolean standard) {
    const gsize pcm_frame = h->pcm_frame;
    const gsize frames = (samples + pcm_frame - 1) / pcm_frame;
    const gsize room = standard ? QRXC_G723_STANDARD_MAX_BYTES : h->frame_bytes;
    GstBuffer *out = gst_buffer_new_allocate(NULL, frames * room, NULL);
    GstMapInfo om;
    gst_buffer_map(out, &om, GST_MAP_WRITE);
    gsize written = 0;
    gboolean ok = TRUE;
    for (gsize i = 0; i < frames && ok; i++) {
        const gint16 *frame = pcm + i * pcm_frame;
        gint16 padded[QRXC_MAX_PCM_FRAME] = {0};
        if (samples - i * pcm_frame < pcm_frame) {
            memcpy(padded, frame, (samples - i * pcm_frame) * sizeof *padded);
            frame = padded;
        }
        unsigned char coded[QRXC_MAX_FRAME_BYTES];
        ok = Qrxc_encode_frame(ctx, frame, standard ? coded : om.data + written) == QRXC_OK;
        if (ok && standard) {
            const int n = Qrxc_g723_to_standard(coded, h->type, om.data + written);
            ok = n > 0;
            written += ok ? (gsize)n : 0;
        } else if (ok) {
            written += h->frame_bytes;
        }
    }
    gst_buffer_unmap(out, &om);
    if (!ok) {
        gst_buffer_unref(out);
        return NULL;
    }
    gst_buffer_set_size(out, (gssize)written);
    return out;
}
