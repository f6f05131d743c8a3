#include "equipment/fake_camera.h"
#include "platform_capture_graph.h"

#include <gtest/gtest.h>

// The camera's picture reaches the grabber bottom row first, in BGR, at the
// size asked for: the same size as the camera's, or scaled down from twice it.
TEST(Graph, DeliversTheCameraPictureBottomUpInBgrAtTheChosenSize) {
    struct Spot {
        int x, rowFromBottom;
        Rgb colour;
    };
    struct Case {
        int width, height;
        std::vector<Spot> spots;
    };
    const Case cases[] = {
        // The source's top-left pixel starts the last row of the sample.
        {320,
         240,
         {{0, 239, red},
          {319, 239, green},
          {0, 0, blue},
          {319, 0, yellow},
          {159, 120, red},
          {160, 119, yellow}}},
        {640, 480, {{80, 180, red}, {240, 180, green}, {80, 60, blue}, {240, 60, yellow}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        CoInitialize(nullptr);
        FakeCamera camera(c.width, c.height, quarters(c.width, c.height, red, green, blue, yellow));
        CaptureGraph graph;
        std::vector<uint8_t> sample = graph.sample();
        ASSERT_EQ(sample.size(), size_t(sampleBytes));
        for (const Spot &spot : c.spots)
            expectColour(pixel(sample, spot.x, spot.rowFromBottom), spot.colour);
    }
}
