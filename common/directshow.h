#ifndef CLOAKCAM_COMMON_DIRECTSHOW_H
#define CLOAKCAM_COMMON_DIRECTSHOW_H

// COM and DirectShow: the platform's own on Windows, the GStreamer-backed
// stand-in elsewhere. The capture code is written once against these names.

#ifdef _WIN32
// windows.h first: the DirectShow headers rely on its types.
#include <windows.h>

#include <dshow.h>
// VIDEOINFOHEADER2, which decoders and newer drivers describe pictures with.
#include <dvdmedia.h>
#include <qedit.h>
#ifdef __MINGW32__
// mingw-w64's qedit.h leaves these two out; strmiids defines them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
#endif
#else
#include "platform/directshow/dshow.h"
#include "platform/directshow/qedit.h"
#endif

#endif
