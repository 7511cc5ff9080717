/* The qrxc plugin: QRX and G.723.1 for GStreamer. */
#include "gstqrxc.h"

#include <gst/gst.h>

static gboolean plugin_init(GstPlugin *plugin) {
    gboolean ok = qrxc_gst_register_typefind(plugin);
    ok &= GST_ELEMENT_REGISTER(qrxdemux, plugin);
    ok &= GST_ELEMENT_REGISTER(qrxdec, plugin);
    ok &= GST_ELEMENT_REGISTER(g723dec, plugin);
    ok &= GST_ELEMENT_REGISTER(g723enc, plugin);
    ok &= GST_ELEMENT_REGISTER(qrxenc, plugin);
    ok &= GST_ELEMENT_REGISTER(qrxspeed, plugin);
    return ok;
}

#define PACKAGE "qrxc"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, qrxc, "QRX voice files and G.723.1 at 5.3 and 6.3 kbit/s",
                  plugin_init, QRXC_GST_VERSION, "MIT/X11", "qrxc", "https://example.org/qrxc")
