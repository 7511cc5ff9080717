/* Recognises QRX streams by their header, as the library judges it. */

#include "gstqrxc.h"

static void qrx_type_find(GstTypeFind *tf, gpointer user_data) {
    (void)user_data;
    const guint8 *first = gst_type_find_peek(tf, 0, 4);
    if (first == NULL) return;
    const int len = Qrxc_header_length(first);
    if (len < 0) return;
    const guint8 *peeked = gst_type_find_peek(tf, 0, (guint)len);
    if (peeked == NULL) return;
    G_header h;
    if (Qrxc_parse_header(peeked, (size_t)len, &h) < 0) return;
    /* Three magic bytes and a type and rate from small sets: likely for
     * the short form; the long form also repeats its frame sizes. */
    GstCaps *caps = gst_caps_new_simple(QRXC_GST_STREAM_CAPS, "type", G_TYPE_INT, (gint)h.type, "channels", G_TYPE_INT,
                                        1, "rate", G_TYPE_INT, (gint)h.sample_rate, NULL);
    gst_type_find_suggest(tf, len == 16 ? GST_TYPE_FIND_NEARLY_CERTAIN : GST_TYPE_FIND_LIKELY, caps);
    gst_caps_unref(caps);
}

gboolean qrxc_gst_register_typefind(GstPlugin *plugin) {
    GstCaps *caps = gst_caps_new_empty_simple(QRXC_GST_STREAM_CAPS);
    const gboolean ok = gst_type_find_register(plugin, QRXC_GST_STREAM_CAPS, GST_RANK_PRIMARY, qrx_type_find, "qrx,QRX",
                                               caps, NULL, NULL);
    gst_caps_unref(caps);
    return ok;
}
