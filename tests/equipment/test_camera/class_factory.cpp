// The DLL's entry points: the one class it makes, and the module handle the
// registration needs.

#include "com.h"
#include "filter.h"

#include <new>

HMODULE testCameraModule = nullptr;

namespace {

class ClassFactory : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    // A static object: nothing to count.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *filter = new (std::nothrow) TestCameraFilter;
        if (!filter)
            return E_OUTOFMEMORY;
        const HRESULT result = filter->QueryInterface(iid, object);
        filter->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

ClassFactory factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void *) {
    if (reason == DLL_PROCESS_ATTACH) {
        testCameraModule = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_CloakcamTestCamera)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

// Streaming and watching threads run code of this DLL: it stays loaded.
STDAPI DllCanUnloadNow() { return S_FALSE; }
