#ifndef CLOAKCAM_TESTS_PLATFORM_CAPTURE_GRAPH_H
#define CLOAKCAM_TESTS_PLATFORM_CAPTURE_GRAPH_H

// The capture code's graph built by hand on the first camera, with pictures to
// show on fake cameras and ways to read the samples.

#include "platform_pins.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

inline const LONG sampleBytes = 320 * 240 * 3;

struct Rgb {
    uint8_t r, g, b;
};

// A picture split into four uniform quarters.
inline std::vector<uint8_t> quarters(int width, int height, Rgb topLeft, Rgb topRight,
                                     Rgb bottomLeft, Rgb bottomRight) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb c = y < height / 2 ? (x < width / 2 ? topLeft : topRight)
                                   : (x < width / 2 ? bottomLeft : bottomRight);
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    return rgb;
}

inline IBaseFilter *firstVideoInput() {
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = nullptr;
    devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    IMoniker *moniker = nullptr;
    IBaseFilter *filter = nullptr;
    if (monikers->Next(1, &moniker, nullptr) == S_OK) {
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                              reinterpret_cast<void **>(&filter));
        moniker->Release();
    }
    monikers->Release();
    devices->Release();
    return filter;
}

// The capture code's graph: first camera → grabber (RGB24 at 320 x 240) → null
// renderer, running unless asked not to. Everything is released by the destructor, which checks
// that each object's last reference was the one released.
struct CaptureGraph {
    IGraphBuilder *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IBaseFilter *capture = firstVideoInput();
    IBaseFilter *grabberFilter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ISampleGrabber *grabber = query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
    IBaseFilter *renderer = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    IMediaControl *control = query<IMediaControl>(graph, IID_IMediaControl);

    // `run`: started before the graph is handed over.
    explicit CaptureGraph(bool run = true) { build(run); }

    void build(bool run) {
        ASSERT_NE(capture, nullptr);
        ASSERT_EQ(graph->AddFilter(capture, L"Video Capture"), S_OK);
        AM_MEDIA_TYPE type = rgb24Type();
        ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Grabber"), S_OK);

        auto *builder =
            create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
        ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
        IPin *capturePin = firstPin(capture, PINDIR_OUTPUT);
        IAMStreamConfig *config = nullptr;
        ASSERT_EQ(
            capturePin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void **>(&config)),
            S_OK);
        AM_MEDIA_TYPE *format = nullptr;
        ASSERT_EQ(config->GetFormat(&format), S_OK);
        ASSERT_EQ(format->formattype, FORMAT_VideoInfo);
        BITMAPINFOHEADER &header = reinterpret_cast<VIDEOINFOHEADER *>(format->pbFormat)->bmiHeader;
        header.biWidth = 320;
        header.biHeight = 240;
        header.biCompression = BI_RGB;
        header.biSizeImage = sampleBytes;
        EXPECT_EQ(config->SetFormat(format), S_OK);
        deleteMediaType(format);
        config->Release();

        IPin *grabberIn = firstPin(grabberFilter, PINDIR_INPUT);
        EXPECT_EQ(graph->Connect(capturePin, grabberIn), S_OK);
        EXPECT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
        EXPECT_EQ(grabber->SetOneShot(FALSE), S_OK);
        EXPECT_EQ(graph->AddFilter(renderer, L"NullRenderer"), S_OK);
        IPin *grabberOut = firstPin(grabberFilter, PINDIR_OUTPUT);
        IPin *rendererIn = firstPin(renderer, PINDIR_INPUT);
        EXPECT_EQ(graph->Connect(grabberOut, rendererIn), S_OK);
        // Every output is taken, so there is nothing left to render.
        EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, nullptr,
                                        renderer),
                  E_INVALIDARG);
        for (IPin *pin : {capturePin, grabberIn, grabberOut, rendererIn})
            pin->Release();
        EXPECT_EQ(builder->Release(), 0u);
        if (run) {
            EXPECT_TRUE(SUCCEEDED(control->Run()));
        }
    }

    ~CaptureGraph() {
        EXPECT_EQ(control->Stop(), S_OK);
        control->Release();
        grabber->Release();
        EXPECT_EQ(graph->Release(), 0u);
        EXPECT_EQ(capture->Release(), 0u);
        EXPECT_EQ(grabberFilter->Release(), 0u);
        EXPECT_EQ(renderer->Release(), 0u);
    }

    // The latest sample without waiting, or an empty one when there is none.
    std::vector<uint8_t> latest() {
        std::vector<uint8_t> data(sampleBytes);
        LONG size = sampleBytes;
        if (grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(data.data())) != S_OK)
            return {};
        data.resize(size);
        return data;
    }

    // Waits up to five seconds for a first picture.
    std::vector<uint8_t> sample() {
        LONG size = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (grabber->GetCurrentBuffer(&size, nullptr) == VFW_E_WRONG_STATE &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
        EXPECT_EQ(size, sampleBytes);
        std::vector<uint8_t> data(sampleBytes + 4, 0xEE);
        LONG small = sampleBytes - 1;
        EXPECT_EQ(grabber->GetCurrentBuffer(&small, reinterpret_cast<LONG *>(data.data())),
                  E_OUTOFMEMORY);
        EXPECT_EQ(small, sampleBytes - 1);
        EXPECT_EQ(data[0], 0xEE);
        size = sampleBytes + 4;
        EXPECT_EQ(grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(data.data())), S_OK);
        EXPECT_EQ(size, sampleBytes);
        data.resize(sampleBytes);
        return data;
    }
};

// The blue, green and red bytes at column x of row y counted from the bottom.
inline Rgb pixel(const std::vector<uint8_t> &sample, int x, int rowFromBottom) {
    const uint8_t *p = &sample[rowFromBottom * 320 * 3 + x * 3];
    return {p[2], p[1], p[0]};
}

inline void expectColour(Rgb actual, Rgb expected) {
    EXPECT_EQ(actual.r, expected.r);
    EXPECT_EQ(actual.g, expected.g);
    EXPECT_EQ(actual.b, expected.b);
}

inline const Rgb red = {200, 30, 40};
inline const Rgb green = {20, 210, 50};
inline const Rgb blue = {60, 70, 220};
inline const Rgb yellow = {250, 240, 10};

#endif
