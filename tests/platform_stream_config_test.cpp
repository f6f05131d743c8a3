#include "equipment/fake_camera.h"
#include "platform_capture_graph.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

GUID fourcc(const char code[5]) {
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = GST_STR_FOURCC(code);
    return subtype;
}

BITMAPINFOHEADER &header(AM_MEDIA_TYPE *type) {
    return reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader;
}

const LONGLONG fps30 = 333333, fps15 = 666666;

// What GetStreamCaps gives for one capability.
struct Capability {
    GUID subtype;
    SIZE size, min, max, step;
    WORD bits;
    DWORD imageBytes;
    LONGLONG fastest, slowest;
};

// A capability of one size.
Capability fixed(GUID subtype, LONG width, LONG height, WORD bits, DWORD imageBytes,
                 LONGLONG fastest = fps30, LONGLONG slowest = fps30) {
    const SIZE size = {width, height};
    return {subtype, size, size, size, {1, 1}, bits, imageBytes, fastest, slowest};
}

// The capture pin's stream configuration on a fake camera that offers `caps`.
struct Offering {
    explicit Offering(const char *caps)
        : camera(64, 48, std::vector<uint8_t>(64 * 48 * 3, 90), caps),
          filter((CoInitialize(nullptr), firstVideoInput())), pin(firstPin(filter, PINDIR_OUTPUT)),
          config(query<IAMStreamConfig>(pin, IID_IAMStreamConfig)) {}
    ~Offering() {
        config->Release();
        pin->Release();
        EXPECT_EQ(filter->Release(), 0u);
    }

    // SetFormat's answer for the first capability's type turned to `subtype`
    // at width x height, and at frame `interval` when one is given.
    HRESULT setFormat(const GUID &subtype, LONG width, LONG height, REFERENCE_TIME interval) {
        AM_MEDIA_TYPE *type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        config->GetStreamCaps(0, &type, reinterpret_cast<BYTE *>(&caps));
        type->subtype = subtype;
        header(type).biWidth = width;
        header(type).biHeight = height;
        if (interval)
            reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->AvgTimePerFrame = interval;
        const HRESULT result = config->SetFormat(type);
        deleteMediaType(type);
        return result;
    }

    FakeCamera camera;
    IBaseFilter *filter;
    IPin *pin;
    IAMStreamConfig *config;
};

} // namespace

// One capability per format the device lists (per size where it lists
// several, one for a range of sizes), named and sized as Windows' drivers
// describe them; each is a type SetFormat takes and GetFormat then gives.
TEST(StreamConfig, ListsTheFormatsTheDeviceOffers) {
    struct Case {
        const char *offered;
        std::vector<Capability> listed;
    };
    const Case cases[] = {
        {"video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1;"
         "image/jpeg,width=1920,height=1080,framerate=30/1;"
         "video/x-raw,format=BGR,width=322,height=240;"
         "video/x-raw,format=BGRx,width=320,height=240,framerate=30/1;"
         "video/x-bayer,format=bggr,width=640,height=480,framerate=30/1;"
         "video/x-raw,format=NV12,width={640,320},height={480,240},framerate={30/1,15/1}",
         {
             fixed(fourcc("YUY2"), 1280, 720, 16, 1280 * 720 * 2),
             fixed(fourcc("MJPG"), 1920, 1080, 24, 1920 * 1080 * 3),
             // RGB rows are padded to four bytes.
             fixed(MEDIASUBTYPE_RGB24, 322, 240, 24, 968 * 240, 0, 0),
             fixed(MEDIASUBTYPE_RGB32, 320, 240, 32, 1280 * 240),
             // A sensor's mosaic, named for what it is.
             fixed(fourcc("BGGR"), 640, 480, 8, 640 * 480),
             fixed(fourcc("NV12"), 640, 480, 12, 640 * 480 * 3 / 2, fps30, fps15),
             fixed(fourcc("NV12"), 320, 240, 12, 320 * 240 * 3 / 2, fps30, fps15),
         }},
        {"video/x-raw,format=I420,width=[160,1920,8],height=[120,1080,4],framerate=30/1",
         {{fourcc("I420"),
           {1920, 1080},
           {160, 120},
           {1920, 1080},
           {8, 4},
           12,
           1920 * 1080 * 3 / 2,
           fps30,
           fps30}}},
        {"video/x-bayer,format=grbg10le,width=1920,height=1080,framerate=30/1",
         {fixed(fourcc("GR10"), 1920, 1080, 10, 1920 * 1080 * 10 / 8)}},
        // A device that says nothing has what most webcams give.
        {"ANY", {fixed(MEDIASUBTYPE_RGB24, 640, 480, 24, 640 * 480 * 3)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offered);
        Offering offering(c.offered);
        IAMStreamConfig *config = offering.config;
        int count = 0, size = 0;
        ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        ASSERT_EQ(count, int(c.listed.size()));
        EXPECT_EQ(size, int(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(i);
            const Capability &expected = c.listed[i];
            AM_MEDIA_TYPE *type = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps;
            ASSERT_EQ(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE *>(&caps)), S_OK);
            EXPECT_EQ(type->majortype, MEDIATYPE_Video);
            EXPECT_EQ(type->subtype, expected.subtype);
            EXPECT_EQ(type->formattype, FORMAT_VideoInfo);
            EXPECT_EQ(caps.guid, FORMAT_VideoInfo);
            const BITMAPINFOHEADER &picture = header(type);
            EXPECT_EQ(picture.biWidth, expected.size.cx);
            EXPECT_EQ(picture.biHeight, expected.size.cy);
            EXPECT_EQ(picture.biBitCount, expected.bits);
            const bool rgb =
                expected.subtype == MEDIASUBTYPE_RGB24 || expected.subtype == MEDIASUBTYPE_RGB32;
            EXPECT_EQ(picture.biCompression, rgb ? DWORD(BI_RGB) : expected.subtype.Data1);
            EXPECT_EQ(picture.biSizeImage, expected.imageBytes);
            EXPECT_EQ(caps.MinOutputSize.cx, expected.min.cx);
            EXPECT_EQ(caps.MinOutputSize.cy, expected.min.cy);
            EXPECT_EQ(caps.MaxOutputSize.cx, expected.max.cx);
            EXPECT_EQ(caps.MaxOutputSize.cy, expected.max.cy);
            EXPECT_EQ(caps.OutputGranularityX, expected.step.cx);
            EXPECT_EQ(caps.OutputGranularityY, expected.step.cy);
            EXPECT_EQ(caps.MinFrameInterval, expected.fastest);
            EXPECT_EQ(caps.MaxFrameInterval, expected.slowest);

            // Until a format is set, the camera keeps its first; then the one set.
            const Capability &held = c.listed[i == 0 ? 0 : i - 1];
            AM_MEDIA_TYPE *current = nullptr;
            ASSERT_EQ(config->GetFormat(&current), S_OK);
            EXPECT_EQ(current->subtype, held.subtype);
            EXPECT_EQ(header(current).biWidth, held.size.cx);
            EXPECT_EQ(header(current).biHeight, held.size.cy);
            EXPECT_EQ(header(current).biSizeImage, held.imageBytes);
            deleteMediaType(current);
            EXPECT_EQ(config->SetFormat(type), S_OK);
            deleteMediaType(type);
        }
        AM_MEDIA_TYPE *type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        EXPECT_EQ(config->GetStreamCaps(count, &type, reinterpret_cast<BYTE *>(&caps)), S_FALSE);
    }
}

// A type the device does not list is refused, as drivers refuse it: another
// subtype, a size it does not have, a size off its range's granularity. The
// frame rate taken is the listed one nearest to the one asked.
TEST(StreamConfig, SetFormatTakesOnlyWhatTheDeviceLists) {
    struct Try {
        GUID subtype;
        LONG width, height;
        HRESULT result;
        REFERENCE_TIME interval = 0, held = 0;
    };
    struct Case {
        const char *offered;
        std::vector<Try> tries;
    };
    const GUID i420 = fourcc("I420"), nv12 = fourcc("NV12"), yuy2 = fourcc("YUY2");
    const Case cases[] = {
        {"video/x-raw,format=NV12,width=640,height=480,framerate={30/1,15/1};"
         "video/x-raw,format=NV12,width=320,height=240",
         {{nv12, 320, 240, S_OK},
          {nv12, 640, -480, S_OK},
          {nv12, 640, 480, S_OK, 700000, fps15},
          {nv12, 640, 480, S_OK, 100000, fps30},
          {nv12, 352, 288, VFW_E_INVALIDMEDIATYPE},
          {yuy2, 320, 240, VFW_E_INVALIDMEDIATYPE},
          {MEDIASUBTYPE_RGB24, 640, 480, VFW_E_INVALIDMEDIATYPE}}},
        {"video/x-raw,format=I420,width=[160,1920,8],height=[120,1080,4]",
         {{i420, 320, 240, S_OK},
          {i420, 160, 120, S_OK},
          {i420, 1920, 1080, S_OK},
          {i420, 321, 240, VFW_E_INVALIDMEDIATYPE},
          {i420, 320, 242, VFW_E_INVALIDMEDIATYPE},
          {i420, 152, 120, VFW_E_INVALIDMEDIATYPE},
          {i420, 1928, 1080, VFW_E_INVALIDMEDIATYPE},
          {nv12, 320, 240, VFW_E_INVALIDMEDIATYPE}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offered);
        Offering offering(c.offered);
        for (const Try &t : c.tries) {
            SCOPED_TRACE(std::to_string(t.width) + "x" + std::to_string(t.height));
            EXPECT_EQ(offering.setFormat(t.subtype, t.width, t.height, t.interval), t.result);
            AM_MEDIA_TYPE *current = nullptr;
            ASSERT_EQ(offering.config->GetFormat(&current), S_OK);
            if (t.result == S_OK) {
                EXPECT_EQ(current->subtype, t.subtype);
                EXPECT_EQ(header(current).biWidth, t.width);
                EXPECT_EQ(header(current).biHeight, std::abs(t.height));
                if (t.interval) {
                    EXPECT_EQ(
                        reinterpret_cast<VIDEOINFOHEADER *>(current->pbFormat)->AvgTimePerFrame,
                        t.held);
                }
            }
            deleteMediaType(current);
        }
    }
}

// A camera of another shape reaches the grabber at its own size, whatever it
// sends: bottom-up RGB24 as Windows delivers it, raw or motion JPEG; motion
// JPEG decoded to I420 as it comes, for a grabber asking that.
TEST(StreamConfig, TheGrabberGetsTheCameraAtTheSizeSet) {
    const GUID i420 = fourcc("I420");
    const struct {
        const char *offered;
        GUID asked;
        int bits;
        LONG bytes;
    } cases[] = {
        {"video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1", MEDIASUBTYPE_RGB24, 24,
         1280 * 720 * 3},
        {"image/jpeg,width=1280,height=720,framerate=30/1", MEDIASUBTYPE_RGB24, 24, 1280 * 720 * 3},
        {"image/jpeg,width=1280,height=720,framerate=30/1", i420, 12, 1280 * 720 * 3 / 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.offered);
        CoInitialize(nullptr);
        FakeCamera camera(1280, 720, quarters(1280, 720, red, green, blue, yellow), c.offered);
        auto *graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        IBaseFilter *capture = firstVideoInput();
        auto *grabberFilter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        auto *grabber = query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
        auto *control = query<IMediaControl>(graph, IID_IMediaControl);
        AM_MEDIA_TYPE type = rgb24Type();
        type.subtype = c.asked;
        ASSERT_EQ(grabber->SetMediaType(&type), S_OK);
        ASSERT_EQ(graph->AddFilter(capture, L"Video Capture"), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Grabber"), S_OK);
        IPin *out = firstPin(capture, PINDIR_OUTPUT);
        IPin *in = firstPin(grabberFilter, PINDIR_INPUT);
        ASSERT_EQ(graph->Connect(out, in), S_OK);
        AM_MEDIA_TYPE connected = {};
        ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
        EXPECT_EQ(connected.subtype, c.asked);
        const BITMAPINFOHEADER &picture = header(&connected);
        EXPECT_EQ(picture.biWidth, 1280);
        EXPECT_EQ(picture.biHeight, 720);
        EXPECT_EQ(picture.biBitCount, c.bits);
        EXPECT_EQ(LONG(picture.biSizeImage), c.bytes);
        freeMediaType(connected);

        ASSERT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        std::vector<uint8_t> sample(c.bytes);
        LONG size = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (grabber->GetCurrentBuffer(&size, nullptr) != S_OK &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        size = c.bytes;
        ASSERT_EQ(grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(sample.data())), S_OK);
        ASSERT_EQ(size, c.bytes);
        // RGB24's last row in memory is the picture's top, I420's first;
        // colours survive the camera's encoding within a few steps.
        auto near = [&](int x, int rowFromBottom, Rgb colour) {
            if (c.asked == i420) {
                const int luma = 16 + (66 * colour.r + 129 * colour.g + 25 * colour.b) / 256;
                EXPECT_NEAR(sample[(719 - rowFromBottom) * 1280 + x], luma, 12)
                    << x << "," << rowFromBottom;
                return;
            }
            const uint8_t *p = &sample[(rowFromBottom * 1280 + x) * 3];
            EXPECT_NEAR(p[2], colour.r, 12) << x << "," << rowFromBottom;
            EXPECT_NEAR(p[1], colour.g, 12) << x << "," << rowFromBottom;
            EXPECT_NEAR(p[0], colour.b, 12) << x << "," << rowFromBottom;
        };
        near(100, 700, red);
        near(1180, 700, green);
        near(100, 20, blue);
        near(1180, 20, yellow);
        EXPECT_EQ(control->Stop(), S_OK);

        out->Release();
        in->Release();
        control->Release();
        grabber->Release();
        EXPECT_EQ(graph->Release(), 0u);
        EXPECT_EQ(capture->Release(), 0u);
        EXPECT_EQ(grabberFilter->Release(), 0u);
    }
}
