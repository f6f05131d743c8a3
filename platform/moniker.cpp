// A moniker for one video source: binding it makes the capture filter, and
// its property bag holds the name and path the system gives the device.

#include "platform/com_object.h"
#include "platform/device_list.h"
#include "platform/filters.h"
#include "platform/pipewire_link.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
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

// The picture the program draws; a camera format near it needs the least work.
const int wantedWidth = 320;
const int wantedHeight = 240;

// Among what the camera offers, the format it is asked for, fixed: raw video
// at or nearest to the size the program draws when there is any, else motion
// JPEG (most webcams offer little else above 640x480) when it can be
// decoded; null when the camera says nothing usable.
GstCaps *chooseFormat(GstCaps *offered, bool canDecodeJpeg) {
    GstCaps *best = nullptr;
    long long bestScore = 0;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        GstCaps *one = gst_caps_copy_nth(offered, i);
        GstStructure *structure = gst_caps_get_structure(one, 0);
        const bool raw = gst_structure_has_name(structure, "video/x-raw");
        const bool jpeg = gst_structure_has_name(structure, "image/jpeg");
        if (!raw && !(jpeg && canDecodeJpeg)) {
            gst_caps_unref(one);
            continue;
        }
        gst_structure_fixate_field_nearest_int(structure, "width", wantedWidth);
        gst_structure_fixate_field_nearest_int(structure, "height", wantedHeight);
        gst_structure_fixate_field_nearest_fraction(structure, "framerate", 30, 1);
        one = gst_caps_fixate(one);
        structure = gst_caps_get_structure(one, 0);
        int width = 0, height = 0;
        gst_structure_get_int(structure, "width", &width);
        gst_structure_get_int(structure, "height", &height);
        const long long score =
            (raw ? 0 : 1ll << 40) + std::llabs(1ll * width * height - wantedWidth * wantedHeight);
        if (!best || score < bestScore) {
            if (best)
                gst_caps_unref(best);
            best = one;
            bestScore = score;
        } else {
            gst_caps_unref(one);
        }
    }
    return best;
}

// The camera's source held to `format`, decoded when that is JPEG, as one
// element with a "src" pad.
GstElement *heldToFormat(GstElement *source, GstCaps *format) {
    GstElement *bin = gst_bin_new(nullptr);
    GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
    g_object_set(filter, "caps", format, nullptr);
    gst_bin_add_many(GST_BIN(bin), source, filter, nullptr);
    gst_element_link(source, filter);
    GstElement *last = filter;
    if (gst_structure_has_name(gst_caps_get_structure(format, 0), "image/jpeg")) {
        GstElement *decoder = gst_element_factory_make("jpegdec", nullptr);
        gst_bin_add(GST_BIN(bin), decoder);
        gst_element_link(filter, decoder);
        last = decoder;
    }
    GstPad *out = gst_element_get_static_pad(last, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    return bin;
}

HRESULT bindDevice(GstDevice *device, IBaseFilter **filter) {
    GstElement *source = gst_device_create_element(device, nullptr);
    if (!source)
        return E_FAIL;
    holdPipeWireLinkFor(source);
    // What most webcams give when they say nothing of their own.
    int width = 640, height = 480;
    GUID subtype = MEDIASUBTYPE_RGB24;
    GstCaps *caps = gst_device_get_caps(device);
    GstElementFactory *jpegdec = gst_element_factory_find("jpegdec");
    GstCaps *format = caps && !gst_caps_is_any(caps) ? chooseFormat(caps, jpegdec) : nullptr;
    if (jpegdec)
        gst_object_unref(jpegdec);
    if (caps)
        gst_caps_unref(caps);
    if (format) {
        const GstStructure *structure = gst_caps_get_structure(format, 0);
        gst_structure_get_int(structure, "width", &width);
        gst_structure_get_int(structure, "height", &height);
        subtype = subtypeOf(structure);
        source = heldToFormat(source, format);
        gst_caps_unref(format);
    }
    return createCaptureFilter(source, device, width, height, subtype, filter);
}

// The device's FriendlyName and DevicePath, as Windows keeps them for a
// video input device.
class PropertyBag final : public ComObject<IPropertyBag> {
  public:
    explicit PropertyBag(GstDevice *device) : entry_(describeDevice(device)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *) override {
        if (!name || !value)
            return E_POINTER;
        const std::string *text = std::wcscmp(name, L"FriendlyName") == 0 ? &entry_.name
                                  : std::wcscmp(name, L"DevicePath") == 0 ? &entry_.path
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
