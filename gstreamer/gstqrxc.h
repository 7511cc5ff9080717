/* Elements of the qrxc GStreamer plugin and the few helpers they share. */
#ifndef GSTQRXC_H
#define GSTQRXC_H

#include <gst/gst.h>

#include "qrxc.h"

G_BEGIN_DECLS

GST_ELEMENT_REGISTER_DECLARE(qrxdemux);
GST_ELEMENT_REGISTER_DECLARE(qrxdec);
GST_ELEMENT_REGISTER_DECLARE(g723dec);
GST_ELEMENT_REGISTER_DECLARE(g723enc);
GST_ELEMENT_REGISTER_DECLARE(qrxenc);
GST_ELEMENT_REGISTER_DECLARE(qrxspeed);
gboolean qrxc_gst_register_typefind(GstPlugin *plugin);

/* The media type of a QRX stream, header included. */
#define QRXC_GST_STREAM_CAPS "audio/x-qrx"
/* Coded frames of one QRX type, back to back, without the header. */
#define QRXC_GST_FRAME_CAPS "audio/x-qrx-frame"

/* Opens ctx for decoding frames of a stream type at a sample rate, with
 * the header the library itself writes for them; h receives the header
 * record. The library's result: the header length, or a negative
 * QRXC_ERR_* when it refuses the type or the rate. */
int qrxc_gst_open_decoder(Qrxc_context *ctx, int type, int sample_rate, G_header *h);

/* Nanoseconds of one frame of pcm_frame samples at sample_rate. */
GstClockTime qrxc_gst_frame_duration(int pcm_frame, int sample_rate);

/* Encodes samples PCM samples on ctx, open for encoding the stream h
 * describes, into as many frames as they fill, the last one completed with
 * silence; each frame goes out as the library codes it or, with standard,
 * in the standard G.723.1 layout. NULL if the library refuses a frame. */
GstBuffer *qrxc_gst_encode(Qrxc_context *ctx, const G_header *h, const gint16 *pcm, gsize samples, gboolean standard);

G_END_DECLS

#endif /* GSTQRXC_H */
