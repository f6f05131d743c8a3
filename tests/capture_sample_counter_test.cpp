// The program's sample counter on the platform's Sample Grabber.

#include "capture/sample_counter.h"
#include "platform_capture_graph.h"
#include "platform_fake_camera.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

// The grabber tells its callback of every sample while it is set, holds a
// reference to it meanwhile, and lets go when replaced or destroyed.
TEST(SampleGrabber, TellsItsCallbackOfEachSampleUntilItIsUnset) {
    CoInitialize(nullptr);
    auto *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto *control = query<IMediaControl>(graph, IID_IMediaControl);
    FakeCamera camera(640, 480, std::vector<uint8_t>(640 * 480 * 3, 90));
    IBaseFilter *capture = firstVideoInput();
    auto *filter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto *grabber = query<ISampleGrabber>(filter, IID_ISampleGrabber);
    AM_MEDIA_TYPE type = rgb24Type();
    ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
    graph->AddFilter(capture, L"Video Capture");
    graph->AddFilter(filter, L"Grabber");
    auto *renderer = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    graph->AddFilter(renderer, L"NullRenderer");
    IPin *out = firstPin(capture, PINDIR_OUTPUT);
    IPin *in = firstPin(filter, PINDIR_INPUT);
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    IPin *passed = firstPin(filter, PINDIR_OUTPUT);
    IPin *rendered = firstPin(renderer, PINDIR_INPUT);
    ASSERT_EQ(graph->Connect(passed, rendered), S_OK);
    auto *counter = new SampleCounter;
    EXPECT_EQ(grabber->SetCallback(counter, 0), E_NOTIMPL);
    ASSERT_EQ(grabber->SetCallback(counter, 1), S_OK);

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    for (int wait = 0; wait < 200 && counter->samples() < 3; ++wait)
        g_usleep(10000);
    EXPECT_GE(counter->samples(), 3u) << "a 30 frames a second camera, for up to 2 s";
    ASSERT_EQ(grabber->SetCallback(nullptr, 1), S_OK);
    const unsigned long told = counter->samples();
    g_usleep(100000);
    EXPECT_EQ(counter->samples(), told) << "nothing after it was unset";
    control->Stop();

    ASSERT_EQ(grabber->SetCallback(counter, 1), S_OK);
    for (IPin *pin : {out, in, passed, rendered})
        pin->Release();
    control->Release();
    grabber->Release();
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(capture->Release(), 0u);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(renderer->Release(), 0u);
    EXPECT_EQ(counter->Release(), 0u) << "the grabber let go of its callback";
}
