#include "platform/device_list.h"
#include "platform_fake_camera.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::vector<std::string> paths(const std::vector<DeviceEntry> &devices) {
    std::vector<std::string> result;
    for (const DeviceEntry &entry : devices)
        result.push_back(entry.path);
    return result;
}

using Paths = std::vector<std::string>;

} // namespace

TEST(DeviceOrder, SortsByPathAndHonoursTheChoice) {
    std::vector<DeviceEntry> cameras = {
        {"Front", "/dev/video10", {}}, {"Back", "/dev/video2", {}}, {"Desk", "/dev/video0", {}}};

    std::vector<DeviceEntry> none = orderDevices({}, nullptr);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].name, testPatternName);
    EXPECT_EQ(none[0].device, nullptr);
    EXPECT_EQ(paths(orderDevices({}, "/dev/video3")), paths(none));

    EXPECT_EQ(paths(orderDevices(cameras, nullptr)),
              (Paths{"/dev/video0", "/dev/video2", "/dev/video10"}));
    EXPECT_EQ(paths(orderDevices(cameras, "/dev/video10")),
              (Paths{"/dev/video10", "/dev/video0", "/dev/video2"}));
    EXPECT_EQ(paths(orderDevices(cameras, "Back")),
              (Paths{"/dev/video2", "/dev/video0", "/dev/video10"}));
    EXPECT_EQ(paths(orderDevices(cameras, "Nowhere")),
              (Paths{"/dev/video0", "/dev/video2", "/dev/video10"}));

    std::vector<DeviceEntry> pattern = orderDevices(cameras, "pattern");
    ASSERT_EQ(pattern.size(), 4u);
    EXPECT_EQ(pattern[0].name, testPatternName);
    EXPECT_EQ(pattern[1].path, "/dev/video0");

    EXPECT_TRUE(choiceFound(cameras, "Desk"));
    EXPECT_FALSE(choiceFound(cameras, "pattern"));
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
    CoTaskMemFree(type->pbFormat);
    CoTaskMemFree(type);
    config->Release();
    pin->Release();
    return width;
}

} // namespace

TEST(DeviceEnum, ListsCamerasAndTheTestPattern) {
    CoInitialize(nullptr);
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = reinterpret_cast<IEnumMoniker *>(1);
    EXPECT_EQ(devices->CreateClassEnumerator(MEDIATYPE_Video, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0),
              E_POINTER);
    EXPECT_EQ(devices->Release(), 0u);

    {
        // A 160-wide fake camera tells itself apart from the 640-wide pattern.
        FakeCamera camera(160, 120, std::vector<uint8_t>(160 * 120 * 3, 128));
        setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
        monikers = videoInputs();
        IMoniker *several[2] = {};
        EXPECT_EQ(monikers->Next(2, several, nullptr), E_INVALIDARG);
        IBaseFilter *filter = bindFirst(monikers);
        EXPECT_EQ(formatWidth(filter), 160);
        EXPECT_EQ(filter->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);

        setenv("CLOAKCAM_DEVICE", "pattern", 1);
        monikers = videoInputs();
        filter = bindFirst(monikers);
        EXPECT_EQ(formatWidth(filter), 640);
        EXPECT_EQ(filter->Release(), 0u);
        IMoniker *second = nullptr;
        ULONG fetched = 0;
        EXPECT_EQ(monikers->Next(1, &second, &fetched), S_OK);
        EXPECT_EQ(second->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);
        unsetenv("CLOAKCAM_DEVICE");
    }
}
