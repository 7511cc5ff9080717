/* g723dec: standard G.723.1 frames (audio/G723, as RTP carries them) to
 * S16LE PCM. Each frame names its own rate, so a stream may switch between
 * 5.3 and 6.3 kbit/s at any frame. Lost frames, announced by a gap event
 * or found by a jump in the timestamps at a discontinuity, are concealed by
 * the decoder as it conceals a damaged frame, in their place in time. */
#include <gst/audio/gstaudiodecoder.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(g723dec_debug);
#define GST_CAT_DEFAULT g723dec_debug

#define FRAME_SAMPLES 240
/* The longest hole filled with concealed frames (the decoder is silent
 * long before); beyond it the output just runs on. */
#define MAX_CONCEALED_FRAMES 400

typedef struct {
    GstAudioDecoder parent;
    Qrxc_context *ctx;
    gint rate;
    GstClockTime frame_duration;
    GstClockTime next_pts; /* where the next frame should start */
    GstPadChainFunction base_chain;
} GstG723Dec;

typedef struct {
    GstAudioDecoderClass parent_class;
} GstG723DecClass;

#define GST_TYPE_G723_DEC (gst_g723_dec_get_type())
#define GST_G723_DEC(obj) ((GstG723Dec *)(obj))
GType gst_g723_dec_get_type(void);
G_DEFINE_TYPE(GstG723Dec, gst_g723_dec, GST_TYPE_AUDIO_DECODER)
GST_ELEMENT_REGISTER_DEFINE(g723dec, "g723dec", GST_RANK_PRIMARY, GST_TYPE_G723_DEC)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/G723, channels = (int) 1, rate = (int) { 8000, 12000, 16000 }"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(
        "audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                                                            "rate = (int) { 8000, 12000, 16000 }, channels = (int) 1"));

static gboolean gst_g723_dec_start(GstAudioDecoder *dec) {
    GstG723Dec *self = GST_G723_DEC(dec);
    if (self->ctx == NULL) {
        GST_ELEMENT_ERROR(dec, RESOURCE, FAILED, ("Out of memory for the G.723.1 decoder."), (NULL));
        return FALSE;
    }
    self->next_pts = GST_CLOCK_TIME_NONE;
    /* Gaps come to handle_frame as empty buffers (the base class forgets
     * this on every reset). */
    gst_audio_decoder_set_plc_aware(dec, TRUE);
    return TRUE;
}

static gboolean gst_g723_dec_set_format(GstAudioDecoder *dec, GstCaps *caps) {
    GstG723Dec *self = GST_G723_DEC(dec);
    gint rate = 8000;
    gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
    /* The 6.3 kbit/s type opens the standard decoder; frames of either rate
     * then decode. */
    G_header h;
    const int r = qrxc_gst_open_decoder(self->ctx, 2, rate, &h);
    if (r < 0) {
        GST_ELEMENT_ERROR(dec, STREAM, FORMAT, ("Cannot decode G.723.1 at %d Hz: %s.", rate, Qrxc_strerror(r)), (NULL));
        return FALSE;
    }
    self->rate = rate;
    self->frame_duration = qrxc_gst_frame_duration(FRAME_SAMPLES, rate);
    self->next_pts = GST_CLOCK_TIME_NONE;
    GstAudioInfo info;
    gst_audio_info_init(&info);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16, rate, 1, NULL);
    return gst_audio_decoder_set_output_format(dec, &info);
}

static GstFlowReturn gst_g723_dec_handle_frame(GstAudioDecoder *dec, GstBuffer *buffer) {
    GstG723Dec *self = GST_G723_DEC(dec);
    if (buffer == NULL) return GST_FLOW_OK;
    GstMapInfo in;
    if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) return GST_FLOW_ERROR;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    guint lost = 0;
    if (in.size == 0) {
        /* A gap the base class hands on for concealment. */
        const GstClockTime d = GST_BUFFER_DURATION(buffer);
        if (GST_CLOCK_TIME_IS_VALID(d))
            lost = (guint)MIN((d + self->frame_duration / 2) / self->frame_duration, (guint64)MAX_CONCEALED_FRAMES);
    }
    /* Each frame is at least one byte, so in.size bounds the count. */
    guint frames = 0;
    for (gsize at = 0; at < in.size; frames++) {
        int kind;
        const int n = Qrxc_g723_from_standard(in.data + at, in.size - at, 1, NULL, &kind);
        if (n < 0) {
            /* The whole buffer is dropped: its frames may not even start
             * where this reading says. */
            gst_buffer_unmap(buffer, &in);
            GstFlowReturn ret = GST_FLOW_OK;
            GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, ("A G.723.1 frame is cut short: %s.", Qrxc_strerror(n)),
                                    ("%" G_GSIZE_FORMAT " bytes left, frame kind %d", in.size - at, kind), ret);
            return ret != GST_FLOW_OK ? ret : gst_audio_decoder_finish_frame(dec, NULL, 1);
        }
        at += (gsize)n;
    }
    if (lost + frames == 0) {
        /* A gap shorter than half a frame. */
        gst_buffer_unmap(buffer, &in);
        return gst_audio_decoder_finish_frame(dec, NULL, 1);
    }
    GstBuffer *out = gst_buffer_new_allocate(NULL, (gsize)(lost + frames) * FRAME_SAMPLES * sizeof(gint16), NULL);
    GstMapInfo om;
    gst_buffer_map(out, &om, GST_MAP_WRITE);
    gint16 *pcm = (gint16 *)om.data;
    /* A frame not sent: the decoder conceals it as a lost one. */
    static const unsigned char untransmitted = QRXC_G723_KIND_UNTRANSMITTED;
    for (guint i = 0; i < lost; i++, pcm += FRAME_SAMPLES)
        Qrxc_decode_standard_ctx(self->ctx, &untransmitted, 1, pcm, NULL);
    for (gsize at = 0; at < in.size; pcm += FRAME_SAMPLES)
        at += (gsize)Qrxc_decode_standard_ctx(self->ctx, in.data + at, in.size - at, pcm, NULL);
    gst_buffer_unmap(out, &om);
    gst_buffer_unmap(buffer, &in);
    if (lost > 0) GST_DEBUG_OBJECT(self, "concealed %u lost frames", lost);
    if (GST_CLOCK_TIME_IS_VALID(pts))
        self->next_pts = pts + (in.size == 0 ? GST_BUFFER_DURATION(buffer) : frames * self->frame_duration);
    else if (GST_CLOCK_TIME_IS_VALID(self->next_pts))
        self->next_pts += (lost + frames) * self->frame_duration;
    return gst_audio_decoder_finish_frame(dec, out, 1);
}

static void gst_g723_dec_flush(GstAudioDecoder *dec, gboolean hard) {
    if (hard) GST_G723_DEC(dec)->next_pts = GST_CLOCK_TIME_NONE;
}

/* A discontinuity that starts later than the last frame ended is a hole:
 * it goes to the base class as a gap first, so that the concealed frames
 * are stamped with the hole's time (the base class takes its times afresh
 * from the buffer after a discontinuity, and the DISCONT flag does not
 * reach handle_frame). Only there: arrival times without a jitter buffer
 * wander by more than a frame. */
static GstFlowReturn gst_g723_dec_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
    GstG723Dec *self = GST_G723_DEC(parent);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT) && GST_CLOCK_TIME_IS_VALID(pts) &&
        GST_CLOCK_TIME_IS_VALID(self->next_pts) && pts > self->next_pts + self->frame_duration / 2)
        gst_pad_send_event(pad, gst_event_new_gap(self->next_pts, pts - self->next_pts));
    return self->base_chain(pad, parent, buffer);
}

/* A new stream or segment starts a new timeline: nothing was lost. */
static gboolean gst_g723_dec_sink_event(GstAudioDecoder *dec, GstEvent *event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START || GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
        GST_G723_DEC(dec)->next_pts = GST_CLOCK_TIME_NONE;
    return GST_AUDIO_DECODER_CLASS(gst_g723_dec_parent_class)->sink_event(dec, event);
}

static void gst_g723_dec_finalize(GObject *object) {
    Qrxc_destroy(GST_G723_DEC(object)->ctx);
    G_OBJECT_CLASS(gst_g723_dec_parent_class)->finalize(object);
}

static void gst_g723_dec_class_init(GstG723DecClass *klass) {
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass *dec_class = GST_AUDIO_DECODER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(g723dec_debug, "g723dec", 0, "G.723.1 decoder");
    G_OBJECT_CLASS(klass)->finalize = gst_g723_dec_finalize;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "G.723.1 decoder", "Codec/Decoder/Audio",
                                          "Decodes G.723.1 at 5.3 and 6.3 kbit/s, concealing lost frames",
                                          "qrxc developers <qrxc@example.org>");
    dec_class->start = gst_g723_dec_start;
    dec_class->set_format = gst_g723_dec_set_format;
    dec_class->handle_frame = gst_g723_dec_handle_frame;
    dec_class->flush = gst_g723_dec_flush;
    dec_class->sink_event = gst_g723_dec_sink_event;
}

static void gst_g723_dec_init(GstG723Dec *self) {
    self->ctx = Qrxc_create();
    GstAudioDecoder *dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_plc(dec, TRUE);
    gst_audio_decoder_set_drainable(dec, TRUE);
    gst_audio_decoder_set_needs_format(dec, TRUE);
    GstPad *sinkpad = GST_AUDIO_DECODER_SINK_PAD(dec);
    self->base_chain = GST_PAD_CHAINFUNC(sinkpad);
    gst_pad_set_chain_function(sinkpad, gst_g723_dec_chain);
}
