/* qrxenc: S16LE mono PCM to a QRX stream of any type (audio/x-qrx): the
 * header, then the frames, byte for byte what qrx encode writes. */
#include <gst/audio/gstaudioencoder.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(qrxenc_debug);
#define GST_CAT_DEFAULT qrxenc_debug

#define DEFAULT_TYPE 1
/* ADPCM frames cost little to code: several per buffer. */
#define FRAMES_PER_BUFFER 8

typedef struct {
    GstAudioEncoder parent;
    Qrxc_context *ctx;
    G_header header;
    gint type;             /* property */
    gboolean short_header; /* property */
} GstQrxEnc;

typedef struct {
    GstAudioEncoderClass parent_class;
} GstQrxEncClass;

#define GST_TYPE_QRX_ENC (gst_qrx_enc_get_type())
#define GST_QRX_ENC(obj) ((GstQrxEnc *)(obj))
GType gst_qrx_enc_get_type(void);
G_DEFINE_TYPE(GstQrxEnc, gst_qrx_enc, GST_TYPE_AUDIO_ENCODER)
GST_ELEMENT_REGISTER_DEFINE(qrxenc, "qrxenc", GST_RANK_SECONDARY, GST_TYPE_QRX_ENC)

enum { PROP_0, PROP_TYPE, PROP_SHORT_HEADER };

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(
        "audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                                                            "rate = (int) { 8000, 12000, 16000 }, channels = (int) 1"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(QRXC_GST_STREAM_CAPS));

static gboolean gst_qrx_enc_set_format(GstAudioEncoder *enc, GstAudioInfo *info) {
    GstQrxEnc *self = GST_QRX_ENC(enc);
    if (self->ctx == NULL) {
        GST_ELEMENT_ERROR(enc, RESOURCE, FAILED, ("Out of memory for the QRX encoder."), (NULL));
        return FALSE;
    }
    unsigned char hdr[QRXC_HEADER_MAX];
    Qrxc_version_ctx(self->ctx, self->short_header ? 0 : 1);
    const int len = Qrxc_initial_ctx(self->ctx, QRXC_ENCODE, GST_AUDIO_INFO_RATE(info), self->type, &self->header, hdr);
    if (len < 0) {
        GST_ELEMENT_ERROR(
            enc, STREAM, FORMAT,
            ("Cannot encode QRX type %d at %d Hz: %s.", self->type, GST_AUDIO_INFO_RATE(info), Qrxc_strerror(len)),
            (NULL));
        return FALSE;
    }
    gst_audio_encoder_set_frame_samples_min(enc, self->header.pcm_frame);
    gst_audio_encoder_set_frame_samples_max(enc, self->header.pcm_frame);
    gst_audio_encoder_set_frame_max(enc, FRAMES_PER_BUFFER);
    GstBuffer *header = gst_buffer_new_memdup(hdr, (gsize)len);
    GST_BUFFER_FLAG_SET(header, GST_BUFFER_FLAG_HEADER);
    gst_audio_encoder_set_headers(enc, g_list_append(NULL, header));
    GstCaps *caps = gst_caps_new_simple(QRXC_GST_STREAM_CAPS, "type", G_TYPE_INT, self->type, "rate", G_TYPE_INT,
                                        GST_AUDIO_INFO_RATE(info), NULL);
    const gboolean ok = gst_audio_encoder_set_output_format(enc, caps);
    gst_caps_unref(caps);
    return ok;
}

static GstFlowReturn gst_qrx_enc_handle_frame(GstAudioEncoder *enc, GstBuffer *buffer) {
    GstQrxEnc *self = GST_QRX_ENC(enc);
    if (buffer == NULL) return GST_FLOW_OK;
    GstMapInfo in;
    if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) return GST_FLOW_ERROR;
    const gsize samples = in.size / sizeof(gint16);
    GstBuffer *out = qrxc_gst_encode(self->ctx, &self->header, (const gint16 *)in.data, samples, FALSE);
    gst_buffer_unmap(buffer, &in);
    if (out == NULL) {
        GST_ELEMENT_ERROR(enc, STREAM, ENCODE, ("The QRX encoder refused a frame."), (NULL));
        return GST_FLOW_ERROR;
    }
    return gst_audio_encoder_finish_frame(enc, out, (gint)samples);
}

static void gst_qrx_enc_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstQrxEnc *self = GST_QRX_ENC(object);
    switch (id) {
    case PROP_TYPE: {
        const gint type = g_value_get_int(value);
        Qrxc_type_desc desc;
        if (Qrxc_type_info(type, &desc) == QRXC_OK)
            self->type = type;
        else
            g_warning("qrxenc: type %d refused: %s", type, Qrxc_strerror(QRXC_ERR_TYPE));
        break;
    }
    case PROP_SHORT_HEADER: self->short_header = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void gst_qrx_enc_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstQrxEnc *self = GST_QRX_ENC(object);
    switch (id) {
    case PROP_TYPE: g_value_set_int(value, self->type); break;
    case PROP_SHORT_HEADER: g_value_set_boolean(value, self->short_header); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void gst_qrx_enc_finalize(GObject *object) {
    Qrxc_destroy(GST_QRX_ENC(object)->ctx);
    G_OBJECT_CLASS(gst_qrx_enc_parent_class)->finalize(object);
}

static void gst_qrx_enc_class_init(GstQrxEncClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstAudioEncoderClass *enc_class = GST_AUDIO_ENCODER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(qrxenc_debug, "qrxenc", 0, "QRX encoder");
    object_class->set_property = gst_qrx_enc_set_property;
    object_class->get_property = gst_qrx_enc_get_property;
    object_class->finalize = gst_qrx_enc_finalize;
    g_object_class_install_property(
        object_class, PROP_TYPE,
        g_param_spec_int("type", "Stream type",
                         "0 (5.3 kbit/s, 320 samples), 1 (5.3 kbit/s), 2 (6.3 kbit/s), 4, 5, 6 (ADPCM 3, 4, 5 bits)", 0,
                         6, DEFAULT_TYPE, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_SHORT_HEADER,
        g_param_spec_boolean("short-header", "Short header", "Write the 4-byte header form", FALSE,
                             G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "QRX encoder", "Codec/Encoder/Audio",
                                          "Encodes speech as a QRX voice stream of any type",
                                          "qrxc developers <qrxc@example.org>");
    enc_class->set_format = gst_qrx_enc_set_format;
    enc_class->handle_frame = gst_qrx_enc_handle_frame;
}

static void gst_qrx_enc_init(GstQrxEnc *self) {
    self->ctx = Qrxc_create();
    self->type = DEFAULT_TYPE;
}
