#include "capture/format_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

GUID fourcc(const char *code) {
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = static_cast<unsigned char>(code[0]) | static_cast<unsigned char>(code[1]) << 8 |
                    static_cast<unsigned char>(code[2]) << 16 |
                    static_cast<unsigned long>(static_cast<unsigned char>(code[3])) << 24;
    return subtype;
}

const GUID rgb = MEDIASUBTYPE_RGB24;
const GUID yuy2 = fourcc("YUY2");
const GUID nv12 = fourcc("NV12");
const GUID mjpg = fourcc("MJPG");

OfferedFormat at(OfferedFormat format, int framesPerSecond) {
    format.fastest = 10000000 / framesPerSecond;
    return format;
}

OfferedFormat range(GUID subtype, int minW, int minH, int maxW, int maxH, int step) {
    OfferedFormat format{subtype, maxW, maxH};
    format.minWidth = minW;
    format.minHeight = minH;
    format.maxWidth = maxW;
    format.maxHeight = maxH;
    format.stepX = format.stepY = step;
    return format;
}

struct Try {
    int index, width, height;
    bool operator==(const FormatTry &t) const {
        return index == t.index && width == t.width && height == t.height;
    }
};

TEST(RankFormats, RateThenCostThenRgb24TheWindowsShapeAndEnoughPixels) {
    struct Case {
        const char *what;
        std::vector<OfferedFormat> offered;
        std::vector<Try> order;
    };
    const Case cases[] = {
        {"RGB24 before the camera's own YUY2",
         {{yuy2, 320, 240}, {rgb, 640, 480}},
         {{1, 640, 480}, {0, 320, 240}}},
        {"the window's shape before a nearer 16:9 size",
         {{rgb, 640, 360}, {rgb, 640, 480}, {rgb, 1920, 1080}},
         {{1, 640, 480}, {0, 640, 360}, {2, 1920, 1080}}},
        {"enough pixels before too few; of those, the fewest",
         {{rgb, 160, 120}, {rgb, 1280, 960}, {rgb, 320, -240}, {rgb, 176, 144}},
         {{2, 320, 240}, {1, 1280, 960}, {0, 160, 120}, {3, 176, 144}}},
        {"raw up to 640x480 before larger raw; equals in the camera's own order",
         {{nv12, 1280, 720}, {fourcc("I420"), 1280, 720}, {yuy2, 640, 480}},
         {{2, 640, 480}, {0, 1280, 720}, {1, 1280, 720}}},
        {"a webcam's raw 320x240 before its MJPG",
         {at({yuy2, 640, 480}, 30), at({yuy2, 320, 240}, 30), at({mjpg, 640, 480}, 30),
          at({mjpg, 1280, 720}, 30)},
         {{1, 320, 240}, {0, 640, 480}, {2, 640, 480}, {3, 1280, 720}}},
        {"raw at 10 and 5 frames a second after MJPG at 30",
         {at({yuy2, 1280, 720}, 10), at({yuy2, 1920, 1080}, 5), at({mjpg, 1280, 720}, 30),
          at({mjpg, 640, 480}, 30)},
         {{3, 640, 480}, {2, 1280, 720}, {0, 1280, 720}, {1, 1920, 1080}}},
        {"20 frames a second fall below 24 where another size gives 24",
         {at({yuy2, 320, 240}, 20), at({mjpg, 640, 480}, 25)},
         {{1, 640, 480}, {0, 320, 240}}},
        {"a camera slower than the floor is still used, its fastest first",
         {at({yuy2, 640, 480}, 5), at({yuy2, 1280, 720}, 8)},
         {{1, 1280, 720}, {0, 640, 480}}},
        {"1080p-only raw after MJPG at the smallest size that fills",
         {at({yuy2, 1920, 1080}, 30), at({mjpg, 1920, 1080}, 30), at({mjpg, 1280, 720}, 30)},
         {{2, 1280, 720}, {1, 1920, 1080}, {0, 1920, 1080}}},
        {"a range gives the window's size on its grid",
         {range(rgb, 160, 120, 1920, 1080, 8)},
         {{0, 320, 240}}},
        {"off a coarse grid, the next step up",
         {range(rgb, 100, 100, 1000, 1000, 300)},
         {{0, 400, 400}}},
        {"a range wholly above the window gives its smallest",
         {range(nv12, 640, 480, 1920, 1080, 2)},
         {{0, 640, 480}}},
        {"sizes of nothing are left out", {{rgb, 0, 0}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<FormatTry> order = rankFormats(c.offered, 320, 240);
        ASSERT_EQ(order.size(), c.order.size());
        for (size_t i = 0; i < order.size(); ++i)
            EXPECT_TRUE(c.order[i] == order[i]) << "at " << i << ": " << order[i].index << " "
                                                << order[i].width << "x" << order[i].height;
    }
}

TEST(RankFormats, AsksTheFastestRateUpTo30WithinTheCamerasBounds) {
    OfferedFormat any = at({yuy2, 320, 240}, 1000);
    any.slowest = 10000000;
    OfferedFormat only60 = at({yuy2, 320, 240}, 60);
    only60.slowest = only60.fastest;
    const struct {
        const char *what;
        OfferedFormat offered;
        REFERENCE_TIME asked;
    } cases[] = {
        {"a range open to any rate", any, 333333},
        {"a camera that gives only 60", only60, 166666},
        {"a slow camera at its fastest", at({yuy2, 320, 240}, 10), 1000000},
        {"a camera that says nothing of its rate", {yuy2, 320, 240}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<FormatTry> order = rankFormats({c.offered}, 320, 240);
        ASSERT_EQ(order.size(), 1u);
        EXPECT_EQ(order[0].interval, c.asked);
    }
}

TEST(GrabberSubtypes, MjpgAsADecodersYuvBeforeRgb24OthersAsRgb24ThenAsTheyCome) {
    EXPECT_EQ(grabberSubtypes(mjpg), (std::vector<GUID>{fourcc("I420"), yuy2, rgb}));
    EXPECT_EQ(grabberSubtypes(nv12), (std::vector<GUID>{rgb, nv12}));
    EXPECT_EQ(grabberSubtypes(fourcc("Y800")), std::vector<GUID>{rgb});
}

TEST(DescribeFormats, NamesEachFormatAsAUserReadsIt) {
    EXPECT_EQ(describeFormats({{yuy2, 640, 480},
                               {rgb, 320, -240},
                               range(nv12, 160, 120, 1920, 1080, 8),
                               {fourcc("Y41P"), 320, 240},
                               {GUID{}, 1, 1}}),
              "YUY2 640x480, RGB24 320x240, NV12 160x120 to 1920x1080, Y41P 320x240, unknown 1x1");
}

} // namespace
