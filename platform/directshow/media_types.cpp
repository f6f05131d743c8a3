#include "platform/directshow/media_types.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t second = 10000000;

bool isRgb(uint32_t code) { return code == rgb24Code || code == rgb32Code; }

bool takes(const CameraMode &mode, LONG width, LONG height) {
    return width >= mode.minWidth && width <= mode.maxWidth && height >= mode.minHeight &&
           height <= mode.maxHeight && (width - mode.minWidth) % mode.stepX == 0 &&
           (height - mode.minHeight) % mode.stepY == 0;
}

// Windows pads RGB rows to whole 4-byte words.
long paddedRow(long bytes) { return (bytes + 3) & ~3L; }

} // namespace

GUID subtypeOf(uint32_t code) {
    if (code == rgb24Code)
        return MEDIASUBTYPE_RGB24;
    if (code == rgb32Code)
        return MEDIASUBTYPE_RGB32;
    // The others are their code in the first field of a common GUID.
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = code;
    return subtype;
}

uint32_t codeOf(const GUID &subtype) {
    if (subtype == MEDIASUBTYPE_RGB24)
        return rgb24Code;
    if (subtype == MEDIASUBTYPE_RGB32)
        return rgb32Code;
    GUID base = MEDIATYPE_Video;
    base.Data1 = subtype.Data1;
    return base == subtype ? subtype.Data1 : 0;
}

bool rawLayout(uint32_t code, int width, int height, int *bits, long *bytes) {
    const long w = width, h = height, chroma = ((w + 1) / 2) * ((h + 1) / 2);
    if (code == fourcc("NV12") || code == fourcc("I420") || code == fourcc("IYUV") ||
        code == fourcc("YV12")) {
        *bits = 12;
        *bytes = w * h + 2 * chroma;
    } else if (code == fourcc("YUY2") || code == fourcc("UYVY") || code == fourcc("YVYU")) {
        *bits = 16;
        *bytes = paddedRow(((w + 1) / 2) * 4) * h;
    } else if (code == fourcc("Y800")) {
        *bits = 8;
        *bytes = paddedRow(w) * h;
    } else {
        return false;
    }
    return true;
}

VIDEO_STREAM_CONFIG_CAPS capabilityOf(const CameraMode &mode) {
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = {mode.maxWidth, mode.maxHeight};
    caps.MinCroppingSize = caps.MinOutputSize = {mode.minWidth, mode.minHeight};
    caps.MaxCroppingSize = caps.MaxOutputSize = {mode.maxWidth, mode.maxHeight};
    caps.CropGranularityX = caps.OutputGranularityX = mode.stepX;
    caps.CropGranularityY = caps.OutputGranularityY = mode.stepY;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.MinFrameInterval = mode.fastest;
    caps.MaxFrameInterval = mode.slowest;
    return caps;
}

AM_MEDIA_TYPE *mediaTypeOf(const CameraMode &mode, int width, int height, int64_t interval) {
    auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    auto *media = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    std::memset(info, 0, sizeof *info);
    std::memset(media, 0, sizeof *media);
    const long rowBytes = long(width) * mode.bits / 8;
    // RGB rows are padded to four bytes; other formats' are not.
    const DWORD imageSize = DWORD((isRgb(mode.code) ? paddedRow(rowBytes) : rowBytes) * height);
    info->rcSource = {0, 0, width, height};
    info->rcTarget = info->rcSource;
    info->AvgTimePerFrame = interval;
    if (interval > 0)
        info->dwBitRate = static_cast<DWORD>(imageSize * 8ll * second / interval);
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = static_cast<WORD>(mode.bits);
    info->bmiHeader.biCompression = isRgb(mode.code) ? BI_RGB : mode.code;
    info->bmiHeader.biSizeImage = imageSize;
    media->majortype = MEDIATYPE_Video;
    media->subtype = subtypeOf(mode.code);
    media->bFixedSizeSamples = mode.code != jpegCode;
    media->bTemporalCompression = FALSE;
    media->lSampleSize = imageSize;
    media->formattype = FORMAT_VideoInfo;
    media->cbFormat = sizeof(VIDEOINFOHEADER);
    media->pbFormat = reinterpret_cast<BYTE *>(info);
    return media;
}

int findMode(const std::vector<CameraMode> &modes, const AM_MEDIA_TYPE &type, int *width,
             int *height) {
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
        !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return -1;
    const BITMAPINFOHEADER &header =
        reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
    // A negative height only means top-down rows; the size is the same.
    const LONG w = header.biWidth, h = std::abs(header.biHeight);
    for (size_t i = 0; i < modes.size(); ++i)
        if (subtypeOf(modes[i].code) == type.subtype && takes(modes[i], w, h)) {
            *width = w;
            *height = h;
            return static_cast<int>(i);
        }
    return -1;
}
