// CoCreateInstance: the DirectShow classes the stand-in offers, by their
// Windows ids.

#include "platform/directshow/filter.h"

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
        if (entry.clsid == clsid)
            return entry.create(riid, object);
    }
    return REGDB_E_CLASSNOTREG;
}
