/* The plugin's elements in GstCheck harnesses: what comes out of them is
 * what the library's own whole-buffer calls give for the same stream. */
#include <glib/gstdio.h>
#include <gst/check/gstcheck.h>
#include <gst/check/gstharness.h>
#include <stdio.h>
#include <string.h>

#include "qrxc.h"

/* 5 s of speech at 8000 Hz. */
static gint16 *speech;
static gsize speech_samples;

static void load_speech(void) {
    gchar *data = NULL;
    gsize len = 0;
    fail_unless(g_file_get_contents(QRXC_TEST_SPEECH, &data, &len, NULL), "cannot read %s", QRXC_TEST_SPEECH);
    speech = (gint16 *)data;
    speech_samples = len / sizeof(gint16);
}

static void free_speech(void) {
    g_free(speech);
    speech = NULL;
}

static GBytes *encode_stream(int type, int rate, int long_header, gsize samples) {
    Qrxc_context *ctx = Qrxc_create();
    const long long size = Qrxc_encoded_bytes(type, samples, long_header);
    guint8 *out = g_malloc((gsize)size);
    fail_unless(Qrxc_encode_buffer(ctx, rate, type, long_header, speech, samples, out, (size_t)size) == size);
    Qrxc_destroy(ctx);
    return g_bytes_new_take(out, (gsize)size);
}

static GBytes *decode_stream(GBytes *stream) {
    gsize len;
    const guint8 *data = g_bytes_get_data(stream, &len);
    const long long samples = Qrxc_decoded_samples(data, len);
    gint16 *pcm = g_new(gint16, samples);
    Qrxc_context *ctx = Qrxc_create();
    fail_unless(Qrxc_decode_buffer(ctx, data, len, pcm, (size_t)samples, NULL) == samples);
    Qrxc_destroy(ctx);
    return g_bytes_new_take(pcm, (gsize)samples * sizeof(gint16));
}

/* Pushes data in pieces of chunk bytes, then EOS; returns everything the
 * harness gave, after checking, with check_times, that the buffers' times
 * follow on from 0. */
static GBytes *run_harness(GstHarness *h, const guint8 *data, gsize len, gsize chunk, gboolean check_times) {
    for (gsize at = 0; at < len; at += chunk) {
        const gsize n = MIN(chunk, len - at);
        fail_unless_equals_int(gst_harness_push(h, gst_buffer_new_memdup(data + at, n)), GST_FLOW_OK);
    }
    fail_unless(gst_harness_push_event(h, gst_event_new_eos()));
    GByteArray *out = g_byte_array_new();
    GstClockTime next = 0;
    GstBuffer *b;
    while ((b = gst_harness_try_pull(h)) != NULL) {
        if (check_times) {
            fail_unless_equals_uint64(GST_BUFFER_PTS(b), next);
            next += GST_BUFFER_DURATION(b);
        }
        GstMapInfo map;
        gst_buffer_map(b, &map, GST_MAP_READ);
        g_byte_array_append(out, map.data, (guint)map.size);
        gst_buffer_unmap(b, &map);
        gst_buffer_unref(b);
    }
    return g_byte_array_free_to_bytes(out);
}

static void assert_same_bytes(GBytes *got, GBytes *want, const char *what) {
    fail_unless_equals_uint64(g_bytes_get_size(got), g_bytes_get_size(want));
    fail_unless(g_bytes_equal(got, want), "%s: bytes differ", what);
}

/* Every type at several rates and both header forms, fed whole and in odd
 * pieces with a partial frame at the end, decodes to the library's PCM. */
GST_START_TEST(test_decode_matches_library) {
    static const struct {
        const char *launch;
        int type, rate, long_header;
    } cases[] = {
        {"qrxdemux g723-standard=false ! qrxdec", 0, 8000, 1},
        {"qrxdemux g723-standard=false ! qrxdec", 1, 16000, 0},
        {"qrxdemux g723-standard=false ! qrxdec", 2, 8000, 1},
        {"qrxdemux ! qrxdec", 4, 12000, 0},
        {"qrxdemux ! qrxdec", 5, 8000, 1},
        {"qrxdemux ! qrxdec", 6, 16000, 1},
        {"qrxdemux ! g723dec", 1, 8000, 1},
        {"qrxdemux ! g723dec", 2, 12000, 0},
    };
    const gsize samples = speech_samples / 2;
    const gsize chunks[] = {7, 100000};
    for (guint i = 0; i < G_N_ELEMENTS(cases); i++) {
        GBytes *stream = encode_stream(cases[i].type, cases[i].rate, cases[i].long_header, samples);
        GBytes *want = decode_stream(stream);
        GByteArray *cut = g_byte_array_new();
        gsize len;
        const guint8 *data = g_bytes_get_data(stream, &len);
        g_byte_array_append(cut, data, (guint)len);
        g_byte_array_append(cut, data + len - 5, 5);
        for (guint c = 0; c < G_N_ELEMENTS(chunks); c++) {
            GstHarness *h = gst_harness_new_parse(cases[i].launch);
            gst_harness_set_src_caps_str(h, "audio/x-qrx");
            GBytes *got = run_harness(h, cut->data, cut->len, chunks[c], TRUE);
            gchar *what = g_strdup_printf("%s, type %d, %d Hz, in pieces of %zu", cases[i].launch, cases[i].type,
                                          cases[i].rate, chunks[c]);
            assert_same_bytes(got, want, what);
            GstCaps *caps = gst_pad_get_current_caps(h->sinkpad);
            gint rate = 0;
            gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
            fail_unless_equals_int(rate, cases[i].rate);
            gst_caps_unref(caps);
            g_free(what);
            g_bytes_unref(got);
            gst_harness_teardown(h);
        }
        g_byte_array_unref(cut);
        g_bytes_unref(want);
        g_bytes_unref(stream);
    }
}
GST_END_TEST;

/* What the demuxer says a stream is: its caps and the size of its frames. */
GST_START_TEST(test_demux_caps) {
    static const struct {
        int type;
        const char *caps;
    } cases[] = {
        {0, "audio/x-qrx-frame, type=(int)0, channels=(int)1, rate=(int)8000"},
        {1, "audio/G723, channels=(int)1, rate=(int)8000"},
        {2, "audio/G723, channels=(int)1, rate=(int)8000"},
        {4, "audio/x-qrx-frame, type=(int)4, channels=(int)1, rate=(int)8000"},
    };
    for (guint i = 0; i < G_N_ELEMENTS(cases); i++) {
        GBytes *stream = encode_stream(cases[i].type, 8000, 1, 2400);
        GstHarness *h = gst_harness_new("qrxdemux");
        gst_harness_set_src_caps_str(h, "audio/x-qrx");
        gsize len;
        const guint8 *data = g_bytes_get_data(stream, &len);
        g_bytes_unref(run_harness(h, data, len, len, TRUE));
        GstCaps *want = gst_caps_from_string(cases[i].caps);
        GstCaps *got = gst_pad_get_current_caps(h->sinkpad);
        fail_unless(gst_caps_is_equal(got, want), "type %d: %" GST_PTR_FORMAT, cases[i].type, got);
        gst_caps_unref(got);
        gst_caps_unref(want);
        gst_harness_teardown(h);
        g_bytes_unref(stream);
    }
}
GST_END_TEST;

/* Bad streams and caps stop the flow with the library's reason on the bus. */
GST_START_TEST(test_bad_input_is_an_error) {
    static const struct {
        const char *launch, *caps;
        guint8 data[16];
        gsize len;
        int code; /* the library's result whose text the message carries; 0: any */
    } cases[] = {
        {"qrxdemux", "audio/x-qrx", "QRY@", 4, QRXC_ERR_HEADER},
        {"qrxdemux", "audio/x-qrx", "QRX\x35", 4, QRXC_ERR_HEADER},
        {"qrxdemux", "audio/x-qrx", "QRX\x03", 4, QRXC_ERR_HEADER},
        /* long header of type 1 claiming 320 samples a frame */
        {"qrxdemux",
         "audio/x-qrx",
         {'Q', 'R', 'X', 0x40, 0x40, 0x1f, 1, 0, 0x40, 1, 20, 0, 16, 0, 0, 0},
         16,
         QRXC_ERR_ARG},
        {"qrxdemux", "audio/x-qrx", "QRX", 3, 0},
        {"qrxdec", "audio/x-qrx-frame, type=(int)3, channels=(int)1, rate=(int)8000", "", 1, QRXC_ERR_TYPE},
    };
    for (guint i = 0; i < G_N_ELEMENTS(cases); i++) {
        GstHarness *h = gst_harness_new(cases[i].launch);
        GstBus *bus = gst_bus_new();
        gst_element_set_bus(h->element, bus);
        gst_harness_set_src_caps_str(h, cases[i].caps);
        const GstFlowReturn ret = gst_harness_push(h, gst_buffer_new_memdup(cases[i].data, cases[i].len));
        gst_harness_push_event(h, gst_event_new_eos());
        GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        fail_unless(msg != NULL, "case %u: no error message (flow %s)", i, gst_flow_get_name(ret));
        GError *err = NULL;
        gst_message_parse_error(msg, &err, NULL);
        if (cases[i].code != 0)
            fail_unless(strstr(err->message, Qrxc_strerror(cases[i].code)) != NULL, "case %u: '%s'", i, err->message);
        fail_unless(gst_harness_try_pull(h) == NULL);
        g_error_free(err);
        gst_message_unref(msg);
        gst_element_set_bus(h->element, NULL);
        gst_object_unref(bus);
        gst_harness_teardown(h);
    }
}
GST_END_TEST;

/* Seeks in pull mode (filesrc) and push mode (behind a queue) land on the
 * frame holding the time asked for, and the duration is the stream's. */
GST_START_TEST(test_seek) {
    static const struct {
        const char *upstream; /* after filesrc: nothing for pull mode */
        GstClockTime to;
    } cases[] = {
        {"", 0},
        {"", 1000 * GST_MSECOND},
        {"", 2345 * GST_MSECOND},
        {" ! queue", 1000 * GST_MSECOND},
        {" ! queue", 2345 * GST_MSECOND},
    };
    GBytes *stream = encode_stream(5, 8000, 1, speech_samples);
    gchar *path = g_build_filename(g_get_tmp_dir(), "qrxc-gst-seek.QRX", NULL);
    gsize len;
    const guint8 *data = g_bytes_get_data(stream, &len);
    fail_unless(g_file_set_contents(path, (const gchar *)data, (gssize)len, NULL));
    const GstClockTime frame = 30 * GST_MSECOND;
    for (guint i = 0; i < G_N_ELEMENTS(cases); i++) {
        gchar *launch =
            g_strdup_printf("filesrc location=%s%s ! qrxdemux g723-standard=false ! appsink name=out sync=false", path,
                            cases[i].upstream);
        GstElement *pipeline = gst_parse_launch(launch, NULL);
        GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        fail_unless_equals_int(gst_element_get_state(pipeline, NULL, NULL, GST_CLOCK_TIME_NONE),
                               GST_STATE_CHANGE_SUCCESS);
        gint64 duration = 0;
        fail_unless(gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration));
        fail_unless_equals_uint64(duration, (len - 16) / 120 * frame);
        fail_unless(gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, (gint64)cases[i].to));
        gst_element_get_state(pipeline, NULL, NULL, GST_CLOCK_TIME_NONE);
        GstSample *sample = NULL;
        g_signal_emit_by_name(sink, "pull-preroll", &sample);
        fail_unless(sample != NULL);
        GstBuffer *b = gst_sample_get_buffer(sample);
        /* A seek that is not accurate may start a little early. */
        const GstClockTime pts = GST_BUFFER_PTS(b);
        fail_unless(pts % frame == 0 && pts <= cases[i].to && cases[i].to < pts + GST_BUFFER_DURATION(b),
                    "%s: seek to %" GST_TIME_FORMAT " gave %" GST_TIME_FORMAT, launch, GST_TIME_ARGS(cases[i].to),
                    GST_TIME_ARGS(pts));
        fail_unless(gst_buffer_memcmp(b, 0, data + 16 + pts / frame * 120, gst_buffer_get_size(b)) == 0,
                    "%s: wrong frames", launch);
        gst_sample_unref(sample);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(sink);
        gst_object_unref(pipeline);
        g_free(launch);
    }
    g_unlink(path);
    g_free(path);
    g_bytes_unref(stream);
}
GST_END_TEST;

/* Standard frames of both rates in one buffer, a jump in the timestamps
 * after a discontinuity and a gap event: every lost frame is concealed in
 * its place, as the decoder conceals frames that were not sent. */
GST_START_TEST(test_g723dec_conceals_losses) {
    guint8 frames[4][QRXC_G723_STANDARD_MAX_BYTES];
    gsize sizes[4];
    for (int i = 0; i < 4; i++) {
        const int type = i % 2 == 0 ? 2 : 1;
        GBytes *stream = encode_stream(type, 8000, 1, 240 * 4);
        sizes[i] = (gsize)Qrxc_g723_to_standard(
            (const guint8 *)g_bytes_get_data(stream, NULL) + 16 + (gsize)i * (type == 2 ? 24 : 20), type, frames[i]);
        g_bytes_unref(stream);
    }
    const guint8 lost = QRXC_G723_KIND_UNTRANSMITTED;
    /* The decoder's output for frames 0 and 1, two lost, frame 2, one lost
     * (the gap), frame 3. */
    const guint8 *sequence[] = {frames[0], frames[1], &lost, &lost, frames[2], &lost, frames[3]};
    const gsize lens[] = {sizes[0], sizes[1], 1, 1, sizes[2], 1, sizes[3]};
    Qrxc_context *ctx = Qrxc_create();
    G_header hd;
    unsigned char hdr[16];
    Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, 2, &hd, hdr);
    Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &hd, hdr);
    gint16 want[7 * 240];
    for (int i = 0; i < 7; i++) Qrxc_decode_standard_ctx(ctx, sequence[i], lens[i], want + i * 240, NULL);
    Qrxc_destroy(ctx);

    GstHarness *h = gst_harness_new("g723dec");
    gst_harness_set_src_caps_str(h, "audio/G723, channels=(int)1, rate=(int)8000");
    const GstClockTime frame = 30 * GST_MSECOND;
    GstBuffer *b = gst_buffer_new_allocate(NULL, sizes[0] + sizes[1], NULL);
    gst_buffer_fill(b, 0, frames[0], sizes[0]);
    gst_buffer_fill(b, sizes[0], frames[1], sizes[1]);
    GST_BUFFER_PTS(b) = 0;
    GST_BUFFER_DURATION(b) = 2 * frame;
    fail_unless_equals_int(gst_harness_push(h, b), GST_FLOW_OK);
    b = gst_buffer_new_memdup(frames[2], sizes[2]);
    GST_BUFFER_PTS(b) = 4 * frame;
    GST_BUFFER_DURATION(b) = frame;
    GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    fail_unless_equals_int(gst_harness_push(h, b), GST_FLOW_OK);
    fail_unless(gst_harness_push_event(h, gst_event_new_gap(5 * frame, frame)));
    b = gst_buffer_new_memdup(frames[3], sizes[3]);
    GST_BUFFER_PTS(b) = 6 * frame;
    GST_BUFFER_DURATION(b) = frame;
    fail_unless_equals_int(gst_harness_push(h, b), GST_FLOW_OK);
    /* A cut frame is dropped with a warning and does not stop the stream. */
    b = gst_buffer_new_memdup(frames[3], sizes[3] - 1);
    GST_BUFFER_PTS(b) = 7 * frame;
    fail_unless_equals_int(gst_harness_push(h, b), GST_FLOW_OK);
    GByteArray *got = g_byte_array_new();
    GstClockTime next = 0;
    while ((b = gst_harness_try_pull(h)) != NULL) {
        /* Concealed frames fill the holes in time too. */
        fail_unless_equals_uint64(GST_BUFFER_PTS(b), next);
        next += GST_BUFFER_DURATION(b);
        GstMapInfo map;
        gst_buffer_map(b, &map, GST_MAP_READ);
        g_byte_array_append(got, map.data, (guint)map.size);
        gst_buffer_unmap(b, &map);
        gst_buffer_unref(b);
    }
    fail_unless_equals_int(got->len, sizeof want);
    fail_unless(memcmp(got->data, want, sizeof want) == 0);
    g_byte_array_unref(got);
    gst_harness_teardown(h);
}
GST_END_TEST;

/* The encoders write what the library's whole-buffer encoder writes, the
 * last partial frame completed with silence; g723enc in the standard
 * layout. */
GST_START_TEST(test_encoders_match_library) {
    static const struct {
        const char *launch;
        int type, rate, long_header, standard;
    } cases[] = {
        {"g723enc bitrate=5300", 1, 8000, 1, 1}, {"g723enc", 2, 8000, 1, 1},
        {"qrxenc type=0", 0, 12000, 1, 0},       {"qrxenc type=2 short-header=true", 2, 8000, 0, 0},
        {"qrxenc type=6", 6, 16000, 1, 0},
    };
    const gsize samples = 8000 + 100;
    for (guint i = 0; i < G_N_ELEMENTS(cases); i++) {
        GBytes *stream = encode_stream(cases[i].type, cases[i].rate, cases[i].long_header, samples);
        gsize len;
        const guint8 *data = g_bytes_get_data(stream, &len);
        GByteArray *want = g_byte_array_new();
        if (cases[i].standard) {
            const int frame_bytes = cases[i].type == 1 ? 20 : 24;
            for (gsize at = 16; at + frame_bytes <= len; at += frame_bytes) {
                guint8 bits[QRXC_G723_STANDARD_MAX_BYTES];
                const int n = Qrxc_g723_to_standard(data + at, cases[i].type, bits);
                g_byte_array_append(want, bits, (guint)n);
            }
        } else {
            g_byte_array_append(want, data, (guint)len);
        }
        GstHarness *h = gst_harness_new_parse(cases[i].launch);
        gchar *caps =
            g_strdup_printf("audio/x-raw, format=S16LE, layout=interleaved, rate=%d, channels=1", cases[i].rate);
        gst_harness_set_src_caps_str(h, caps);
        GBytes *got = run_harness(h, (const guint8 *)speech, samples * sizeof(gint16), 1000, FALSE);
        GBytes *want_bytes = g_byte_array_free_to_bytes(want);
        assert_same_bytes(got, want_bytes, cases[i].launch);
        g_bytes_unref(want_bytes);
        g_bytes_unref(got);
        g_free(caps);
        gst_harness_teardown(h);
        g_bytes_unref(stream);
    }
}
GST_END_TEST;

static Suite *qrxc_gst_suite(void) {
    Suite *s = suite_create("qrxc-gstreamer");
    TCase *tc = tcase_create("elements");
    tcase_set_timeout(tc, 120);
    tcase_add_checked_fixture(tc, load_speech, free_speech);
    tcase_add_test(tc, test_decode_matches_library);
    tcase_add_test(tc, test_demux_caps);
    tcase_add_test(tc, test_bad_input_is_an_error);
    tcase_add_test(tc, test_seek);
    tcase_add_test(tc, test_g723dec_conceals_losses);
    tcase_add_test(tc, test_encoders_match_library);
    suite_add_tcase(s, tc);
    return s;
}

GST_CHECK_MAIN(qrxc_gst);
