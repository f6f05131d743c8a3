// Stand-in until the conversions land: RGB24 only, stretched.
#include "capture/frame_layout.h"

#include <cstdlib>
#include <cstring>

long FrameLayout::bytes() const { return stride * height; }

bool pixelFormatOf(const GUID &subtype, PixelFormat *format) {
    if (subtype != MEDIASUBTYPE_RGB24)
        return false;
    *format = PixelFormat::Rgb24;
    return true;
}

bool frameLayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout) {
    if (type.formattype != FORMAT_VideoInfo || !type.pbFormat ||
        type.cbFormat < sizeof(VIDEOINFOHEADER) || type.subtype != MEDIASUBTYPE_RGB24)
        return false;
    const BITMAPINFOHEADER &h = reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
    *layout = {PixelFormat::Rgb24, static_cast<int>(h.biWidth),
               std::abs(static_cast<int>(h.biHeight)), h.biHeight < 0, (h.biWidth * 3L + 3) & ~3L};
    return h.biWidth > 0 && h.biHeight != 0;
}

void convertCameraFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                        unsigned char *target, int width, int height) {
    for (int y = 0; y < height; ++y) {
        unsigned char *out = target + 3L * width * y;
        const long fromBottom = long(y) * source.height / height;
        const long row = source.topDown ? source.height - 1 - fromBottom : fromBottom;
        const unsigned char *in = frame + row * source.stride;
        if (source.width <= 0 || row < 0 || (row + 1) * source.stride > frameSize) {
            std::memset(out, 0, 3L * width);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const unsigned char *pixel = in + 3L * (long(x) * source.width / width);
            out[3 * x] = pixel[0];
            out[3 * x + 1] = pixel[1];
            out[3 * x + 2] = pixel[2];
        }
    }
}
