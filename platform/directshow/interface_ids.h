#ifndef CLOAKCAM_PLATFORM_INTERFACE_IDS_H
#define CLOAKCAM_PLATFORM_INTERFACE_IDS_H

// The identifiers of the DirectShow interfaces the stand-in objects implement,
// for ComObject's QueryInterface.

#include "platform/com/com_object.h"

#include <qedit.h>

template <> inline const IID &interfaceId<IBaseFilter>() { return IID_IBaseFilter; }
template <> inline const IID &interfaceId<IEnumPins>() { return IID_IEnumPins; }
template <> inline const IID &interfaceId<IEnumMoniker>() { return IID_IEnumMoniker; }
template <> inline const IID &interfaceId<IMoniker>() { return IID_IMoniker; }
template <> inline const IID &interfaceId<ICreateDevEnum>() { return IID_ICreateDevEnum; }
template <> inline const IID &interfaceId<IGraphBuilder>() { return IID_IGraphBuilder; }
template <> inline const IID &interfaceId<IMediaControl>() { return IID_IMediaControl; }
template <> inline const IID &interfaceId<IMediaEventEx>() { return IID_IMediaEventEx; }
template <> inline const IID &interfaceId<ICaptureGraphBuilder2>() {
    return IID_ICaptureGraphBuilder2;
}
template <> inline const IID &interfaceId<ISampleGrabber>() { return IID_ISampleGrabber; }

#endif
