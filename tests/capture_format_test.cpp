#include "capture/frame_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Scaled {
    std::vector<unsigned char> frame;
    FrameLayout layout;
    std::vector<unsigned char> expected; // packed bottom-up BGR, 2 x 2
};

// Pixels are given by one byte repeated three times, so a swapped channel
// or a shifted row shows.
std::vector<unsigned char> grey(std::initializer_list<int> values, int padding, int perRow) {
    std::vector<unsigned char> bytes;
    int inRow = 0;
    for (int v : values) {
        bytes.insert(bytes.end(), 3, static_cast<unsigned char>(v));
        if (++inRow == perRow) {
            bytes.insert(bytes.end(), padding, 0xEE);
            inRow = 0;
        }
    }
    return bytes;
}

FrameLayout rgb24(int width, int height, bool topDown) {
    return {PixelFormat::Rgb24, width, height, topDown, (width * 3L + 3) & ~3L};
}

TEST(BgrFromCameraFrame, StretchesRgb24IntoABottomUpPictureWithoutReadingPastTheFrame) {
    const Scaled cases[] = {
        // 4 x 4 bottom-up, rows of 12 bytes: each 2 x 2 block averaged, halves
        // rounded up.
        {grey({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 0, 4), rgb24(4, 4, false),
         grey({4, 6, 12, 14}, 0, 2)},
        // A checkerboard of single pixels: an even grey.
        {grey({0, 255, 0, 255, 255, 0, 255, 0, 0, 255, 0, 255, 255, 0, 255, 0}, 0, 4),
         rgb24(4, 4, false), grey({128, 128, 128, 128}, 0, 2)},
        // 5 x 5 top-down, 10 * (1 + x + 5y): blocks of 2.5 x 2.5 weigh the
        // middle row and column by half in each.
        {grey({10,  20,  30,  40,  50,  60,  70,  80,  90,  100, 110, 120, 130,
               140, 150, 160, 170, 180, 190, 200, 210, 220, 230, 240, 250},
              1, 5),
         rgb24(5, 5, true), grey({178, 202, 58, 82}, 0, 2)},
        // 1 x 1, padded to four bytes: stretched over all four.
        {grey({7}, 1, 1), rgb24(1, 1, false), grey({7, 7, 7, 7}, 0, 2)},
        // 2 x 2 top-down, rows padded to 8 bytes: its first row is the top one.
        {grey({5, 6, 7, 8}, 2, 2), rgb24(2, 2, true), grey({7, 8, 5, 6}, 0, 2)},
        // Only the bottom row delivered: the top row stays black.
        {grey({1, 2}, 2, 2), rgb24(2, 2, false), grey({1, 2, 0, 0}, 0, 2)},
    };
    for (const Scaled &c : cases) {
        std::vector<unsigned char> target(12, 0xAA);
        bgrFromCameraFrame(c.frame.data(), static_cast<long>(c.frame.size()), c.layout,
                           target.data(), 2, 2);
        EXPECT_EQ(target, c.expected);
    }
}

} // namespace
