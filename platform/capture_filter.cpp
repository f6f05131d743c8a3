// The capture filter: a camera (or the test pattern) behind one output pin,
// whose stream configuration chooses the picture size of the connection.

#include "platform/com_object.h"
#include "platform/filters.h"
#include "platform/pin.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// IAMStreamConfig lives on the capture pin, so its identity is the pin's.
class StreamConfig final : public IAMStreamConfig {
  public:
    StreamConfig(int width, int height, const GUID &subtype)
        : defaultWidth_(width), defaultHeight_(height), subtype_(subtype) {}

    void attach(Pin *pin) { pin_ = pin; }

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
        const BITMAPINFOHEADER &header =
            reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader;
        if (header.biWidth <= 0 || header.biHeight == 0)
            return E_INVALIDARG;
        // A negative height only means top-down rows on Windows; the size is the same.
        pin_->setFrameSize(header.biWidth, std::abs(header.biHeight));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) override {
        if (!type)
            return E_POINTER;
        int width, height;
        pin_->frameSize(&width, &height);
        if (width == 0) {
            width = defaultWidth_;
            height = defaultHeight_;
        }
        *type = makeType(width, height);
        return S_OK;
    }

    // GStreamer scales to any size; the camera lists its own and the sizes
    // webcams commonly have.
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override {
        if (!count || !size)
            return E_POINTER;
        *count = static_cast<int>(sizes().size());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override {
        if (!type || !caps)
            return E_POINTER;
        const std::vector<SIZE> offered = sizes();
        if (index < 0 || index >= static_cast<int>(offered.size()))
            return S_FALSE;
        const SIZE size = offered[index];
        VIDEO_STREAM_CONFIG_CAPS config = {};
        config.guid = FORMAT_VideoInfo;
        config.InputSize = size;
        config.MinCroppingSize = config.MaxCroppingSize = size;
        config.MinOutputSize = config.MaxOutputSize = size;
        config.MinFrameInterval = config.MaxFrameInterval = 10000000 / 30;
        std::memcpy(caps, &config, sizeof config);
        *type = makeType(size.cx, size.cy);
        return S_OK;
    }

  private:
    std::vector<SIZE> sizes() const {
        std::vector<SIZE> offered = {{defaultWidth_, defaultHeight_}};
        for (SIZE common : {SIZE{160, 120}, SIZE{320, 240}, SIZE{640, 480}})
            if (common.cx != defaultWidth_ || common.cy != defaultHeight_)
                offered.push_back(common);
        return offered;
    }

    AM_MEDIA_TYPE *makeType(int width, int height) const {
        auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        auto *media = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        std::memset(info, 0, sizeof *info);
        std::memset(media, 0, sizeof *media);
        DWORD imageSize = ((width * 3 + 3) & ~3) * height;
        info->rcSource = {0, 0, width, height};
        info->rcTarget = info->rcSource;
        info->AvgTimePerFrame = 10000000 / 30;
        info->dwBitRate = imageSize * 8 * 30;
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = 24;
        info->bmiHeader.biCompression = subtype_ == MEDIASUBTYPE_RGB24 ? BI_RGB : subtype_.Data1;
        info->bmiHeader.biSizeImage = imageSize;
        media->majortype = MEDIATYPE_Video;
        media->subtype = subtype_;
        media->bFixedSizeSamples = TRUE;
        media->lSampleSize = imageSize;
        media->formattype = FORMAT_VideoInfo;
        media->cbFormat = sizeof(VIDEOINFOHEADER);
        media->pbFormat = reinterpret_cast<BYTE *>(info);
        return media;
    }

    Pin *pin_ = nullptr;
    int defaultWidth_;
    int defaultHeight_;
    GUID subtype_;
};

class CaptureFilter final : public ComObject<IBaseFilter, IGstFilter, IGstCamera> {
  public:
    CaptureFilter(GstElement *source, GstDevice *device, int width, int height, const GUID &subtype)
        : bin_(makeFilterBin("capture", source)),
          device_(device ? GST_DEVICE(gst_object_ref(device)) : nullptr),
          config_(width, height, subtype),
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

HRESULT createCaptureFilter(GstElement *source, GstDevice *device, int defaultWidth,
                            int defaultHeight, const GUID &subtype, IBaseFilter **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    GstPad *pad = gst_element_get_static_pad(source, "src");
    if (!pad) {
        gst_object_unref(gst_object_ref_sink(source));
        return E_FAIL;
    }
    gst_object_unref(pad);
    *out = new CaptureFilter(source, device, defaultWidth, defaultHeight, subtype);
    return S_OK;
}
