#include "capture/sample_counter.h"

HRESULT SampleCounter::QueryInterface(REFIID riid, void **object) {
    if (!object)
        return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_ISampleGrabberCB) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<ISampleGrabberCB *>(this);
    return S_OK;
}

ULONG SampleCounter::AddRef() { return ++refs_; }

ULONG SampleCounter::Release() {
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT SampleCounter::SampleCB(double, IMediaSample *) {
    samples_.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
}

HRESULT SampleCounter::BufferCB(double, BYTE *, LONG) {
    samples_.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
}
