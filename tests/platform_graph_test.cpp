#include "platform_capture_graph.h"
#include "platform_fake_camera.h"

#include <gtest/gtest.h>

TEST(Graph, DeliversTheCameraPictureBottomUpInBgr) {
    CoInitialize(nullptr);
    FakeCamera camera(320, 240, quarters(320, 240, red, green, blue, yellow));
    CaptureGraph graph;
    std::vector<uint8_t> sample = graph.sample();
    ASSERT_EQ(sample.size(), size_t(sampleBytes));
    // The source's top-left pixel starts the last row of the sample.
    expectColour(pixel(sample, 0, 239), red);
    expectColour(pixel(sample, 319, 239), green);
    expectColour(pixel(sample, 0, 0), blue);
    expectColour(pixel(sample, 319, 0), yellow);
    expectColour(pixel(sample, 159, 120), red);
    expectColour(pixel(sample, 160, 119), yellow);
}

TEST(Graph, ScalesACameraToTheChosenSize) {
    CoInitialize(nullptr);
    FakeCamera camera(640, 480, quarters(640, 480, red, green, blue, yellow));
    CaptureGraph graph;
    std::vector<uint8_t> sample = graph.sample();
    ASSERT_EQ(sample.size(), size_t(sampleBytes));
    expectColour(pixel(sample, 80, 180), red);
    expectColour(pixel(sample, 240, 180), green);
    expectColour(pixel(sample, 80, 60), blue);
    expectColour(pixel(sample, 240, 60), yellow);
}
