#ifndef CLOAKCAM_PLATFORM_GST_FILTER_H
#define CLOAKCAM_PLATFORM_GST_FILTER_H

// How the stand-in objects reach each other's GStreamer side. The graph manager
// finds these through QueryInterface with private ids, so a filter or pin from
// elsewhere simply answers E_NOINTERFACE.

#include "platform/qedit.h"

#include <gst/gst.h>

#include <vector>

extern const IID IID_IGstFilter;
extern const IID IID_IGstPin;
extern const IID IID_IGstCamera;

struct IGstFilter : IUnknown {
    // The filter's bin, owned by the filter; the caller adds no reference.
    virtual GstElement *bin() = 0;
};

struct IGstPin : IPin {
    // The ghost pad on the owner's bin, owned by the bin.
    virtual GstPad *pad() = 0;
    // The owning filter, without an added reference.
    virtual IBaseFilter *filter() = 0;
    virtual bool connected() = 0;
    virtual void setConnected(bool connected) = 0;
    // The picture size the pin asks its connection to deliver, or 0 x 0 for
    // whatever the source produces.
    virtual void frameSize(int *width, int *height) = 0;
};

// The camera side of a capture filter: the graph watches its device, to tell
// its owner when the device goes away and comes back.
struct IGstCamera : IUnknown {
    // The device the source was made from, with a reference for the caller.
    virtual GstDevice *device() = 0;
};

// A pin that lives inside its filter: it shares the filter's reference count,
// so handing out a pin keeps the filter alive and no cycle forms.
class Pin final : public IGstPin {
  public:
    Pin(IBaseFilter &owner, GstPad *pad, PIN_DIRECTION direction,
        IAMStreamConfig *streamConfig = nullptr);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;

    GstPad *pad() override;
    IBaseFilter *filter() override;
    bool connected() override;
    void setConnected(bool connected) override;
    void frameSize(int *width, int *height) override;
    void setFrameSize(int width, int height);

  private:
    IBaseFilter &owner_;
    GstPad *pad_;
    PIN_DIRECTION direction_;
    IAMStreamConfig *streamConfig_;
    bool connected_ = false;
    int width_ = 0;
    int height_ = 0;
};

// An enumerator over a filter's pins; it holds a reference on each pin.
HRESULT createEnumPins(const std::vector<IPin *> &pins, IEnumPins **out);

// Wraps `element` (floating or not) in a bin whose unlinked pads are ghosted as
// "src" and "sink". The returned bin is sunk: the caller owns one reference.
GstElement *makeFilterBin(const char *name, GstElement *element);

// The capture filter around a source element, which it takes over; `device` is
// the device the source was made from.
HRESULT createCaptureFilter(GstElement *source, GstDevice *device, int defaultWidth,
                            int defaultHeight, const GUID &subtype, IBaseFilter **out);
// A moniker for `device`.
HRESULT createMoniker(GstDevice *device, IMoniker **out);

// The objects that CoCreateInstance makes.
HRESULT createFilterGraph(REFIID riid, void **object);
HRESULT createSystemDeviceEnum(REFIID riid, void **object);
HRESULT createCaptureGraphBuilder(REFIID riid, void **object);
HRESULT createSampleGrabber(REFIID riid, void **object);
HRESULT createNullRenderer(REFIID riid, void **object);

#endif
