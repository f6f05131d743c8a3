// The picture shown when there is no camera: a still colour chart with a ball
// moving over it, so the effect has a steady scene to keep and something that
// changes against it.

#include "platform/gst_filter.h"

#include <cmath>

namespace {

const int ballRadius = 30;

// Paints the ball where the frame's timestamp puts it. The two axes swing at
// different rates, so the ball never rests and wanders over the whole chart.
GstPadProbeReturn drawBall(GstPad *, GstPadProbeInfo *info, gpointer) {
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE))
        return GST_PAD_PROBE_OK;
    const double seconds =
        GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) / double(GST_SECOND) : 0.0;
    const int stride = GST_ROUND_UP_4(testPatternWidth * 3);
    const int centreX = testPatternWidth / 2 + int(testPatternWidth / 3 * std::sin(seconds * 1.7));
    const int centreY =
        testPatternHeight / 2 + int(testPatternHeight / 3 * std::sin(seconds * 1.1 + 1.0));
    for (int y = centreY - ballRadius; y <= centreY + ballRadius; ++y) {
        for (int x = centreX - ballRadius; x <= centreX + ballRadius; ++x) {
            const int dx = x - centreX, dy = y - centreY;
            const gsize at = gsize(y) * stride + gsize(x) * 3;
            if (dx * dx + dy * dy <= ballRadius * ballRadius && at + 3 <= map.size)
                map.data[at] = map.data[at + 1] = map.data[at + 2] = 255;
        }
    }
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
}

} // namespace

GstElement *makeTestPattern() {
    GstElement *source = gst_element_factory_make("videotestsrc", nullptr);
    GstElement *format = gst_element_factory_make("capsfilter", nullptr);
    if (!source || !format) {
        if (source)
            gst_object_unref(source);
        if (format)
            gst_object_unref(format);
        return nullptr;
    }
    g_object_set(source, "is-live", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "pattern", "colors");
    GstCaps *caps = gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, testPatternWidth,
        "height", G_TYPE_INT, testPatternHeight, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);

    GstElement *bin = gst_bin_new("test-pattern");
    gst_bin_add_many(GST_BIN(bin), source, format, nullptr);
    gst_element_link(source, format);
    GstPad *out = gst_element_get_static_pad(format, "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, drawBall, nullptr, nullptr);
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    return bin;
}
