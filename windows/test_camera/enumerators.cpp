#include "enumerators.h"

#include "filter.h"
#include "output_pin.h"

#include <new>

PinEnumerator::PinEnumerator(TestCameraFilter &filter, ULONG position)
    : filter(filter), position(position) {
    filter.AddRef();
}

PinEnumerator::~PinEnumerator() { filter.Release(); }

STDMETHODIMP PinEnumerator::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IEnumPins)
        return handOut(static_cast<IEnumPins *>(this), object);
    return E_NOINTERFACE;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin **pins, ULONG *fetched) {
    if (!pins || (count > 1 && !fetched))
        return E_POINTER;
    ULONG given = 0;
    while (given < count && position < filter.pinCount())
        pins[given++] = filter.pin(position++);
    if (fetched)
        *fetched = given;
    return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    position += count;
    return position <= filter.pinCount() ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Reset() {
    position = 0;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins **copy) {
    if (!copy)
        return E_POINTER;
    *copy = new (std::nothrow) PinEnumerator(filter, position);
    return *copy ? S_OK : E_OUTOFMEMORY;
}

TypeEnumerator::TypeEnumerator(OutputPin &pin, ULONG position) : pin(pin), position(position) {
    pin.AddRef();
}

TypeEnumerator::~TypeEnumerator() { pin.Release(); }

STDMETHODIMP TypeEnumerator::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes)
        return handOut(static_cast<IEnumMediaTypes *>(this), object);
    return E_NOINTERFACE;
}

STDMETHODIMP TypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) {
    if (!types || (count > 1 && !fetched))
        return E_POINTER;
    ULONG given = 0;
    while (given < count && position < pin.offeredCount()) {
        auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!type)
            break;
        if (!pin.offeredType(position, type)) {
            CoTaskMemFree(type);
            break;
        }
        types[given++] = type;
        ++position;
    }
    if (fetched)
        *fetched = given;
    return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP TypeEnumerator::Skip(ULONG count) {
    position += count;
    return position <= pin.offeredCount() ? S_OK : S_FALSE;
}

STDMETHODIMP TypeEnumerator::Reset() {
    position = 0;
    return S_OK;
}

STDMETHODIMP TypeEnumerator::Clone(IEnumMediaTypes **copy) {
    if (!copy)
        return E_POINTER;
    *copy = new (std::nothrow) TypeEnumerator(pin, position);
    return *copy ? S_OK : E_OUTOFMEMORY;
}
