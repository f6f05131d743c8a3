#include "capture/frame_scale.h"

#include <cstring>

void scaleFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                unsigned char *target, int width, int height) {
    const long rowBytes = source.rowBytes();
    for (int y = 0; y < height; ++y) {
        unsigned char *out = target + 3L * width * y;
        // Both counted from the bottom row, as the target is stored.
        const long fromBottom = long(y) * source.height / height;
        const long row = source.topDown ? source.height - 1 - fromBottom : fromBottom;
        const unsigned char *in = frame + row * rowBytes;
        if (source.width <= 0 || row < 0 || (row + 1) * rowBytes > frameSize) {
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
