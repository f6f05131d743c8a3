#ifndef CLOAKCAM_PLATFORM_FILTERS_H
#define CLOAKCAM_PLATFORM_FILTERS_H

// How the stand-in objects are made.

#include <qedit.h>

#include <gst/gst.h>

// The capture filter around a source element, which it takes over; `device` is
// the device the source was made from, whose caps are the formats it lists.
HRESULT createCaptureFilter(GstElement *source, GstDevice *device, IBaseFilter **out);
// A moniker for `device`.
HRESULT createMoniker(GstDevice *device, IMoniker **out);

// The objects that CoCreateInstance makes.
HRESULT createFilterGraph(REFIID riid, void **object);
HRESULT createSystemDeviceEnum(REFIID riid, void **object);
HRESULT createCaptureGraphBuilder(REFIID riid, void **object);
HRESULT createSampleGrabber(REFIID riid, void **object);
HRESULT createNullRenderer(REFIID riid, void **object);

#endif
