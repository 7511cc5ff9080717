/* qrxdemux: a QRX byte stream to its coded frames, timestamped.
 *
 * A QRX stream is a header and then fixed-size frames, so every position is
 * arithmetic: the frame at a byte offset, the time of a frame, the bytes to
 * seek to for a time. The base parser brings push and pull mode, seeking
 * and the duration query; this element supplies the header, the frame
 * boundaries and exact conversions. G.723.1 frames at 5.3 and 6.3 kbit/s
 * go out in the standard layout (audio/G723), as RTP and other G.723.1
 * elements carry them; every other type as audio/x-qrx-frame. */
#include <gst/base/gstbaseparse.h>
#include <string.h>

#include "gstqrxc.h"

GST_DEBUG_CATEGORY_STATIC(qrxdemux_debug);
#define GST_CAT_DEFAULT qrxdemux_debug

/* Frames per output buffer: a quarter of a second or so, few enough for
 * a fine-grained playback position, many enough to keep the per-buffer
 * cost small beside the fast ADPCM decoders. */
#define FRAMES_PER_BUFFER 8

typedef struct {
    GstBaseParse parent;
    Qrxc_context *ctx;
    gboolean standard; /* property g723-standard */
    gboolean have_header;
    gboolean to_standard; /* this stream's frames go out repacked */
    G_header header;
    guint header_len;
    guint frame_bytes;
    guint out_frame_bytes;
    guint pcm_frame;
    guint rate;
} GstQrxDemux;

typedef struct {
    GstBaseParseClass parent_class;
} GstQrxDemuxClass;

#define GST_TYPE_QRX_DEMUX (gst_qrx_demux_get_type())
#define GST_QRX_DEMUX(obj) ((GstQrxDemux *)(obj))
GType gst_qrx_demux_get_type(void);
G_DEFINE_TYPE(GstQrxDemux, gst_qrx_demux, GST_TYPE_BASE_PARSE)
GST_ELEMENT_REGISTER_DEFINE(qrxdemux, "qrxdemux", GST_RANK_PRIMARY, GST_TYPE_QRX_DEMUX)

enum { PROP_0, PROP_STANDARD };

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(QRXC_GST_STREAM_CAPS));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/G723, channels = (int) 1, rate = (int) { 8000, 12000, 16000 }; " QRXC_GST_FRAME_CAPS
                    ", type = (int) [ 0, 6 ], channels = (int) 1, rate = (int) { 8000, 12000, 16000 }"));

static GstClockTime time_of_frame(const GstQrxDemux *self, guint64 index) {
    return gst_util_uint64_scale(index * self->pcm_frame, GST_SECOND, self->rate);
}

static gboolean gst_qrx_demux_start(GstBaseParse *parse) {
    GstQrxDemux *self = GST_QRX_DEMUX(parse);
    if (self->ctx == NULL) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Out of memory for the QRX demuxer."), (NULL));
        return FALSE;
    }
    self->have_header = FALSE;
    /* The shortest header form; a long one asks for more once seen. */
    gst_base_parse_set_min_frame_size(parse, 4);
    gst_base_parse_set_pts_interpolation(parse, FALSE);
    return TRUE;
}

static void post_tags(GstQrxDemux *self, const Qrxc_type_desc *desc) {
    GstTagList *tags = gst_tag_list_new(
        GST_TAG_CONTAINER_FORMAT, "QRX", GST_TAG_AUDIO_CODEC, desc->coder, GST_TAG_BITRATE,
        (guint)gst_util_uint64_scale_int(self->frame_bytes * 8u, (gint)self->rate, (gint)self->pcm_frame), NULL);
    gst_base_parse_merge_tags(GST_BASE_PARSE(self), tags, GST_TAG_MERGE_REPLACE);
    gst_tag_list_unref(tags);
}

static void set_duration(GstQrxDemux *self) {
    gint64 bytes = 0;
    GstBaseParse *parse = GST_BASE_PARSE(self);
    if (!gst_pad_peer_query_duration(GST_BASE_PARSE_SINK_PAD(parse), GST_FORMAT_BYTES, &bytes) ||
        bytes < (gint64)self->header_len)
        return;
    /* A trailing partial frame is not played. */
    const guint64 frames = ((guint64)bytes - self->header_len) / self->frame_bytes;
    gst_base_parse_set_duration(parse, GST_FORMAT_TIME, (gint64)time_of_frame(self, frames), 0);
}

/* Reads the header at the start of data (size bytes). The header length
 * when it is whole and valid, 0 when more bytes are needed, or
 * GST_FLOW_ERROR after posting the library's reason. */
static gint parse_header(GstQrxDemux *self, const guint8 *data, gsize size, gboolean draining) {
    int len = size < 4 ? 0 : Qrxc_header_length(data);
    if (len == 0 || (len > 0 && size < (gsize)len)) {
        if (!draining) {
            gst_base_parse_set_min_frame_size(GST_BASE_PARSE(self), len > 0 ? (guint)len : 4u);
            return 0;
        }
        GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The QRX header is cut short."),
                          ("%" G_GSIZE_FORMAT " bytes, %d wanted", size, len > 0 ? len : 4));
        return GST_FLOW_ERROR;
    }
    if (len > 0) {
        unsigned char hdr[QRXC_HEADER_MAX];
        memcpy(hdr, data, (size_t)len);
        len = Qrxc_initial_ctx(self->ctx, QRXC_DECODE, 0, 0, &self->header, hdr);
    }
    if (len < 0) {
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("Not a valid QRX stream: %s.", Qrxc_strerror(len)),
                          ("header refused with result %d", len));
        return GST_FLOW_ERROR;
    }
    Qrxc_type_desc desc;
    Qrxc_type_info(self->header.type, &desc);
    self->header_len = (guint)len;
    self->frame_bytes = self->header.frame_bytes;
    self->pcm_frame = self->header.pcm_frame;
    self->rate = self->header.sample_rate;
    self->to_standard = FALSE;
    self->out_frame_bytes = self->frame_bytes;
    unsigned char probe[QRXC_MAX_FRAME_BYTES] = {0};
    unsigned char standard[QRXC_G723_STANDARD_MAX_BYTES];
    /* The repacker says which types have a standard layout (5.3 kbit/s
     * behind the rate converter does not: its PCM is not the standard's). */
    if (self->standard && self->pcm_frame == 240) {
        const int n = Qrxc_g723_to_standard(probe, self->header.type, standard);
        if (n > 0) {
            self->to_standard = TRUE;
            self->out_frame_bytes = (guint)n;
        }
    }
    GstCaps *caps =
        self->to_standard
            ? gst_caps_new_simple("audio/G723", "channels", G_TYPE_INT, 1, "rate", G_TYPE_INT, (gint)self->rate, NULL)
            : gst_caps_new_simple(QRXC_GST_FRAME_CAPS, "type", G_TYPE_INT, (gint)self->header.type, "channels",
                                  G_TYPE_INT, 1, "rate", G_TYPE_INT, (gint)self->rate, NULL);
    gst_pad_set_caps(GST_BASE_PARSE_SRC_PAD(self), caps);
    gst_caps_unref(caps);
    self->have_header = TRUE;
    gst_base_parse_set_min_frame_size(GST_BASE_PARSE(self), self->frame_bytes);
    post_tags(self, &desc);
    set_duration(self);
    return len;
}

static GstFlowReturn gst_qrx_demux_handle_frame(GstBaseParse *parse, GstBaseParseFrame *frame, gint *skipsize) {
    GstQrxDemux *self = GST_QRX_DEMUX(parse);
    const gboolean draining = GST_BASE_PARSE_DRAINING(parse);
    GstMapInfo map;
    if (!gst_buffer_map(frame->buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    GstFlowReturn ret = GST_FLOW_OK;
    if (!self->have_header) {
        if (frame->offset != 0) {
            /* Only the start says what the stream is. */
            GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The QRX stream does not start at its header."),
                              ("first data at offset %" G_GUINT64_FORMAT, frame->offset));
            ret = GST_FLOW_ERROR;
        } else {
            const gint len = parse_header(self, map.data, map.size, draining);
            if (len < 0)
                ret = GST_FLOW_ERROR;
            else
                *skipsize = len;
        }
        gst_buffer_unmap(frame->buffer, &map);
        return ret;
    }
    if (frame->offset < self->header_len) {
        *skipsize = (gint)(self->header_len - frame->offset);
        gst_buffer_unmap(frame->buffer, &map);
        return GST_FLOW_OK;
    }
    const guint64 pos = frame->offset - self->header_len;
    const guint misaligned = (guint)(pos % self->frame_bytes);
    guint frames = (guint)(map.size / self->frame_bytes);
    if (misaligned != 0 || frames == 0) {
        /* After a byte seek, or the partial frame a stream may end with. */
        *skipsize = misaligned != 0 ? (gint)(self->frame_bytes - misaligned) : (gint)map.size;
        gst_buffer_unmap(frame->buffer, &map);
        return GST_FLOW_OK;
    }
    if (frames > FRAMES_PER_BUFFER) frames = FRAMES_PER_BUFFER;
    GstBuffer *out;
    if (self->to_standard) {
        out = gst_buffer_new_allocate(NULL, (gsize)frames * self->out_frame_bytes, NULL);
        GstMapInfo om;
        gst_buffer_map(out, &om, GST_MAP_WRITE);
        for (guint i = 0; i < frames; i++)
            Qrxc_g723_to_standard(map.data + (gsize)i * self->frame_bytes, self->header.type,
                                  om.data + (gsize)i * self->out_frame_bytes);
        gst_buffer_unmap(out, &om);
    } else {
        out = gst_buffer_copy_region(frame->buffer, GST_BUFFER_COPY_MEMORY, 0, (gsize)frames * self->frame_bytes);
    }
    gst_buffer_unmap(frame->buffer, &map);
    frame->out_buffer = out;
    return gst_base_parse_finish_frame(parse, frame, (gint)(frames * self->frame_bytes));
}

/* The times go on last: the base class stamps a frame with what upstream
 * gave its bytes, and a byte stream gives none that count. */
static GstFlowReturn gst_qrx_demux_pre_push_frame(GstBaseParse *parse, GstBaseParseFrame *frame) {
    GstQrxDemux *self = GST_QRX_DEMUX(parse);
    GstBuffer *out = frame->out_buffer != NULL ? frame->out_buffer : frame->buffer;
    const guint64 index = (frame->offset - self->header_len) / self->frame_bytes;
    const guint64 frames = gst_buffer_get_size(out) / self->out_frame_bytes;
    GST_BUFFER_PTS(out) = time_of_frame(self, index);
    GST_BUFFER_DTS(out) = GST_BUFFER_PTS(out);
    GST_BUFFER_DURATION(out) = time_of_frame(self, index + frames) - GST_BUFFER_PTS(out);
    GST_BUFFER_OFFSET(out) = index * self->pcm_frame;
    GST_BUFFER_OFFSET_END(out) = (index + frames) * self->pcm_frame;
    return GST_FLOW_OK;
}

static gboolean gst_qrx_demux_convert(GstBaseParse *parse, GstFormat src_format, gint64 src_value,
                                      GstFormat dest_format, gint64 *dest_value) {
    GstQrxDemux *self = GST_QRX_DEMUX(parse);
    if (!self->have_header || src_value < 0)
        return gst_base_parse_convert_default(parse, src_format, src_value, dest_format, dest_value);
    if (src_format == dest_format) {
        *dest_value = src_value;
        return TRUE;
    }
    /* Positions round down to a frame's start. */
    if (src_format == GST_FORMAT_TIME && dest_format == GST_FORMAT_BYTES) {
        const guint64 index = gst_util_uint64_scale((guint64)src_value, self->rate, GST_SECOND * self->pcm_frame);
        *dest_value = (gint64)(self->header_len + index * self->frame_bytes);
        return TRUE;
    }
    if (src_format == GST_FORMAT_BYTES && dest_format == GST_FORMAT_TIME) {
        const guint64 index =
            (guint64)src_value <= self->header_len ? 0 : ((guint64)src_value - self->header_len) / self->frame_bytes;
        *dest_value = (gint64)time_of_frame(self, index);
        return TRUE;
    }
    return FALSE;
}

static void gst_qrx_demux_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstQrxDemux *self = GST_QRX_DEMUX(object);
    if (id == PROP_STANDARD)
        self->standard = g_value_get_boolean(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void gst_qrx_demux_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstQrxDemux *self = GST_QRX_DEMUX(object);
    if (id == PROP_STANDARD)
        g_value_set_boolean(value, self->standard);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void gst_qrx_demux_finalize(GObject *object) {
    Qrxc_destroy(GST_QRX_DEMUX(object)->ctx);
    G_OBJECT_CLASS(gst_qrx_demux_parent_class)->finalize(object);
}

static void gst_qrx_demux_class_init(GstQrxDemuxClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseParseClass *parse_class = GST_BASE_PARSE_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(qrxdemux_debug, "qrxdemux", 0, "QRX demuxer");
    object_class->set_property = gst_qrx_demux_set_property;
    object_class->get_property = gst_qrx_demux_get_property;
    object_class->finalize = gst_qrx_demux_finalize;
    g_object_class_install_property(
        object_class, PROP_STANDARD,
        g_param_spec_boolean("g723-standard", "Standard G.723.1",
                             "Give G.723.1 frames at 5.3 and 6.3 kbit/s in the standard layout (audio/G723)", TRUE,
                             G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "QRX demuxer", "Codec/Demuxer/Audio",
                                          "Splits a QRX voice stream into timestamped coded frames",
                                          "qrxc developers <qrxc@example.org>");
    parse_class->start = gst_qrx_demux_start;
    parse_class->handle_frame = gst_qrx_demux_handle_frame;
    parse_class->convert = gst_qrx_demux_convert;
    parse_class->pre_push_frame = gst_qrx_demux_pre_push_frame;
}

static void gst_qrx_demux_init(GstQrxDemux *self) {
    self->ctx = Qrxc_create();
    self->standard = TRUE;
}
