#include "equipment/fake_camera.h"
#include "platform_capture_graph.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// A camera's capture filter: a fake camera of the size most webcams give.
struct CameraFilter {
    FakeCamera camera{640, 480, std::vector<uint8_t>(640 * 480 * 3, 90)};
    IBaseFilter *filter = firstVideoInput();
};

} // namespace

TEST(CaptureFilter, StreamConfigLivesOnTheOutputPinAndRefusesBadTypes) {
    CoInitialize(nullptr);
    CameraFilter made;
    IBaseFilter *filter = made.filter;
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(firstPin(filter, PINDIR_INPUT), nullptr);
    IPin *pin = firstPin(filter, PINDIR_OUTPUT);
    ASSERT_NE(pin, nullptr);
    auto *config = query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    ASSERT_NE(config, nullptr);
    // The configuration belongs to the pin, not the filter.
    EXPECT_EQ(query<IAMStreamConfig>(filter, IID_IAMStreamConfig), nullptr);
    IPin *back = query<IPin>(config, IID_IPin);
    EXPECT_EQ(back, pin);
    back->Release();

    EXPECT_EQ(config->GetFormat(nullptr), E_POINTER);
    EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
    AM_MEDIA_TYPE *type = nullptr;
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type->majortype, MEDIATYPE_Video);
    EXPECT_EQ(type->formattype, FORMAT_VideoInfo);
    ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
    auto *info = reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat);
    EXPECT_EQ(info->bmiHeader.biWidth, 640);
    EXPECT_EQ(info->bmiHeader.biHeight, 480);
    EXPECT_EQ(info->bmiHeader.biSize, sizeof(BITMAPINFOHEADER));
    // Nothing but a VIDEOINFOHEADER describes a camera's picture here.
    type->formattype = MEDIATYPE_Video;
    EXPECT_EQ(config->SetFormat(type), E_INVALIDARG);
    deleteMediaType(type);

    config->Release();
    pin->Release();
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(SampleGrabber, ReportsWhyThereIsNoSample) {
    CoInitialize(nullptr);
    auto *filter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto *grabber = query<ISampleGrabber>(filter, IID_ISampleGrabber);
    EXPECT_EQ(grabber->SetMediaType(nullptr), E_POINTER);
    EXPECT_EQ(grabber->GetCurrentBuffer(nullptr, nullptr), E_POINTER);
    LONG size = 7;
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_NOT_CONNECTED);

    auto *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    CameraFilter made;
    IBaseFilter *capture = made.filter;
    AM_MEDIA_TYPE type = rgb24Type();
    ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
    ASSERT_EQ(graph->AddFilter(capture, L"Video Capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(filter, L"Grabber"), S_OK);
    IPin *out = firstPin(capture, PINDIR_OUTPUT);
    IPin *in = firstPin(filter, PINDIR_INPUT);
    auto *config = query<IAMStreamConfig>(out, IID_IAMStreamConfig);
    AM_MEDIA_TYPE *small = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(config->GetStreamCaps(1, &small, reinterpret_cast<BYTE *>(&caps)), S_OK);
    ASSERT_EQ(config->SetFormat(small), S_OK);
    deleteMediaType(small);
    config->Release();
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    // The size the conversion delivers, known before anything streams.
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    const auto *info = reinterpret_cast<const VIDEOINFOHEADER *>(connected.pbFormat);
    EXPECT_EQ(info->bmiHeader.biWidth, 320);
    EXPECT_EQ(info->bmiHeader.biHeight, 240);
    freeMediaType(connected);
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
    EXPECT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    EXPECT_EQ(size, 7);

    out->Release();
    in->Release();
    grabber->Release();
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(capture->Release(), 0u);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(FilterGraph, ConnectAndAddFilterRefuseWhatTheyCannotDo) {
    CoInitialize(nullptr);
    auto *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto *control = query<IMediaControl>(graph, IID_IMediaControl);
    CameraFilter made;
    IBaseFilter *capture = made.filter;
    auto *grabberFilter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto *renderer = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    IPin *captureOut = firstPin(capture, PINDIR_OUTPUT);
    IPin *grabberIn = firstPin(grabberFilter, PINDIR_INPUT);
    IPin *grabberOut = firstPin(grabberFilter, PINDIR_OUTPUT);
    IPin *rendererIn = firstPin(renderer, PINDIR_INPUT);

    EXPECT_EQ(graph->AddFilter(nullptr, L"None"), E_POINTER);
    EXPECT_EQ(graph->Connect(captureOut, grabberIn), VFW_E_NOT_IN_GRAPH);
    ASSERT_EQ(graph->AddFilter(capture, L"Video Capture"), S_OK);
    EXPECT_EQ(graph->AddFilter(capture, L"Again"), E_INVALIDARG);
    ASSERT_EQ(graph->AddFilter(grabberFilter, L"Grabber"), S_OK);
    EXPECT_EQ(graph->Connect(nullptr, grabberIn), E_POINTER);
    EXPECT_EQ(graph->Connect(grabberIn, captureOut), E_INVALIDARG);

    // A grabber that asks for something other than video cannot take the camera.
    auto *grabber = query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
    AM_MEDIA_TYPE type = rgb24Type();
    type.majortype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
    EXPECT_EQ(graph->Connect(captureOut, grabberIn), VFW_E_CANNOT_CONNECT);
    type = rgb24Type();
    ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
    EXPECT_EQ(graph->Connect(captureOut, grabberIn), S_OK);
    EXPECT_EQ(graph->Connect(captureOut, grabberIn), VFW_E_ALREADY_CONNECTED);

    EXPECT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(graph->AddFilter(renderer, L"NullRenderer"), VFW_E_NOT_STOPPED);
    EXPECT_EQ(control->Stop(), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"NullRenderer"), S_OK);
    EXPECT_EQ(graph->Connect(grabberOut, rendererIn), S_OK);

    for (IPin *pin : {captureOut, grabberIn, grabberOut, rendererIn})
        pin->Release();
    grabber->Release();
    control->Release();
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(capture->Release(), 0u);
    EXPECT_EQ(grabberFilter->Release(), 0u);
    EXPECT_EQ(renderer->Release(), 0u);
}

TEST(CaptureGraphBuilder, RendersFreePinsIntoTheRendererNamed) {
    CoInitialize(nullptr);
    auto *builder =
        create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    auto *renderer = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    CameraFilter made;
    IBaseFilter *capture = made.filter;
    EXPECT_EQ(builder->SetFiltergraph(nullptr), E_POINTER);
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, nullptr, renderer),
        E_UNEXPECTED);

    auto *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph), E_UNEXPECTED);
    ASSERT_EQ(graph->AddFilter(capture, L"Video Capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"Renderer"), S_OK);
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, nullptr, renderer),
        S_OK);
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, nullptr, renderer),
        E_INVALIDARG);

    EXPECT_EQ(builder->Release(), 0u);
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(capture->Release(), 0u);
    EXPECT_EQ(renderer->Release(), 0u);
}
