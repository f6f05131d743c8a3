#ifndef CLOAKCAM_TESTS_PLATFORM_PINS_H
#define CLOAKCAM_TESTS_PLATFORM_PINS_H

// Reaching pins the way the capture code does.

#include "platform/qedit.h"

// The first pin of `filter` facing `wanted`, with a reference, or nullptr.
inline IPin *firstPin(IBaseFilter *filter, PIN_DIRECTION wanted) {
    IEnumPins *pins = nullptr;
    if (filter->EnumPins(&pins) != S_OK)
        return nullptr;
    IPin *pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        pin->QueryDirection(&direction);
        if (direction == wanted)
            break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

template <typename T> T *create(const CLSID &clsid, const IID &iid) {
    void *object = nullptr;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
    return static_cast<T *>(object);
}

template <typename T> T *query(IUnknown *from, const IID &iid) {
    void *object = nullptr;
    from->QueryInterface(iid, &object);
    return static_cast<T *>(object);
}

inline AM_MEDIA_TYPE rgb24Type() {
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    return type;
}

#endif
