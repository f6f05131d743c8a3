// Feeds bgrFromCameraFrame frames of any format, size, stride and row order,
// cut short or not, into targets of any size, and checks that every target row
// is either converted whole or black, and black only where the frame fell
// short. Out-of-bounds reads and writes and undefined behaviour are caught by
// the sanitizers this is built with: the frame is allocated at exactly the
// size it is said to have.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "capture/frame_layout.h"

namespace {

// Large enough for every format at the sizes below, small enough that a run
// stays quick.
constexpr long largestFrame = 4L << 20;

// The bytes a row of `width` pixels takes in memory, before any padding.
long rowNeeds(PixelFormat format, long width) {
    switch (format) {
    case PixelFormat::Rgb24:
        return 3 * width;
    case PixelFormat::Rgb32:
        return 4 * width;
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return 4 * ((width + 1) / 2);
    case PixelFormat::Nv12: // the chroma rows hold a U and V pair for every two pixels
        return 2 * ((width + 1) / 2);
    case PixelFormat::I420:
        return width;
    }
    return 0;
}

bool planar(PixelFormat format) {
    return format == PixelFormat::Nv12 || format == PixelFormat::I420;
}

long frameSizeFor(uint8_t choice, uint32_t raw, long whole, size_t arrived) {
    switch (choice % 8) {
    case 0:
        return whole;
    case 1:
        return whole - 1;
    case 2:
        return whole + 7;
    case 3:
        return static_cast<long>(arrived);
    case 4:
        return 0;
    case 5:
        return raw % 2 ? -1 : LONG_MIN;
    case 6:
        return whole / 2;
    default:
        return static_cast<long>(raw % static_cast<uint32_t>(whole + 64));
    }
}

[[noreturn]] void fault(const char *what, int row, const FrameLayout &layout, long frameSize) {
    std::fprintf(stderr,
                 "bgrFromCameraFrame: %s at target row %d; format %d, %dx%d, stride %ld, "
                 "top-down %d, frame %ld bytes\n",
                 what, row, static_cast<int>(layout.format), layout.width, layout.height,
                 layout.stride, layout.topDown, frameSize);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t length) {
    FuzzedDataProvider input(data, length);
    FrameLayout layout{};
    layout.format = static_cast<PixelFormat>(input.ConsumeIntegralInRange<int>(0, 5));
    layout.width = input.ConsumeIntegralInRange<int>(-1, 700);
    layout.height = input.ConsumeIntegralInRange<int>(-1, 500);
    layout.topDown = input.ConsumeBool();
    // Mostly the row plus some padding; now and then a stride too short for
    // the row, which no header gives but which must not be read past either.
    layout.stride =
        rowNeeds(layout.format, layout.width) + input.ConsumeIntegralInRange<int>(-8, 64);
    const int width = input.ConsumeIntegralInRange<int>(0, 80);
    const int height = input.ConsumeIntegralInRange<int>(0, 60);
    const uint8_t sizeChoice = input.ConsumeIntegral<uint8_t>();
    const uint32_t rawSize = input.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> content = input.ConsumeRemainingBytes<uint8_t>();

    const bool sane = layout.width > 0 && layout.height > 0 &&
                      layout.stride >= rowNeeds(layout.format, layout.width);
    const long whole = sane ? layout.bytes() : 0;
    long frameSize = frameSizeFor(sizeChoice, rawSize, whole, content.size());
    if (frameSize > largestFrame)
        frameSize = largestFrame;

    // Every byte at 0x80 or above: no such Y, U, V or RGB comes out black, so
    // a black row is one the conversion left out.
    const size_t allocated = frameSize > 0 ? static_cast<size_t>(frameSize) : 0;
    std::unique_ptr<unsigned char[]> frame(new unsigned char[allocated]);
    for (size_t k = 0; k < allocated; ++k)
        frame[k] = static_cast<unsigned char>(
            0x80 | (content.empty() ? 0x3C : content[k % content.size()]));

    const size_t rowBytes = 3 * static_cast<size_t>(width);
    std::unique_ptr<unsigned char[]> target(new unsigned char[rowBytes * height]);
    // Blue 1, green 2, red 3: no conversion of the frame's bytes gives it.
    for (size_t k = 0; k < rowBytes * height; ++k)
        target[k] = static_cast<unsigned char>(1 + k % 3);
    bgrFromCameraFrame(frame.get(), frameSize, layout, target.get(), width, height);

    // A whole luma plane is needed before any chroma row.
    const bool nothing = !sane || frameSize <= 0 ||
                         (planar(layout.format) && frameSize <= layout.stride * layout.height);
    for (int y = 0; y < height; ++y) {
        int blackPixels = 0;
        for (size_t k = 0; k < rowBytes; k += 3) {
            const unsigned char *pixel = target.get() + rowBytes * y + k;
            if (pixel[0] == 1 && pixel[1] == 2 && pixel[2] == 3)
                fault("pixel left unwritten", y, layout, frameSize);
            blackPixels += pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0;
        }
        if (blackPixels != 0 && static_cast<size_t>(blackPixels) * 3 != rowBytes)
            fault("row partly black", y, layout, frameSize);
        const bool black = width > 0 && blackPixels * 3 == static_cast<int>(rowBytes);
        if (black && sane && frameSize >= whole)
            fault("row black though the whole frame came", y, layout, frameSize);
        if (!black && width > 0 && nothing)
            fault("row shown without the data for it", y, layout, frameSize);
    }
    return 0;
}
