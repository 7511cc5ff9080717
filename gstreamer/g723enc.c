/* g723enc: S16LE PCM at 8000 Hz to standard G.723.1 frames (audio/G723)
 * at 5.3 or 6.3 kbit/s, ready for rtpg723pay; byte for byte what
 * qrx encode --output-format g723 writes. */
#include <gst/audio/gstaudioencoder.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(g723enc_debug);
#define GST_CAT_DEFAULT g723enc_debug

#define DEFAULT_BITRATE 6300

typedef struct {
    GstAudioEncoder parent;
    Qrxc_context *ctx;
    G_header header;
    gint bitrate; /* property; read when the stream starts */
} GstG723Enc;

typedef struct {
    GstAudioEncoderClass parent_class;
} GstG723EncClass;

#define GST_TYPE_G723_ENC (gst_g723_enc_get_type())
#define GST_G723_ENC(obj) ((GstG723Enc *)(obj))
GType gst_g723_enc_get_type(void);
G_DEFINE_TYPE(GstG723Enc, gst_g723_enc, GST_TYPE_AUDIO_ENCODER)
GST_ELEMENT_REGISTER_DEFINE(g723enc, "g723enc", GST_RANK_PRIMARY, GST_TYPE_G723_ENC)

enum { PROP_0, PROP_BITRATE };

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                                                                        "rate = (int) 8000, channels = (int) 1"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/G723, rate = (int) 8000, channels = (int) 1"));

static gboolean gst_g723_enc_set_format(GstAudioEncoder *enc, GstAudioInfo *info) {
    GstG723Enc *self = GST_G723_ENC(enc);
    if (self->ctx == NULL) {
        GST_ELEMENT_ERROR(enc, RESOURCE, FAILED, ("Out of memory for the G.723.1 encoder."), (NULL));
        return FALSE;
    }
    /* The two standard rates are QRX types 1 and 2. */
    const int type = self->bitrate == 5300 ? 1 : 2;
    unsigned char hdr[QRXC_HEADER_MAX];
    const int r = Qrxc_initial_ctx(self->ctx, QRXC_ENCODE, GST_AUDIO_INFO_RATE(info), type, &self->header, hdr);
    if (r < 0) {
        GST_ELEMENT_ERROR(enc, STREAM, FORMAT, ("Cannot encode G.723.1: %s.", Qrxc_strerror(r)), (NULL));
        return FALSE;
    }
    gst_audio_encoder_set_frame_samples_min(enc, self->header.pcm_frame);
    gst_audio_encoder_set_frame_samples_max(enc, self->header.pcm_frame);
    gst_audio_encoder_set_frame_max(enc, 1);
    GstCaps *caps = gst_caps_new_simple("audio/G723", "rate", G_TYPE_INT, 8000, "channels", G_TYPE_INT, 1, NULL);
    const gboolean ok = gst_audio_encoder_set_output_format(enc, caps);
    gst_caps_unref(caps);
    return ok;
}

static GstFlowReturn gst_g723_enc_handle_frame(GstAudioEncoder *enc, GstBuffer *buffer) {
    GstG723Enc *self = GST_G723_ENC(enc);
    if (buffer == NULL) return GST_FLOW_OK;
    GstMapInfo in;
    if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) return GST_FLOW_ERROR;
    const gsize samples = in.size / sizeof(gint16);
    GstBuffer *out = qrxc_gst_encode(self->ctx, &self->header, (const gint16 *)in.data, samples, TRUE);
    gst_buffer_unmap(buffer, &in);
    if (out == NULL) {
        GST_ELEMENT_ERROR(enc, STREAM, ENCODE, ("The G.723.1 encoder refused a frame."), (NULL));
        return GST_FLOW_ERROR;
    }
    return gst_audio_encoder_finish_frame(enc, out, (gint)samples);
}

static void gst_g723_enc_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    if (id == PROP_BITRATE) {
        const gint bitrate = g_value_get_int(value);
        if (bitrate == 5300 || bitrate == 6300)
            GST_G723_ENC(object)->bitrate = bitrate;
        else
            g_warning("g723enc: bitrate %d refused; G.723.1 runs at 5300 or 6300", bitrate);
    } else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void gst_g723_enc_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    if (id == PROP_BITRATE)
        g_value_set_int(value, GST_G723_ENC(object)->bitrate);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void gst_g723_enc_finalize(GObject *object) {
    Qrxc_destroy(GST_G723_ENC(object)->ctx);
    G_OBJECT_CLASS(gst_g723_enc_parent_class)->finalize(object);
}

static void gst_g723_enc_class_init(GstG723EncClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstAudioEncoderClass *enc_class = GST_AUDIO_ENCODER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(g723enc_debug, "g723enc", 0, "G.723.1 encoder");
    object_class->set_property = gst_g723_enc_set_property;
    object_class->get_property = gst_g723_enc_get_property;
    object_class->finalize = gst_g723_enc_finalize;
    /* Only the two rates the coder has; taken when a stream starts. */
    g_object_class_install_property(
        object_class, PROP_BITRATE,
        g_param_spec_int("bitrate", "Bit rate", "5300 or 6300 bits per second", 5300, 6300, DEFAULT_BITRATE,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "G.723.1 encoder", "Codec/Encoder/Audio",
                                          "Encodes 8000 Hz speech as G.723.1 at 5.3 or 6.3 kbit/s",
                                          "qrxc developers <qrxc@example.org>");
    enc_class->set_format = gst_g723_enc_set_format;
    enc_class->handle_frame = gst_g723_enc_handle_frame;
}

static void gst_g723_enc_init(GstG723Enc *self) {
    self->ctx = Qrxc_create();
    self->bitrate = DEFAULT_BITRATE;
}
