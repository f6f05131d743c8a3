#include "capture/frame_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The FourCC form of a YUV subtype, here for the one no camera format
// offers the program: MJPG.
const GUID mjpg = {0x47504A4D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct Rgb {
    int r, g, b;
};

// Rec. 601 limited range, written from its definition rather than the
// program's integer form.
Rgb bt601(int y, int u, int v) {
    auto clamp = [](double value) {
        return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, value))));
    };
    const double c = 1.164 * (y - 16);
    return {clamp(c + 1.596 * (v - 128)), clamp(c - 0.813 * (v - 128) - 0.391 * (u - 128)),
            clamp(c + 2.018 * (u - 128))};
}

// A picture's samples, x and y counted from its top left.
struct Picture {
    std::function<int(int x, int y)> luma, u, v; // u and v of the pixel, not its block
    std::function<Rgb(int x, int y)> rgb;
};

// Test values that differ from pixel to pixel and from block to block, all in
// limited range so that no clamp hides a wrong factor.
const Picture yuvPicture{[](int x, int y) { return 20 + 23 * x + 51 * y; },
                         [](int x, int y) { return 70 + 45 * (x / 2) + 30 * (y / 2); },
                         [](int x, int y) { return 190 - 40 * (x / 2) - 35 * (y / 2); }, nullptr};
const Picture rgbPicture{nullptr, nullptr, nullptr, [](int x, int y) {
                             return Rgb{10 + 40 * x, 200 - 30 * y, 7 * x + 60 * y};
                         }};

// The frame a camera sends for `picture` laid out as `layout`; padding and
// gaps are 0xEE so that reading them shows.
std::vector<unsigned char> encode(const FrameLayout &layout, const Picture &picture) {
    std::vector<unsigned char> frame(static_cast<size_t>(layout.bytes()), 0xEE);
    const long plane = layout.stride * layout.height;
    const long half = (layout.stride + 1) / 2;
    for (int y = 0; y < layout.height; ++y) {
        const long row = layout.topDown ? y : layout.height - 1 - y;
        unsigned char *line = frame.data() + row * layout.stride;
        for (int x = 0; x < layout.width; ++x) {
            switch (layout.format) {
            case PixelFormat::Rgb24:
            case PixelFormat::Rgb32: {
                const int size = layout.format == PixelFormat::Rgb24 ? 3 : 4;
                const Rgb p = picture.rgb(x, y);
                line[size * x] = static_cast<unsigned char>(p.b);
                line[size * x + 1] = static_cast<unsigned char>(p.g);
                line[size * x + 2] = static_cast<unsigned char>(p.r);
                break;
            }
            case PixelFormat::Yuy2:
            case PixelFormat::Uyvy: {
                const bool yuy2 = layout.format == PixelFormat::Yuy2;
                unsigned char *pair = line + 4 * (x / 2);
                pair[(yuy2 ? 0 : 1) + 2 * (x % 2)] = static_cast<unsigned char>(picture.luma(x, y));
                pair[yuy2 ? 1 : 0] = static_cast<unsigned char>(picture.u(x, y));
                pair[yuy2 ? 3 : 2] = static_cast<unsigned char>(picture.v(x, y));
                break;
            }
            case PixelFormat::Nv12:
                line[x] = static_cast<unsigned char>(picture.luma(x, y));
                frame[plane + y / 2 * layout.stride + x / 2 * 2] =
                    static_cast<unsigned char>(picture.u(x, y));
                frame[plane + y / 2 * layout.stride + x / 2 * 2 + 1] =
                    static_cast<unsigned char>(picture.v(x, y));
                break;
            case PixelFormat::I420:
                line[x] = static_cast<unsigned char>(picture.luma(x, y));
                frame[plane + y / 2 * half + x / 2] = static_cast<unsigned char>(picture.u(x, y));
                frame[plane + half * ((layout.height + 1) / 2) + y / 2 * half + x / 2] =
                    static_cast<unsigned char>(picture.v(x, y));
                break;
            }
        }
    }
    return frame;
}

bool isRgb(const FrameLayout &layout) {
    return layout.format == PixelFormat::Rgb24 || layout.format == PixelFormat::Rgb32;
}

const Picture &pictureFor(const FrameLayout &layout) {
    return isRgb(layout) ? rgbPicture : yuvPicture;
}

Rgb expectedAt(const FrameLayout &layout, const Picture &picture, int x, int y) {
    if (isRgb(layout))
        return picture.rgb(x, y);
    return bt601(picture.luma(x, y), picture.u(x, y), picture.v(x, y));
}

// The target's pixel at x, y counted from the top, as recordsFromBgr reads it.
Rgb shownAt(const std::vector<unsigned char> &target, int width, int height, int x, int y) {
    const unsigned char *p = target.data() + 3L * (width * (height - 1 - y) + x);
    return {p[2], p[1], p[0]};
}

TEST(BgrFromCameraFrame, EachFormatGivesTheColoursOfItsPixelsInTheirPlaces) {
    // 6 x 3 into 6 x 3: no crop, no scaling, so every pixel is compared. Odd
    // heights leave the last chroma row to one luma row.
    const FrameLayout layouts[] = {
        {PixelFormat::Rgb24, 6, 3, false, 20}, // rows padded from 18 bytes
        {PixelFormat::Rgb24, 6, 3, true, 20},
        {PixelFormat::Rgb32, 6, 3, false, 24},
        {PixelFormat::Yuy2, 6, 3, true, 12},
        {PixelFormat::Yuy2, 6, 3, false, 16}, // a stride wider than the row
        {PixelFormat::Uyvy, 6, 3, true, 12},
        {PixelFormat::Nv12, 6, 3, true, 6},
        {PixelFormat::Nv12, 6, 3, true, 8},
        {PixelFormat::I420, 6, 3, true, 6},
        {PixelFormat::I420, 6, 3, true, 7}, // chroma rows of 4 bytes
    };
    for (const FrameLayout &layout : layouts) {
        const Picture &picture = pictureFor(layout);
        const std::vector<unsigned char> frame = encode(layout, picture);
        std::vector<unsigned char> target(6 * 3 * 3, 0xAA);
        bgrFromCameraFrame(frame.data(), static_cast<long>(frame.size()), layout, target.data(), 6,
                           3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x) {
                const Rgb want = expectedAt(layout, picture, x, y);
                const Rgb got = shownAt(target, 6, 3, x, y);
                SCOPED_TRACE(::testing::Message() << "format " << static_cast<int>(layout.format)
                                                  << " stride " << layout.stride << " top-down "
                                                  << layout.topDown << " at " << x << "," << y);
                EXPECT_NEAR(got.r, want.r, 2);
                EXPECT_NEAR(got.g, want.g, 2);
                EXPECT_NEAR(got.b, want.b, 2);
            }
    }
}

TEST(BgrFromCameraFrame, ShowsTheCentreOfTheSourceInTheTargetsShape) {
    // Shrunk by two or more, a target pixel shows the weighed mean place of
    // the source pixels it covers, rounded.
    struct Case {
        int width, height;           // of the source
        int firstColumn, lastColumn; // source columns at the target's left and right
        int topRow, bottomRow;       // source rows at the target's top and bottom
    };
    const Case cases[] = {
        // 16:9 into 4:3: an eighth of the width cut off each side; the left
        // pixel covers columns 240 to 244.5, the right 1675.5 to 1680.
        {1920, 1080, 242, 1677, 2, 1077},
        // Taller than 4:3: 360 rows of 800 shown, 220 cut off above and below.
        {480, 800, 0, 478, 221, 579},
        // The same shape: all of it, in blocks of 2 x 2.
        {640, 480, 1, 639, 1, 479},
    };
    // Each pixel tells its own place: column in blue and the green's low
    // half, row in red and the green's high half.
    const Picture places{nullptr, nullptr, nullptr, [](int x, int y) {
                             return Rgb{y & 0xFF, (x >> 8) | (y >> 8) << 4, x & 0xFF};
                         }};
    auto column = [](Rgb p) { return p.b | (p.g & 0xF) << 8; };
    auto row = [](Rgb p) { return p.r | (p.g >> 4) << 8; };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
        const FrameLayout layout{PixelFormat::Rgb24, c.width, c.height, false, c.width * 3L};
        const std::vector<unsigned char> frame = encode(layout, places);
        std::vector<unsigned char> target(320 * 240 * 3);
        bgrFromCameraFrame(frame.data(), static_cast<long>(frame.size()), layout, target.data(),
                           320, 240);
        EXPECT_EQ(column(shownAt(target, 320, 240, 0, 120)), c.firstColumn);
        EXPECT_EQ(column(shownAt(target, 320, 240, 319, 120)), c.lastColumn);
        EXPECT_EQ(row(shownAt(target, 320, 240, 160, 0)), c.topRow);
        EXPECT_EQ(row(shownAt(target, 320, 240, 160, 239)), c.bottomRow);
    }
}

TEST(BgrFromCameraFrame, RowsWhosePlanesAreCutShortAreBlack) {
    struct Case {
        FrameLayout layout;
        long delivered;
        int shownRows; // from the top; the rest must be black
    };
    const Case cases[] = {
        // 4 x 4 NV12: 16 bytes of luma, then two rows of 4 bytes of UV.
        {{PixelFormat::Nv12, 4, 4, true, 4}, 20, 2},
        {{PixelFormat::Nv12, 4, 4, true, 4}, 16, 0},
        // 4 x 4 I420: 16 of luma, 4 of U, 4 of V; the last V byte missing.
        {{PixelFormat::I420, 4, 4, true, 4}, 23, 2},
        {{PixelFormat::Yuy2, 4, 4, true, 8}, 31, 3},
        {{PixelFormat::Rgb32, 4, 4, true, 16}, 63, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << static_cast<int>(c.layout.format) << ", "
                                          << c.delivered << " bytes");
        // Only the delivered bytes are kept, so that reading further is caught
        // by the sanitizers as well.
        const std::vector<unsigned char> whole = encode(c.layout, pictureFor(c.layout));
        std::vector<unsigned char> frame(whole.begin(), whole.begin() + c.delivered);
        std::vector<unsigned char> target(4 * 4 * 3, 0xAA);
        bgrFromCameraFrame(frame.data(), c.delivered, c.layout, target.data(), 4, 4);
        for (int y = 0; y < 4; ++y) {
            const Rgb got = shownAt(target, 4, 4, 1, y);
            const bool black = got.r == 0 && got.g == 0 && got.b == 0;
            EXPECT_EQ(black, y >= c.shownRows) << "row " << y;
        }
    }
}

TEST(BgrFromCameraFrame, AveragesWhereItShrinksByTwoOrMore) {
    // NV12 checkerboards of single pixels at video black and white, neutral
    // chroma: every target pixel is the same grey, whatever the block sizes.
    const auto checkerboard = [](const FrameLayout &layout) {
        std::vector<unsigned char> frame(static_cast<size_t>(layout.bytes()), 128);
        for (int y = 0; y < layout.rows(); ++y)
            for (int x = 0; x < layout.width; ++x)
                frame[size_t(y) * size_t(layout.stride) + size_t(x)] = (x + y) % 2 ? 235 : 16;
        return frame;
    };
    struct Case {
        FrameLayout layout;
        int width, height;
        int grey;   // 125.5 rounded to 126, at video levels
        int spread; // how far blocks that are not whole pixels may stray
    };
    const Case cases[] = {
        {{PixelFormat::Nv12, 4, 2, true, 4}, 2, 1, 128, 0},
        {{PixelFormat::Nv12, 4, 2, true, 4}, 1, 1, 128, 0},
        // Blocks of 4.5 x 4.5 above rows padded to 1088: a quarter pixel of
        // 20.25 more black or white, 1.4 levels of luma; whole pixels of 5 x 5
        // would stray by 4.4.
        {{PixelFormat::Nv12, 1920, 1080, true, 1920, 1088}, 320, 240, 128, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.layout.width << "x" << c.layout.height << " into "
                                          << c.width << "x" << c.height);
        const std::vector<unsigned char> frame = checkerboard(c.layout);
        std::vector<unsigned char> target(3 * size_t(c.width) * size_t(c.height), 0xAA);
        bgrFromCameraFrame(frame.data(), static_cast<long>(frame.size()), c.layout, target.data(),
                           c.width, c.height);
        const auto range = std::minmax_element(target.begin(), target.end());
        EXPECT_GE(*range.first, c.grey - c.spread);
        EXPECT_LE(*range.second, c.grey + c.spread);
    }
}

TEST(LayoutOfSize, FindsTheSizeOfPicturesOfAnotherLength) {
    struct Case {
        FrameLayout connected;
        long bytes;
        bool found;
        FrameLayout expected;
    };
    const FrameLayout none{PixelFormat::Rgb24, 0, 0, false, 0};
    const Case cases[] = {
        // 1080 rows padded to 1088: the chroma plane lies past them.
        {{PixelFormat::Nv12, 1920, 1080, true, 1920},
         3133440,
         true,
         {PixelFormat::Nv12, 1920, 1080, true, 1920, 1088}},
        // The connected type's shape, another size.
        {{PixelFormat::Yuy2, 1280, 720, true, 2560},
         1024 * 576 * 2,
         true,
         {PixelFormat::Yuy2, 1024, 576, true, 2048}},
        // A size cameras commonly send, in the connected type's format and
        // row order.
        {{PixelFormat::Rgb24, 1280, 720, false, 3840},
         921600,
         true,
         {PixelFormat::Rgb24, 640, 480, false, 1920}},
        {{PixelFormat::Rgb24, 1280, 720, false, 3840}, 921601, false, none},
        {{PixelFormat::Rgb24, 1280, 720, false, 3840}, 0, false, none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bytes << " bytes");
        FrameLayout layout = none;
        ASSERT_EQ(layoutOfSize(c.connected, c.bytes, &layout), c.found);
        EXPECT_EQ(layout.format, c.expected.format);
        EXPECT_EQ(layout.width, c.expected.width);
        EXPECT_EQ(layout.height, c.expected.height);
        EXPECT_EQ(layout.rows(), c.expected.rows());
        EXPECT_EQ(layout.topDown, c.expected.topDown);
        EXPECT_EQ(layout.stride, c.expected.stride);
    }
}

// A media type as a capture pin offers it, with either kind of header.
struct OfferedType {
    GUID subtype;
    bool videoInfo2;
    long biWidth, biHeight;
    int bits;
    RECT source;
    int cut; // bytes missing from the end of the header
};

bool layoutFor(const OfferedType &offered, FrameLayout *layout) {
    VIDEOINFOHEADER2 block = {};
    BITMAPINFOHEADER *bitmap = &block.bmiHeader;
    RECT *source = &block.rcSource;
    VIDEOINFOHEADER plain = {};
    if (!offered.videoInfo2) {
        bitmap = &plain.bmiHeader;
        source = &plain.rcSource;
    }
    bitmap->biWidth = offered.biWidth;
    bitmap->biHeight = offered.biHeight;
    bitmap->biBitCount = static_cast<WORD>(offered.bits);
    *source = offered.source;
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Video;
    type.subtype = offered.subtype;
    type.formattype = offered.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    type.pbFormat =
        offered.videoInfo2 ? reinterpret_cast<BYTE *>(&block) : reinterpret_cast<BYTE *>(&plain);
    type.cbFormat = static_cast<ULONG>(
        (offered.videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER)) - offered.cut);
    return frameLayoutOf(type, layout);
}

TEST(FrameLayoutOf, ReadsEitherHeaderAsDirectShowMeansIt) {
    struct Case {
        OfferedType offered;
        FrameLayout expected;
        long bytes;
    };
    const RECT whole = {0, 0, 0, 0};
    const Case cases[] = {
        {{MEDIASUBTYPE_RGB24, false, 640, 480, 24, whole, 0},
         {PixelFormat::Rgb24, 640, 480, false, 1920},
         921600},
        // A negative height: RGB from the top down; rows padded to four bytes.
        {{MEDIASUBTYPE_RGB24, false, 2, -2, 24, whole, 0}, {PixelFormat::Rgb24, 2, 2, true, 8}, 16},
        {{MEDIASUBTYPE_RGB32, true, 3, 2, 32, whole, 0}, {PixelFormat::Rgb32, 3, 2, false, 12}, 24},
        {{MEDIASUBTYPE_NV12, true, 1920, 1080, 12, whole, 0},
         {PixelFormat::Nv12, 1920, 1080, true, 1920},
         3110400},
        // YUV is top-down whatever the sign of its height.
        {{MEDIASUBTYPE_YUY2, false, 640, 480, 16, whole, 0},
         {PixelFormat::Yuy2, 640, 480, true, 1280},
         614400},
        {{MEDIASUBTYPE_UYVY, false, 640, -480, 16, whole, 0},
         {PixelFormat::Uyvy, 640, 480, true, 1280},
         614400},
        // I420 and IYUV are one layout; odd sizes round the chroma planes up.
        {{MEDIASUBTYPE_IYUV, false, 5, 3, 12, whole, 0}, {PixelFormat::I420, 5, 3, true, 5}, 27},
        {{MEDIASUBTYPE_I420, true, 4, 2, 12, whole, 0}, {PixelFormat::I420, 4, 2, true, 4}, 12},
        // A source rectangle smaller than the bitmap: the bitmap's width is
        // the stride, and its height the rows the buffer holds.
        {{MEDIASUBTYPE_YUY2, true, 704, 480, 16, {0, 0, 640, 360}, 0},
         {PixelFormat::Yuy2, 640, 360, true, 1408},
         675840},
        // A decoder's 1088 rows, 1080 of them shown: the chroma plane follows
        // the 1088.
        {{MEDIASUBTYPE_NV12, true, 1920, 1088, 12, {0, 0, 1920, 1080}, 0},
         {PixelFormat::Nv12, 1920, 1080, true, 1920},
         3133440},
        {{MEDIASUBTYPE_NV12, false, 1984, 1080, 12, {0, 0, 1920, 1080}, 0},
         {PixelFormat::Nv12, 1920, 1080, true, 1984},
         3214080},
        // Bottom-up rows: the rectangle's rows are the last in memory, so
        // the whole height stays.
        {{MEDIASUBTYPE_RGB24, false, 672, 480, 24, {0, 0, 640, 360}, 0},
         {PixelFormat::Rgb24, 640, 480, false, 2016},
         967680},
        // A rectangle as wide as the bitmap changes nothing.
        {{MEDIASUBTYPE_RGB24, false, 640, 480, 24, {0, 0, 640, 480}, 0},
         {PixelFormat::Rgb24, 640, 480, false, 1920},
         921600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.offered.biWidth << "x" << c.offered.biHeight << " "
                                          << c.offered.bits << " bits");
        FrameLayout layout{};
        ASSERT_TRUE(layoutFor(c.offered, &layout));
        EXPECT_EQ(layout.format, c.expected.format);
        EXPECT_EQ(layout.width, c.expected.width);
        EXPECT_EQ(layout.height, c.expected.height);
        EXPECT_EQ(layout.topDown, c.expected.topDown);
        EXPECT_EQ(layout.stride, c.expected.stride);
        EXPECT_EQ(layout.bytes(), c.bytes);
    }
}

TEST(FrameLayoutOf, RefusesWhatItCannotReadOrConvert) {
    const RECT whole = {0, 0, 0, 0};
    const OfferedType refused[] = {
        {MEDIASUBTYPE_RGB24, false, 640, 480, 24, whole, 1}, // header cut short
        {MEDIASUBTYPE_NV12, true, 640, 480, 12, whole, 1},
        {mjpg, false, 640, 480, 24, whole, 0},
        {MEDIASUBTYPE_RGB24, false, 640, 480, 32, whole, 0}, // bit count of another format
        {MEDIASUBTYPE_YUY2, false, 640, 480, 12, whole, 0},
        {MEDIASUBTYPE_RGB24, false, 0, 480, 24, whole, 0},
        {MEDIASUBTYPE_RGB24, false, -640, 480, 24, whole, 0},
        {MEDIASUBTYPE_RGB24, false, 640, 0, 24, whole, 0},
        // A rectangle reaching out of the bitmap.
        {MEDIASUBTYPE_YUY2, false, 704, 480, 16, {0, 0, 640, 600}, 0},
    };
    for (const OfferedType &offered : refused) {
        FrameLayout layout{PixelFormat::Rgb24, 7, 7, false, 21};
        EXPECT_FALSE(layoutFor(offered, &layout)) << offered.biWidth << "x" << offered.biHeight;
        EXPECT_EQ(layout.width, 7) << "a refused type leaves the layout as it was";
    }
}

} // namespace
