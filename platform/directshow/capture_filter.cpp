// The capture filter: a camera behind one output pin, whose stream
// configuration lists the camera's formats and holds it to one.

#include "platform/devices/device_list.h"
#include "platform/directshow/camera_formats.h"
#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"
#include "platform/directshow/pin.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

// IAMStreamConfig lives on the capture pin, so its identity is the pin's. It
// lists what the device offers, and holds the camera to the format set, as
// a driver does: to its first one until the program sets another.
class StreamConfig final : public IAMStreamConfig {
  public:
    StreamConfig(std::vector<CameraFormat> formats, GstElement *held, bool shared)
        : formats_(std::move(formats)), held_(held), shared_(shared) {}

    void attach(Pin *pin) {
        pin_ = pin;
        hold(0, formats_[0].size, formats_[0].interval);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return pin_->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        if (pin_->connected())
            return VFW_E_ALREADY_CONNECTED;
        if (type->majortype != MEDIATYPE_Video || type->formattype != FORMAT_VideoInfo ||
            !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
            return E_INVALIDARG;
        SIZE size;
        const int index = findFormat(formats_, *type, &size);
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        const REFERENCE_TIME asked =
            reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat)->AvgTimePerFrame;
        hold(index, size, intervalOf(formats_[index], asked));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) override {
        if (!type)
            return E_POINTER;
        *type = mediaTypeOf(formats_[current_], size_, interval_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override {
        if (!count || !size)
            return E_POINTER;
        *count = static_cast<int>(formats_.size());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override {
        if (!type || !caps)
            return E_POINTER;
        if (index < 0 || index >= static_cast<int>(formats_.size()))
            return S_FALSE;
        const VIDEO_STREAM_CONFIG_CAPS config = capabilityOf(formats_[index]);
        std::memcpy(caps, &config, sizeof config);
        *type = mediaTypeOf(formats_[index], formats_[index].size, formats_[index].interval);
        return S_OK;
    }

  private:
    // The pin's frame size tells the graph what the connection delivers. A
    // shared camera keeps the size and rate it streams at, and the graph's
    // conversion brings it to the pin's.
    void hold(int index, SIZE size, REFERENCE_TIME interval) {
        current_ = index;
        size_ = size;
        interval_ = interval;
        GstCaps *caps =
            shared_ ? mediaTypeCapsOf(formats_[index]) : capsOf(formats_[index], size, interval);
        g_object_set(held_, "caps", caps, nullptr);
        gst_caps_unref(caps);
        pin_->setFrameSize(size.cx, size.cy);
    }

    const std::vector<CameraFormat> formats_;
    GstElement *held_; // the capsfilter behind the source, owned by the filter's bin
    const bool shared_;
    Pin *pin_ = nullptr;
    int current_ = 0;
    SIZE size_ = {};
    REFERENCE_TIME interval_ = 0;
};

// The source followed by the capsfilter that holds it to a format, as one
// element with a "src" pad.
GstElement *heldSource(GstElement *source, GstElement *held) {
    GstElement *bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), source, held, nullptr);
    gst_element_link(source, held);
    GstPad *out = gst_element_get_static_pad(held, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    return bin;
}

std::vector<CameraFormat> deviceFormats(GstDevice *device) {
    GstCaps *caps = device ? gst_device_get_caps(device) : nullptr;
    std::vector<CameraFormat> formats = formatsOf(caps);
    if (caps)
        gst_caps_unref(caps);
    return formats;
}

class CaptureFilter final : public ComObject<IBaseFilter, IGstFilter, IGstCamera> {
  public:
    CaptureFilter(GstElement *source, GstDevice *device, GstElement *held)
        : bin_(makeFilterBin("capture", heldSource(source, held))),
          device_(device ? GST_DEVICE(gst_object_ref(device)) : nullptr),
          config_(deviceFormats(device), held, sharedThroughPipeWire(device)),
          pin_(*this, gst_element_get_static_pad(bin_, "src"), PINDIR_OUTPUT, &config_) {
        // The bin keeps the ghost pad alive; the pin borrows it.
        gst_object_unref(pin_.pad());
        config_.attach(&pin_);
    }

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override {
        return createEnumPins({&pin_}, pins);
    }

    GstElement *bin() override { return bin_; }

    GstDevice *device() override { return GST_DEVICE(gst_object_ref(device_)); }

  protected:
    // Only a camera's filter has a device to watch.
    void *findInterface(REFIID riid) override {
        return riid == IID_IGstCamera && !device_ ? nullptr : ComObject::findInterface(riid);
    }

  private:
    ~CaptureFilter() override {
        gst_object_unref(bin_);
        if (device_)
            gst_object_unref(device_);
    }

    GstElement *bin_;
    GstDevice *device_;
    StreamConfig config_;
    Pin pin_;
};

} // namespace

HRESULT createCaptureFilter(GstElement *source, GstDevice *device, IBaseFilter **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    GstPad *pad = gst_element_get_static_pad(source, "src");
    if (!pad) {
        gst_object_unref(gst_object_ref_sink(source));
        return E_FAIL;
    }
    gst_object_unref(pad);
    *out = new CaptureFilter(source, device, gst_element_factory_make("capsfilter", nullptr));
    return S_OK;
}
