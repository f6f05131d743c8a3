#ifndef CLOAKCAM_PLATFORM_GST_INTERFACES_H
#define CLOAKCAM_PLATFORM_GST_INTERFACES_H

// How the stand-in objects reach each other's GStreamer side. The graph manager
// finds these through QueryInterface with private ids, so a filter or pin from
// elsewhere simply answers E_NOINTERFACE.

#include "platform/directshow/interface_ids.h"

#include <gst/gst.h>

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
    // The pin at the other end, or null; the graph's to say.
    virtual void setPeer(IPin *peer) = 0;
    // The picture size the pin asks its connection to deliver, or 0 x 0 for
    // whatever the source produces.
    virtual void frameSize(int *width, int *height) = 0;
    virtual void setFrameSize(int width, int height) = 0;
};

// The camera side of a capture filter: the graph watches its device, to tell
// its owner when the device goes away and comes back.
struct IGstCamera : IUnknown {
    // The device the source was made from, with a reference for the caller.
    virtual GstDevice *device() = 0;
};

template <> inline const IID &interfaceId<IGstFilter>() { return IID_IGstFilter; }
template <> inline const IID &interfaceId<IGstCamera>() { return IID_IGstCamera; }

#endif
