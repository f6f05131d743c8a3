// A moniker for one video source: binding it makes the capture filter.

#include "platform/gst_filter.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// DirectShow names formats other than RGB by their four-character code.
GUID subtypeOf(const GstStructure *structure) {
    const char *format = gst_structure_get_string(structure, "format");
    std::string code;
    if (gst_structure_has_name(structure, "image/jpeg"))
        code = "MJPG";
    else if (format && std::string(format) != "BGR" && std::strlen(format) == 4)
        code = format;
    else
        return MEDIASUBTYPE_RGB24;
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = GST_STR_FOURCC(code.c_str());
    return subtype;
}

HRESULT bindDevice(GstDevice *device, IBaseFilter **filter) {
    GstElement *source = gst_device_create_element(device, nullptr);
    if (!source)
        return E_FAIL;
    int width = testPatternWidth, height = testPatternHeight;
    GUID subtype = MEDIASUBTYPE_RGB24;
    GstCaps *caps = gst_device_get_caps(device);
    if (caps && !gst_caps_is_any(caps) && !gst_caps_is_empty(caps)) {
        // The first format the device lists is taken as the one it prefers.
        GstCaps *first = gst_caps_fixate(gst_caps_copy_nth(caps, 0));
        const GstStructure *structure = gst_caps_get_structure(first, 0);
        int w, h;
        if (gst_structure_get_int(structure, "width", &w) &&
            gst_structure_get_int(structure, "height", &h) && w > 0 && h > 0) {
            width = w;
            height = h;
        }
        subtype = subtypeOf(structure);
        gst_caps_unref(first);
    }
    if (caps)
        gst_caps_unref(caps);
    return createCaptureFilter(source, device, width, height, subtype, filter);
}

class Moniker final : public IMoniker {
  public:
    explicit Moniker(GstDevice *device)
        : device_(device ? GST_DEVICE(gst_object_ref(device)) : nullptr) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMoniker) {
            *object = static_cast<IMoniker *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID riid,
                                           void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        IBaseFilter *filter = nullptr;
        HRESULT hr;
        if (device_) {
            hr = bindDevice(device_, &filter);
        } else {
            GstElement *pattern = makeTestPattern();
            hr = pattern ? createCaptureFilter(pattern, nullptr, testPatternWidth,
                                               testPatternHeight, MEDIASUBTYPE_RGB24, &filter)
                         : E_FAIL;
        }
        if (FAILED(hr))
            return hr;
        hr = filter->QueryInterface(riid, object);
        filter->Release();
        return hr;
    }

  private:
    ~Moniker() {
        if (device_)
            gst_object_unref(device_);
    }

    GstDevice *device_;
    ULONG refs_ = 1;
};

} // namespace

HRESULT createMoniker(GstDevice *device, IMoniker **out) {
    if (!out)
        return E_POINTER;
    *out = new Moniker(device);
    return S_OK;
}
