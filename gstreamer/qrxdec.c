/* qrxdec: QRX frames of any type (audio/x-qrx-frame) to S16LE PCM at the
 * stream's rate, sample for sample what qrx decode writes. */
#include <gst/audio/gstaudiodecoder.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(qrxdec_debug);
#define GST_CAT_DEFAULT qrxdec_debug

typedef struct {
    GstAudioDecoder parent;
    Qrxc_context *ctx;
    guint frame_bytes;
    guint pcm_frame;
} GstQrxDec;

typedef struct {
    GstAudioDecoderClass parent_class;
} GstQrxDecClass;

#define GST_TYPE_QRX_DEC (gst_qrx_dec_get_type())
#define GST_QRX_DEC(obj) ((GstQrxDec *)(obj))
GType gst_qrx_dec_get_type(void);
G_DEFINE_TYPE(GstQrxDec, gst_qrx_dec, GST_TYPE_AUDIO_DECODER)
GST_ELEMENT_REGISTER_DEFINE(qrxdec, "qrxdec", GST_RANK_PRIMARY, GST_TYPE_QRX_DEC)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(QRXC_GST_FRAME_CAPS ", type = (int) [ 0, 6 ], channels = (int) 1, "
                                                                "rate = (int) { 8000, 12000, 16000 }"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(
        "audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                                                            "rate = (int) { 8000, 12000, 16000 }, channels = (int) 1"));

static gboolean gst_qrx_dec_start(GstAudioDecoder *dec) {
    if (GST_QRX_DEC(dec)->ctx == NULL) {
        GST_ELEMENT_ERROR(dec, RESOURCE, FAILED, ("Out of memory for the QRX decoder."), (NULL));
        return FALSE;
    }
    return TRUE;
}

static gboolean gst_qrx_dec_set_format(GstAudioDecoder *dec, GstCaps *caps) {
    GstQrxDec *self = GST_QRX_DEC(dec);
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    gint type = -1, rate = 0;
    gst_structure_get_int(s, "type", &type);
    gst_structure_get_int(s, "rate", &rate);
    G_header h;
    const int r = qrxc_gst_open_decoder(self->ctx, type, rate, &h);
    if (r < 0) {
        GST_ELEMENT_ERROR(dec, STREAM, FORMAT,
                          ("Cannot decode QRX type %d at %d Hz: %s.", type, rate, Qrxc_strerror(r)), (NULL));
        return FALSE;
    }
    self->frame_bytes = h.frame_bytes;
    self->pcm_frame = h.pcm_frame;
    GstAudioInfo info;
    gst_audio_info_init(&info);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16, rate, 1, NULL);
    return gst_audio_decoder_set_output_format(dec, &info);
}

static GstFlowReturn gst_qrx_dec_handle_frame(GstAudioDecoder *dec, GstBuffer *buffer) {
    GstQrxDec *self = GST_QRX_DEC(dec);
    if (buffer == NULL) return GST_FLOW_OK;
    GstMapInfo in;
    if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) return GST_FLOW_ERROR;
    if (in.size == 0 || in.size % self->frame_bytes != 0) {
        gst_buffer_unmap(buffer, &in);
        GstFlowReturn ret = GST_FLOW_OK;
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, ("QRX frames of %u bytes expected.", self->frame_bytes),
                                ("a buffer of %" G_GSIZE_FORMAT " bytes dropped", in.size), ret);
        return ret != GST_FLOW_OK ? ret : gst_audio_decoder_finish_frame(dec, NULL, 1);
    }
    const gsize frames = in.size / self->frame_bytes;
    GstBuffer *out = gst_buffer_new_allocate(NULL, frames * self->pcm_frame * sizeof(gint16), NULL);
    GstMapInfo om;
    gst_buffer_map(out, &om, GST_MAP_WRITE);
    gint16 *pcm = (gint16 *)om.data;
    for (gsize i = 0; i < frames; i++)
        Qrxc_decode_frame(self->ctx, in.data + i * self->frame_bytes, pcm + i * self->pcm_frame);
    gst_buffer_unmap(out, &om);
    gst_buffer_unmap(buffer, &in);
    return gst_audio_decoder_finish_frame(dec, out, 1);
}

static void gst_qrx_dec_finalize(GObject *object) {
    Qrxc_destroy(GST_QRX_DEC(object)->ctx);
    G_OBJECT_CLASS(gst_qrx_dec_parent_class)->finalize(object);
}

static void gst_qrx_dec_class_init(GstQrxDecClass *klass) {
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass *dec_class = GST_AUDIO_DECODER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(qrxdec_debug, "qrxdec", 0, "QRX decoder");
    G_OBJECT_CLASS(klass)->finalize = gst_qrx_dec_finalize;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "QRX decoder", "Codec/Decoder/Audio",
                                          "Decodes QRX frames of every type: G.723.1 and ADPCM",
                                          "qrxc developers <qrxc@example.org>");
    dec_class->start = gst_qrx_dec_start;
    dec_class->set_format = gst_qrx_dec_set_format;
    dec_class->handle_frame = gst_qrx_dec_handle_frame;
}

static void gst_qrx_dec_init(GstQrxDec *self) {
    self->ctx = Qrxc_create();
    gst_audio_decoder_set_needs_format(GST_AUDIO_DECODER(self), TRUE);
}
