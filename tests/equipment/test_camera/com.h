#ifndef CLOAKCAM_TEST_CAMERA_COM_H
#define CLOAKCAM_TEST_CAMERA_COM_H

// What every object of the test camera shares: the platform headers, the
// camera's class identifier and one reference count for objects that hand
// out several interfaces.

#include <windows.h>

#include <dshow.h>

// {9EA52ADF-2BA6-4799-9652-BA48154ED1ED}
inline constexpr CLSID CLSID_CloakcamTestCamera = {
    0x9ea52adf, 0x2ba6, 0x4799, {0x96, 0x52, 0xba, 0x48, 0x15, 0x4e, 0xd1, 0xed}};

// The module's own handle, for the path written at registration.
extern HMODULE testCameraModule;

// A reference count that deletes its owner at zero. Objects that expose
// several interfaces answer AddRef and Release of each through it.
class Counted {
  public:
    virtual ~Counted() = default;
    ULONG addRef() { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    ULONG release() {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

  private:
    LONG references = 1;
};

// The IUnknown part of each interface of a Counted object.
#define TEST_CAMERA_COUNTED                                                                        \
    STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }                                    \
    STDMETHODIMP_(ULONG) Release() override { return release(); }

// Hands out `object` as the interface asked for, counted.
template <typename Interface> HRESULT handOut(Interface *object, void **result) {
    object->AddRef();
    *result = object;
    return S_OK;
}

#endif
