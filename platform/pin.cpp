// The pin shared by all filters, and the bin every filter wraps its elements in.

#include "platform/gst_filter.h"

Pin::Pin(IBaseFilter &owner, GstPad *pad, PIN_DIRECTION direction, IAMStreamConfig *streamConfig)
    : owner_(owner), pad_(pad), direction_(direction), streamConfig_(streamConfig) {}

HRESULT Pin::QueryInterface(REFIID riid, void **object) {
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin || riid == IID_IGstPin)
        *object = static_cast<IGstPin *>(this);
    else if (streamConfig_ && riid == IID_IAMStreamConfig)
        *object = streamConfig_;
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG Pin::AddRef() { return owner_.AddRef(); }

ULONG Pin::Release() { return owner_.Release(); }

HRESULT Pin::QueryDirection(PIN_DIRECTION *direction) {
    if (!direction)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

GstPad *Pin::pad() { return pad_; }

IBaseFilter *Pin::filter() { return &owner_; }

bool Pin::connected() { return connected_; }

void Pin::setConnected(bool connected) { connected_ = connected; }

void Pin::frameSize(int *width, int *height) {
    *width = width_;
    *height = height_;
}

void Pin::setFrameSize(int width, int height) {
    width_ = width;
    height_ = height;
}

GstElement *makeFilterBin(const char *name, GstElement *element) {
    GstElement *bin = gst_bin_new(name);
    gst_object_ref_sink(bin);
    gst_bin_add(GST_BIN(bin), element);
    const char *directions[] = {"src", "sink"};
    for (const char *padName : directions) {
        GstPad *inner = gst_element_get_static_pad(element, padName);
        if (inner) {
            gst_element_add_pad(bin, gst_ghost_pad_new(padName, inner));
            gst_object_unref(inner);
        }
    }
    return bin;
}

namespace {

class EnumPins final : public IEnumPins {
  public:
    explicit EnumPins(const std::vector<IPin *> &pins) : pins_(pins) {
        for (IPin *pin : pins_)
            pin->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IEnumPins) {
            *object = static_cast<IEnumPins *>(this);
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

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override {
        if (!pins)
            return E_POINTER;
        if (count > 1 && !fetched)
            return E_INVALIDARG;
        ULONG done = 0;
        while (done < count && next_ < pins_.size()) {
            pins[done] = pins_[next_++];
            pins[done]->AddRef();
            ++done;
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }

  private:
    ~EnumPins() {
        for (IPin *pin : pins_)
            pin->Release();
    }

    std::vector<IPin *> pins_;
    size_t next_ = 0;
    ULONG refs_ = 1;
};

} // namespace

HRESULT createEnumPins(const std::vector<IPin *> &pins, IEnumPins **out) {
    if (!out)
        return E_POINTER;
    *out = new EnumPins(pins);
    return S_OK;
}
