// COM's object creation and task allocator on top of GStreamer.

#include "platform/gst_filter.h"

#include <cwchar>

#include <cstdlib>
#include <cstring>

bool operator==(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

HRESULT CoInitialize(LPVOID) {
    // gst_init may run any number of times; only the first does the work.
    gst_init(nullptr, nullptr);
    return S_OK;
}

void CoUninitialize() {
    // GStreamer is left running: deinitialising it cannot be undone within a
    // process, and objects may outlive the caller's CoUninitialize.
}

namespace {

struct ClassEntry {
    const CLSID &clsid;
    HRESULT (*create)(REFIID riid, void **object);
};

const ClassEntry classes[] = {
    {CLSID_FilterGraph, createFilterGraph},
    {CLSID_SystemDeviceEnum, createSystemDeviceEnum},
    {CLSID_CaptureGraphBuilder2, createCaptureGraphBuilder},
    {CLSID_SampleGrabber, createSampleGrabber},
    {CLSID_NullRenderer, createNullRenderer},
};

} // namespace

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID riid, LPVOID *object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    for (const ClassEntry &entry : classes) {
        if (entry.clsid == clsid) {
            // Objects built before CoInitialize still need a working GStreamer.
            gst_init(nullptr, nullptr);
            return entry.create(riid, object);
        }
    }
    return REGDB_E_CLASSNOTREG;
}

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID block) { std::free(block); }

BSTR SysAllocString(const OLECHAR *text) {
    if (!text)
        return nullptr;
    const size_t length = std::wcslen(text);
    auto *copy = static_cast<BSTR>(std::malloc((length + 1) * sizeof(OLECHAR)));
    if (copy)
        std::wmemcpy(copy, text, length + 1);
    return copy;
}

void SysFreeString(BSTR text) { std::free(text); }

void VariantInit(VARIANT *value) {
    value->vt = VT_EMPTY;
    value->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT *value) {
    if (!value)
        return E_INVALIDARG;
    if (value->vt == VT_BSTR)
        SysFreeString(value->bstrVal);
    VariantInit(value);
    return S_OK;
}
