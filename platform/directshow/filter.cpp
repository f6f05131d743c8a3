// The pin all the stand-in's filters use, and the enumerator over their pins.

#include "platform/directshow/filter.h"

HRESULT Pin::QueryInterface(REFIID riid, void **object) {
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin || riid == IID_IOwnPin)
        *object = static_cast<IOwnPin *>(this);
    else if (config_ && riid == IID_IAMStreamConfig)
        *object = config_;
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT Pin::ConnectedTo(IPin **pin) {
    if (!pin)
        return E_POINTER;
    *pin = peer_;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT Pin::QueryDirection(PIN_DIRECTION *direction) {
    if (!direction)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
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

IOwnPin *ownPin(IPin *pin) {
    void *found = nullptr;
    return pin && SUCCEEDED(pin->QueryInterface(IID_IOwnPin, &found))
               ? static_cast<IOwnPin *>(found)
               : nullptr;
}
