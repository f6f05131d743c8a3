#include "capture/frame_layout.h"

#include "common/pins_and_types.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32
// VIDEOINFOHEADER2 is declared here, not in dshow.h.
#include <dvdmedia.h>
// mingw-w64's uuids.h names IYUV but not I420, the same layout.
static const GUID cloakcamI420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
#define MEDIASUBTYPE_I420 cloakcamI420
#endif

namespace {

// No camera sends pictures this large; a header that says so is broken, and
// the byte counts of larger ones would overflow Windows' 32-bit long.
constexpr long largestSide = 16384;

bool planar(PixelFormat format) {
    return format == PixelFormat::Nv12 || format == PixelFormat::I420;
}

int bitsPerPixel(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb24:
        return 24;
    case PixelFormat::Rgb32:
        return 32;
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return 16;
    case PixelFormat::Nv12:
    case PixelFormat::I420:
        return 12;
    }
    return 0;
}

long strideOf(PixelFormat format, long width) {
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
        return bitmapRowBytes(width, bitsPerPixel(format));
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return width * 2;
    case PixelFormat::Nv12:
    case PixelFormat::I420:
        return width;
    }
    return 0;
}

// The rows of I420's two chroma planes are half as long as the luma's.
int64_t chromaStride(int64_t stride) { return (stride + 1) / 2; }

// The rectangle and bitmap header of either kind of video format block.
struct VideoHeader {
    RECT source;
    BITMAPINFOHEADER bitmap;
};

bool videoHeaderOf(const AM_MEDIA_TYPE &type, VideoHeader *header) {
    if (!type.pbFormat)
        return false;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto *info = reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat);
        *header = {info->rcSource, info->bmiHeader};
        return true;
    }
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto *info = reinterpret_cast<const VIDEOINFOHEADER2 *>(type.pbFormat);
        *header = {info->rcSource, info->bmiHeader};
        return true;
    }
    return false;
}

// One target row's source columns, each found from the last by adding the
// quotient and carrying the remainder, so that no pixel costs a division.
class ColumnWalk {
  public:
    ColumnWalk(int64_t first, int64_t span, int width)
        : column(first), step(span / width), remainder(span % width), width(width) {}
    int64_t next() {
        const int64_t current = column;
        column += step;
        carried += remainder;
        if (carried >= width) {
            carried -= width;
            ++column;
        }
        return current;
    }

  private:
    int64_t column;
    int64_t step;
    int64_t remainder;
    int64_t carried = 0;
    int64_t width;
};

unsigned char clampShifted(int value) {
    if (value < 0)
        return 0;
    value >>= 8;
    return static_cast<unsigned char>(value > 255 ? 255 : value);
}

// BT.601 limited range with the factors scaled by 256: 1.164 is 298, 1.596
// is 409, and so on; the 128 rounds.
void putYuv(unsigned char *out, int y, int u, int v) {
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128;
    const int e = v - 128;
    out[0] = clampShifted(c + 516 * d);
    out[1] = clampShifted(c - 100 * d - 208 * e);
    out[2] = clampShifted(c + 409 * e);
}

// The part of the source shown: its centre, in the target's shape.
struct Crop {
    int64_t left, top, width, height;
};

Crop centreCrop(const FrameLayout &source, int width, int height) {
    const int64_t sw = source.width, sh = source.height;
    Crop crop{0, 0, sw, sh};
    if (sw * height > sh * width)
        crop.width = sh * width / height;
    else
        crop.height = sw * height / width;
    if (crop.width < 1)
        crop.width = 1;
    if (crop.height < 1)
        crop.height = 1;
    crop.left = (sw - crop.width) / 2;
    crop.top = (sh - crop.height) / 2;
    return crop;
}

// Where one source row's bytes lie, as offsets into the frame, and the end
// of the furthest one read.
struct SourceRow {
    int64_t luma;    // or the packed pixels
    int64_t chroma;  // NV12's UV pairs, or I420's U
    int64_t chroma2; // I420's V
    int64_t end;
};

// `row` counts rows in memory; `lastColumn` is the rightmost pixel read.
SourceRow sourceRow(const FrameLayout &source, int64_t row, int64_t lastColumn) {
    const int64_t stride = source.stride;
    const int64_t start = row * stride;
    switch (source.format) {
    case PixelFormat::Rgb24:
        return {start, 0, 0, start + 3 * (lastColumn + 1)};
    case PixelFormat::Rgb32:
        return {start, 0, 0, start + 4 * (lastColumn + 1)};
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return {start, 0, 0, start + 4 * (lastColumn / 2 + 1)};
    case PixelFormat::Nv12: {
        // One row of UV pairs serves two rows of luma.
        const int64_t uv = stride * source.height + row / 2 * stride;
        return {start, uv, 0, uv + 2 * (lastColumn / 2 + 1)};
    }
    case PixelFormat::I420: {
        const int64_t half = chromaStride(stride);
        const int64_t u = stride * source.height + row / 2 * half;
        const int64_t v = u + half * ((source.height + 1) / 2);
        return {start, u, v, v + lastColumn / 2 + 1};
    }
    }
    return {0, 0, 0, INT64_MAX};
}

// The bytes the rightmost pixel of a row needs, so that a stride shorter than
// that is known to be a broken layout.
int64_t rowNeeds(PixelFormat format, int64_t width) {
    switch (format) {
    case PixelFormat::Rgb24:
        return 3 * width;
    case PixelFormat::Rgb32:
        return 4 * width;
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return 4 * ((width - 1) / 2 + 1);
    case PixelFormat::Nv12: // its chroma rows hold a U and V pair for every two pixels
        return 2 * ((width + 1) / 2);
    case PixelFormat::I420:
        return width;
    }
    return INT64_MAX;
}

bool readable(const FrameLayout &source) {
    return source.width > 0 && source.height > 0 && source.width <= largestSide &&
           source.height <= largestSide && source.stride >= rowNeeds(source.format, source.width) &&
           source.stride <= 8 * largestSide;
}

void convertRow(const unsigned char *frame, const SourceRow &row, PixelFormat format,
                ColumnWalk columns, unsigned char *out, int width) {
    const unsigned char *luma = frame + row.luma;
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32: {
        const int64_t size = format == PixelFormat::Rgb24 ? 3 : 4;
        for (int x = 0; x < width; ++x, out += 3) {
            const unsigned char *pixel = luma + size * columns.next();
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
        }
        return;
    }
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy: {
        // Y0 U Y1 V for YUY2, U Y0 V Y1 for UYVY: two pixels share U and V.
        const int y0 = format == PixelFormat::Yuy2 ? 0 : 1;
        const int u = 1 - y0;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            const unsigned char *pair = luma + 4 * (column / 2);
            putYuv(out, pair[y0 + 2 * (column & 1)], pair[u], pair[u + 2]);
        }
        return;
    }
    case PixelFormat::Nv12: {
        const unsigned char *uv = frame + row.chroma;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            putYuv(out, luma[column], uv[column / 2 * 2], uv[column / 2 * 2 + 1]);
        }
        return;
    }
    case PixelFormat::I420: {
        const unsigned char *u = frame + row.chroma;
        const unsigned char *v = frame + row.chroma2;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            putYuv(out, luma[column], u[column / 2], v[column / 2]);
        }
        return;
    }
    }
}

} // namespace

long FrameLayout::bytes() const {
    const long plane = stride * height;
    const long chromaRows = (height + 1) / 2;
    switch (format) {
    case PixelFormat::Nv12:
        return plane + stride * chromaRows;
    case PixelFormat::I420:
        return plane + 2 * static_cast<long>(chromaStride(stride)) * chromaRows;
    default:
        return plane;
    }
}

bool pixelFormatOf(const GUID &subtype, PixelFormat *format) {
    const struct {
        const GUID &subtype;
        PixelFormat format;
    } known[] = {
        {MEDIASUBTYPE_RGB24, PixelFormat::Rgb24}, {MEDIASUBTYPE_RGB32, PixelFormat::Rgb32},
        {MEDIASUBTYPE_YUY2, PixelFormat::Yuy2},   {MEDIASUBTYPE_UYVY, PixelFormat::Uyvy},
        {MEDIASUBTYPE_NV12, PixelFormat::Nv12},   {MEDIASUBTYPE_I420, PixelFormat::I420},
        {MEDIASUBTYPE_IYUV, PixelFormat::I420},
    };
    for (const auto &entry : known)
        if (entry.subtype == subtype) {
            *format = entry.format;
            return true;
        }
    return false;
}

bool frameLayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout) {
    VideoHeader header;
    PixelFormat format;
    if (!pixelFormatOf(type.subtype, &format) || !videoHeaderOf(type, &header))
        return false;
    // 64 bits, so that even the most negative height has a magnitude.
    const int64_t width = header.bitmap.biWidth;
    const int64_t height = header.bitmap.biHeight < 0 ? -int64_t(header.bitmap.biHeight)
                                                      : int64_t(header.bitmap.biHeight);
    if (width <= 0 || height == 0 || width > largestSide || height > largestSide ||
        header.bitmap.biBitCount != bitsPerPixel(format))
        return false;
    // Microsoft's documentation has YUV top-down whatever the height's sign.
    const bool topDown = !(format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32) ||
                         header.bitmap.biHeight < 0;
    FrameLayout result{format, static_cast<int>(width), static_cast<int>(height), topDown,
                       strideOf(format, width)};
    // A source rectangle narrower than the bitmap makes the bitmap's width the
    // stride. Its height is taken only where the rows it names come first in
    // memory: planes or bottom-up rows past them would be read from the
    // wrong place.
    const RECT &shown = header.source;
    const int64_t shownWidth = int64_t(shown.right) - shown.left;
    const int64_t shownHeight = int64_t(shown.bottom) - shown.top;
    if (shownWidth > 0 && shownHeight > 0 && shownWidth < width) {
        if (shown.left < 0 || shown.top < 0 || shown.right > width || shown.bottom > height)
            return false;
        result.width = static_cast<int>(shownWidth);
        if (topDown && !planar(format))
            result.height = static_cast<int>(shownHeight);
    }
    *layout = result;
    return true;
}

void convertCameraFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                        unsigned char *target, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const int64_t rowBytes = 3 * static_cast<int64_t>(width);
    if (!readable(source) || frameSize <= 0) {
        std::memset(target, 0, static_cast<size_t>(rowBytes * height));
        return;
    }
    const Crop crop = centreCrop(source, width, height);
    const int64_t lastColumn = crop.left + crop.width - 1;
    for (int y = 0; y < height; ++y) {
        unsigned char *out = target + rowBytes * y;
        // Counted from the bottom, as the target is stored; `shown` from the top.
        const int64_t fromBottom = static_cast<int64_t>(y) * crop.height / height;
        const int64_t shown = crop.top + crop.height - 1 - fromBottom;
        const int64_t row = source.topDown ? shown : source.height - 1 - shown;
        const SourceRow in = sourceRow(source, row, lastColumn);
        if (in.end > frameSize) {
            std::memset(out, 0, static_cast<size_t>(rowBytes));
            continue;
        }
        convertRow(frame, in, source.format, ColumnWalk(crop.left, crop.width, width), out, width);
    }
}
