// The pin shared by all filters, and the bin every filter wraps its elements in.

#include "platform/directshow/pin.h"

#include "platform/directshow/interface_ids.h"

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

bool Pin::connected() { return peer_ != nullptr; }

void Pin::setPeer(IPin *peer) { peer_ = peer; }

HRESULT Pin::ConnectedTo(IPin **pin) {
    if (!pin)
        return E_POINTER;
    *pin = peer_;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

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

HRESULT createEnumPins(const std::vector<IPin *> &pins, IEnumPins **out) {
    if (!out)
        return E_POINTER;
    // The enumerator holds each pin, and so its filter, while it lives.
    for (IPin *pin : pins)
        pin->AddRef();
    *out = new ComEnumerator<IEnumPins, IPin, IPin *>(
        pins,
        [](IPin *const &pin) {
            pin->AddRef();
            return pin;
        },
        [](IPin *const &pin) { pin->Release(); });
    return S_OK;
}
