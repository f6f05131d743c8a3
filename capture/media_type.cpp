#include "capture/media_type.h"

#include "capture/pins_and_types.h"

#include <cstdlib>

BITMAPINFOHEADER *bitmapHeader(const AM_MEDIA_TYPE &type) {
    if (!type.pbFormat)
        return nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<VIDEOINFOHEADER2 *>(type.pbFormat)->bmiHeader;
    return nullptr;
}

void resize(AM_MEDIA_TYPE &type, int width, int height) {
    BITMAPINFOHEADER *header = bitmapHeader(type);
    if (!header || (header->biWidth == width && std::abs(header->biHeight) == height))
        return;
    const long bits = header->biBitCount;
    const bool rgb = header->biCompression == BI_RGB || header->biCompression == BI_BITFIELDS;
    const long rowBytes = rgb ? bitmapRowBytes(width, bits) : width * bits / 8;
    header->biWidth = width;
    header->biHeight = header->biHeight < 0 ? -height : height;
    header->biSizeImage = static_cast<DWORD>(rowBytes * height);
    if (type.bFixedSizeSamples)
        type.lSampleSize = header->biSizeImage;
    RECT *rectangles = type.formattype == FORMAT_VideoInfo
                           ? &reinterpret_cast<VIDEOINFOHEADER *>(type.pbFormat)->rcSource
                           : &reinterpret_cast<VIDEOINFOHEADER2 *>(type.pbFormat)->rcSource;
    rectangles[0] = rectangles[1] = RECT{0, 0, 0, 0};
}

namespace {

REFERENCE_TIME *intervalField(const AM_MEDIA_TYPE &type) {
    if (!type.pbFormat)
        return nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<VIDEOINFOHEADER *>(type.pbFormat)->AvgTimePerFrame;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<VIDEOINFOHEADER2 *>(type.pbFormat)->AvgTimePerFrame;
    return nullptr;
}

} // namespace

REFERENCE_TIME frameInterval(const AM_MEDIA_TYPE &type) {
    const REFERENCE_TIME *interval = intervalField(type);
    return interval && *interval > 0 ? *interval : 0;
}

void setFrameInterval(AM_MEDIA_TYPE &type, REFERENCE_TIME interval) {
    REFERENCE_TIME *field = intervalField(type);
    if (field && interval > 0)
        *field = interval;
}
