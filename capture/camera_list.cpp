#include "capture/camera_list.h"

#include <cstdlib>

#include "common/utf8.h"

namespace {

std::string readText(IPropertyBag *bag, LPCOLESTR property) {
    VARIANT value;
    VariantInit(&value);
    std::string text;
    if (SUCCEEDED(bag->Read(property, &value, NULL)) && value.vt == VT_BSTR && value.bstrVal)
        text = utf8FromWide(value.bstrVal);
    VariantClear(&value);
    return text;
}

// A number the bag holds, 0 when it holds none; where the system keeps it
// as a boolean, true is nonzero.
unsigned long readNumber(IPropertyBag *bag, LPCOLESTR property) {
    VARIANT value;
    VariantInit(&value);
    unsigned long number = 0;
    if (SUCCEEDED(bag->Read(property, &value, NULL))) {
        if (value.vt == VT_UI4)
            number = value.ulVal;
        else if (value.vt == VT_BOOL)
            number = value.boolVal ? 1 : 0;
    }
    VariantClear(&value);
    return number;
}

// V4L2's mark of a node that streams only once its media pipeline is set up.
constexpr unsigned long ioMediaController = 0x20000000ul;

// The name and path the system keeps for a device in its property bag; a
// device without a path is known by its name.
CameraName nameOf(IMoniker *device) {
    CameraName camera;
    IPropertyBag *bag = nullptr;
    if (SUCCEEDED(device->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)) && bag) {
        camera.name = modelName(readText(bag, L"FriendlyName"));
        camera.path = readText(bag, L"DevicePath");
        // Linux tells these; Windows' bags hold none of them.
        camera.port = readText(bag, L"BusInfo");
        camera.mediaController = (readNumber(bag, L"DeviceCaps") & ioMediaController) != 0;
        camera.monochrome = readNumber(bag, L"Monochrome") != 0;
        camera.cameraService = readNumber(bag, L"CameraService") != 0;
        bag->Release();
    }
    if (camera.path.empty())
        camera.path = camera.name;
    return camera;
}

} // namespace

std::string wantedCamera() {
#ifdef _WIN32
    const wchar_t *wanted = _wgetenv(L"CLOAKCAM_DEVICE");
    return wanted ? utf8FromWide(wanted) : std::string();
#else
    const char *wanted = std::getenv("CLOAKCAM_DEVICE");
    return wanted ? std::string(wanted) : std::string();
#endif
}

std::vector<CameraName> listCameras(ICreateDevEnum *devices, std::vector<IMoniker *> *monikers,
                                    bool *complete) {
    std::vector<CameraName> names;
    IEnumMoniker *found = nullptr;
    HRESULT listed = S_FALSE;
    if (devices)
        listed = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &found, 0);
    // Windows lists at once; a device service that has not answered yet
    // says it has nothing yet.
    if (complete)
        *complete = listed != E_PENDING;
    // An empty category gives S_FALSE and no enumerator at all.
    if (!found)
        return names;
    IMoniker *device = nullptr;
    ULONG fetched = 0;
    while (found->Next(1, &device, &fetched) == S_OK && device) {
        names.push_back(nameOf(device));
        if (monikers)
            monikers->push_back(device);
        else
            device->Release();
        device = nullptr;
    }
    found->Release();
    return names;
}

std::vector<CameraName> listCamerasNow(bool *complete) {
    if (complete)
        *complete = true;
    ICreateDevEnum *devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                (void **)&devices)))
        return {};
    const std::vector<CameraName> names = listCameras(devices, nullptr, complete);
    devices->Release();
    return names;
}
