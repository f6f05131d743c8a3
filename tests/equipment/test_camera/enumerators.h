#ifndef CLOAKCAM_TEST_CAMERA_ENUMERATORS_H
#define CLOAKCAM_TEST_CAMERA_ENUMERATORS_H

// The lists a filter and a pin hand out: the filter's pins, and the media
// types an output pin offers. One enumerator serves both; each holds its
// owner while it lives.

#include "com.h"

#include <new>

class TestCameraFilter;
class OutputPin;

// What each owner's list holds, and how an item is handed out.
ULONG listSize(TestCameraFilter &filter);
bool listItem(TestCameraFilter &filter, ULONG position, IPin **pin);
ULONG listSize(OutputPin &pin);
bool listItem(OutputPin &pin, ULONG position, AM_MEDIA_TYPE **type);

template <typename Interface, typename Item, typename Owner, const IID &iid>
class Enumerator : public Counted, public Interface {
  public:
    Enumerator(Owner &owner, ULONG position) : owner(owner), position(position) { owner.AddRef(); }
    ~Enumerator() { owner.Release(); }

    STDMETHODIMP QueryInterface(REFIID wanted, void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (wanted == IID_IUnknown || wanted == iid)
            return handOut(static_cast<Interface *>(this), object);
        return E_NOINTERFACE;
    }
    TEST_CAMERA_COUNTED

    STDMETHODIMP Next(ULONG count, Item *items, ULONG *fetched) override {
        if (!items || (count > 1 && !fetched))
            return E_POINTER;
        ULONG given = 0;
        while (given < count && position < listSize(owner) &&
               listItem(owner, position, &items[given])) {
            ++given;
            ++position;
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        position += count;
        return position <= listSize(owner) ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface **copy) override {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) Enumerator(owner, position);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

  private:
    Owner &owner;
    ULONG position;
};

using PinEnumerator = Enumerator<IEnumPins, IPin *, TestCameraFilter, IID_IEnumPins>;
using TypeEnumerator = Enumerator<IEnumMediaTypes, AM_MEDIA_TYPE *, OutputPin, IID_IEnumMediaTypes>;

#endif
