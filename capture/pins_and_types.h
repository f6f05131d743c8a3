#ifndef CLOAKCAM_CAPTURE_PINS_AND_TYPES_H
#define CLOAKCAM_CAPTURE_PINS_AND_TYPES_H

// The chores every DirectShow client writes for itself, written once for the
// capture code, the test camera and the tests: a bitmap row's bytes, finding
// a filter's pin, and freeing a media type. Windows keeps its own versions in
// the base-class library, which the program does not link.

#include "capture/directshow.h"

// Bytes in one row of an RGB bitmap `width` pixels wide: Windows pads every
// row to a whole number of 4-byte words.
inline long bitmapRowBytes(long width, long bitsPerPixel) {
    return ((width * bitsPerPixel + 31) & ~31L) / 8;
}

// The first pin of `filter`, in its own order, for which `matches(pin)` is
// true, with a reference for the caller; nullptr when none is.
template <typename Matches> IPin *findPinWhere(IBaseFilter *filter, Matches matches) {
    IEnumPins *pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return nullptr;
    IPin *pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        if (matches(pin))
            break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

// The first pin of `filter` facing `direction`.
inline IPin *firstPin(IBaseFilter *filter, PIN_DIRECTION direction) {
    return findPinWhere(filter, [direction](IPin *pin) {
        PIN_DIRECTION faces;
        return SUCCEEDED(pin->QueryDirection(&faces)) && faces == direction;
    });
}

// Frees a media type's format block and object, leaving the type empty of
// them; the type itself is the caller's.
inline void freeMediaType(AM_MEDIA_TYPE &type) {
    if (type.cbFormat != 0)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk)
        type.pUnk->Release();
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    type.pUnk = nullptr;
}

// Frees a media type allocated with CoTaskMemAlloc, contents and all.
inline void deleteMediaType(AM_MEDIA_TYPE *type) {
    if (!type)
        return;
    freeMediaType(*type);
    CoTaskMemFree(type);
}

#endif
