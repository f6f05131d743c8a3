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

TEST(DeviceOrder, SortsByPathWithNumbersAsNumbers) {
    std::vector<DeviceEntry> cameras = {
        {"Front", "/dev/video10", {}}, {"Back", "/dev/video2", {}}, {"Desk", "/dev/video0", {}}};
    EXPECT_TRUE(sortDevices({}).empty());
    EXPECT_EQ(paths(sortDevices(cameras)), (Paths{"/dev/video0", "/dev/video2", "/dev/video10"}));
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
