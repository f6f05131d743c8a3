// The DirectShow shells over a camera table of the test's own: no GStreamer,
// no waiting.

#include "platform/camera/camera_table.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One camera offering `modes`; what the shells asked of it, and what it
// answers next.
struct FakeTable {
    std::vector<CameraMode> modes;
    CameraStart startAnswer = CameraStart::Running;
    CameraEvent why = CameraEvent::Failed;
    std::vector<CameraEvent> events;
    bool stopAnswer = true;
    CameraOutput output;
    int held = -1, heldWidth = 0, opened = 0, closed = 0;
};
FakeTable fake;
Camera *const theCamera = reinterpret_cast<Camera *>(&fake);

const CameraTable table = {
    [](std::vector<CameraListing> *cameras) {
        cameras->assign(1, CameraListing{});
        (*cameras)[0].name = "Desk";
        return true;
    },
    [](const CameraListing &) { return ++fake.opened, theCamera; },
    [](Camera *) -> const std::vector<CameraMode> & { return fake.modes; },
    [](Camera *, int, int64_t asked) { return asked ? asked : int64_t(333333); },
    [](Camera *, int mode, int width, int, int64_t) { fake.held = mode, fake.heldWidth = width; },
    [](Camera *, const CameraOutput &output, FrameSink sink, void *context, CameraEvent *why) {
        fake.output = output;
        // A picture at once, on the caller's thread.
        const uint8_t picture[4] = {1, 2, 3, 4};
        sink(context, picture, sizeof picture, 0);
        *why = fake.why;
        return fake.startAnswer;
    },
    [](Camera *) { return fake.stopAnswer; },
    [](Camera *) { return !fake.stopAnswer; },
    [](Camera *, CameraEvent *event, int) {
        if (fake.events.empty())
            return false;
        *event = fake.events.front();
        fake.events.erase(fake.events.begin());
        return true;
    },
    [](Camera *) { ++fake.closed; },
};

CameraMode mode(const char (&code)[5], int width, int height, bool convertible = true) {
    CameraMode one;
    one.code = fourcc(code);
    one.bits = 16;
    one.width = one.minWidth = one.maxWidth = width;
    one.height = one.minHeight = one.maxHeight = height;
    one.convertible = convertible;
    return one;
}

// The graph the program builds, over the fake camera.
struct Graph {
    IGraphBuilder *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IMediaControl *control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx *events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    IBaseFilter *capture = nullptr;
    IBaseFilter *grabberFilter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ISampleGrabber *grabber = query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
    HRESULT connected = E_FAIL;

    explicit Graph(const GUID &asked) {
        auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
        IEnumMoniker *monikers = nullptr;
        IMoniker *moniker = nullptr;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
        monikers->Next(1, &moniker, nullptr);
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                              reinterpret_cast<void **>(&capture));
        for (IUnknown *done : {static_cast<IUnknown *>(moniker), static_cast<IUnknown *>(monikers),
                               static_cast<IUnknown *>(devices)})
            done->Release();
        graph->AddFilter(capture, L"Video Capture");
        graph->AddFilter(grabberFilter, L"Grabber");
        AM_MEDIA_TYPE type = rgb24Type();
        type.subtype = asked;
        grabber->SetMediaType(&type);
        grabber->SetBufferSamples(TRUE);
        IPin *out = firstPin(capture, PINDIR_OUTPUT);
        IPin *in = firstPin(grabberFilter, PINDIR_INPUT);
        connected = graph->Connect(out, in);
        out->Release();
        in->Release();
    }

    ~Graph() {
        for (IUnknown *done : {static_cast<IUnknown *>(grabber), static_cast<IUnknown *>(control),
                               static_cast<IUnknown *>(events)})
            done->Release();
        EXPECT_EQ(graph->Release(), 0u);
        EXPECT_EQ(capture->Release(), 0u);
        EXPECT_EQ(grabberFilter->Release(), 0u);
    }
};

class Shells : public testing::Test {
  protected:
    void SetUp() override {
        fake = FakeTable{};
        useCameraTable(&table);
    }
    void TearDown() override { useCameraTable(nullptr); }
};

} // namespace

// What the camera is asked to deliver follows what Windows' converters would
// put between it and the grabber; where none would, Connect refuses.
TEST_F(Shells, ConnectAsksTheCameraForWhatWindowsWouldConvertTo) {
    struct Case {
        CameraMode mode;
        GUID asked;
        HRESULT connected;
        CameraOutput output;
    } cases[] = {
        {mode("YUY2", 640, 480), MEDIASUBTYPE_RGB24, S_OK, {rgb24Code, 640, 480, true}},
        {mode("MJPG", 1280, 720), MEDIASUBTYPE_NV12, S_OK, {fourcc("NV12"), 1280, 720, false}},
        {mode("NV12", 320, 240), MEDIASUBTYPE_NV12, S_OK, {}},
        {mode("BGR4", 320, 240), MEDIASUBTYPE_RGB32, S_OK, {}},
        {mode("YUY2", 320, 240), MEDIASUBTYPE_NV12, VFW_E_CANNOT_CONNECT, {}},
        {mode("BA81", 320, 240, false), MEDIASUBTYPE_RGB24, VFW_E_CANNOT_CONNECT, {}},
        {mode("MJPG", 320, 240), MEDIASUBTYPE_RGB32, VFW_E_CANNOT_CONNECT, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.mode.code << " asked " << c.asked.Data1);
        fake = FakeTable{};
        fake.modes = {c.mode};
        Graph built(c.asked);
        EXPECT_EQ(built.connected, c.connected);
        if (FAILED(c.connected))
            continue;
        EXPECT_EQ(built.control->Run(), S_OK);
        EXPECT_EQ(fake.output.code, c.output.code);
        EXPECT_EQ(fake.output.width, c.output.width);
        EXPECT_EQ(fake.output.bottomUp, c.output.bottomUp);
        LONG size = 4;
        uint8_t bytes[4] = {};
        EXPECT_EQ(built.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(bytes)), S_OK);
        EXPECT_EQ(bytes[3], 4);
    }
    EXPECT_EQ(fake.opened, fake.closed);
}

// The camera's answers reach the program as Windows' results and events.
TEST_F(Shells, TheCamerasAnswersAreWindowsResultsAndEvents) {
    fake.modes = {mode("YUY2", 320, 240), mode("YUY2", 640, 480)};
    Graph built(MEDIASUBTYPE_RGB24);
    fake.startAnswer = CameraStart::Failed;
    fake.why = CameraEvent::Busy;
    EXPECT_EQ(built.control->Run(), HRESULT_FROM_WIN32(ERROR_BUSY));
    fake.startAnswer = CameraStart::Stuck;
    EXPECT_EQ(built.control->Run(), VFW_E_WRONG_STATE);
    fake.startAnswer = CameraStart::OnTheWay;
    EXPECT_EQ(built.control->Run(), S_FALSE);
    fake.stopAnswer = false;
    OAFilterState state;
    EXPECT_EQ(built.control->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(built.control->Stop(), S_FALSE);
    fake.stopAnswer = true;

    struct Told {
        CameraEvent event;
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    } told[] = {
        {CameraEvent::Unplugged, EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(built.capture), 0},
        {CameraEvent::Returned, EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(built.capture), 1},
        {CameraEvent::Denied, EC_ERRORABORT, E_ACCESSDENIED, 0},
        {CameraEvent::ReadFailed, EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_READ_FAULT), 0},
        {CameraEvent::Ended, EC_COMPLETE, 0, 0},
    };
    for (const Told &t : told)
        fake.events.push_back(t.event);
    for (const Told &t : told) {
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        ASSERT_EQ(built.events->GetEvent(&code, &param1, &param2, 0), S_OK);
        EXPECT_EQ(code, t.code);
        EXPECT_EQ(param1, t.param1);
        EXPECT_EQ(param2, t.param2);
    }
    LONG code;
    LONG_PTR param1, param2;
    EXPECT_EQ(built.events->GetEvent(&code, &param1, &param2, 0), E_ABORT);

    // SetFormat holds the camera to the mode and size asked, once unconnected.
    IPin *out = firstPin(built.capture, PINDIR_OUTPUT);
    auto *config = query<IAMStreamConfig>(out, IID_IAMStreamConfig);
    AM_MEDIA_TYPE *type = nullptr;
    BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
    ASSERT_EQ(config->GetStreamCaps(1, &type, caps), S_OK);
    EXPECT_EQ(config->SetFormat(type), VFW_E_ALREADY_CONNECTED);
    config->Release();
    out->Release();
    deleteMediaType(type);
}
