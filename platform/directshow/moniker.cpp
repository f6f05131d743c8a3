// A moniker for one listed camera: binding it makes the capture filter, and
// its property bag holds the name and path the system gives the device.

#include "platform/directshow/filter.h"

#include "common/utf8.h"

#include <cwchar>
#include <string>

namespace {

// The device's FriendlyName and DevicePath, as Windows keeps them for a
// video input device, and what the device tells of itself beside.
class PropertyBag final : public ComObject<IPropertyBag> {
  public:
    explicit PropertyBag(const CameraListing &listing) : listing_(listing) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *) override {
        if (!name || !value)
            return E_POINTER;
        if (std::wcscmp(name, L"DeviceCaps") == 0 && listing_.deviceCaps)
            return number(static_cast<ULONG>(listing_.deviceCaps), value);
        if (std::wcscmp(name, L"Monochrome") == 0)
            return truth(listing_.monochrome, value);
        if (std::wcscmp(name, L"CameraService") == 0)
            return truth(listing_.cameraService, value);
        const std::string *text = std::wcscmp(name, L"FriendlyName") == 0 ? &listing_.name
                                  : std::wcscmp(name, L"DevicePath") == 0 ? &listing_.path
                                  : std::wcscmp(name, L"BusInfo") == 0 && !listing_.bus.empty()
                                      ? &listing_.bus
                                      : nullptr;
        if (!text)
            return E_INVALIDARG;
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(wideFromUtf8(*text).c_str());
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

    const CameraListing listing_;
};

class Moniker final : public ComObject<IMoniker> {
  public:
    explicit Moniker(const CameraListing &listing) : listing_(listing) {}

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID riid,
                                           void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        Camera *camera = cameraTable().open(listing_);
        if (!camera)
            return E_FAIL;
        IBaseFilter *filter = nullptr;
        HRESULT hr = createCaptureFilter(camera, &filter);
        if (FAILED(hr))
            return hr;
        hr = filter->QueryInterface(riid, object);
        filter->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *, IMoniker *, REFIID riid,
                                            void **object) override {
        return createObject<PropertyBag>(riid, object, listing_);
    }

  private:
    const CameraListing listing_;
};

} // namespace

IMoniker *createMoniker(const CameraListing &listing) { return new Moniker(listing); }
