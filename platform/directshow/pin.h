#ifndef CLOAKCAM_PLATFORM_PIN_H
#define CLOAKCAM_PLATFORM_PIN_H

// The pin every stand-in filter uses, the enumerator over a filter's pins, and
// the bin every filter wraps its elements in.

#include "platform/directshow/gst_interfaces.h"

#include <vector>

// A pin that lives inside its filter: it shares the filter's reference count,
// so handing out a pin keeps the filter alive and no cycle forms.
class Pin final : public IGstPin {
  public:
    Pin(IBaseFilter &owner, GstPad *pad, PIN_DIRECTION direction,
        IAMStreamConfig *streamConfig = nullptr);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;

    GstPad *pad() override;
    IBaseFilter *filter() override;
    bool connected() override;
    void setPeer(IPin *peer) override;
    void frameSize(int *width, int *height) override;
    void setFrameSize(int width, int height) override;

  private:
    IBaseFilter &owner_;
    GstPad *pad_;
    PIN_DIRECTION direction_;
    IAMStreamConfig *streamConfig_;
    // Without a reference: the graph disconnects both ends before either
    // filter can go.
    IPin *peer_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// An enumerator over a filter's pins; it holds a reference on each pin.
HRESULT createEnumPins(const std::vector<IPin *> &pins, IEnumPins **out);

// Wraps `element` (floating or not) in a bin whose unlinked pads are ghosted as
// "src" and "sink". The returned bin is sunk: the caller owns one reference.
GstElement *makeFilterBin(const char *name, GstElement *element);

#endif
