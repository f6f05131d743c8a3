// A moniker for one video source: binding it makes the capture filter, and
// its property bag holds the name and path the system gives the device.

#include "platform/devices/device_list.h"
#include "platform/devices/pipewire_link.h"
#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"

#include <cwchar>
#include <string>

namespace {

HRESULT bindDevice(GstDevice *device, IBaseFilter **filter) {
    GstElement *source = gst_device_create_element(device, nullptr);
    if (!source)
        return E_FAIL;
    holdPipeWireLinkFor(source);
    return createCaptureFilter(source, device, filter);
}

// The device's FriendlyName and DevicePath, as Windows keeps them for a
// video input device, and what the device tells of itself beside.
class PropertyBag final : public ComObject<IPropertyBag> {
  public:
    explicit PropertyBag(GstDevice *device) : entry_(describeDevice(device)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *) override {
        if (!name || !value)
            return E_POINTER;
        if (std::wcscmp(name, L"DeviceCaps") == 0 && entry_.facts.deviceCaps)
            return number(static_cast<ULONG>(entry_.facts.deviceCaps), value);
        if (std::wcscmp(name, L"Monochrome") == 0)
            return truth(entry_.facts.monochrome, value);
        if (std::wcscmp(name, L"CameraService") == 0)
            return truth(entry_.facts.cameraService, value);
        const std::string *text = std::wcscmp(name, L"FriendlyName") == 0 ? &entry_.name
                                  : std::wcscmp(name, L"DevicePath") == 0 ? &entry_.path
                                  : std::wcscmp(name, L"BusInfo") == 0 && !entry_.facts.bus.empty()
                                      ? &entry_.facts.bus
                                      : nullptr;
        if (!text)
            return E_INVALIDARG;
        // The names GStreamer gives are UTF-8; wide strings hold code points.
        std::wstring wide;
        for (size_t i = 0; i < text->size();) {
            const unsigned char lead = static_cast<unsigned char>((*text)[i]);
            const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
            wchar_t c = extra ? lead & (0x3F >> extra) : lead;
            for (int k = 1; k <= extra && i + k < text->size(); ++k)
                c = (c << 6) | ((*text)[i + k] & 0x3F);
            wide += c;
            i += 1 + extra;
        }
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(wide.c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }

  private:
    static HRESULT number(ULONG n, VARIANT *value) {
        value->vt = VT_UI4;
        value->ulVal = n;
        return S_OK;
    }
    static HRESULT truth(bool yes, VARIANT *value) {
        if (!yes)
            return E_INVALIDARG;
        value->vt = VT_BOOL;
        value->boolVal = VARIANT_TRUE;
        return S_OK;
    }

    DeviceEntry entry_;
};

class Moniker final : public ComObject<IMoniker> {
  public:
    explicit Moniker(GstDevice *device) : device_(GST_DEVICE(gst_object_ref(device))) {}

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID riid,
                                           void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        IBaseFilter *filter = nullptr;
        HRESULT hr = bindDevice(device_, &filter);
        if (FAILED(hr))
            return hr;
        hr = filter->QueryInterface(riid, object);
        filter->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *, IMoniker *, REFIID riid,
                                            void **object) override {
        return createObject<PropertyBag>(riid, object, device_);
    }

  private:
    ~Moniker() override { gst_object_unref(device_); }

    GstDevice *device_;
};

} // namespace

HRESULT createMoniker(GstDevice *device, IMoniker **out) {
    if (!out || !device)
        return E_POINTER;
    *out = new Moniker(device);
    return S_OK;
}
