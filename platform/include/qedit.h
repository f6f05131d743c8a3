#ifndef CLOAKCAM_STAND_IN_QEDIT_H
#define CLOAKCAM_STAND_IN_QEDIT_H

// The Sample Grabber and the Null Renderer, which Windows declares apart from
// the rest of DirectShow.

#include <dshow.h>

extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
extern const IID IID_ISampleGrabber;
extern const IID IID_ISampleGrabberCB;

struct IMediaSample;

// Told of every sample that passes the grabber, on the streaming thread.
struct ISampleGrabberCB : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample *sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE *buffer, LONG length) = 0;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    // Fills `type`; its format block is the caller's to free.
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL bufferThem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG *bufferSize, LONG *buffer) = 0;
    // whichMethod 0 asks for SampleCB, 1 for BufferCB.
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB *callback, LONG whichMethod) = 0;
};

#endif
