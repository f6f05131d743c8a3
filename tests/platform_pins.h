#ifndef CLOAKCAM_TESTS_PLATFORM_PINS_H
#define CLOAKCAM_TESTS_PLATFORM_PINS_H

// Reaching the stand-in's objects and pins the way the capture code does.

#include "capture/pins_and_types.h"

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
