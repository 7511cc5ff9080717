/* qrxspeed: the library's playback speed control and voice effects on S16LE
 * mono speech, frame by frame as qrx speed plays a stream. level and effect
 * may change while playing; each frame takes them as they stand. */
#include <gst/audio/audio.h>
#include <gst/base/gstadapter.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(qrxspeed_debug);
#define GST_CAT_DEFAULT qrxspeed_debug

#define DEFAULT_LEVEL 4 /* normal speed */
#define NO_EFFECT (-1)

typedef struct {
    GstElement parent;
    GstPad *sinkpad, *srcpad;
    Qrxc_context *ctx;
    GstAdapter *adapter;
    gint rate;
    guint pcm_frame;
    GstClockTime base_pts; /* time of the first sample after a segment start */
    guint64 samples_out;   /* since base_pts */
    gboolean discont;
    gint level;  /* properties, under the object lock */
    gint effect; /* NO_EFFECT, or the effect code */
} GstQrxSpeed;

typedef struct {
    GstElementClass parent_class;
} GstQrxSpeedClass;

#define GST_TYPE_QRX_SPEED (gst_qrx_speed_get_type())
#define GST_QRX_SPEED(obj) ((GstQrxSpeed *)(obj))
GType gst_qrx_speed_get_type(void);
G_DEFINE_TYPE(GstQrxSpeed, gst_qrx_speed, GST_TYPE_ELEMENT)
GST_ELEMENT_REGISTER_DEFINE(qrxspeed, "qrxspeed", GST_RANK_NONE, GST_TYPE_QRX_SPEED)

enum { PROP_0, PROP_LEVEL, PROP_EFFECT };

#define PCM_CAPS \
    "audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "                          \
                                                        "rate = (int) { 8000, 12000, 16000 }, channels = (int) 1"
static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(PCM_CAPS));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(PCM_CAPS));

static int current_flags(GstQrxSpeed *self) {
    GST_OBJECT_LOCK(self);
    const int flags = self->effect == NO_EFFECT ? self->level : QRMD_EFFECT_MODE | self->effect;
    GST_OBJECT_UNLOCK(self);
    return flags;
}

/* Opens the speed control afresh at the stream's rate: it plays frames
 * of the open stream's length. */
static gboolean restart(GstQrxSpeed *self) {
    G_header h;
    const int r = self->ctx == NULL ? QRXC_ERR_ARG : qrxc_gst_open_decoder(self->ctx, 1, self->rate, &h);
    if (r < 0 || Qrmd_initial_ctx(self->ctx, current_flags(self)) != 0) {
        GST_ELEMENT_ERROR(
            self, STREAM, FORMAT,
            ("Cannot start the speed control at %d Hz: %s.", self->rate, Qrxc_strerror(r < 0 ? r : QRXC_ERR_ARG)),
            (NULL));
        return FALSE;
    }
    self->pcm_frame = h.pcm_frame;
    gst_adapter_clear(self->adapter);
    self->base_pts = GST_CLOCK_TIME_NONE;
    self->samples_out = 0;
    self->discont = TRUE;
    return TRUE;
}

/* Plays every whole frame the adapter holds (with silence, the partial
 * one too, and then flush_frames frames of silence) into one buffer. */
static GstFlowReturn play(GstQrxSpeed *self, guint flush_frames) {
    const gsize frame_bytes = self->pcm_frame * sizeof(gint16);
    gsize avail = gst_adapter_available(self->adapter);
    if (flush_frames > 0) avail = (avail + frame_bytes - 1) / frame_bytes * frame_bytes + flush_frames * frame_bytes;
    const gsize frames = avail / frame_bytes;
    if (frames == 0) return GST_FLOW_OK;
    GstBuffer *out = gst_buffer_new_allocate(NULL, frames * 2 * frame_bytes, NULL);
    GstMapInfo om;
    gst_buffer_map(out, &om, GST_MAP_WRITE);
    gint16 *dst = (gint16 *)om.data;
    gsize written = 0;
    for (gsize i = 0; i < frames; i++) {
        gint16 pcm[QRXC_MAX_PCM_FRAME] = {0};
        const gsize have = MIN(frame_bytes, gst_adapter_available(self->adapter));
        if (have > 0) {
            gst_adapter_copy(self->adapter, pcm, 0, have);
            gst_adapter_flush(self->adapter, have);
        }
        if (Qrmd_frame_ctx(self->ctx, current_flags(self), pcm, dst + written) == 0)
            written += (gsize)Qrmd_last_count_ctx(self->ctx);
    }
    gst_buffer_unmap(out, &om);
    gst_buffer_set_size(out, (gssize)(written * sizeof(gint16)));
    if (written == 0) {
        gst_buffer_unref(out);
        return GST_FLOW_OK;
    }
    const GstClockTime base = GST_CLOCK_TIME_IS_VALID(self->base_pts) ? self->base_pts : 0;
    GST_BUFFER_PTS(out) = base + gst_util_uint64_scale_int(self->samples_out, GST_SECOND, self->rate);
    self->samples_out += written;
    GST_BUFFER_DURATION(out) =
        base + gst_util_uint64_scale_int(self->samples_out, GST_SECOND, self->rate) - GST_BUFFER_PTS(out);
    if (self->discont) {
        GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
        self->discont = FALSE;
    }
    return gst_pad_push(self->srcpad, out);
}

static GstFlowReturn gst_qrx_speed_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
    (void)pad;
    GstQrxSpeed *self = GST_QRX_SPEED(parent);
    if (self->pcm_frame == 0) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No audio format before the first samples."), (NULL));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (!GST_CLOCK_TIME_IS_VALID(self->base_pts) && gst_adapter_available(self->adapter) == 0)
        self->base_pts = GST_BUFFER_PTS(buffer);
    gst_adapter_push(self->adapter, buffer);
    return play(self, 0);
}

static gboolean gst_qrx_speed_sink_event(GstPad *pad, GstObject *parent, GstEvent *event) {
    GstQrxSpeed *self = GST_QRX_SPEED(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps *caps;
        gst_event_parse_caps(event, &caps);
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, caps)) break;
        self->rate = GST_AUDIO_INFO_RATE(&info);
        if (!restart(self)) {
            gst_event_unref(event);
            return FALSE;
        }
        break;
    }
    case GST_EVENT_EOS:
        /* The speed control holds up to a period back: two frames of
         * silence bring the end of the speech out. */
        if (self->pcm_frame != 0) play(self, 2);
        break;
    case GST_EVENT_FLUSH_STOP:
    case GST_EVENT_SEGMENT:
        if (self->pcm_frame != 0 && !restart(self)) {
            gst_event_unref(event);
            return FALSE;
        }
        break;
    default: break;
    }
    return gst_pad_event_default(pad, parent, event);
}

static void gst_qrx_speed_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstQrxSpeed *self = GST_QRX_SPEED(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LEVEL: self->level = g_value_get_int(value); break;
    case PROP_EFFECT: self->effect = g_value_get_int(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_qrx_speed_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstQrxSpeed *self = GST_QRX_SPEED(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LEVEL: g_value_set_int(value, self->level); break;
    case PROP_EFFECT: g_value_set_int(value, self->effect); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_qrx_speed_finalize(GObject *object) {
    GstQrxSpeed *self = GST_QRX_SPEED(object);
    Qrxc_destroy(self->ctx);
    g_object_unref(self->adapter);
    G_OBJECT_CLASS(gst_qrx_speed_parent_class)->finalize(object);
}

static void gst_qrx_speed_class_init(GstQrxSpeedClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(qrxspeed_debug, "qrxspeed", 0, "QRX speed control");
    object_class->set_property = gst_qrx_speed_set_property;
    object_class->get_property = gst_qrx_speed_get_property;
    object_class->finalize = gst_qrx_speed_finalize;
    const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING;
    g_object_class_install_property(object_class, PROP_LEVEL,
                                    g_param_spec_int("level", "Speed level", "0 twice as fast, 4 normal, 12 half speed",
                                                     0, 12, DEFAULT_LEVEL, flags));
    g_object_class_install_property(
        object_class, PROP_EFFECT,
        g_param_spec_int("effect", "Voice effect",
                         "-1 none (play at the level), or an effect code 0..31: pitch setting in bits 2-4, then 1 "
                         "vibrato, 2 short echo, 3 long echo (the speed is then normal)",
                         NO_EFFECT, 31, NO_EFFECT, flags));
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "QRX speed control", "Filter/Effect/Audio",
                                          "Plays speech faster or slower by whole pitch periods, or with voice effects",
                                          "qrxc developers <qrxc@example.org>");
}

static void gst_qrx_speed_init(GstQrxSpeed *self) {
    self->ctx = Qrxc_create();
    self->adapter = gst_adapter_new();
    self->level = DEFAULT_LEVEL;
    self->effect = NO_EFFECT;
    self->base_pts = GST_CLOCK_TIME_NONE;
    self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_chain_function(self->sinkpad, gst_qrx_speed_chain);
    gst_pad_set_event_function(self->sinkpad, gst_qrx_speed_sink_event);
    GST_PAD_SET_PROXY_CAPS(self->sinkpad);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    GST_PAD_SET_PROXY_CAPS(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}
