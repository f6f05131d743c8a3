#include "platform/directshow/camera_formats.h"

#include <windows.h>

#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr REFERENCE_TIME second = 10000000;

GUID fourcc(const char *code) {
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = GST_STR_FOURCC(code);
    return subtype;
}

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

// DirectShow's name for a GStreamer format: RGB by its bit depth, the rest by
// their four-character code. False for one it has no name for.
bool nameFormat(const GstStructure *structure, GUID *subtype, int *bits) {
    if (gst_structure_has_name(structure, "image/jpeg")) {
        *subtype = fourcc("MJPG");
        *bits = 24;
        return true;
    }
    const char *format = gst_structure_get_string(structure, "format");
    // A raw sensor's mosaic, by the name V4L2 gives its 8-bit form (BGGR,
    // GRBG...) or its order and depth (GR10): no DirectShow filter takes it,
    // and the camera is shown offering it rather than a format it has not.
    if (gst_structure_has_name(structure, "video/x-bayer") && format && std::strlen(format) >= 4) {
        char code[5] = {};
        for (int i = 0; i < 4; ++i)
            code[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i])));
        *bits = std::strlen(format) == 4 ? 8 : std::atoi(format + 4);
        if (*bits > 8)
            std::snprintf(code + 2, 3, "%02d", *bits % 100);
        *subtype = fourcc(code);
        return *bits > 0;
    }
    if (!gst_structure_has_name(structure, "video/x-raw") || !format)
        return false;
    const std::string name = format;
    if (name == "BGR" || name == "RGB") {
        *subtype = MEDIASUBTYPE_RGB24;
        *bits = 24;
    } else if (name == "BGRx" || name == "BGRA") {
        *subtype = MEDIASUBTYPE_RGB32;
        *bits = 32;
    } else if (name == "GRAY8") {
        *subtype = fourcc("Y800");
        *bits = 8;
    } else if (name.size() == 4) {
        *subtype = fourcc(format);
        *bits = bitsPerPixel(gst_video_format_from_string(format));
    } else {
        return false;
    }
    return *bits > 0;
}

bool isRgb(const GUID &subtype) {
    return subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32;
}

// The frame interval nearest to `num`/`den` frames a second that the
// structure lists; 0 when it lists none.
REFERENCE_TIME intervalNear(const GstStructure *structure, int num, int den) {
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

// The capabilities of one structure named `subtype`: one range, or one per
// listed size. Lists of widths and heights of one length go in pairs, as
// PipeWire lists a camera's sizes.
void addSizes(const CameraFormat &named, const GstStructure *structure,
              std::vector<CameraFormat> *formats) {
    Span widths, heights;
    if (!spanOf(gst_structure_get_value(structure, "width"), &widths) ||
        !spanOf(gst_structure_get_value(structure, "height"), &heights))
        return;
    if (widths.values.empty() || heights.values.empty()) {
        // A range; a single size beside it counts as a range of one.
        auto low = [](const Span &span) { return span.values.empty() ? span.min : span.values[0]; };
        auto high = [](const Span &span) {
            return span.values.empty() ? span.max : span.values[0];
        };
        CameraFormat range = named;
        range.minSize = {low(widths), low(heights)};
        range.maxSize = {high(widths), high(heights)};
        range.step = {widths.step, heights.step};
        range.size = range.maxSize;
        formats->push_back(range);
        return;
    }
    auto add = [&](int width, int height) {
        CameraFormat one = named;
        one.size = one.minSize = one.maxSize = {width, height};
        one.step = {1, 1};
        formats->push_back(one);
    };
    if (widths.values.size() == heights.values.size()) {
        for (size_t i = 0; i < widths.values.size(); ++i)
            add(widths.values[i], heights.values[i]);
    } else {
        for (int width : widths.values)
            for (int height : heights.values)
                add(width, height);
    }
}

bool takes(const CameraFormat &format, LONG width, LONG height) {
    return width >= format.minSize.cx && width <= format.maxSize.cx &&
           height >= format.minSize.cy && height <= format.maxSize.cy &&
           (width - format.minSize.cx) % format.step.cx == 0 &&
           (height - format.minSize.cy) % format.step.cy == 0;
}

} // namespace

std::vector<CameraFormat> formatsOf(const GstCaps *caps) {
    std::vector<CameraFormat> formats;
    for (guint i = 0; caps && !gst_caps_is_any(caps) && i < gst_caps_get_size(caps); ++i) {
        const GstStructure *structure = gst_caps_get_structure(caps, i);
        CameraFormat named = {};
        if (!nameFormat(structure, &named.subtype, &named.bitCount))
            continue;
        named.interval = intervalNear(structure, 30, 1);
        named.fastest = intervalNear(structure, 1000, 1);
        named.slowest = intervalNear(structure, 1, 1000);
        named.structure.reset(gst_structure_copy(structure), gst_structure_free);
        addSizes(named, structure, &formats);
    }
    if (formats.empty()) {
        CameraFormat usual = {};
        usual.subtype = MEDIASUBTYPE_RGB24;
        usual.size = usual.minSize = usual.maxSize = {640, 480};
        usual.step = {1, 1};
        usual.bitCount = 24;
        usual.interval = usual.fastest = usual.slowest = second / 30;
        formats.push_back(usual);
    }
    return formats;
}

VIDEO_STREAM_CONFIG_CAPS capabilityOf(const CameraFormat &format) {
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = format.maxSize;
    caps.MinCroppingSize = caps.MinOutputSize = format.minSize;
    caps.MaxCroppingSize = caps.MaxOutputSize = format.maxSize;
    caps.CropGranularityX = caps.OutputGranularityX = format.step.cx;
    caps.CropGranularityY = caps.OutputGranularityY = format.step.cy;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.MinFrameInterval = format.fastest;
    caps.MaxFrameInterval = format.slowest;
    return caps;
}

AM_MEDIA_TYPE *mediaTypeOf(const CameraFormat &format, SIZE size, REFERENCE_TIME interval) {
    auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    auto *media = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    std::memset(info, 0, sizeof *info);
    std::memset(media, 0, sizeof *media);
    const int bits = format.bitCount;
    // RGB rows are padded to four bytes; other formats' are not.
    const long rowBytes =
        isRgb(format.subtype) ? GST_ROUND_UP_4(long(size.cx) * bits / 8) : long(size.cx) * bits / 8;
    const DWORD imageSize = static_cast<DWORD>(rowBytes * size.cy);
    info->rcSource = {0, 0, size.cx, size.cy};
    info->rcTarget = info->rcSource;
    info->AvgTimePerFrame = interval;
    if (interval > 0)
        info->dwBitRate = static_cast<DWORD>(imageSize * 8ll * second / interval);
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = size.cx;
    info->bmiHeader.biHeight = size.cy;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = static_cast<WORD>(bits);
    info->bmiHeader.biCompression = isRgb(format.subtype) ? BI_RGB : format.subtype.Data1;
    info->bmiHeader.biSizeImage = imageSize;
    media->majortype = MEDIATYPE_Video;
    media->subtype = format.subtype;
    media->bFixedSizeSamples = format.subtype != fourcc("MJPG");
    media->bTemporalCompression = FALSE;
    media->lSampleSize = imageSize;
    media->formattype = FORMAT_VideoInfo;
    media->cbFormat = sizeof(VIDEOINFOHEADER);
    media->pbFormat = reinterpret_cast<BYTE *>(info);
    return media;
}

int findFormat(const std::vector<CameraFormat> &formats, const AM_MEDIA_TYPE &type, SIZE *size) {
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
        !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return -1;
    const BITMAPINFOHEADER &header =
        reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
    // A negative height only means top-down rows; the size is the same.
    const SIZE asked = {header.biWidth, std::abs(header.biHeight)};
    for (size_t i = 0; i < formats.size(); ++i)
        if (formats[i].subtype == type.subtype && takes(formats[i], asked.cx, asked.cy)) {
            *size = asked;
            return static_cast<int>(i);
        }
    return -1;
}

REFERENCE_TIME intervalOf(const CameraFormat &format, REFERENCE_TIME asked) {
    if (asked <= 0 || asked > G_MAXINT || !format.structure)
        return format.interval;
    return intervalNear(format.structure.get(), int(second), int(asked));
}

GstCaps *capsOf(const CameraFormat &format, SIZE size, REFERENCE_TIME interval) {
    if (!format.structure)
        return gst_caps_new_any();
    GstStructure *held = gst_structure_copy(format.structure.get());
    gst_structure_set(held, "width", G_TYPE_INT, int(size.cx), "height", G_TYPE_INT, int(size.cy),
                      nullptr);
    if (interval > 0)
        gst_structure_fixate_field_nearest_fraction(held, "framerate", int(second), int(interval));
    return gst_caps_new_full(held, nullptr);
}

GstCaps *mediaTypeCapsOf(const CameraFormat &format) {
    if (!format.structure)
        return gst_caps_new_any();
    GstStructure *held = gst_structure_new_empty(gst_structure_get_name(format.structure.get()));
    if (const GValue *pixels = gst_structure_get_value(format.structure.get(), "format"))
        gst_structure_set_value(held, "format", pixels);
    return gst_caps_new_full(held, nullptr);
}
