#ifndef CLOAKCAM_CAPTURE_DIRECTSHOW_H
#define CLOAKCAM_CAPTURE_DIRECTSHOW_H

// The headers a DirectShow program includes: Windows' own there, the
// stand-in's under the same names elsewhere.

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

#endif
