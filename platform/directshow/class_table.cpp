// CoCreateInstance: the DirectShow classes the stand-in offers, by their
// Windows ids.

#include "platform/directshow/filters.h"

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
            // gst_init may run any number of times; only the first does the work.
            gst_init(nullptr, nullptr);
            return entry.create(riid, object);
        }
    }
    return REGDB_E_CLASSNOTREG;
}
