#include "equipment/fake_camera.h"
#include "platform/camera/camera_list.h"
#include "platform/camera/device_monitor.h"
#include "platform/camera/locked_cameras.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

std::vector<std::string> paths(const std::vector<CameraListing> &devices) {
    std::vector<std::string> result;
    for (const CameraListing &entry : devices)
        result.push_back(entry.path);
    return result;
}

using Paths = std::vector<std::string>;

} // namespace

TEST(DeviceOrder, SortsByPathWithNumbersAsNumbers) {
    std::vector<CameraListing> cameras(3);
    cameras[0].path = "/dev/video10";
    cameras[1].path = "/dev/video2";
    cameras[2].path = "/dev/video0";
    EXPECT_TRUE(sortCameras({}).empty());
    EXPECT_EQ(paths(sortCameras(cameras)), (Paths{"/dev/video0", "/dev/video2", "/dev/video10"}));
}

namespace {

IEnumMoniker *videoInputs() {
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = nullptr;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    EXPECT_EQ(devices->Release(), 0u);
    return monikers;
}

// The filter behind the first moniker, checked to be a capture filter with one
// output pin that answers IAMStreamConfig.
IBaseFilter *bindFirst(IEnumMoniker *monikers) {
    IMoniker *moniker = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(1, &moniker, &fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, nullptr), E_POINTER);
    IBaseFilter *filter = nullptr;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void **>(&filter)),
              S_OK);
    EXPECT_EQ(moniker->Release(), 0u);
    return filter;
}

int formatWidth(IBaseFilter *filter) {
    IPin *pin = firstPin(filter, PINDIR_OUTPUT);
    auto *config = query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    AM_MEDIA_TYPE *type = nullptr;
    EXPECT_EQ(config->GetFormat(&type), S_OK);
    int width = reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader.biWidth;
    deleteMediaType(type);
    config->Release();
    pin->Release();
    return width;
}

} // namespace

namespace {

std::wstring readProperty(IMoniker *moniker, const wchar_t *name) {
    IPropertyBag *bag = nullptr;
    EXPECT_EQ(
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void **>(&bag)),
        S_OK);
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (bag->Read(name, &value, nullptr) == S_OK && value.vt == VT_BSTR)
        text = value.bstrVal;
    VariantClear(&value);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(bag->Read(L"CLSID", &value, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->Release(), 0u);
    return text;
}

} // namespace

// PipeWire's hiding is heeded; libcamera's hiding of V4L2 is not, and its
// USB cameras, which V4L2 lists with their hot-plug, are left out.
TEST(DeviceMonitor, HeedsPipeWireHidingButNotLibcamera) {
    const std::vector<std::string> none, v4l2 = {"v4l2deviceprovider"};
    EXPECT_TRUE(listedDevice("GstV4l2Device", "HD WebCam", none));
    EXPECT_FALSE(listedDevice("GstV4l2Device", "HD WebCam", v4l2));
    EXPECT_TRUE(listedDevice("GstPipeWireDevice", "HD WebCam (V4L2)", v4l2));
    EXPECT_FALSE(
        listedDevice("GstLibcameraDevice", "\\_SB_.PCI0.XHC_.RHUB.HS05-5:1.0-0c45:6366", none));
    EXPECT_TRUE(listedDevice("GstLibcameraDevice", "\\_SB_.PCI0.LNK1", none));
    EXPECT_TRUE(listedDevice("GstLibcameraDevice", "/base/soc/i2c0mux/i2c@1/imx219@10", none));
}

TEST(DeviceEnum, ListsCamerasWithTheirNameAndPath) {
    CoInitialize(nullptr);
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = reinterpret_cast<IEnumMoniker *>(1);
    EXPECT_EQ(devices->CreateClassEnumerator(MEDIATYPE_Video, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0),
              E_POINTER);
    // Without a camera, as on Windows: S_FALSE and no enumerator at all.
    monikers = reinterpret_cast<IEnumMoniker *>(1);
    const HRESULT listed =
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    EXPECT_EQ(listed == S_FALSE, monikers == nullptr);
    if (monikers) {
        EXPECT_EQ(monikers->Release(), 0u);
    }
    EXPECT_EQ(devices->Release(), 0u);

    {
        // A 160-wide fake camera tells itself apart from the default size.
        FakeCamera camera(160, 120, std::vector<uint8_t>(160 * 120 * 3, 128));
        monikers = videoInputs();
        IMoniker *several[2] = {};
        EXPECT_EQ(monikers->Next(2, several, nullptr), E_INVALIDARG);
        IMoniker *moniker = nullptr;
        ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
        EXPECT_EQ(readProperty(moniker, L"FriendlyName"), L"Fake Camera");
        EXPECT_EQ(readProperty(moniker, L"DevicePath"), L"/dev/fake-video0");
        EXPECT_EQ(moniker->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);

        monikers = videoInputs();
        IBaseFilter *filter = bindFirst(monikers);
        EXPECT_EQ(formatWidth(filter), 160);
        EXPECT_EQ(filter->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);
    }
}

namespace {

std::vector<std::string> asked;

// Each node says it captures, but the one whose name says it holds metadata.
bool answerAsCamera(const std::string &path, NodeCapabilities *capabilities) {
    asked.push_back(path);
    if (path == "/dev/video6") {
        errno = EACCES;
        return false;
    }
    const bool meta = path == "/dev/video5";
    *capabilities = {"Card", "usb-1", meta ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE + 0ul};
    return true;
}

std::vector<std::string> namesAndPaths(const std::vector<LockedNode> &nodes) {
    std::vector<std::string> found;
    for (const LockedNode &node : nodes)
        found.push_back(node.name + "=" + node.path + "@" + node.bus);
    return found;
}

} // namespace

// Nodes as udev describes them. A capture node the user may not open is
// listed, so that using it can say why it fails. A capture node that opens
// but was never listed is listed all the same: one the user was allowed to
// open after the provider looked, a loopback camera whose producer came
// later. Nodes udev calls neither capture nor output are never opened, and
// nodes listed already are left alone.
TEST(LockedCameras, ListsCaptureNodesTheUserMayNotOpenOrTheProviderLeftOut) {
    const std::vector<VideoNode> nodes = {
        {"/dev/video0", "Desk Camera", "uvcvideo", ":capture:", EACCES},
        {"/dev/video1", "", "uvcvideo", ":", EACCES},
        {"/dev/video2", "", "Allowed", ":capture:", 0},
        {"/dev/video3", "", "Loopback", ":video_output:", 0},
        {"/dev/video4", "", "Metadata", ":", 0},
        {"/dev/video5", "", "Metadata too", ":capture:", 0},
        {"/dev/video6", "Refused", "uvcvideo", ":capture:", 0},
        {"/dev/video7", "", "Side Camera", ":capture:", EACCES},
        {"/dev/video8", "", "Unknown", "", EACCES},
        {"/dev/video9", "", "Gone", ":capture:", ENOENT},
        {"/dev/video10", "", "Listed", ":capture:", 0},
    };
    EXPECT_EQ(namesAndPaths(findLockedNodes(nodes)),
              (Paths{"Desk Camera=/dev/video0@", "Side Camera=/dev/video7@"}));
    asked.clear();
    EXPECT_EQ(namesAndPaths(findUnlistedNodes(nodes, {"/dev/video10"}, answerAsCamera)),
              (Paths{"Card=/dev/video2@usb-1", "Card=/dev/video3@usb-1", "Refused=/dev/video6@"}));
    EXPECT_EQ(asked, (Paths{"/dev/video2", "/dev/video3", "/dev/video5", "/dev/video6"}));
}
