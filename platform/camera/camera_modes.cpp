#include "platform/camera/camera_modes.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int64_t second = 10000000;

// Bits per pixel as a BITMAPINFOHEADER counts them: a packed format's whole
// pixel, a planar one's samples shared out over the pixels they cover.
int bitsPerPixel(GstVideoFormat format) {
    const GstVideoFormatInfo *info = gst_video_format_get_info(format);
    if (!info || GST_VIDEO_FORMAT_INFO_N_PLANES(info) == 1)
        return info ? GST_VIDEO_FORMAT_INFO_PSTRIDE(info, 0) * 8 : 0;
    int bits = 0;
    for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info); ++c)
        bits += GST_VIDEO_FORMAT_INFO_DEPTH(info, c) >>
                (GST_VIDEO_FORMAT_INFO_W_SUB(info, c) + GST_VIDEO_FORMAT_INFO_H_SUB(info, c));
    return bits;
}

// The four-character name of a GStreamer format: RGB by its bit depth, the
// rest by their own code. False for one it has no name for.
bool nameFormat(const GstStructure *structure, uint32_t *code, int *bits) {
    if (gst_structure_has_name(structure, "image/jpeg")) {
        *code = jpegCode;
        *bits = 24;
        return true;
    }
    const char *format = gst_structure_get_string(structure, "format");
    // A raw sensor's mosaic, by the name V4L2 gives its 8-bit form (BGGR,
    // GRBG...) or its order and depth (GR10): nothing converts it, and the
    // camera is shown offering it rather than a format it has not.
    if (gst_structure_has_name(structure, "video/x-bayer") && format && std::strlen(format) >= 4) {
        char name[5] = {};
        for (int i = 0; i < 4; ++i)
            name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i])));
        *bits = std::strlen(format) == 4 ? 8 : std::atoi(format + 4);
        if (*bits > 8)
            std::snprintf(name + 2, 3, "%02d", *bits % 100);
        *code = GST_STR_FOURCC(name);
        return *bits > 0;
    }
    if (!gst_structure_has_name(structure, "video/x-raw") || !format)
        return false;
    const std::string name = format;
    if (name == "BGR" || name == "RGB") {
        *code = rgb24Code;
        *bits = 24;
    } else if (name == "BGRx" || name == "BGRA") {
        *code = rgb32Code;
        *bits = 32;
    } else if (name == "GRAY8") {
        *code = fourcc("Y800");
        *bits = 8;
    } else if (name.size() == 4) {
        *code = GST_STR_FOURCC(format);
        *bits = bitsPerPixel(gst_video_format_from_string(format));
    } else {
        return false;
    }
    return *bits > 0;
}

// The frame interval nearest to `num`/`den` frames a second that the
// structure lists; 0 when it lists none.
int64_t nearest(const GstStructure *structure, int num, int den) {
    if (!gst_structure_has_field(structure, "framerate"))
        return 0;
    GstStructure *copy = gst_structure_copy(structure);
    gst_structure_fixate_field_nearest_fraction(copy, "framerate", num, den);
    int n = 0, d = 1;
    gst_structure_get_fraction(copy, "framerate", &n, &d);
    gst_structure_free(copy);
    return n > 0 ? second * d / n : 0;
}

// The values a size field allows: a single one, those of a list, or a range
// on its step.
struct Span {
    std::vector<int> values; // empty for a range
    int min = 0, max = 0;
    int step = 1; // of a range
};

bool spanOf(const GValue *value, Span *span) {
    if (!value)
        return false;
    if (G_VALUE_HOLDS_INT(value)) {
        span->values = {g_value_get_int(value)};
    } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        span->min = gst_value_get_int_range_min(value);
        span->max = gst_value_get_int_range_max(value);
        span->step = std::max(1, gst_value_get_int_range_step(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue *item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_INT(item))
                span->values.push_back(g_value_get_int(item));
        }
    }
    return !span->values.empty() || span->max > 0;
}

// The modes of one structure: one range, or one per listed size. Lists of
// widths and heights of one length go in pairs, as PipeWire lists a camera's
// sizes.
void addSizes(const CameraMode &named, const std::shared_ptr<GstStructure> &structure,
              DeviceModes *found) {
    Span widths, heights;
    if (!spanOf(gst_structure_get_value(structure.get(), "width"), &widths) ||
        !spanOf(gst_structure_get_value(structure.get(), "height"), &heights))
        return;
    auto add = [&](const CameraMode &mode) {
        found->modes.push_back(mode);
        found->structures.push_back(structure);
    };
    if (widths.values.empty() || heights.values.empty()) {
        // A range; a single size beside it counts as a range of one.
        auto low = [](const Span &span) { return span.values.empty() ? span.min : span.values[0]; };
        auto high = [](const Span &span) {
            return span.values.empty() ? span.max : span.values[0];
        };
        CameraMode range = named;
        range.minWidth = low(widths);
        range.minHeight = low(heights);
        range.width = range.maxWidth = high(widths);
        range.height = range.maxHeight = high(heights);
        range.stepX = widths.step;
        range.stepY = heights.step;
        add(range);
        return;
    }
    auto addOne = [&](int width, int height) {
        CameraMode one = named;
        one.width = one.minWidth = one.maxWidth = width;
        one.height = one.minHeight = one.maxHeight = height;
        add(one);
    };
    if (widths.values.size() == heights.values.size()) {
        for (size_t i = 0; i < widths.values.size(); ++i)
            addOne(widths.values[i], heights.values[i]);
    } else {
        for (int width : widths.values)
            for (int height : heights.values)
                addOne(width, height);
    }
}

} // namespace

DeviceModes modesOf(const GstCaps *caps) {
    DeviceModes found;
    for (guint i = 0; caps && !gst_caps_is_any(caps) && i < gst_caps_get_size(caps); ++i) {
        const GstStructure *structure = gst_caps_get_structure(caps, i);
        CameraMode named;
        if (!nameFormat(structure, &named.code, &named.bits))
            continue;
        named.interval = nearest(structure, 30, 1);
        named.fastest = nearest(structure, 1000, 1);
        named.slowest = nearest(structure, 1, 1000);
        named.convertible = !gst_structure_has_name(structure, "video/x-bayer");
        addSizes(named,
                 std::shared_ptr<GstStructure>(gst_structure_copy(structure), gst_structure_free),
                 &found);
    }
    if (found.modes.empty()) {
        CameraMode usual;
        usual.code = rgb24Code;
        usual.width = usual.minWidth = usual.maxWidth = 640;
        usual.height = usual.minHeight = usual.maxHeight = 480;
        usual.bits = 24;
        usual.interval = usual.fastest = usual.slowest = second / 30;
        found.modes.push_back(usual);
        found.structures.push_back(nullptr);
    }
    return found;
}

int64_t intervalNear(const GstStructure *structure, int64_t asked, int64_t usual) {
    if (asked <= 0 || asked > G_MAXINT || !structure)
        return usual;
    return nearest(structure, int(second), int(asked));
}

GstCaps *capsOf(const GstStructure *structure, int width, int height, int64_t interval) {
    if (!structure)
        return gst_caps_new_any();
    GstStructure *held = gst_structure_copy(structure);
    gst_structure_set(held, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
    if (interval > 0)
        gst_structure_fixate_field_nearest_fraction(held, "framerate", int(second), int(interval));
    return gst_caps_new_full(held, nullptr);
}

GstCaps *formatCapsOf(const GstStructure *structure) {
    if (!structure)
        return gst_caps_new_any();
    GstStructure *held = gst_structure_new_empty(gst_structure_get_name(structure));
    if (const GValue *pixels = gst_structure_get_value(structure, "format"))
        gst_structure_set_value(held, "format", pixels);
    return gst_caps_new_full(held, nullptr);
}
