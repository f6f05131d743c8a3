// The program's sample counter on the platform's Sample Grabber.

#include "capture/sample_counter.h"
#include "equipment/fake_camera.h"
#include "platform_capture_graph.h"

#include <gtest/gtest.h>

// The grabber tells its callback of every sample while it is set, holds a
// reference to it meanwhile, and lets go when replaced or destroyed.
TEST(SampleGrabber, TellsItsCallbackOfEachSampleUntilItIsUnset) {
    CoInitialize(nullptr);
    FakeCamera camera(640, 480, std::vector<uint8_t>(640 * 480 * 3, 90));
    auto *counter = new SampleCounter;
    {
        CaptureGraph running;
        ISampleGrabber *grabber = running.grabber;
        EXPECT_EQ(grabber->SetCallback(counter, 0), E_NOTIMPL);
        ASSERT_EQ(grabber->SetCallback(counter, 1), S_OK);
        for (int wait = 0; wait < 200 && counter->samples() < 3; ++wait)
            g_usleep(10000);
        EXPECT_GE(counter->samples(), 3u) << "a 30 frames a second camera, for up to 2 s";
        ASSERT_EQ(grabber->SetCallback(nullptr, 1), S_OK);
        const unsigned long told = counter->samples();
        g_usleep(100000);
        EXPECT_EQ(counter->samples(), told) << "nothing after it was unset";
        ASSERT_EQ(grabber->SetCallback(counter, 1), S_OK);
    }
    EXPECT_EQ(counter->Release(), 0u) << "the grabber let go of its callback";
}
