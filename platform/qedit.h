#ifndef CLOAKCAM_PLATFORM_QEDIT_H
#define CLOAKCAM_PLATFORM_QEDIT_H

// The Sample Grabber and the Null Renderer, which Windows declares apart from
// the rest of DirectShow.

#include "platform/dshow.h"

extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
extern const IID IID_ISampleGrabber;

struct ISampleGrabber : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL bufferThem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG *bufferSize, LONG *buffer) = 0;
};

#endif
